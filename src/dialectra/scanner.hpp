// A scanner over a table of marker patterns: for each row, the line of its
// first counted match in a SQL script.
//
// Rows are patterns in the host's syntax, matched case-insensitively (Unicode
// simple case folding) and in multi-line mode, each with a scope:
//   - a comment-scope row searches the whole text;
//   - every other row searches the comment-free text (code_view.hpp) and
//     ignores a match that begins inside a single-quoted literal, searching
//     on from the literal's end.
// A row's line is that of the start of its first counted match, in the
// original text, counted from 1: LF, VT, FF, CR, CR LF (one break), U+001C..
// U+001E, NEL, U+2028 and U+2029 end a line.  0: the row has no counted match.
//
// Each pattern is compiled once, at construction, as branches: the options
// of its top-level alternation, each with the options of its first group
// (required or optional) distributed over the rest of the sequence, unless
// the sequence holds a bounded gap (at most 32 branches per row).  A row's
// first match starts at the earliest first match of its branches, and each
// later branch only looks for starts before the best so far.  A scan
//   1. finds, in one pass per view, which of the branches' required literals
//      occur (literal_filter.hpp) and skips every branch that lacks one; the
//      same pass records where each branch's anchors occur (anchor.hpp);
//   2. searches each remaining branch with PCRE2: only in the windows around
//      the occurrences of its least frequent anchor when that one is rare
//      enough, else the whole text;
//   3. reads a bounded gap `A[\s\S]{m,n}B` (greedy or lazy, not first or last
//      in its sequence) as A followed by a check that some match of B starts
//      between m and n characters further on: the starts of B are found as
//      the checks need them, each stretch of text once, so no text after an
//      A is searched again.  The match starts are those of the pattern
//      itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "dialectra/literal_filter.hpp"
#include "shared/regex.hpp"
#include "shared/text.hpp"

namespace quorvane::dialectra {

struct ScanRow {
    std::string_view pattern;
    bool comment_scope;
};

// One counted match of a row: its line (1-based) and its span in the
// original text (for a code row, from its start to the end of its last
// character, comments inside included).
struct ScanMatch {
    std::size_t row;
    std::size_t line;
    std::size_t begin;
    std::size_t end;
};

class MarkerScanner {
   public:
    // Compiles every row; a pattern outside the supported syntax, or that
    // the engine rejects, throws rx::PatternError naming the row.
    explicit MarkerScanner(std::span<const ScanRow> rows);
    ~MarkerScanner();
    MarkerScanner(const MarkerScanner&) = delete;
    MarkerScanner& operator=(const MarkerScanner&) = delete;

    std::size_t size() const noexcept { return probes_.size(); }

    // The line of each row's first counted match (0: none), in row order.
    template <text::CodeUnit C>
    std::vector<std::size_t> first_lines(text::Text<C> sql) const;

    // Every counted match of every row, ordered by start, then row.  A row's
    // matches do not overlap: each search resumes at the end of the last
    // match (one character on after an empty one), and of matches of its
    // branches that overlap, the earliest (then the longest) is kept.
    template <text::CodeUnit C>
    std::vector<ScanMatch> all_matches(text::Text<C> sql) const;

    // Test hooks: the literal clauses of a row's whole pattern, the number
    // of bounded gaps read as start checks, and the number of branches.
    const std::vector<rx::syntax::Clause>& required_literals(std::size_t row) const;
    std::size_t gap_count(std::size_t row) const;
    std::size_t branch_count(std::size_t row) const;

    struct Probe;

   private:
    std::vector<std::unique_ptr<Probe>> probes_;
    std::unique_ptr<LiteralFilter> code_literals_;     // literals of the code rows
    std::unique_ptr<LiteralFilter> comment_literals_;  // literals of the comment-scope rows
};

}  // namespace quorvane::dialectra
