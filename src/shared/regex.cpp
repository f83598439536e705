#include "shared/regex.hpp"

#define PCRE2_CODE_UNIT_WIDTH 0
#include <pcre2.h>

#include <array>
#include <new>
#include <cstdio>
#include <utility>
#include <vector>

namespace quorvane::rx {
namespace {

// ---------------------------------------------------------------------------
// Parsing the host syntax.  Only what the fixed tables need is accepted;
// anything else is a PatternError at load, never a silent mistranslation.

enum class NodeType { Alt, Seq, Literal, Set, AnyChar, Group, Assert };
enum class GroupKind { Capture, NonCapture, Ahead, NotAhead, Behind, NotBehind };
enum class AssertKind { LineStart, LineEnd, TextStart, TextEnd, WordBoundary, NotWordBoundary };
enum class SetItemKind { Char, Range, Word, NotWord, Space, NotSpace, Digit, NotDigit };

struct SetItem {
    SetItemKind kind;
    char32_t lo = 0;
    char32_t hi = 0;
};

struct Node {
    NodeType type;
    char32_t ch = 0;                 // Literal
    std::vector<SetItem> items;      // Set
    bool negated = false;            // Set
    GroupKind group = GroupKind::NonCapture;
    AssertKind assertion = AssertKind::WordBoundary;
    int min = 1;
    int max = 1;                     // -1: unbounded
    bool lazy = false;
    std::vector<Node> kids;          // Alt: Seq nodes; Seq: items; Group: one Alt
    std::size_t begin = 0;           // source span: Seq, and Group with its quantifier
    std::size_t end = 0;

    explicit Node(NodeType t) : type(t) {}
};

class Parser {
   public:
    explicit Parser(std::string_view p) : p_(p) {}

    Node parse() {
        Node alt = parse_alt();
        if (pos_ != p_.size()) fail("unbalanced parenthesis");
        return alt;
    }

   private:
    [[noreturn]] void fail(const char* what) const {
        throw PatternError(std::string("cannot translate pattern '") + std::string(p_) +
                           "': " + what + " at position " + std::to_string(pos_));
    }
    bool at_end() const { return pos_ >= p_.size(); }
    char peek() const { return p_[pos_]; }

    Node parse_alt() {
        Node alt(NodeType::Alt);
        alt.kids.push_back(parse_seq());
        while (!at_end() && peek() == '|') {
            ++pos_;
            alt.kids.push_back(parse_seq());
        }
        return alt;
    }

    Node parse_seq() {
        Node seq(NodeType::Seq);
        seq.begin = pos_;
        while (!at_end() && peek() != '|' && peek() != ')') {
            const std::size_t begin = pos_;
            Node atom = parse_atom();
            parse_quantifier(atom);
            atom.begin = begin;
            atom.end = pos_;
            seq.kids.push_back(std::move(atom));
        }
        seq.end = pos_;
        return seq;
    }

    static Node literal(char32_t c) {
        Node n(NodeType::Literal);
        n.ch = c;
        return n;
    }
    static Node assertion(AssertKind k) {
        Node n(NodeType::Assert);
        n.assertion = k;
        return n;
    }
    static Node class_escape(SetItemKind k) {
        Node n(NodeType::Set);
        n.items.push_back({k});
        return n;
    }

    Node parse_atom() {
        const char c = p_[pos_++];
        switch (c) {
            case '(': return parse_group();
            case '[': return parse_set();
            case '.': return Node(NodeType::AnyChar);
            case '^': return assertion(AssertKind::LineStart);
            case '$': return assertion(AssertKind::LineEnd);
            case '\\': return parse_escape();
            case '*':
            case '+':
            case '?': fail("nothing to repeat");
            default:
                if (static_cast<unsigned char>(c) >= 0x80) fail("non-ASCII literal");
                return literal(static_cast<char32_t>(c));
        }
    }

    Node parse_group() {
        GroupKind kind = GroupKind::Capture;
        if (!at_end() && peek() == '?') {
            const std::string_view rest = p_.substr(pos_);
            if (rest.starts_with("?:")) {
                kind = GroupKind::NonCapture;
                pos_ += 2;
            } else if (rest.starts_with("?=")) {
                kind = GroupKind::Ahead;
                pos_ += 2;
            } else if (rest.starts_with("?!")) {
                kind = GroupKind::NotAhead;
                pos_ += 2;
            } else if (rest.starts_with("?<=")) {
                kind = GroupKind::Behind;
                pos_ += 3;
            } else if (rest.starts_with("?<!")) {
                kind = GroupKind::NotBehind;
                pos_ += 3;
            } else {
                fail("unsupported group");
            }
        }
        Node group(NodeType::Group);
        group.group = kind;
        group.kids.push_back(parse_alt());
        if (at_end() || peek() != ')') fail("missing )");
        ++pos_;
        return group;
    }

    // One escape outside a set.
    Node parse_escape() {
        if (at_end()) fail("trailing backslash");
        const char e = p_[pos_++];
        switch (e) {
            case 'w': return class_escape(SetItemKind::Word);
            case 'W': return class_escape(SetItemKind::NotWord);
            case 's': return class_escape(SetItemKind::Space);
            case 'S': return class_escape(SetItemKind::NotSpace);
            case 'd': return class_escape(SetItemKind::Digit);
            case 'D': return class_escape(SetItemKind::NotDigit);
            case 'b': return assertion(AssertKind::WordBoundary);
            case 'B': return assertion(AssertKind::NotWordBoundary);
            case 'A': return assertion(AssertKind::TextStart);
            case 'Z': return assertion(AssertKind::TextEnd);
            default: return literal(escaped_char(e));
        }
    }

    // A character escape (valid inside and outside sets).
    char32_t escaped_char(char e) {
        switch (e) {
            case 'n': return U'\n';
            case 't': return U'\t';
            case 'r': return U'\r';
            case 'f': return U'\f';
            case 'v': return U'\v';
            case 'a': return U'\a';
            default: break;
        }
        const auto u = static_cast<unsigned char>(e);
        if (u >= 0x80 || (e >= '0' && e <= '9') || (e >= 'A' && e <= 'Z') || (e >= 'a' && e <= 'z')) {
            fail("unsupported escape");
        }
        return static_cast<char32_t>(u);
    }

    Node parse_set() {
        Node set(NodeType::Set);
        if (!at_end() && peek() == '^') {
            set.negated = true;
            ++pos_;
        }
        bool first = true;
        while (true) {
            if (at_end()) fail("unterminated set");
            char c = p_[pos_];
            if (c == ']' && !first) {
                ++pos_;
                break;
            }
            first = false;
            ++pos_;
            char32_t lo;
            if (c == '\\') {
                if (at_end()) fail("trailing backslash");
                const char e = p_[pos_++];
                switch (e) {
                    case 'w': set.items.push_back({SetItemKind::Word}); continue;
                    case 'W': set.items.push_back({SetItemKind::NotWord}); continue;
                    case 's': set.items.push_back({SetItemKind::Space}); continue;
                    case 'S': set.items.push_back({SetItemKind::NotSpace}); continue;
                    case 'd': set.items.push_back({SetItemKind::Digit}); continue;
                    case 'D': set.items.push_back({SetItemKind::NotDigit}); continue;
                    default: lo = escaped_char(e);
                }
            } else {
                if (static_cast<unsigned char>(c) >= 0x80) fail("non-ASCII set member");
                lo = static_cast<char32_t>(c);
            }
            // A range, unless '-' is the last member.
            if (pos_ + 1 < p_.size() && p_[pos_] == '-' && p_[pos_ + 1] != ']') {
                ++pos_;
                char h = p_[pos_++];
                char32_t hi;
                if (h == '\\') {
                    if (at_end()) fail("trailing backslash");
                    hi = escaped_char(p_[pos_++]);
                } else {
                    if (static_cast<unsigned char>(h) >= 0x80) fail("non-ASCII set member");
                    hi = static_cast<char32_t>(h);
                }
                if (hi < lo) fail("bad range");
                set.items.push_back({SetItemKind::Range, lo, hi});
            } else {
                set.items.push_back({SetItemKind::Char, lo, lo});
            }
        }
        return set;
    }

    void parse_quantifier(Node& atom) {
        if (at_end()) return;
        int min = 0;
        int max = 0;
        const char c = peek();
        if (c == '*') {
            min = 0, max = -1, ++pos_;
        } else if (c == '+') {
            min = 1, max = -1, ++pos_;
        } else if (c == '?') {
            min = 0, max = 1, ++pos_;
        } else if (c == '{') {
            // {m}, {m,}, {,n}, {m,n}; anything else is a literal brace.
            std::size_t q = pos_ + 1;
            auto number = [&](int& out) {
                const std::size_t start = q;
                long v = 0;
                while (q < p_.size() && p_[q] >= '0' && p_[q] <= '9') {
                    v = v * 10 + (p_[q++] - '0');
                    if (v > 65535) fail("repeat count too large");
                }
                out = static_cast<int>(v);
                return q > start;
            };
            int lo = 0;
            int hi = 0;
            const bool has_lo = number(lo);
            bool has_hi = false;
            bool comma = false;
            if (q < p_.size() && p_[q] == ',') {
                comma = true;
                ++q;
                has_hi = number(hi);
            }
            if (q >= p_.size() || p_[q] != '}' || (!has_lo && !comma)) return;
            pos_ = q + 1;
            min = has_lo ? lo : 0;
            max = comma ? (has_hi ? hi : -1) : min;
            if (max != -1 && max < min) fail("min repeat greater than max repeat");
        } else {
            return;
        }
        if (atom.type == NodeType::Assert ||
            (atom.type == NodeType::Group && atom.group != GroupKind::Capture &&
             atom.group != GroupKind::NonCapture)) {
            fail("quantified assertion");
        }
        if (atom.min != 1 || atom.max != 1) fail("multiple repeat");
        atom.min = min;
        atom.max = max;
        if (!at_end() && peek() == '?') {
            atom.lazy = true;
            ++pos_;
        } else if (!at_end() && peek() == '+') {
            fail("possessive quantifier");
        }
    }

    std::string_view p_;
    std::size_t pos_ = 0;
};

// ---------------------------------------------------------------------------
// Emitting PCRE2 syntax.

constexpr std::string_view kWordMembers = "\\p{L}\\p{N}_";
constexpr std::string_view kWord = "[\\p{L}\\p{N}_]";

bool is_ascii_word(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether every match of `n` (one repetition) begins / ends with a word
// character.  ASCII letters qualify under case folding too: every character
// that folds onto one is a letter.
bool starts_word(const Node& n);
bool ends_word(const Node& n);

bool seq_starts_word(const Node& seq, std::size_t i) {
    if (i >= seq.kids.size()) return false;
    const Node& item = seq.kids[i];
    if (item.min == 0) return starts_word(item) && seq_starts_word(seq, i + 1);
    return starts_word(item);
}

bool seq_ends_word(const Node& seq, std::size_t i) {
    if (i == 0) return false;
    const Node& item = seq.kids[i - 1];
    if (item.min == 0) return ends_word(item) && seq_ends_word(seq, i - 1);
    return ends_word(item);
}

bool is_word_set(const Node& n) {
    return n.type == NodeType::Set && !n.negated && n.items.size() == 1 &&
           n.items[0].kind == SetItemKind::Word;
}

bool starts_word(const Node& n) {
    switch (n.type) {
        case NodeType::Literal: return is_ascii_word(n.ch);
        case NodeType::Set: return is_word_set(n);
        case NodeType::Group:
            if (n.group != GroupKind::Capture && n.group != GroupKind::NonCapture) return false;
            for (const Node& alt : n.kids[0].kids) {
                if (!seq_starts_word(alt, 0)) return false;
            }
            return true;
        default: return false;
    }
}

bool ends_word(const Node& n) {
    switch (n.type) {
        case NodeType::Literal: return is_ascii_word(n.ch);
        case NodeType::Set: return is_word_set(n);
        case NodeType::Group:
            if (n.group != GroupKind::Capture && n.group != GroupKind::NonCapture) return false;
            for (const Node& alt : n.kids[0].kids) {
                if (!seq_ends_word(alt, alt.kids.size())) return false;
            }
            return true;
        default: return false;
    }
}

class Emitter {
   public:
    Emitter(unsigned flags, int width) : flags_(flags), width_(width) {}

    std::string emit(const Node& alt) {
        out_.clear();
        emit_alt(alt);
        return out_;
    }

   private:
    void hex(char32_t c) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "\\x{%x}", static_cast<unsigned>(c));
        out_ += buf;
    }
    void emit_char(char32_t c) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
            out_ += static_cast<char>(c);
        } else {
            hex(c);
        }
    }
    void space_members() {
        out_ += "\\x{9}-\\x{d}\\x{1c}-\\x{20}\\x{85}\\x{a0}";
        if (width_ > 8) {
            out_ += "\\x{1680}\\x{2000}-\\x{200a}\\x{2028}\\x{2029}\\x{202f}\\x{205f}\\x{3000}";
        }
    }

    void emit_alt(const Node& alt) {
        for (std::size_t i = 0; i < alt.kids.size(); ++i) {
            if (i) out_ += '|';
            emit_seq(alt.kids[i]);
        }
    }

    void emit_seq(const Node& seq) {
        for (std::size_t i = 0; i < seq.kids.size(); ++i) {
            const Node& item = seq.kids[i];
            if (item.type == NodeType::Assert && (item.assertion == AssertKind::WordBoundary ||
                                                  item.assertion == AssertKind::NotWordBoundary)) {
                emit_boundary(item.assertion == AssertKind::WordBoundary, seq_ends_word(seq, i),
                              seq_starts_word(seq, i + 1));
                continue;
            }
            emit_item(item);
        }
    }

    // \b and \B, reduced to one look-around when a neighbour is known to be
    // a word character (which keeps PCRE2's start-of-match optimisations).
    void emit_boundary(bool boundary, bool word_before, bool word_after) {
        const std::string w(kWord);
        if (boundary) {
            if (word_before && word_after) out_ += "(*FAIL)";
            else if (word_before) out_ += "(?!" + w + ")";
            else if (word_after) out_ += "(?<!" + w + ")";
            else out_ += "(?:(?<=" + w + ")(?!" + w + ")|(?<!" + w + ")(?=" + w + "))";
        } else {
            if (word_before && word_after) return;
            if (word_before) out_ += "(?=" + w + ")";
            else if (word_after) out_ += "(?<=" + w + ")";
            else out_ += "(?:(?<=" + w + ")(?=" + w + ")|(?<!" + w + ")(?!" + w + "))";
        }
    }

    void emit_item(const Node& n) {
        switch (n.type) {
            case NodeType::Literal: emit_char(n.ch); break;
            case NodeType::AnyChar: out_ += (flags_ & kDotAll) ? "(?s:.)" : "[^\\n]"; break;
            case NodeType::Set: emit_set(n); break;
            case NodeType::Assert: emit_assert(n.assertion); break;
            case NodeType::Group: {
                static constexpr std::array<std::string_view, 6> open = {"(", "(?:", "(?=", "(?!",
                                                                         "(?<=", "(?<!"};
                out_ += open[static_cast<std::size_t>(n.group)];
                emit_alt(n.kids[0]);
                out_ += ')';
                break;
            }
            default: throw PatternError("internal: unexpected node");
        }
        emit_quantifier(n);
    }

    void emit_assert(AssertKind k) {
        const bool multiline = flags_ & kMultiLine;
        switch (k) {
            case AssertKind::LineStart: out_ += multiline ? "(?<![^\\n])" : "\\A"; break;
            case AssertKind::LineEnd: out_ += multiline ? "(?=\\n|\\z)" : "(?=\\n?\\z)"; break;
            case AssertKind::TextStart: out_ += "\\A"; break;
            case AssertKind::TextEnd: out_ += "\\z"; break;
            default: throw PatternError("internal: unexpected assertion");
        }
    }

    void emit_quantifier(const Node& n) {
        if (n.min == 1 && n.max == 1) return;
        if (n.min == 0 && n.max == -1) {
            out_ += '*';
        } else if (n.min == 1 && n.max == -1) {
            out_ += '+';
        } else if (n.min == 0 && n.max == 1) {
            out_ += '?';
        } else {
            out_ += '{';
            out_ += std::to_string(n.min);
            if (n.max != n.min) {
                out_ += ',';
                if (n.max != -1) out_ += std::to_string(n.max);
            }
            out_ += '}';
        }
        if (n.lazy) out_ += '?';
    }

    void emit_set_members(const Node& n, bool positive_escapes_only) {
        for (const SetItem& it : n.items) {
            switch (it.kind) {
                case SetItemKind::Char: hex(it.lo); break;
                case SetItemKind::Range:
                    hex(it.lo);
                    out_ += '-';
                    hex(it.hi);
                    break;
                case SetItemKind::Word: out_ += kWordMembers; break;
                case SetItemKind::Digit: out_ += "\\p{Nd}"; break;
                case SetItemKind::Space: space_members(); break;
                default:
                    if (positive_escapes_only) throw PatternError("internal: negated class in set");
                    break;
            }
        }
    }

    void emit_set(const Node& n) {
        // A single class escape, e.g. \w or \S.
        if (n.items.size() == 1 && !n.negated) {
            switch (n.items[0].kind) {
                case SetItemKind::NotWord: out_ += "[^" + std::string(kWordMembers) + "]"; return;
                case SetItemKind::NotDigit: out_ += "\\P{Nd}"; return;
                case SetItemKind::NotSpace:
                    out_ += "[^";
                    space_members();
                    out_ += ']';
                    return;
                default: break;
            }
        }
        std::vector<SetItemKind> negated_escapes;
        for (const SetItem& it : n.items) {
            if (it.kind == SetItemKind::NotWord || it.kind == SetItemKind::NotSpace ||
                it.kind == SetItemKind::NotDigit) {
                negated_escapes.push_back(it.kind);
            }
        }
        if (negated_escapes.empty()) {
            out_ += n.negated ? "[^" : "[";
            emit_set_members(n, true);
            out_ += ']';
            return;
        }
        // A set holding negated escapes, such as [\s\S]: the union of its
        // positive members and each complement.
        if (n.negated) throw PatternError("unsupported negated set with a negated class escape");
        out_ += "(?:";
        bool any = false;
        Node positive(NodeType::Set);
        for (const SetItem& it : n.items) {
            if (it.kind != SetItemKind::NotWord && it.kind != SetItemKind::NotSpace &&
                it.kind != SetItemKind::NotDigit) {
                positive.items.push_back(it);
            }
        }
        if (!positive.items.empty()) {
            out_ += '[';
            emit_set_members(positive, true);
            out_ += ']';
            any = true;
        }
        for (SetItemKind k : negated_escapes) {
            if (any) out_ += '|';
            any = true;
            Node single(NodeType::Set);
            single.items.push_back({k});
            emit_set(single);
        }
        out_ += ')';
    }

    unsigned flags_;
    int width_;
    std::string out_;
};

// ---------------------------------------------------------------------------
// PCRE2 per code-unit width.

template <text::CodeUnit C>
struct Pcre;

#define QUORVANE_PCRE2_TRAITS(BITS, UNIT)                                                      \
    template <>                                                                                \
    struct Pcre<UNIT> {                                                                        \
        using Code = pcre2_code_##BITS;                                                        \
        using MatchData = pcre2_match_data_##BITS;                                             \
        using MatchContext = pcre2_match_context_##BITS;                                       \
        using CompileContext = pcre2_compile_context_##BITS;                                   \
        using Sptr = PCRE2_SPTR##BITS;                                                         \
        static Code* compile(const std::string& p, std::uint32_t opts, int* err,               \
                             PCRE2_SIZE* off, CompileContext* cc) {                            \
            std::vector<UNIT> units(p.begin(), p.end());                                       \
            return pcre2_compile_##BITS(reinterpret_cast<Sptr>(units.data()), units.size(),    \
                                        opts, err, off, cc);                                   \
        }                                                                                      \
        static CompileContext* compile_context() {                                             \
            return pcre2_compile_context_create_##BITS(nullptr);                              \
        }                                                                                      \
        static void set_newline(CompileContext* cc) {                                          \
            pcre2_set_newline_##BITS(cc, PCRE2_NEWLINE_LF);                                    \
        }                                                                                      \
        static void free_compile_context(CompileContext* cc) {                                 \
            pcre2_compile_context_free_##BITS(cc);                                             \
        }                                                                                      \
        static int jit(Code* c) { return pcre2_jit_compile_##BITS(c, PCRE2_JIT_COMPLETE); }    \
        static void free_code(Code* c) { pcre2_code_free_##BITS(c); }                          \
        static MatchData* match_data() { return pcre2_match_data_create_##BITS(1, nullptr); }  \
        static void free_match_data(MatchData* m) { pcre2_match_data_free_##BITS(m); }         \
        static PCRE2_SIZE* ovector(MatchData* m) { return pcre2_get_ovector_pointer_##BITS(m); } \
        static MatchContext* match_context() {                                                 \
            return pcre2_match_context_create_##BITS(nullptr);                                 \
        }                                                                                      \
        static void set_match_limit(MatchContext* m, std::uint32_t limit) {                    \
            pcre2_set_match_limit_##BITS(m, limit);                                            \
        }                                                                                      \
        static void set_offset_limit(MatchContext* m, PCRE2_SIZE limit) {                      \
            pcre2_set_offset_limit_##BITS(m, limit);                                           \
        }                                                                                      \
        static void free_match_context(MatchContext* m) { pcre2_match_context_free_##BITS(m); } \
        static int run(const Code* c, bool jitted, const UNIT* s, std::size_t n,               \
                       std::size_t from, std::uint32_t opts, MatchData* md,                    \
                       MatchContext* mc) {                                                     \
            auto subject = reinterpret_cast<Sptr>(s);                                          \
            return jitted ? pcre2_jit_match_##BITS(c, subject, n, from, opts, md, mc)          \
                          : pcre2_match_##BITS(c, subject, n, from, opts, md, mc);             \
        }                                                                                      \
    };

QUORVANE_PCRE2_TRAITS(8, std::uint8_t)
QUORVANE_PCRE2_TRAITS(16, std::uint16_t)
QUORVANE_PCRE2_TRAITS(32, std::uint32_t)
#undef QUORVANE_PCRE2_TRAITS

std::string error_text(int code) {
    PCRE2_UCHAR8 buf[256];
    if (pcre2_get_error_message_8(code, buf, sizeof buf) < 0) return "error " + std::to_string(code);
    return reinterpret_cast<const char*>(buf);
}

// One object per thread, for match state: compiled patterns stay shared and
// immutable, and concurrent matches never share state.
template <class T, T* (*Create)(), void (*Destroy)(T*)>
T* per_thread() {
    struct Holder {
        T* object = Create();
        ~Holder() {
            if (object) Destroy(object);
        }
    };
    thread_local Holder holder;
    if (!holder.object) throw std::bad_alloc();
    return holder.object;
}

template <text::CodeUnit C>
typename Pcre<C>::MatchData* thread_match_data() {
    return per_thread<typename Pcre<C>::MatchData, &Pcre<C>::match_data, &Pcre<C>::free_match_data>();
}

// A match context per thread, for searches whose matches must start before
// a given offset.
template <text::CodeUnit C>
typename Pcre<C>::MatchContext* thread_offset_context() {
    return per_thread<typename Pcre<C>::MatchContext, &Pcre<C>::match_context, &Pcre<C>::free_match_context>();
}

template <text::CodeUnit C>
struct Unit {
    typename Pcre<C>::Code* code = nullptr;
    typename Pcre<C>::MatchContext* limits = nullptr;  // tests only
    bool jitted = false;

    Unit() = default;
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;
    ~Unit() {
        if (code) Pcre<C>::free_code(code);
        if (limits) Pcre<C>::free_match_context(limits);
    }

    void build(std::string_view pattern, unsigned flags, int width, bool bounded_starts) {
        const std::string translated = translate(pattern, flags, width);
        auto* cc = Pcre<C>::compile_context();
        if (!cc) throw std::bad_alloc();
        Pcre<C>::set_newline(cc);
        int err = 0;
        PCRE2_SIZE off = 0;
        std::uint32_t opts = PCRE2_UCP;
        if (bounded_starts) opts |= PCRE2_USE_OFFSET_LIMIT;
        if (flags & kIgnoreCase) opts |= PCRE2_CASELESS;
        code = Pcre<C>::compile(translated, opts, &err, &off, cc);
        Pcre<C>::free_compile_context(cc);
        if (!code) {
            throw PatternError("PCRE2 rejects '" + translated + "' (from '" + std::string(pattern) +
                               "'): " + error_text(err) + " at offset " + std::to_string(off));
        }
        jitted = Pcre<C>::jit(code) == 0;
    }
};

}  // namespace

// ---------------------------------------------------------------------------

EngineError::EngineError(int code, std::string_view pattern)
    : std::runtime_error("regular-expression engine failed on pattern '" + std::string(pattern) +
                         "': " + error_text(code)),
      code_(code) {}

namespace {

// See Regex::narrowable.
bool narrowable_node(const Node& n, bool ignore_case) {
    auto folds_beyond_ascii = [](char32_t lo, char32_t hi) {
        for (char32_t c : {U's', U'S', U'k', U'K'}) {
            if (lo <= c && c <= hi) return true;
        }
        return false;
    };
    switch (n.type) {
        case NodeType::Literal: return ignore_case || !folds_beyond_ascii(n.ch, n.ch);
        case NodeType::Set:
            for (const SetItem& it : n.items) {
                if (it.kind == SetItemKind::Digit || it.kind == SetItemKind::NotDigit) return false;
                if ((it.kind == SetItemKind::Char || it.kind == SetItemKind::Range) && !ignore_case &&
                    folds_beyond_ascii(it.lo, it.hi)) {
                    return false;
                }
            }
            return true;
        default:
            for (const Node& k : n.kids) {
                if (!narrowable_node(k, ignore_case)) return false;
            }
            return true;
    }
}

}  // namespace

std::vector<std::string> presence_alternatives(std::string_view pattern) {
    const Node alt = Parser(pattern).parse();
    if (alt.kids.size() == 1) {
        for (const Node& item : alt.kids[0].kids) {
            if (item.type != NodeType::Group || item.min != 1 || item.max != 1 ||
                (item.group != GroupKind::Capture && item.group != GroupKind::NonCapture) ||
                item.kids[0].kids.size() < 2) {
                continue;
            }
            // Distribute the rest of the sequence over the group's options,
            // and split the resulting patterns further.
            const std::string before(pattern.substr(0, item.begin));
            const std::string after(pattern.substr(item.end));
            std::vector<std::string> out;
            for (const Node& option : item.kids[0].kids) {
                const std::string part =
                    before + "(?:" + std::string(pattern.substr(option.begin, option.end - option.begin)) + ")" + after;
                for (std::string& p : presence_alternatives(part)) out.push_back(std::move(p));
            }
            return out;
        }
    }
    return {std::string(pattern)};
}

std::string translate(std::string_view pattern, unsigned flags, int width) {
    if (width != 8 && width != 16 && width != 32) throw PatternError("bad code-unit width");
    const Node ast = Parser(pattern).parse();
    return Emitter(flags, width).emit(ast);
}

struct Regex::Compiled {
    Unit<std::uint8_t> u8;
    Unit<std::uint16_t> u16;
    Unit<std::uint32_t> u32;

    template <text::CodeUnit C>
    const Unit<C>& unit() const {
        if constexpr (sizeof(C) == 1) return u8;
        else if constexpr (sizeof(C) == 2) return u16;
        else return u32;
    }
};

Regex::Regex(std::string_view pattern, unsigned flags, Starts starts)
    : pattern_(pattern),
      flags_(flags),
      narrowable_(narrowable_node(Parser(pattern).parse(), flags & kIgnoreCase)),
      bounded_starts_(starts == Starts::Bounded),
      compiled_(std::make_unique<Compiled>()) {
    compiled_->u8.build(pattern, flags, 8, bounded_starts_);
    compiled_->u16.build(pattern, flags, 16, bounded_starts_);
    compiled_->u32.build(pattern, flags, 32, bounded_starts_);
}

Regex::~Regex() = default;
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;

namespace {

template <text::CodeUnit C>
std::optional<Span> run_once(const Regex& re, const Unit<C>& unit, text::Text<C> subject,
                             std::size_t from, std::uint32_t options,
                             std::size_t start_limit = Regex::kNoLimit) {
    static const C empty[1] = {0};
    const C* data = subject.empty() ? empty : subject.data();
    auto* md = thread_match_data<C>();
    typename Pcre<C>::MatchContext* context = unit.limits;
    if (start_limit != Regex::kNoLimit) {
        context = thread_offset_context<C>();
        Pcre<C>::set_offset_limit(context, start_limit);
    }
    const int rc = Pcre<C>::run(unit.code, unit.jitted && !(options & PCRE2_ANCHORED), data,
                                subject.size(), from, options, md, context);
    if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
    if (rc < 0) throw EngineError(rc, re.pattern());
    const PCRE2_SIZE* ov = Pcre<C>::ovector(md);
    return Span{ov[0], ov[1]};
}

}  // namespace

template <text::CodeUnit C>
std::optional<Span> Regex::search(text::Text<C> subject, std::size_t from) const {
    if (from > subject.size()) return std::nullopt;
    return run_once(*this, compiled_->unit<C>(), subject, from, 0);
}

template <text::CodeUnit C>
std::optional<Span> Regex::search_starting_by(text::Text<C> subject, std::size_t from, std::size_t last_start) const {
    if (!bounded_starts_) throw std::logic_error("pattern not compiled for bounded starts");
    if (from > subject.size() || from > last_start) return std::nullopt;
    return run_once(*this, compiled_->unit<C>(), subject, from, 0, last_start);
}

template <text::CodeUnit C>
std::optional<Span> Regex::match(text::Text<C> subject, std::size_t at) const {
    if (at > subject.size()) return std::nullopt;
    // PCRE2's JIT does not take PCRE2_ANCHORED at match time; run_once then
    // uses the interpreter, which is fine for the short anchored subjects
    // this serves.
    return run_once(*this, compiled_->unit<C>(), subject, at, PCRE2_ANCHORED);
}

template <text::CodeUnit C>
std::size_t Regex::count(text::Text<C> subject) const {
    const Unit<C>& unit = compiled_->unit<C>();
    std::size_t n = 0;
    std::size_t pos = 0;
    std::uint32_t options = 0;
    while (pos <= subject.size()) {
        const auto m = run_once(*this, unit, subject, pos, options);
        if (!m) break;
        ++n;
        options = (m->end == m->start) ? PCRE2_NOTEMPTY_ATSTART : 0;
        pos = m->end;
    }
    return n;
}

void Regex::set_match_limit_for_testing(std::uint32_t limit) {
    auto apply = [limit](auto& unit, auto create, auto set, auto destroy) {
        if (unit.limits) destroy(unit.limits);
        unit.limits = nullptr;
        if (limit) {
            unit.limits = create();
            set(unit.limits, limit);
        }
    };
    apply(compiled_->u8, Pcre<std::uint8_t>::match_context, Pcre<std::uint8_t>::set_match_limit,
          Pcre<std::uint8_t>::free_match_context);
    apply(compiled_->u16, Pcre<std::uint16_t>::match_context, Pcre<std::uint16_t>::set_match_limit,
          Pcre<std::uint16_t>::free_match_context);
    apply(compiled_->u32, Pcre<std::uint32_t>::match_context, Pcre<std::uint32_t>::set_match_limit,
          Pcre<std::uint32_t>::free_match_context);
}

#define QUORVANE_INSTANTIATE(UNIT)                                                              \
    template std::optional<Span> Regex::search(text::Text<UNIT>, std::size_t) const;          \
    template std::optional<Span> Regex::search_starting_by(text::Text<UNIT>, std::size_t, std::size_t) const; \
    template std::optional<Span> Regex::match(text::Text<UNIT>, std::size_t) const;           \
    template std::size_t Regex::count(text::Text<UNIT>) const;
QUORVANE_INSTANTIATE(std::uint8_t)
QUORVANE_INSTANTIATE(std::uint16_t)
QUORVANE_INSTANTIATE(std::uint32_t)
#undef QUORVANE_INSTANTIATE

}  // namespace quorvane::rx
