#include "complexity/planner.hpp"

#include <algorithm>
#include <limits>

#include "complexity/tables.hpp"

namespace quorvane::complexity {
namespace {

template <text::CodeUnit C>
bool is_comment_start(text::Text<C> t, std::size_t begin, std::size_t end) {
    return end - begin >= 2 && t[begin] == '-' && t[begin + 1] == '-';
}

}  // namespace

std::string block_hint_text(std::size_t lines) {
    return "SQL block (" + std::to_string(lines) + " lines)";
}

Planner::Planner()
    : batch_separator_(kBatchSeparatorPattern), routine_header_(kRoutineHeaderPattern) {}

template <text::CodeUnit C>
ReadingPlan Planner::plan(text::Text<C> content) const {
    LineScan scan = scan_lines(content);
    ReadingPlan plan{false, scan.total_lines, scan.total_lines, {}};
    if (scan.total_lines <= kChunkThreshold) return plan;

    const std::size_t target = target_sections(scan.total_lines);
    thin_out(scan.boundaries, target);
    if (scan.boundaries.size() < 2) space_evenly(content, scan.total_lines, target, scan.boundaries);
    const std::vector<LineRef> all = all_boundaries(scan.boundaries, scan.total_lines);
    const std::size_t first_read = std::min(kFirstReadLines, scan.total_lines);

    plan.sections = form_sections(content, all, first_read, scan.after_first_read);
    merge_smallest(plan.sections, target);
    plan.should_chunk = true;
    plan.first_read_lines = first_read;
    return plan;
}

template <text::CodeUnit C>
bool Planner::is_boundary(text::Text<C> content, std::size_t begin, std::size_t end) const {
    if (begin == end) return false;
    // Both patterns start with a letter that folds only onto its ASCII pair
    // (G or C), so other lines need no match at all.
    const std::uint32_t first = content[begin] | 0x20;
    if (first != 'g' && first != 'c') return false;
    const text::Text<C> line = content.subspan(begin, end - begin);
    const text::Pattern& p = first == 'g' ? batch_separator_ : routine_header_;
    return p.matches_at_start(line);
}

// One pass over the lines: count them, keep the boundary lines and line
// kFirstReadLines + 1, whose text may become the first section's hint.
template <text::CodeUnit C>
Planner::LineScan Planner::scan_lines(text::Text<C> content) const {
    LineScan scan{0, {}, {0, 0, 0}};
    std::size_t number = 0;
    scan.total_lines = text::for_each_line(content, [&](std::size_t b, std::size_t e) {
        ++number;
        const auto [tb, te] = text::trim(content, b, e);
        if (number == kFirstReadLines + 1) scan.after_first_read = {number, tb, te};
        bool boundary;
        if (number == 1 && b < e && content[b] == 0xFEFF) {
            const auto [bb, be] = text::trim(content, b + 1, e);
            boundary = is_boundary(content, bb, be);
        } else {
            boundary = is_boundary(content, tb, te);
        }
        if (boundary) scan.boundaries.push_back({number, tb, te});
    });
    return scan;
}

std::size_t Planner::target_sections(std::size_t total_lines) {
    return std::clamp(total_lines / kLinesPerSection, kMinSections, kMaxSections);
}

// Keeps `target` boundaries, evenly by position in the list.
void Planner::thin_out(std::vector<LineRef>& boundaries, std::size_t target) {
    if (boundaries.size() <= target) return;
    const std::size_t step = std::max<std::size_t>(1, boundaries.size() / target);
    std::vector<LineRef> kept;
    kept.reserve(target);
    for (std::size_t k = 0; k < target; ++k) kept.push_back(boundaries[k * step]);
    boundaries = std::move(kept);
}

// Fewer than two boundaries: even spacing instead.  The offsets of those
// lines are looked up in a second pass that stops at the last of them.
template <text::CodeUnit C>
void Planner::space_evenly(text::Text<C> content, std::size_t total_lines, std::size_t target,
                           std::vector<LineRef>& boundaries) {
    const std::size_t chunk = total_lines / target;
    boundaries.clear();
    for (std::size_t k = 1; k < target; ++k) boundaries.push_back({k * chunk, 0, 0});
    std::size_t want = 0;
    std::size_t line = 0;
    text::for_each_line(content, [&](std::size_t b, std::size_t e) {
        ++line;
        if (want < boundaries.size() && boundaries[want].number == line) {
            const auto [tb, te] = text::trim(content, b, e);
            boundaries[want].begin = tb;
            boundaries[want].end = te;
            ++want;
        }
    });
}

// Line 1, the kept boundaries and the last line, distinct and ascending (the
// kept ones are ascending already).
std::vector<Planner::LineRef> Planner::all_boundaries(const std::vector<LineRef>& boundaries,
                                                      std::size_t total_lines) {
    std::vector<LineRef> all;
    all.reserve(boundaries.size() + 2);
    all.push_back({1, 0, 0});
    for (const LineRef& r : boundaries) {
        if (r.number != all.back().number) all.push_back(r);
    }
    if (total_lines != all.back().number) all.push_back({total_lines, 0, 0});
    return all;
}

// The section (start, end) named by the trimmed text of `hint_line`, cut to
// kHintLength code points, or by its span when that line is blank or a
// line comment.
template <text::CodeUnit C>
PlannedSection Planner::section(text::Text<C> content, std::size_t start, std::size_t end, LineRef hint_line) {
    const std::size_t hint_end = hint_line.begin + std::min(kHintLength, hint_line.end - hint_line.begin);
    if (hint_end == hint_line.begin || is_comment_start(content, hint_line.begin, hint_end)) {
        return {start, end, 0, 0, end - start + 1};
    }
    return {start, end, hint_line.begin, hint_end, 0};
}

// A section per adjacent pair of boundaries past the first read.  A pair
// spanning fewer than kMinSpan + 1 lines forms no section of its own: it is
// dropped when its neighbours hold all its lines, else its lines open the
// next section, or, after the last section, extend that one to the end.
template <text::CodeUnit C>
std::vector<PlannedSection> Planner::form_sections(text::Text<C> content, const std::vector<LineRef>& all,
                                                   std::size_t first_read, LineRef after_first_read) {
    std::vector<PlannedSection> sections;
    LineRef last_hint{0, 0, 0};
    std::size_t covered = first_read;  // the last line already held
    bool carrying = false;             // lines past `covered` wait for a section
    std::size_t carried_start = 0;
    LineRef carried_hint{0, 0, 0};
    for (std::size_t k = 0; k + 1 < all.size(); ++k) {
        std::size_t start = all[k].number;
        const std::size_t end = all[k + 1].number;
        if (end <= first_read) continue;
        LineRef hint_line = all[k];
        if (start < first_read) {
            start = first_read + 1;
            hint_line = after_first_read;
        }
        if (carrying) {
            start = carried_start;
            hint_line = carried_hint;
        }
        if (end - start < kMinSpan) {
            const bool final_pair = k + 2 == all.size();
            if (final_pair && !sections.empty()) {
                sections.back() = section(content, sections.back().start, end, last_hint);
            } else if (final_pair) {
                // Not reached: the walk starts at line 151 at the latest and
                // ends past line 500, so some pair is long enough.  Kept so
                // that no input can ever lose its last lines.
                sections.push_back(section(content, start, end, hint_line));
            } else if (end - 1 > covered) {
                carrying = true;
                carried_start = start;
                carried_hint = hint_line;
            }
            continue;
        }
        sections.push_back(section(content, start, end, hint_line));
        last_hint = hint_line;
        covered = end;
        carrying = false;
    }
    return sections;
}

// Merges the adjacent pair spanning the fewest lines (the earliest on a tie)
// until no more than `target` sections remain.
void Planner::merge_smallest(std::vector<PlannedSection>& sections, std::size_t target) {
    while (sections.size() > target) {
        std::size_t min_idx = 0;
        std::size_t min_size = std::numeric_limits<std::size_t>::max();
        bool found = false;
        for (std::size_t k = 0; k + 1 < sections.size(); ++k) {
            const std::size_t combined = sections[k + 1].end - sections[k].start;
            if (!found || combined < min_size) {
                min_size = combined;
                min_idx = k;
                found = true;
            }
        }
        sections[min_idx].end = sections[min_idx + 1].end;
        sections.erase(sections.begin() + static_cast<std::ptrdiff_t>(min_idx) + 1);
    }
}

template ReadingPlan Planner::plan(text::Text<std::uint8_t>) const;
template ReadingPlan Planner::plan(text::Text<std::uint16_t>) const;
template ReadingPlan Planner::plan(text::Text<std::uint32_t>) const;

}  // namespace quorvane::complexity
