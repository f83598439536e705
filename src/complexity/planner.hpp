// Decides how the agent reads a long SQL file: whole, or a first read of its
// top followed by at most five sections cut at batch separators (GO) and
// routine headers (CREATE PROCEDURE / PROC / FUNCTION).  The first read and
// the sections together always hold every line of the file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "shared/pattern.hpp"
#include "shared/scan.hpp"
#include "shared/text.hpp"

namespace quorvane::complexity {

inline constexpr std::size_t kChunkThreshold = 500;   // more lines than this are split
inline constexpr std::size_t kFirstReadLines = 150;   // the first read covers lines 1..150
inline constexpr std::size_t kLinesPerSection = 300;  // divisor of the section target
inline constexpr std::size_t kMinSections = 2;
inline constexpr std::size_t kMaxSections = 5;
inline constexpr std::size_t kMinSpan = 20;           // shorter spans never form a section alone
inline constexpr std::size_t kHintLength = 50;        // code points

// One section to read after the first read.  Lines are 1-based and both
// ends inclusive.  The hint is text[hint_begin, hint_end) of the planned
// text or, when `block_lines` is not zero, block_hint_text(block_lines): the
// span of the section as formed (a merge keeps the first hint).
struct PlannedSection {
    std::size_t start;
    std::size_t end;
    std::size_t hint_begin;
    std::size_t hint_end;
    std::size_t block_lines;
};

struct ReadingPlan {
    bool should_chunk;
    std::size_t total_lines;
    std::size_t first_read_lines;
    std::vector<PlannedSection> sections;
};

// "SQL block (N lines)", the hint of a section whose first line is blank or
// a line comment.
std::string block_hint_text(std::size_t lines);

class Planner {
   public:
    Planner();  // compiles the two boundary patterns once

    // `content` is the file's text with CR LF and lone CR already turned into
    // LF.  A U+FEFF at its very start is ignored when line 1 is tested as a
    // boundary, so a byte-order mark never changes the plan.
    template <text::CodeUnit C>
    ReadingPlan plan(text::Text<C> content) const;

   private:
    // A line by number, with the offsets of its trimmed text (empty for the
    // first and last line, which never give a hint).
    struct LineRef {
        std::size_t number;
        std::size_t begin;
        std::size_t end;
    };

    // What one pass over the lines learns: their number, the boundary lines
    // and the line just after the first read (a possible first hint).
    struct LineScan {
        std::size_t total_lines;
        std::vector<LineRef> boundaries;
        LineRef after_first_read;
    };

    template <text::CodeUnit C>
    bool is_boundary(text::Text<C> content, std::size_t begin, std::size_t end) const;

    template <text::CodeUnit C>
    LineScan scan_lines(text::Text<C> content) const;

    static std::size_t target_sections(std::size_t total_lines);

    static void thin_out(std::vector<LineRef>& boundaries, std::size_t target);

    template <text::CodeUnit C>
    static void space_evenly(text::Text<C> content, std::size_t total_lines, std::size_t target,
                             std::vector<LineRef>& boundaries);

    static std::vector<LineRef> all_boundaries(const std::vector<LineRef>& boundaries, std::size_t total_lines);

    template <text::CodeUnit C>
    static PlannedSection section(text::Text<C> content, std::size_t start, std::size_t end, LineRef hint_line);

    template <text::CodeUnit C>
    static std::vector<PlannedSection> form_sections(text::Text<C> content, const std::vector<LineRef>& all,
                                                     std::size_t first_read, LineRef after_first_read);

    static void merge_smallest(std::vector<PlannedSection>& sections, std::size_t target);

    text::Pattern batch_separator_;
    text::Pattern routine_header_;
};

}  // namespace quorvane::complexity
