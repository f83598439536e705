// Qualified names and the heads of CREATE, ALTER and DROP statements, over
// the token stream.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "inventory/inventory.hpp"
#include "inventory/lexer.hpp"

namespace quorvane::inventory {

inline bool is_punct(const Token& t, char32_t c) noexcept { return t.type == Tok::Punct && t.ch == c; }

// A token that can be a part of a name: any word, or a quoted name.
inline bool is_name_part(const Token& t) noexcept { return t.type == Tok::Word || t.type == Tok::Quoted; }

// One past the last token of the qualified name that starts at `i` (a name
// part): parts joined by ".", empty parts allowed ("db..t").
inline std::size_t name_end(const std::vector<Token>& k, std::size_t i, std::size_t end) noexcept {
    std::size_t j = i + 1;
    while (j < end && is_punct(k[j], U'.')) {
        std::size_t p = j + 1;
        while (p < end && is_punct(k[p], U'.')) ++p;
        if (p < end && is_name_part(k[p])) {
            j = p + 1;
        } else {
            break;
        }
    }
    return j;
}

// The code units t[b, e) appended to `out` as code points, in one step
// rather than one growth check per unit.
template <text::CodeUnit C>
void append_units(text::Text<C> t, std::size_t b, std::size_t e, Name& out) {
    const std::size_t at = out.size();
    out.resize(at + (e - b));
    char32_t* to = out.data() + at;
    for (std::size_t p = b; p < e; ++p) *to++ = static_cast<char32_t>(t[p]);
}

// The text of tokens [i, e) as a name, appended to `out`: words as written,
// quoted names without their quotes and with doubled closing quotes
// undoubled.
template <text::CodeUnit C>
void append_name_text(text::Text<C> t, const std::vector<Token>& k, std::size_t i, std::size_t e, Name& out) {
    for (std::size_t j = i; j < e; ++j) {
        const Token& tk = k[j];
        if (tk.type == Tok::Punct) {
            out.push_back(U'.');
        } else if (tk.type == Tok::Quoted) {
            const char32_t close = tk.ch == U'[' ? U']' : tk.ch;
            for (std::size_t p = tk.begin + 1; p + 1 < tk.end; ++p) {
                out.push_back(static_cast<char32_t>(t[p]));
                if (t[p] == close) ++p;
            }
        } else {
            append_units(t, tk.begin, tk.end, out);
        }
    }
}

// The text of tokens [i, e) as a new name.
template <text::CodeUnit C>
Name name_text(text::Text<C> t, const std::vector<Token>& k, std::size_t i, std::size_t e) {
    Name out;
    append_name_text(t, k, i, e, out);
    return out;
}

// ASCII letters folded to lower case in place.
inline void fold_key(Name& n) noexcept {
    for (char32_t& c : n) {
        if (c >= U'A' && c <= U'Z') c |= 0x20;
    }
}

// The key names are compared by: ASCII letters folded to lower case.
inline Name name_key(const Name& n) {
    Name k = n;
    fold_key(k);
    return k;
}

// The key of tokens [i, e) written over `out`, whose buffer is reused: a
// lookup by key then allocates nothing once the buffer has grown.
template <text::CodeUnit C>
void name_key_into(text::Text<C> t, const std::vector<Token>& k, std::size_t i, std::size_t e, Name& out) {
    out.clear();
    append_name_text(t, k, i, e, out);
    fold_key(out);
}

// A set of name keys.  The keys lie one after another in one buffer, so
// that a unit declaring a table's hundred columns allocates a few times, not
// once or twice per key; a unit declares a handful of names, so they are
// searched in order until there are kListed of them, and past that through
// an open-addressing index of their hashes, so that a unit declaring
// thousands stays linear.
class KeySet {
   public:
    bool empty() const noexcept { return keys_.empty(); }

    // Empties the set, keeping its buffers unless they grew large.
    void clear() noexcept {
        if (keys_.capacity() > kKeptKeys) {
            *this = KeySet();
            return;
        }
        chars_.clear();
        keys_.clear();
        slots_.clear();
    }

    bool contains(const Name& key) const { return find(key, hash(key)) != kNone; }

    void insert(const Name& key) {
        const std::uint64_t h = hash(key);
        if (find(key, h) != kNone) return;
        keys_.push_back(Key{chars_.size(), key.size(), h});
        chars_.append(key);
        if (keys_.size() > kListed) {
            if (slots_.size() < 2 * keys_.size()) {
                rehash();
            } else {
                place(keys_.size() - 1);
            }
        }
    }

   private:
    struct Key {
        std::size_t at, size;
        std::uint64_t hash;
    };
    static constexpr std::size_t kListed = 16;
    static constexpr std::size_t kKeptKeys = 4096;
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    static std::uint64_t hash(const Name& key) noexcept {
        std::uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a over the code points
        for (char32_t c : key) h = (h ^ c) * 0x100000001B3ull;
        return h ^ (h >> 29);
    }

    bool same(const Key& k, const Name& key) const noexcept {
        return k.size == key.size() &&
               std::char_traits<char32_t>::compare(chars_.data() + k.at, key.data(), k.size) == 0;
    }

    std::uint32_t find(const Name& key, std::uint64_t h) const noexcept {
        if (slots_.empty()) {
            for (std::size_t i = 0; i < keys_.size(); ++i) {
                if (keys_[i].hash == h && same(keys_[i], key)) return static_cast<std::uint32_t>(i);
            }
            return kNone;
        }
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t s = h & mask;; s = (s + 1) & mask) {
            const std::uint32_t i = slots_[s];
            if (i == kNone) return kNone;
            if (keys_[i].hash == h && same(keys_[i], key)) return i;
        }
    }

    void place(std::size_t i) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t s = keys_[i].hash & mask;
        while (slots_[s] != kNone) s = (s + 1) & mask;
        slots_[s] = static_cast<std::uint32_t>(i);
    }

    void rehash() {
        std::size_t n = 64;
        while (n < 4 * keys_.size()) n *= 2;
        slots_.assign(n, kNone);
        for (std::size_t i = 0; i < keys_.size(); ++i) place(i);
    }

    Name chars_;              // the keys, one after another
    std::vector<Key> keys_;   // where each key lies in chars_, and its hash
    std::vector<std::uint32_t> slots_;  // the index past kListed keys: positions in keys_, kNone empty
};

// The last part of a name, lower-cased ASCII, as a narrow string (empty when
// it holds anything else).
inline std::string last_part_ascii(const Name& n) {
    const std::size_t dot = n.rfind(U'.');
    std::string out;
    for (std::size_t p = dot == Name::npos ? 0 : dot + 1; p < n.size(); ++p) {
        if (n[p] >= 0x80) return {};
        out.push_back(static_cast<char>(n[p] >= U'A' && n[p] <= U'Z' ? n[p] | 0x20 : n[p]));
    }
    return out;
}

struct Head {
    ObjectKind kind;
    std::size_t name_begin = 0, name_end = 0;  // token range; empty when the head names nothing
    std::size_t next = 0;                       // first token after the head
};

// The head "CREATE [OR ALTER | OR REPLACE] [modifiers] KIND [IF [NOT] EXISTS]
// name" (or ALTER / DROP KIND ...) starting at k[i].
inline std::optional<Head> parse_head(const std::vector<Token>& k, std::size_t i, std::size_t end) {
    std::size_t j = i + 1;
    std::optional<ObjectKind> kind;
    for (int steps = 0; j < end && steps < 16 && !kind; ++steps, ++j) {
        const Token& tk = k[j];
        if (tk.type == Tok::Word) {
            switch (tk.kw) {
                case Kw::Procedure:
                case Kw::Proc: kind = ObjectKind::Procedure; break;
                case Kw::Function: kind = ObjectKind::Function; break;
                case Kw::View: kind = ObjectKind::View; break;
                case Kw::Trigger: kind = ObjectKind::Trigger; break;
                case Kw::Table: kind = ObjectKind::Table; break;
                case Kw::Type:
                    // Oracle's TYPE BODY name (not a type named "body").
                    kind = ObjectKind::Type;
                    if (j + 2 < end && k[j + 1].type == Tok::Word && k[j + 1].kw == Kw::Body &&
                        is_name_part(k[j + 2]) && !(k[j + 2].type == Tok::Word && k[j + 2].reserved)) {
                        kind = ObjectKind::TypeBody;
                        ++j;
                    }
                    break;
                case Kw::Macro: kind = ObjectKind::Macro; break;
                case Kw::Sequence: kind = ObjectKind::Sequence; break;
                case Kw::Synonym: kind = ObjectKind::Synonym; break;
                case Kw::Schema: kind = ObjectKind::Schema; break;
                case Kw::Index: kind = ObjectKind::Index; break;
                case Kw::Package:
                    kind = ObjectKind::Package;
                    if (j + 1 < end && k[j + 1].type == Tok::Word && k[j + 1].kw == Kw::Body) {
                        kind = ObjectKind::PackageBody;
                        ++j;
                    }
                    break;
                case Kw::Or:
                case Kw::Replace:
                case Kw::Modifier:
                case Kw::Set:  // Teradata SET TABLE
                    break;
                case Kw::Alter:
                    if (k[j - 1].kw != Kw::Or) return std::nullopt;
                    break;
                default:
                    // The value of DEFINER=user@host or ALGORITHM=x, and the
                    // "@" of DEFINER=`user`@`host`.
                    if (is_punct(k[j - 1], U'=') || (tk.kw == Kw::None && tk.end - tk.begin == 1)) break;
                    return std::nullopt;
            }
        } else if (tk.type == Tok::Quoted || is_punct(tk, U'=')) {
            continue;
        } else {
            return std::nullopt;
        }
    }
    if (!kind) return std::nullopt;
    Head h{*kind};
    // IF [NOT] EXISTS
    if (j < end && k[j].kw == Kw::If) {
        std::size_t p = j + 1;
        if (p < end && k[p].kw == Kw::Not) ++p;
        if (p < end && k[p].kw == Kw::Exists) j = p + 1;
    }
    if (j < end && is_name_part(k[j]) && !(k[j].type == Tok::Word && k[j].reserved)) {
        h.name_begin = j;
        h.name_end = j = name_end(k, j, end);
    }
    h.next = j;
    return h;
}

constexpr bool is_routine(ObjectKind k) noexcept {
    return k == ObjectKind::Procedure || k == ObjectKind::Function || k == ObjectKind::View ||
           k == ObjectKind::Trigger || k == ObjectKind::Package || k == ObjectKind::PackageBody ||
           k == ObjectKind::TypeBody || k == ObjectKind::Macro;
}

// A package or type body: a container of routines.
constexpr bool is_body(ObjectKind k) noexcept {
    return k == ObjectKind::Package || k == ObjectKind::PackageBody || k == ObjectKind::TypeBody;
}

}  // namespace quorvane::inventory
