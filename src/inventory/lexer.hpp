// The inventory's tokenizer: one left-to-right pass that turns a script into
// words, quoted names, literals and punctuation, skipping whitespace and
// comments, and marking the lines that separate units.
//
// Written by hand rather than on the pattern engine: it is the hot loop of
// the inventory and must run at memory speed on any input.
//
// Rules, for the dialect's row of dialects.hpp (the Any row keeps the
// rules that hold in every dialect):
// - Comments are those of the shared comment rule (comments.hpp): "--" up
//   to the next LF, "/*" up to the first "*/" outside a line comment, no
//   nesting, and a "/*" with no such end opens nothing.  Unlike that rule,
//   an opener inside a literal or quoted name opens nothing.  Where the
//   dialect nests block comments, a "/*" inside one opens another and a
//   comment ends where its depth returns to zero; a "/*" whose nesting never
//   closes falls back to the flat rule, and so do all later ones.  Where the
//   dialect has them, "#" starts a line comment.
// - String literals '...' ('' inside), with an N, E, X or B prefix;
//   quoted names [...] (]] inside), "..." ("" inside) and `...` (`` inside).
//   Per dialect, "..." is a string, [ is plain punctuation, a backslash
//   escapes the next character of a string, and BigQuery's """...""",
//   '''...''' and r/b prefixes are strings.
//   An opening quote with no closing quote after it is plain punctuation,
//   and so is every later quote of that kind (which can then only come in
//   empty pairs).
// - Template placeholders ${...} and {{ ... }} are words, so that a name
//   such as ${schema}.t or {{ ref('t') }} keeps them.
// - Dollar-quoted bodies $$...$$ and $tag$...$tag$: their text is scanned
//   as code between a DollarOpen and a DollarClose token.
// - Lines, numbered as the reading plan numbers them (shared for_each_line),
//   whose trimmed text is "GO" (optionally with a repeat count and a line
//   comment) or "/" become Separator tokens; so does a MySQL "DELIMITER x"
//   line, after which x ends statements like ";" and "$" quotes nothing.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "inventory/dialects.hpp"
#include "inventory/keywords.hpp"
#include "shared/comments.hpp"
#include "shared/scan.hpp"
#include "shared/text.hpp"

namespace quorvane::inventory {

enum class Tok : std::uint8_t { Word, Quoted, String, Number, Punct, Separator, DollarOpen, DollarClose };

struct Token {
    std::size_t begin;
    std::size_t end;
    Tok type;
    Kw kw = Kw::None;        // words: the keyword, if any
    bool reserved = false;   // words: a keyword that is never an alias or a name
    char32_t ch = 0;         // punctuation: the character (";" for a custom delimiter); quoted: the
                             // opener; words: the first character; separators: 'g' (GO), '/', 'd'
                             // (DELIMITER)
};

struct Lexed {
    std::vector<Token> tokens;
    std::vector<std::size_t> line_starts;  // offset of the first character of each line, when indexed
    bool has_go = false;                   // a token is a GO line
    bool has_declaring = false;            // a token is DECLARE, FOR or LET, which may declare a name

    // 1-based number of the line holding `offset` (lines indexed).
    std::size_t line_of(std::size_t offset) const noexcept {
        return static_cast<std::size_t>(std::upper_bound(line_starts.begin(), line_starts.end(), offset) -
                                        line_starts.begin());
    }
};

namespace detail {

template <text::CodeUnit C>
constexpr bool starts_word(C c) noexcept {
    if (c >= 0x80) return !text::is_space(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '@' || c == '#';
}

template <text::CodeUnit C>
constexpr bool in_word(C c) noexcept {
    if (c >= 0x80) return !text::is_space(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '@' ||
           c == '#' || c == '$';
}

// in_word for the first 256 code points: 0 outside a word, 1 inside, 2 for
// "$" (inside, but it may begin a dollar body's closing tag).
struct WordUnitTable {
    std::uint8_t v[256];
    constexpr WordUnitTable() : v{} {
        for (std::uint32_t c = 0; c < 256; ++c) v[c] = c == '$' ? 2 : in_word(static_cast<std::uint32_t>(c)) ? 1 : 0;
    }
};
inline constexpr WordUnitTable kWordUnit{};

// The ASCII characters that start a word and nothing else the tokenizer
// looks for at a token's start: letters but g and d (a GO or DELIMITER
// line), "_" and "@" ("#" may open a line comment).
struct PlainLeadTable {
    bool v[128];
    constexpr PlainLeadTable() : v{} {
        for (std::uint32_t c = 0; c < 128; ++c) {
            const std::uint32_t l = c | 0x20;
            v[c] = ((l >= 'a' && l <= 'z') && l != 'g' && l != 'd') || c == '_' || c == '@';
        }
    }
};
inline constexpr PlainLeadTable kPlainLead{};

// The lower-case packing of the ASCII word t[i, i + len) (len at most
// kLongestKeyword), read eight bytes at a time: a word with any other
// character packs to size 0 (it is no keyword).  Needs 16 readable bytes
// at i.
inline PackedWord pack_bytes(const std::uint8_t* p, std::size_t len) noexcept {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    std::uint64_t lo, hi;
    std::memcpy(&lo, p, 8);
    std::memcpy(&hi, p + 8, 8);
    lo &= len >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * len)) - 1;
    hi &= len <= 8 ? 0 : len >= 16 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * (len - 8))) - 1;
    PackedWord w;
    if ((lo | hi) & kHigh) return w;
    // Bytes are below 0x80, so these sums carry into no neighbour: the high
    // bit of a byte of (x + 0x3F) says x >= 'A', of (x + 0x25) x > 'Z'.
    const auto lower = [](std::uint64_t x) {
        const std::uint64_t upper = (x + (0x80 - 'A') * kOnes) & ~(x + (0x80 - 'Z' - 1) * kOnes) & kHigh;
        return x | (upper >> 2);
    };
    w.lo = lower(lo);
    w.hi = lower(hi);
    w.size = static_cast<std::uint8_t>(len);
    return w;
}

// The lower-case packing of the word t[i, j): size 0 when it is longer
// than kLongestKeyword or a character has no ASCII folding.
template <text::CodeUnit C>
PackedWord packed_word(text::Text<C> t, std::size_t i, std::size_t j) noexcept {
    if (j - i > kLongestKeyword) return PackedWord{};
    if constexpr (sizeof(C) == 1 && std::endian::native == std::endian::little) {
        if (t.size() - i >= 16) return pack_bytes(t.data() + i, j - i);
    }
    PackedWord lower;
    for (std::size_t k = i; k < j; ++k) {
        const int folded = text::ascii_folded(t[k]);
        if (folded < 0) return PackedWord{};
        lower.push(static_cast<char>(folded));
    }
    return lower;
}

template <text::CodeUnit C>
bool is_go_line(text::Text<C> t, std::size_t b, std::size_t e) {
    if (e - b < 2 || !text::folds_to_ascii_letter(t[b], 'g') || !text::folds_to_ascii_letter(t[b + 1], 'o')) {
        return false;
    }
    std::size_t k = b + 2;
    if (k == e) return true;
    if (!text::unit_is_space(t[k])) return false;
    while (k < e && text::unit_is_space(t[k])) ++k;
    while (k < e && t[k] >= '0' && t[k] <= '9') ++k;
    while (k < e && text::unit_is_space(t[k])) ++k;
    return k == e || (k + 1 < e && t[k] == '-' && t[k + 1] == '-');
}

// The offsets at which the lines of `t` begin, lines as for_each_line
// reads them (a break at the very end starts no line).
template <text::CodeUnit C>
void index_lines(text::Text<C> t, std::vector<std::size_t>& starts) {
    starts.clear();
    const std::size_t n = t.size();
    if (n == 0) return;
    starts.push_back(0);
    for (std::size_t i = text::find_line_break(t, 0); i < n; i = text::find_line_break(t, i + 1)) {
        if (t[i] == 0x0D && i + 1 < n && t[i + 1] == 0x0A) ++i;
        if (i + 1 < n) starts.push_back(i + 1);
    }
}

}  // namespace detail

template <text::CodeUnit C>
class Lexer {
   public:
    explicit Lexer(text::Text<C> t, const DialectRules& rules = kAnyDialect) : t_(t), n_(t.size()), rules_(rules) {}

    // Fills `out.tokens` (cleared first; its buffer is reused).  Every
    // token holds at least one code unit, so reserving one slot per unit
    // (up to kReservedTokens) means no reallocation; slots never written
    // cost no memory.
    void run(Lexed& out) {
        std::vector<Token>& toks = out.tokens;
        toks.clear();
        toks.reserve(std::min(n_ + 1, kReservedTokens));
        std::size_t i = (n_ > 0 && t_[0] == 0xFEFF) ? 1 : 0;
        while (i < n_) {
            const C c = t_[i];
            if (text::unit_is_space(c)) {
                ++i;
                continue;
            }
            // Most tokens are words whose first letter can open nothing
            // else (no separator line, comment or custom delimiter): tested
            // first, they skip the tests below, which all fail for them.
            if (c < 0x80 && detail::kPlainLead.v[c] && delim_end_ == delim_begin_) {
                i = word_or_literal(toks, i);
                continue;
            }
            if ((c == '/' || (c | 0x20) == 'g' || (c | 0x20) == 'd') && separator_line(toks, i)) {
                i = toks.back().end;
                continue;
            }
            if (delim_end_ > delim_begin_ && at_delimiter(i)) {
                const std::size_t len = delim_end_ - delim_begin_;
                emit(toks, i, i + len, Tok::Punct, U';');
                i += len;
                continue;
            }
            if (c == '-' && i + 1 < n_ && t_[i + 1] == '-') {
                i = text::find_unit(t_, i + 2, C('\n'));
                continue;
            }
            if (c == '#' && rules_.hash_comments) {
                i = text::find_unit(t_, i + 1, C('\n'));
                continue;
            }
            if (c == '/' && i + 1 < n_ && t_[i + 1] == '*' && !blocks_dead_) {
                std::size_t end = rules_.nested_comments && !nesting_dead_ ? nested_comment_end(i) : 0;
                if (end == 0) end = text::block_comment_end(t_, i);
                if (end != 0) {
                    i = end;
                    continue;
                }
                blocks_dead_ = true;
            }
            if (detail::starts_word(c)) {
                i = word_or_literal(toks, i);
                continue;
            }
            if (c >= '0' && c <= '9') {
                std::size_t j = i + 1;
                while (j < n_ && detail::in_word(t_[j]) && t_[j] != '@' && t_[j] != '#') ++j;
                emit(toks, i, j, Tok::Number);
                i = j;
                continue;
            }
            bool done = false;
            switch (c) {
                case '\'':
                    done = (rules_.triple_and_raw && triple(toks, i, i, false)) ||
                           quoted(toks, i, '\'', '\'', kSingle, Tok::String, i);
                    break;
                case '[':
                    if (rules_.bracket_names) done = quoted(toks, i, '[', ']', kBracket, Tok::Quoted, i);
                    break;
                case '"':
                    done = (rules_.triple_and_raw && triple(toks, i, i, false)) ||
                           quoted(toks, i, '"', '"', kDouble, rules_.double_quoted_strings ? Tok::String : Tok::Quoted, i);
                    break;
                case '`':
                    done = quoted(toks, i, '`', '`', kBacktick, Tok::Quoted, i);
                    break;
                case '$':
                    done = (i + 1 < n_ && t_[i + 1] == '{' && placeholder(toks, i, 1)) || dollar(toks, i);
                    break;
                case '{':
                    done = i + 1 < n_ && t_[i + 1] == '{' && placeholder(toks, i, 2);
                    break;
                default:
                    break;
            }
            if (done) {
                i = toks.back().end;
                continue;
            }
            emit(toks, i, i + 1, Tok::Punct, static_cast<char32_t>(c));
            ++i;
        }
        out.has_go = has_go_;
        out.has_declaring = has_declaring_;
    }

   private:
    static constexpr int kSingle = 0, kBracket = 1, kDouble = 2, kBacktick = 3, kTripleSingle = 4, kTripleDouble = 5;

    static constexpr std::size_t kReservedTokens = std::size_t{1} << 24;
    static constexpr PackedWord kLet = "let"_w;

    // Appends a token, built in place: a token built on the stack and
    // copied in is read back before its fields' stores have landed, which
    // stalls the hot loop.
    [[gnu::always_inline]] static void emit(std::vector<Token>& toks, std::size_t begin, std::size_t end, Tok type,
                                            char32_t ch = 0, Kw kw = Kw::None, bool reserved = false) {
        Token& t = toks.emplace_back();
        t.begin = begin;
        t.end = end;
        t.type = type;
        t.kw = kw;
        t.reserved = reserved;
        t.ch = ch;
    }

    // True when i is the first non-blank character of its line (a byte
    // order mark opening the text counts as blank).
    bool line_begins_at(std::size_t i) const noexcept {
        std::size_t k = i;
        while (k > 0 && text::unit_is_space(t_[k - 1]) && !text::is_line_break(t_[k - 1])) --k;
        return k == 0 || text::is_line_break(t_[k - 1]) || (k == 1 && t_[0] == 0xFEFF);
    }

    // A separator line starting at i, its first non-blank character: its
    // trimmed text is "GO" (optionally with a repeat count and a line
    // comment), "/" or "DELIMITER x".  Pushes a Separator token up to the
    // line's break and returns true, or returns false.
    bool separator_line(std::vector<Token>& toks, std::size_t i) {
        const std::uint32_t first = t_[i];
        // Cheap tests on the first characters before looking at the line.
        if (first == '/') {
            if (i + 1 < n_ && !text::unit_is_space(t_[i + 1])) return false;
        } else if ((first | 0x20) == 'g') {
            if (i + 1 >= n_ || !text::folds_to_ascii_letter(t_[i + 1], 'o') ||
                (i + 2 < n_ && !text::unit_is_space(t_[i + 2]))) {
                return false;
            }
        } else if (!text::equals_folded_ascii(t_, i, "delimiter", 9) || i + 10 >= n_ ||
                   !text::unit_is_space(t_[i + 9])) {
            return false;
        }
        if (!line_begins_at(i)) return false;
        const std::size_t e = text::find_line_break(t_, i);
        std::size_t te = e;
        while (te > i && text::unit_is_space(t_[te - 1])) --te;
        char32_t what = U'/';
        if (first == '/') {
            if (te - i != 1) return false;
        } else if ((first | 0x20) == 'g') {
            if (!detail::is_go_line(t_, i, te)) return false;
            what = U'g';
            has_go_ = true;
        } else {
            if (te - i <= 10) return false;
            std::size_t a = i + 9;
            while (a < te && text::unit_is_space(t_[a])) ++a;
            std::size_t z = a;
            while (z < te && !text::unit_is_space(t_[z])) ++z;
            const bool semicolon = z - a == 1 && t_[a] == ';';
            delim_begin_ = semicolon ? 0 : a;
            delim_end_ = semicolon ? 0 : z;
            what = U'd';
        }
        emit(toks, i, e, Tok::Separator, what);
        return true;
    }

    // The end of the nested block comment opening at i, or 0 when its depth
    // never returns to zero (then no later opener is tried this way, which
    // keeps the scan linear).
    std::size_t nested_comment_end(std::size_t i) {
        std::size_t depth = 1;
        std::size_t j = i + 2;
        while (true) {
            j = text::find_either(t_, j, C('*'), C('/'));
            if (j + 1 >= n_) {
                nesting_dead_ = true;
                return 0;
            }
            if (t_[j] == '*' && t_[j + 1] == '/') {
                j += 2;
                if (--depth == 0) return j;
            } else if (t_[j] == '/' && t_[j + 1] == '*') {
                j += 2;
                ++depth;
            } else {
                ++j;
            }
        }
    }

    // BigQuery's prefixed strings at i: r, b, rb or br (any case) right
    // before a quote; the raw ones take backslashes as plain characters.
    bool prefixed_string(std::vector<Token>& toks, std::size_t i) {
        std::size_t j = i;
        bool raw = false, bytes = false;
        while (j < n_ && j < i + 2) {
            const std::uint32_t l = static_cast<std::uint32_t>(t_[j]) | 0x20;
            if (l == 'r' && !raw && t_[j] < 0x80) {
                raw = true;
            } else if (l == 'b' && !bytes && t_[j] < 0x80) {
                bytes = true;
            } else {
                break;
            }
            ++j;
        }
        if (j == i || j >= n_ || (t_[j] != '\'' && t_[j] != '"')) return false;
        if (triple(toks, j, i, raw)) return true;
        const C q = t_[j];
        return quoted(toks, j, q, q, q == '\'' ? kSingle : kDouble, Tok::String, i, raw);
    }

    // A template placeholder at i, ${...} (braces 1) or {{ ... }} (braces
    // 2): one word, kept as written, so that it stays part of a name.
    bool placeholder(std::vector<Token>& toks, std::size_t i, int braces) {
        bool& dead = braces == 1 ? placeholders_dead_[0] : placeholders_dead_[1];
        if (dead) return false;
        for (std::size_t j = text::find_unit(t_, i + 2, C('}')); j < n_; j = text::find_unit(t_, j + 1, C('}'))) {
            if (braces == 1 || (j + 1 < n_ && t_[j + 1] == '}')) {
                const std::size_t end = j + static_cast<std::size_t>(braces);
                emit(toks, i, end, Tok::Word, static_cast<char32_t>(t_[i]));
                return true;
            }
        }
        dead = true;
        return false;
    }

    // A triple-quoted string opening at `open` ("""...""" or '''...''').
    bool triple(std::vector<Token>& toks, std::size_t open, std::size_t token_begin, bool raw) {
        const C q = t_[open];
        if (n_ - open < 6 || t_[open + 1] != q || t_[open + 2] != q) return false;
        const int kind = q == '\'' ? kTripleSingle : kTripleDouble;
        if (dead_[kind]) return false;
        for (std::size_t j = open + 3; j < n_; ++j) {
            if (t_[j] == '\\' && !raw) {
                ++j;
            } else if (t_[j] == q && j + 2 < n_ && t_[j + 1] == q && t_[j + 2] == q) {
                emit(toks, token_begin, j + 3, Tok::String, static_cast<char32_t>(q));
                return true;
            }
        }
        dead_[kind] = true;
        return false;
    }

    static constexpr bool is_literal_prefix(C c) noexcept {
        const std::uint32_t l = static_cast<std::uint32_t>(c) | 0x20;
        return c < 0x80 && (l == 'n' || l == 'e' || l == 'x' || l == 'b');
    }

    bool at_delimiter(std::size_t i) const noexcept {
        const std::size_t len = delim_end_ - delim_begin_;
        if (n_ - i < len) return false;
        for (std::size_t k = 0; k < len; ++k) {
            if (t_[i + k] != t_[delim_begin_ + k]) return false;
        }
        return true;
    }

    // A quoted run opening at `open` with `q`, closed by `close` (doubled
    // inside).  Pushes the token [token_begin, end) and returns true, or
    // marks the quote kind dead and returns false when nothing closes it.
    bool quoted(std::vector<Token>& toks, std::size_t open, C q, C close, int kind, Tok type,
                std::size_t token_begin, bool raw = false) {
        if (dead_[kind]) return false;
        const bool escapes = type == Tok::String && rules_.backslash_escapes && !raw;
        std::size_t j = open + 1;
        while (true) {
            j = escapes ? text::find_either(t_, j, close, C('\\')) : text::find_unit(t_, j, close);
            if (escapes && j < n_ && t_[j] == '\\') {
                j += 2;
                continue;
            }
            if (j >= n_) {
                dead_[kind] = true;
                return false;
            }
            if (j + 1 < n_ && t_[j + 1] == close) {
                j += 2;
                continue;
            }
            break;
        }
        emit(toks, token_begin, j + 1, type, static_cast<char32_t>(q));
        return true;
    }

    // The token that starts at i with a word's first character: a
    // prefixed string (N'...', r"..."), else a word.  Returns its end.
    [[gnu::flatten]] std::size_t word_or_literal(std::vector<Token>& toks, std::size_t i) {
        if (rules_.triple_and_raw && prefixed_string(toks, i)) return toks.back().end;
        if (i + 1 < n_ && t_[i + 1] == '\'' && is_literal_prefix(t_[i]) && !dead_[kSingle] &&
            quoted(toks, i + 1, '\'', '\'', kSingle, Tok::String, i)) {
            return toks.back().end;
        }
        return word(toks, i);
    }

    std::size_t word(std::vector<Token>& toks, std::size_t i) {
        std::size_t j = i + 1;
        // Inside a dollar body a word ends where the closing tag begins
        // ("lines$$").
        for (; j < n_; ++j) {
            const C u = t_[j];
            const std::uint8_t cls = u < 256 ? detail::kWordUnit.v[u] : detail::in_word(u);
            if (cls == 0 || (cls == 2 && tag_len_ != 0 && at_tag(j))) break;
        }
        Kw kw = Kw::None;
        bool reserved = false;
        if (j - i <= kLongestKeyword) {
            const PackedWord lower = detail::packed_word(t_, i, j);
            if (lower.size != 0) {
                if (const KeywordRow* row = find_keyword(lower)) {
                    kw = row->kw;
                    reserved = row->reserved;
                }
                if (kw == Kw::Declare || kw == Kw::For || lower == kLet) has_declaring_ = true;
                // Teradata's REPLACE VIEW | PROCEDURE | MACRO ... is its
                // CREATE OR REPLACE.
                if (kw == Kw::Replace && rules_.replace_creates &&
                    !(!toks.empty() && toks.back().type == Tok::Word && toks.back().kw == Kw::Or)) {
                    kw = Kw::Create;
                    reserved = true;
                }
            }
        }
        emit(toks, i, j, Tok::Word, static_cast<char32_t>(t_[i]), kw, reserved);
        return j;
    }

    bool at_tag(std::size_t j) const noexcept {
        return n_ - j >= tag_len_ && std::equal(t_.begin() + tag_begin_, t_.begin() + tag_begin_ + tag_len_, t_.begin() + j);
    }

    // "$tag$" at i: opens a body (when a matching closer follows), closes
    // the open one, or is nothing special.
    bool dollar(std::vector<Token>& toks, std::size_t i) {
        if (delim_end_ > delim_begin_) return false;
        std::size_t j = i + 1;
        if (j < n_ && t_[j] >= '0' && t_[j] <= '9') return false;
        while (j < n_ && t_[j] != '$' && t_[j] < 0x80 && detail::in_word(t_[j]) && t_[j] != '@' && t_[j] != '#') {
            ++j;
        }
        if (j >= n_ || t_[j] != '$') return false;
        const std::size_t len = j + 1 - i;
        if (tag_len_ != 0) {
            if (len != tag_len_ || !std::equal(t_.begin() + i, t_.begin() + j + 1, t_.begin() + tag_begin_)) {
                return false;
            }
            emit(toks, i, j + 1, Tok::DollarClose);
            tag_len_ = 0;
            return true;
        }
        // Opens only when the same tag closes it later.  Once one finds no
        // closer, later ones open nothing, which keeps the scan linear.
        if (dollars_dead_) return false;
        const std::size_t from = j + 1;
        for (std::size_t k = text::find_unit(t_, from, C('$')); k + len <= n_; k = text::find_unit(t_, k + 1, C('$'))) {
            if (std::equal(t_.begin() + i, t_.begin() + j + 1, t_.begin() + k)) {
                emit(toks, i, j + 1, Tok::DollarOpen);
                tag_begin_ = i;
                tag_len_ = len;
                return true;
            }
        }
        dollars_dead_ = true;
        return false;
    }

    text::Text<C> t_;
    std::size_t n_;
    const DialectRules& rules_;
    bool blocks_dead_ = false;
    bool nesting_dead_ = false;
    bool placeholders_dead_[2] = {false, false};
    bool dollars_dead_ = false;
    bool has_go_ = false;
    bool has_declaring_ = false;
    bool dead_[6] = {false, false, false, false, false, false};
    std::size_t delim_begin_ = 0, delim_end_ = 0;
    std::size_t tag_begin_ = 0, tag_len_ = 0;
};

template <text::CodeUnit C>
Lexed lex(text::Text<C> t, const DialectRules& rules = kAnyDialect) {
    Lexed out;
    Lexer<C>(t, rules).run(out);
    detail::index_lines(t, out.line_starts);
    return out;
}

}  // namespace quorvane::inventory
