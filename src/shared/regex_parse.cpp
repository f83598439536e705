// Parsing the host's pattern syntax into the tree of regex_syntax.hpp.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shared/regex_syntax.hpp"

namespace quorvane::rx::syntax {
namespace {


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
        // A long pattern is quoted by its start only: the message stays a line.
        constexpr std::size_t kQuoted = 120;
        const std::string quoted =
            p_.size() <= kQuoted ? std::string(p_) : std::string(p_.substr(0, kQuoted)) + "...";
        throw PatternError("cannot translate pattern '" + quoted + "': " + what + " at position " +
                           std::to_string(pos_));
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
        // Every walk over the tree recurses once per level of groups: the
        // limit keeps them all within a small thread stack.
        if (++depth_ > kMaxGroupDepth) fail("groups nested too deeply");
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
        --depth_;
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

    // A {m}, {m,}, {,n} or {m,n} repeat at `q` (just after its '{'): its
    // bounds (max -1: unbounded) and the position after its '}'.  Anything
    // else there is a literal brace.
    struct Braces {
        int min = 0;
        int max = 0;
        std::size_t end = 0;
    };
    std::optional<Braces> braces_at(std::size_t q) const {
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
        if (q >= p_.size() || p_[q] != '}' || (!has_lo && !comma)) return std::nullopt;
        Braces b;
        b.min = has_lo ? lo : 0;
        b.max = comma ? (has_hi ? hi : -1) : b.min;
        b.end = q + 1;
        return b;
    }

    // Whether a repeat starts at the current position.
    bool at_repeat() const {
        if (at_end()) return false;
        const char c = peek();
        return c == '*' || c == '+' || c == '?' || (c == '{' && braces_at(pos_ + 1));
    }

    void parse_quantifier(Node& atom) {
        if (!at_repeat()) return;
        int min = 0;
        int max = 0;
        const char c = peek();
        if (c == '*') {
            min = 0, max = -1, ++pos_;
        } else if (c == '+') {
            min = 1, max = -1, ++pos_;
        } else if (c == '?') {
            min = 0, max = 1, ++pos_;
        } else {
            const Braces b = *braces_at(pos_ + 1);
            pos_ = b.end;
            min = b.min;
            max = b.max;
            if (max != -1 && max < min) fail("min repeat greater than max repeat");
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
        // As the host's syntax: a repeat of a repeat (a{2}{3}, a*{2}) is an
        // error, not a repeat of the group it would need.
        if (at_repeat()) fail("multiple repeat");
    }

    std::size_t depth_ = 0;
    std::string_view p_;
    std::size_t pos_ = 0;
};

}  // namespace

Parsed parse(std::string_view pattern) {
    Parsed out;
    out.source = std::string(pattern);
    out.tree = Parser(pattern).parse();
    return out;
}

}  // namespace quorvane::rx::syntax
