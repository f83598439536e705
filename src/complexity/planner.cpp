#include "complexity/planner.hpp"

#include <algorithm>
#include <limits>

#include "complexity/tables.hpp"

namespace quorvane::complexity {
namespace {

// A line by number, with the offsets of its trimmed text.
struct LineRef {
    std::size_t number;
    std::size_t begin;
    std::size_t end;
};

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

template <text::CodeUnit C>
ReadingPlan Planner::plan(text::Text<C> content) const {
    // One pass over the lines: count them, keep the boundary lines and line
    // kFirstReadLines + 1, whose text may become the first section's hint.
    std::vector<LineRef> boundaries;
    LineRef after_first_read{0, 0, 0};
    std::size_t number = 0;
    const std::size_t total_lines = text::for_each_line(content, [&](std::size_t b, std::size_t e) {
        ++number;
        const auto [tb, te] = text::trim(content, b, e);
        if (number == kFirstReadLines + 1) after_first_read = {number, tb, te};
        bool boundary;
        if (number == 1 && b < e && content[b] == 0xFEFF) {
            const auto [bb, be] = text::trim(content, b + 1, e);
            boundary = is_boundary(content, bb, be);
        } else {
            boundary = is_boundary(content, tb, te);
        }
        if (boundary) boundaries.push_back({number, tb, te});
    });

    ReadingPlan plan{false, total_lines, total_lines, {}};
    if (total_lines <= kChunkThreshold) return plan;

    const std::size_t target =
        std::clamp(total_lines / kLinesPerSection, kMinSections, kMaxSections);

    // Thin out to `target` boundaries, evenly by position in the list.
    if (boundaries.size() > target) {
        const std::size_t step = std::max<std::size_t>(1, boundaries.size() / target);
        std::vector<LineRef> kept;
        kept.reserve(target);
        for (std::size_t k = 0; k < target; ++k) kept.push_back(boundaries[k * step]);
        boundaries = std::move(kept);
    }
    // Fewer than two: even spacing instead; the offsets of those lines are
    // looked up in a second, partial pass.
    if (boundaries.size() < 2) {
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

    // All boundaries: line 1, the kept ones and the last line, distinct and
    // ascending (the kept ones are ascending already).
    std::vector<LineRef> all;
    all.reserve(boundaries.size() + 2);
    all.push_back({1, 0, 0});
    for (const LineRef& r : boundaries) {
        if (r.number != all.back().number) all.push_back(r);
    }
    if (total_lines != all.back().number) all.push_back({total_lines, 0, 0});

    const std::size_t first_read = std::min(kFirstReadLines, total_lines);
    std::vector<PlannedSection>& sections = plan.sections;
    for (std::size_t k = 0; k + 1 < all.size(); ++k) {
        std::size_t start = all[k].number;
        const std::size_t end = all[k + 1].number;
        if (end <= first_read) continue;
        LineRef hint_line = all[k];
        if (start < first_read) {
            start = first_read + 1;
            hint_line = after_first_read;
        }
        if (end - start < kMinSpan) continue;
        const std::size_t hint_end =
            hint_line.begin + std::min(kHintLength, hint_line.end - hint_line.begin);
        if (hint_end == hint_line.begin || is_comment_start(content, hint_line.begin, hint_end)) {
            sections.push_back({start, end, 0, 0, end - start + 1});
        } else {
            sections.push_back({start, end, hint_line.begin, hint_end, 0});
        }
    }

    // Merge the adjacent pair spanning the fewest lines (the earliest on a
    // tie) until no more than `target` sections remain.
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

    plan.should_chunk = true;
    plan.first_read_lines = first_read;
    return plan;
}

template ReadingPlan Planner::plan(text::Text<std::uint8_t>) const;
template ReadingPlan Planner::plan(text::Text<std::uint16_t>) const;
template ReadingPlan Planner::plan(text::Text<std::uint32_t>) const;

}  // namespace quorvane::complexity
