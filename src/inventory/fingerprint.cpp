#include "inventory/fingerprint.hpp"

#include <cstddef>
#include <vector>

// The hash is inlined from the library's header: a template is hashed once
// per statement, and the call into the shared library would cost as much as
// hashing a short template.  It also leaves the extension no run-time
// dependency on it.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include "inventory/lexed_lease.hpp"
#include "inventory/lexer.hpp"
#include "inventory/names.hpp"
#include "shared/unicode.hpp"

namespace quorvane::inventory {
namespace {

// What the template last received, for the spacing rule.
enum class Last : std::uint8_t { Nothing, Name, Keyword, Open, Dot, Operator, Other };

constexpr bool is_operator(char32_t c) noexcept {
    switch (c) {
        case '<': case '>': case '=': case '!': case '|': case '&': case '^': case '~': case '+': case '-':
        case '*': case '/': case '%': case ':':
            return true;
        default:
            return false;
    }
}

// Two operator characters that form one operator when they touch.
constexpr bool joins(char32_t a, char32_t b) noexcept {
    if (b == '=') return a != '~';  // <= >= != == += -= *= /= %= &= |= ^= := !=
    switch (a) {
        case '<': return b == '>' || b == '<' || b == '-';
        case '>': return b == '>';
        case '!': return b == '<' || b == '>' || b == '~';
        case '|': return b == '|' || b == '/';
        case '&': return b == '&';
        case ':': return b == ':';
        case '-': return b == '>';
        case '=': return b == '>';
        case '*': return b == '*';
        case '~': return b == '*' || b == '~';
        default: return false;
    }
}

constexpr bool ascii_digit(std::uint32_t c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool ascii_hex(std::uint32_t c) noexcept {
    return ascii_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}
constexpr bool ascii_alnum(std::uint32_t c) noexcept {
    return ascii_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}

void put_utf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {  // lone surrogates too, as their three-byte form
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// End of a GUID (8-4-4-4-12 hex digits) starting at w[i], or 0.
std::size_t guid_end(const std::u32string& w, std::size_t i) {
    static constexpr std::size_t kGroups[] = {8, 4, 4, 4, 12};
    std::size_t j = i;
    for (std::size_t g = 0; g < std::size(kGroups); ++g) {
        if (g > 0) {
            if (j >= w.size() || w[j] != '-') return 0;
            ++j;
        }
        for (std::size_t k = 0; k < kGroups[g]; ++k, ++j) {
            if (j >= w.size() || !ascii_hex(w[j])) return 0;
        }
    }
    return j < w.size() && ascii_alnum(w[j]) ? 0 : j;
}

// Appends name `w` to `out` with its run-specific parts masked (see the
// header).  Runs are judged on ASCII letters and digits only.
void put_masked(std::string& out, const std::u32string& w, bool temporary) {
    std::size_t i = 0;
    const std::size_t n = w.size();
    while (i < n) {
        if (!ascii_alnum(w[i])) {
            put_utf8(out, w[i++]);
            continue;
        }
        if (const std::size_t g = guid_end(w, i)) {
            out.push_back('?');
            i = g;
            continue;
        }
        std::size_t j = i;
        bool hex = true, digit = false;
        for (; j < n && ascii_alnum(w[j]); ++j) {
            hex = hex && ascii_hex(w[j]);
            digit = digit || ascii_digit(w[j]);
        }
        if (hex && digit && j - i >= 8) {
            out.push_back('?');
            i = j;
            continue;
        }
        while (i < j) {
            if (!ascii_digit(w[i])) {
                put_utf8(out, w[i++]);
                continue;
            }
            std::size_t d = i;
            while (d < j && ascii_digit(w[d])) ++d;
            if (d - i >= 8 || (temporary && d - i >= 3)) {
                out.push_back('?');
            } else {
                for (; i < d; ++i) out.push_back(static_cast<char>(w[i]));
            }
            i = d;
        }
    }
}

template <text::CodeUnit C>
class Builder {
   public:
    Builder(text::Text<C> t, const std::vector<Token>& k) : t_(t), k_(k), n_(k.size()) {
        // Statement terminators at the very end are no part of the shape.
        while (n_ > 0 && is_punct(k_[n_ - 1], U';')) --n_;
        out_.reserve(t.size() + 16);
    }

    Fingerprint run() {
        std::size_t i = 0;
        while (i < n_) i = step(i);
        const std::uint64_t h = template_hash(out_);
        return {h, std::move(out_), unterminated_};
    }

   private:
    // Emits what starts at token i; returns the index of the next token.
    std::size_t step(std::size_t i) {
        const Token& tk = k_[i];
        switch (tk.type) {
            case Tok::Word: {
                if (word_is(i, "in")) {
                    std::size_t items = 0;
                    if (const std::size_t e = list_at(i + 1, items)) {
                        put_word(tk);
                        put_row(1, k_[i + 1].begin);
                        return e;
                    }
                } else if (word_is(i, "values")) {
                    std::size_t items = 0;
                    if (std::size_t e = list_at(i + 1, items)) {
                        put_word(tk);
                        put_row(items, k_[i + 1].begin);
                        std::size_t more = 0;
                        while (is_at(e, U',')) {
                            const std::size_t next = list_at(e + 1, more);
                            if (next == 0 || more != items) break;
                            e = next;
                        }
                        return e;
                    }
                }
                put_word(tk);
                return i + 1;
            }
            case Tok::Quoted: {
                space(Last::Name, 0, tk.begin);
                word_.clear();
                for (std::size_t p = tk.begin; p < tk.end; ++p) word_.push_back(t_[p]);
                put_masked(out_, word_, word_.size() > 1 && word_[1] == '#');
                last_ = Last::Name;
                return i + 1;
            }
            case Tok::Separator:
                put_separator(tk);
                return i + 1;
            case Tok::DollarOpen:
            case Tok::DollarClose:
                space(Last::Other, 0, tk.begin);
                for (std::size_t p = tk.begin; p < tk.end; ++p) put_utf8(out_, t_[p]);
                last_ = Last::Other;
                return i + 1;
            default:
                break;
        }
        if (const std::size_t e = literal_end(i); e > i) {
            space(Last::Other, 0, tk.begin);
            out_.push_back('?');
            last_ = Last::Other;
            return e;
        }
        // Punctuation.  A quote here opened nothing: no closer follows it.
        const char32_t c = tk.ch;
        if (c == '$' && touches(i) && k_[i + 1].type == Tok::Number) {  // a positional parameter, "$1"
            space(Last::Name, 0, tk.begin);
            for (std::size_t p = tk.begin; p < k_[i + 1].end; ++p) put_utf8(out_, t_[p]);
            last_ = Last::Name;
            return i + 2;
        }
        if (c == '\'' || c == '"' || c == '`' || c == '[' || (c == '/' && i + 1 < n_ && is_punct(k_[i + 1], U'*') &&
                                                               k_[i + 1].begin == tk.end)) {
            unterminated_ = true;
        }
        if (c == ':' && touches(i) && k_[i + 1].type == Tok::Word && !(i > 0 && is_punct(k_[i - 1], U':'))) {
            space(Last::Other, 0, tk.begin);  // a bind parameter, ":name"
            out_.push_back(':');
            last_ = Last::Open;
            return i + 1;
        }
        const Last what = c == '(' ? Last::Open : c == '.' ? Last::Dot : is_operator(c) ? Last::Operator : Last::Other;
        space(what, c, tk.begin);
        put_utf8(out_, c);
        last_ = what;
        last_char_ = c;
        last_end_ = tk.end;
        return i + 1;
    }

    // One space before the next piece unless the spacing rule says none.
    void space(Last what, char32_t c, std::size_t begin) {
        if (last_ == Last::Nothing) return;
        if (c == ',' || c == ';' || c == ')' || c == '.') return;
        if (last_ == Last::Open || last_ == Last::Dot) return;
        if (c == '(' && last_ == Last::Name) return;
        if (what == Last::Operator && last_ == Last::Operator && last_end_ == begin && joins(last_char_, c)) return;
        out_.push_back(' ');
    }

    void put_word(const Token& tk) {
        space(tk.reserved ? Last::Keyword : Last::Name, 0, tk.begin);
        word_.clear();
        bool ascii = true, digits = false;
        for (std::size_t p = tk.begin; p < tk.end && ascii; ++p) {
            ascii = t_[p] < 0x80;
            digits = digits || ascii_digit(t_[p]);
        }
        if (ascii && !digits) {  // most words: nothing to mask
            for (std::size_t p = tk.begin; p < tk.end; ++p) {
                const std::uint32_t u = t_[p];
                out_.push_back(static_cast<char>(u >= 'A' && u <= 'Z' ? u | 0x20 : u));
            }
            last_ = tk.reserved ? Last::Keyword : Last::Name;
            return;
        }
        if (ascii) {
            for (std::size_t p = tk.begin; p < tk.end; ++p) {
                const std::uint32_t u = t_[p];
                word_.push_back(u >= 'A' && u <= 'Z' ? u | 0x20 : u);
            }
        } else {
            unicode::append_lower(t_, tk.begin, tk.end, word_);
        }
        put_masked(out_, word_, word_[0] == '#');
        last_ = tk.reserved ? Last::Keyword : Last::Name;
    }

    // "(?, ?, ...)" with `items` marks.
    void put_row(std::size_t items, std::size_t begin) {
        space(Last::Open, U'(', begin);
        out_.push_back('(');
        for (std::size_t k = 0; k < items; ++k) {
            if (k > 0) out_ += ", ";
            out_.push_back('?');
        }
        out_.push_back(')');
        last_ = Last::Other;
    }

    void put_separator(const Token& tk) {
        space(Last::Keyword, 0, tk.begin);
        if (tk.ch == U'g') {
            out_ += "go";
        } else if (tk.ch == U'/') {
            out_.push_back('/');
        } else {
            out_ += "delimiter ";
            std::size_t a = tk.begin + 9;
            while (a < tk.end && text::unit_is_space(t_[a])) ++a;
            for (; a < tk.end && !text::unit_is_space(t_[a]); ++a) put_utf8(out_, t_[a]);
        }
        last_ = Last::Keyword;
    }

    bool is_at(std::size_t i, char32_t c) const noexcept { return i < n_ && is_punct(k_[i], c); }
    bool touches(std::size_t i) const noexcept { return i + 1 < n_ && k_[i].end == k_[i + 1].begin; }

    bool word_is(std::size_t i, std::string_view w) const noexcept {
        const Token& tk = k_[i];
        return tk.type == Tok::Word && tk.end - tk.begin == w.size() &&
               text::equals_folded_ascii(t_, tk.begin, w.data(), w.size());
    }

    // End of the literal starting at token i ("'x'", "12", "1.5", ".5",
    // "1e-3"), or i when there is none.
    std::size_t literal_end(std::size_t i) const noexcept {
        if (i >= n_) return i;
        const Token& tk = k_[i];
        if (tk.type == Tok::String) return i + 1;
        std::size_t j;
        if (tk.type == Tok::Number) {
            j = i + 1;
            if (is_at(j, U'.') && touches(i) && j + 1 < n_ && k_[j + 1].type == Tok::Number && touches(j)) j += 2;
        } else if (is_punct(tk, U'.') && touches(i) && k_[i + 1].type == Tok::Number) {
            const bool after_name = i > 0 && k_[i - 1].end == tk.begin &&
                                    (k_[i - 1].type == Tok::Word || k_[i - 1].type == Tok::Quoted ||
                                     is_punct(k_[i - 1], U')'));
            if (after_name) return i;
            j = i + 2;
        } else {
            return i;
        }
        // An exponent with a sign: the number token ends in "e".
        const Token& last = k_[j - 1];
        const std::uint32_t e = t_[last.end - 1] | 0x20;
        const bool decimal = last.end - last.begin < 2 || (t_[last.begin + 1] | 0x20) != 'x';
        if (e == 'e' && decimal && (is_at(j, U'-') || is_at(j, U'+')) && touches(j - 1) && j + 1 < n_ &&
            k_[j + 1].type == Tok::Number && touches(j)) {
            j += 2;
        }
        return j;
    }

    // End of a list item at token i: a literal or a parameter, with an
    // optional sign; i when there is none.
    std::size_t item_end(std::size_t i) const noexcept {
        if (i >= n_) return i;
        const bool sign = is_at(i, U'-') || is_at(i, U'+');
        const std::size_t from = sign ? i + 1 : i;
        if (const std::size_t e = literal_end(from); e > from) return e;
        if (sign) return i;
        const Token& tk = k_[i];
        if (tk.type == Tok::Word) {
            const bool variable = tk.ch == U'@' && tk.end - tk.begin > 1 && t_[tk.begin + 1] != '@';
            return variable || word_is(i, "null") ? i + 1 : i;
        }
        if (is_punct(tk, U'?')) return i + 1;
        if (is_punct(tk, U':') && touches(i) && k_[i + 1].type == Tok::Word) return i + 2;
        if (is_punct(tk, U'$') && touches(i) && k_[i + 1].type == Tok::Number) return i + 2;
        return i;
    }

    // "(item, item, ...)" at token i: the index after ")" and the number of
    // items, or 0.
    std::size_t list_at(std::size_t i, std::size_t& items) const noexcept {
        if (!is_at(i, U'(')) return 0;
        items = 0;
        std::size_t j = i + 1;
        while (true) {
            const std::size_t e = item_end(j);
            if (e == j) return 0;
            ++items;
            if (is_at(e, U')')) return e + 1;
            if (!is_at(e, U',')) return 0;
            j = e + 1;
        }
    }

    text::Text<C> t_;
    const std::vector<Token>& k_;
    std::size_t n_;
    std::string out_;
    std::u32string word_;
    Last last_ = Last::Nothing;
    char32_t last_char_ = 0;
    std::size_t last_end_ = 0;
    bool unterminated_ = false;
};

}  // namespace

std::uint64_t template_hash(std::string_view utf8) noexcept { return XXH3_64bits(utf8.data(), utf8.size()); }

template <text::CodeUnit C>
Fingerprint fingerprint(text::Text<C> sql, const DialectRules& rules) {
    const LexedLease lease(sql, rules, false);
    return Builder<C>(sql, lease.get().tokens).run();
}

template Fingerprint fingerprint(text::Text<std::uint8_t>, const DialectRules&);
template Fingerprint fingerprint(text::Text<std::uint16_t>, const DialectRules&);
template Fingerprint fingerprint(text::Text<std::uint32_t>, const DialectRules&);

}  // namespace quorvane::inventory
