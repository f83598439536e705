// The host's pattern syntax: parsed once into a tree, then emitted as PCRE2
// syntax for each code-unit width, and read for what the engine wrapper and
// the scanners need to know about a pattern.  No PCRE2 here.
//
// Only the subset the fixed tables and the marker catalogue use is accepted;
// anything else is a PatternError at load, never a silent mistranslation.
//
// The emitted syntax spells out every class the host defines differently:
//   \w  letters and numbers of any script and "_" ([\p{L}\p{N}_]; not marks,
//       not other connector punctuation, whatever the PCRE2 version);
//   \s  exactly the whitespace set of text.hpp (PCRE2's own lacks U+001C..F);
//   \b  a boundary between that \w and anything else;
//   .   any character but LF; `^`/`$` see only LF as a line end.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::rx {

// The host's flag values, so a table can state its flags once for both the
// engine and the host's own pattern objects.
enum Flags : unsigned {
    kNoFlags = 0,
    kIgnoreCase = 2,  // re.IGNORECASE
    kMultiLine = 8,   // re.MULTILINE
    kDotAll = 16,     // re.DOTALL
};

// A pattern the translator does not accept, or that PCRE2 rejects.
class PatternError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
};

namespace syntax {

enum class NodeType { Alt, Seq, Literal, Set, AnyChar, Group, Assert, Callout };
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
    int callout = 0;                 // Callout: its number (1..255)
    std::vector<Node> kids;          // Alt: Seq nodes; Seq: items; Group: one Alt
    std::size_t begin = 0;           // source span: Seq, and an item with its quantifier
    std::size_t end = 0;

    explicit Node(NodeType t) : type(t) {}
};

// A pattern's source (for messages) and its tree (an Alt node).
struct Parsed {
    std::string source;
    Node tree{NodeType::Alt};
};

// Groups nest at most this deep in a pattern (PCRE2 itself takes 250);
// deeper is a PatternError.  Every recursive walk over a tree recurses once
// per level of groups, so this also bounds their stack.
inline constexpr std::size_t kMaxGroupDepth = 200;

Parsed parse(std::string_view pattern);

// PCRE2 syntax for the tree, for texts of the given code-unit width (8, 16
// or 32 bits).  A Callout node becomes (?C<n>).
std::string emit(const Node& tree, unsigned flags, int width);

// Whether every match depends on a non-ASCII character only through its
// class (see text::narrow): false when the pattern uses \d or \D, or matches
// s, S, k or K case-sensitively.
bool narrowable(const Node& tree, bool ignore_case);

bool has_callouts(const Node& tree);

// Patterns that together match wherever `pattern` does: the pattern itself,
// or, when its top-level sequence holds an alternation group, the rest of
// the sequence distributed over each option (recursively).  A text holds a
// match of the pattern exactly when it holds a match of one of them, and
// each of them keeps a literal start that the engine can search for quickly.
std::vector<Parsed> presence_alternatives(const Parsed& pattern);

// Whether one repetition of `n` matches any single character whatever the
// flags: a set holding a class and its complement ([\s\S], [\w\W], [\d\D]).
bool matches_any_character(const Node& n);

// Lower-case ASCII strings that every match of the tree contains, as a
// conjunction of alternatives: each match contains, for every clause, at
// least one of its strings, compared under case folding (the long s and the
// Kelvin sign count as s and k).  Derived conservatively: literal runs
// outside optional parts and look-arounds, repeats of at least one, and
// alternations whose every option yields a string.  Empty: nothing is known.
using Clause = std::vector<std::string>;
std::vector<Clause> required_literals(const Node& tree);

}  // namespace syntax

// PCRE2 syntax for `pattern` (parse, then emit).  Exposed for tests.
std::string translate(std::string_view pattern, unsigned flags, int width);

// The sources of syntax::presence_alternatives(parse(pattern)).
std::vector<std::string> presence_alternatives(std::string_view pattern);

}  // namespace quorvane::rx
