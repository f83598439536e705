// Emitting the parsed tree as PCRE2 syntax for each code-unit width, and what
// the tree tells about a pattern (narrowing, required words, alternatives).
#include "shared/regex_syntax.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::rx::syntax {
namespace {

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

}  // namespace

bool matches_any_character(const Node& n);

namespace {

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
            case NodeType::Callout: out_ += "(?C" + std::to_string(n.callout) + ")"; return;
            default: throw PatternError("internal: unexpected node");
        }
        emit_quantifier(n);
    }

    void emit_assert(AssertKind k) {
        const bool multiline = flags_ & kMultiLine;
        switch (k) {
            // The engine's own multi-line ^ (compiled with the newline LF and
            // PCRE2_ALT_CIRCUMFLEX, so also after a final LF): it lets the
            // engine try only the starts of lines.
            case AssertKind::LineStart: out_ += multiline ? "(?m:^)" : "\\A"; break;
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
        // Every character, such as [\s\S]: one class, which the engine
        // repeats in place (a group would be copied once per repetition).
        if (matches_any_character(n)) {
            out_ += width_ == 8 ? "[\\x{0}-\\x{ff}]" : width_ == 16 ? "[\\x{0}-\\x{ffff}]" : "[\\x{0}-\\x{10ffff}]";
            return;
        }
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

// See narrowable().
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


std::string emit(const Node& tree, unsigned flags, int width) {
    if (width != 8 && width != 16 && width != 32) throw PatternError("bad code-unit width");
    return Emitter(flags, width).emit(tree);
}

bool narrowable(const Node& tree, bool ignore_case) { return narrowable_node(tree, ignore_case); }

bool has_callouts(const Node& tree) {
    if (tree.type == NodeType::Callout) return true;
    return std::any_of(tree.kids.begin(), tree.kids.end(), [](const Node& k) { return has_callouts(k); });
}

std::vector<Parsed> presence_alternatives(const Parsed& pattern) {
    const Node& alt = pattern.tree;
    const std::string_view source = pattern.source;
    if (alt.kids.size() == 1) {
        for (const Node& item : alt.kids[0].kids) {
            if (item.type != NodeType::Group || item.min != 1 || item.max != 1 ||
                (item.group != GroupKind::Capture && item.group != GroupKind::NonCapture) ||
                item.kids[0].kids.size() < 2) {
                continue;
            }
            // Distribute the rest of the sequence over the group's options,
            // and split each resulting pattern further.
            const std::string before(source.substr(0, item.begin));
            const std::string after(source.substr(item.end));
            std::vector<Parsed> out;
            for (const Node& option : item.kids[0].kids) {
                const std::string part =
                    before + "(?:" + std::string(source.substr(option.begin, option.end - option.begin)) + ")" + after;
                for (Parsed& p : presence_alternatives(parse(part))) out.push_back(std::move(p));
            }
            return out;
        }
    }
    return {pattern};
}

bool matches_any_character(const Node& n) {
    if (n.type != NodeType::Set || n.negated) return false;
    auto has = [&](SetItemKind k) {
        return std::any_of(n.items.begin(), n.items.end(), [k](const SetItem& it) { return it.kind == k; });
    };
    return (has(SetItemKind::Word) && has(SetItemKind::NotWord)) ||
           (has(SetItemKind::Space) && has(SetItemKind::NotSpace)) ||
           (has(SetItemKind::Digit) && has(SetItemKind::NotDigit));
}

namespace {

// Clauses of one alternation: when every option yields at least one clause,
// each option's most selective clause joined into one; otherwise nothing.
std::vector<Clause> alternation_clauses(const Node& alt);

std::size_t selectivity(const Clause& c) {
    std::size_t shortest = std::string::npos;
    for (const std::string& s : c) shortest = std::min(shortest, s.size());
    return shortest;
}

std::vector<Clause> sequence_clauses(const Node& seq) {
    std::vector<Clause> found;
    std::string run;
    auto close_run = [&] {
        if (!run.empty()) found.push_back({run});
        run.clear();
    };
    for (const Node& item : seq.kids) {
        const bool once = item.min == 1 && item.max == 1;
        // (A NUL is matched, but is never a required literal: the literal
        // filters keep it for characters no literal holds.)
        if (item.type == NodeType::Literal && item.ch > 0 && item.ch < 0x80) {
            const char c = static_cast<char>(item.ch);
            const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            if (once) {
                run += lower;
                continue;
            }
            close_run();
            if (item.min >= 1) found.push_back({std::string(1, lower)});
            continue;
        }
        if (item.type == NodeType::Assert || item.type == NodeType::Callout) continue;  // zero width
        close_run();
        if (item.type == NodeType::Group && item.min >= 1 &&
            (item.group == GroupKind::Capture || item.group == GroupKind::NonCapture)) {
            for (Clause& c : alternation_clauses(item.kids[0])) found.push_back(std::move(c));
        }
    }
    close_run();
    return found;
}

std::vector<Clause> alternation_clauses(const Node& alt) {
    if (alt.kids.size() == 1) return sequence_clauses(alt.kids[0]);
    Clause joined;
    for (const Node& option : alt.kids) {
        const std::vector<Clause> clauses = sequence_clauses(option);
        if (clauses.empty()) return {};
        const Clause* best = &clauses[0];
        for (const Clause& c : clauses) {
            if (c.size() < best->size() || (c.size() == best->size() && selectivity(c) > selectivity(*best))) {
                best = &c;
            }
        }
        joined.insert(joined.end(), best->begin(), best->end());
    }
    std::sort(joined.begin(), joined.end());
    joined.erase(std::unique(joined.begin(), joined.end()), joined.end());
    return {joined};
}

}  // namespace

std::vector<Clause> required_literals(const Node& tree) { return alternation_clauses(tree); }

}  // namespace quorvane::rx::syntax

namespace quorvane::rx {

std::string translate(std::string_view pattern, unsigned flags, int width) {
    return syntax::emit(syntax::parse(pattern).tree, flags, width);
}

std::vector<std::string> presence_alternatives(std::string_view pattern) {
    std::vector<std::string> out;
    for (syntax::Parsed& p : syntax::presence_alternatives(syntax::parse(pattern))) out.push_back(std::move(p.source));
    return out;
}

}  // namespace quorvane::rx
