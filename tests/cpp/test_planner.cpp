// The reading planner on texts built in memory.

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "check.hpp"
#include "complexity/planner.hpp"

using quorvane::text::Text;
namespace cx = quorvane::complexity;

namespace {

// n lines "x", with the given lines (1-based) replaced.
std::u32string file(std::size_t n, std::vector<std::pair<std::size_t, std::u32string>> lines) {
    std::u32string s;
    for (std::size_t i = 1; i <= n; ++i) {
        std::u32string line = U"SELECT 1";
        for (const auto& [k, v] : lines) {
            if (k == i) line = v;
        }
        s += line + U"\n";
    }
    return s;
}

cx::ReadingPlan plan(const std::u32string& s) {
    static const cx::Planner planner;
    std::vector<std::uint32_t> v(s.begin(), s.end());
    return planner.plan(Text<std::uint32_t>(v.data(), v.size()));
}

using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;

Ranges ranges(const cx::ReadingPlan& p) {
    Ranges r;
    for (const auto& s : p.sections) r.emplace_back(s.start, s.end);
    return r;
}

std::vector<std::pair<std::size_t, std::u32string>> gos(std::initializer_list<std::size_t> lines) {
    std::vector<std::pair<std::size_t, std::u32string>> r;
    for (std::size_t k : lines) r.emplace_back(k, U"GO");
    return r;
}

// The lines 1..first_read_lines and the sections hold every line; a split
// plan has one to `target` entries, each start < end, in file order, none
// starting before line 150.
bool holds_every_line(const cx::ReadingPlan& p) {
    if (!p.should_chunk) return p.sections.empty() && p.first_read_lines == p.total_lines;
    const std::size_t target = std::clamp<std::size_t>(p.total_lines / 300, 2, 5);
    if (p.first_read_lines != 150 || p.sections.empty() || p.sections.size() > target) return false;
    std::size_t held = p.first_read_lines;
    std::size_t previous_end = 0;
    for (const auto& s : p.sections) {
        if (s.start < 150 || s.start >= s.end || s.start < previous_end || s.start > held + 1) return false;
        held = std::max(held, s.end);
        previous_end = s.end;
    }
    return held == p.total_lines;
}

}  // namespace

TEST(small_files_are_read_whole) {
    const auto p = plan(file(500, {}));
    CHECK(!p.should_chunk);
    CHECK_EQ(p.total_lines, 500u);
    CHECK_EQ(p.first_read_lines, 500u);
    CHECK(p.sections.empty());
    CHECK_EQ(plan(U"").total_lines, 0u);
}

TEST(a_byte_order_mark_never_hides_line_one) {
    const std::u32string body = file(1500, {{1, U"CREATE PROCEDURE dbo.p"}, {701, U"GO"}});
    const std::vector<std::pair<std::size_t, std::size_t>> expected = {{151, 701}, {701, 1500}};
    CHECK(ranges(plan(body)) == expected);
    CHECK(ranges(plan(U"\ufeff" + body)) == expected);
}

TEST(merged_sections_keep_their_first_hint) {
    // GO at 200, 500 and 700 of 900 lines: (151, 200) and (200, 500) merge.
    const auto p = plan(file(900, {{151, U"-- c"}, {200, U"GO"}, {500, U"GO"}, {700, U"GO"}}));
    CHECK_EQ(p.sections.size(), 3u);
    CHECK_EQ(p.sections[0].start, 151u);
    CHECK_EQ(p.sections[0].end, 500u);
    CHECK_EQ(p.sections[0].block_lines, 50u);  // "SQL block (50 lines)", as first formed
    CHECK_EQ(cx::block_hint_text(50), std::string("SQL block (50 lines)"));
}

TEST(short_spans_keep_their_lines) {
    // GO at 160 and 171: the lines before 171 open the first section.
    CHECK(ranges(plan(file(600, gos({160, 171})))) == (Ranges{{151, 171}, {171, 600}}));
    CHECK(ranges(plan(file(600, gos({160, 170})))) == (Ranges{{151, 600}}));
    // A short final pair extends the last section to the last line.
    CHECK(ranges(plan(file(600, gos({100, 590})))) == (Ranges{{151, 600}}));
    CHECK(ranges(plan(file(600, gos({300, 581})))) == (Ranges{{151, 300}, {300, 600}}));
    // Dropped only when the neighbours hold every line: (300, 301) here,
    // while (301, 310) is carried into the next section.
    CHECK(ranges(plan(file(1500, gos({300, 301, 310, 800})))) == (Ranges{{151, 300}, {301, 800}, {800, 1500}}));
    // Unchanged: boundaries 1, 420, 421, 900, the pair (420, 421) dropped.
    const auto p = plan(file(900, {{151, U"-- c"}, {420, U"GO"}, {421, U"CREATE PROCEDURE p"}}));
    CHECK(ranges(p) == (Ranges{{151, 420}, {421, 900}}));
    CHECK_EQ(p.sections[0].block_lines, 270u);
}

TEST(an_extended_section_gets_the_hint_of_its_new_span) {
    const auto p = plan(file(600, {{100, U"GO"}, {151, U""}, {590, U"GO"}}));
    CHECK(ranges(p) == (Ranges{{151, 600}}));
    CHECK_EQ(p.sections[0].block_lines, 450u);
}

TEST(every_plan_with_two_or_three_boundaries_reads_every_line) {
    // Boundary lines around the first read, near each other and near the
    // end, in files just past the threshold and at a target of 3.
    for (const std::size_t total : {501u, 600u, 900u}) {
        std::vector<std::size_t> at = {1, 2};
        for (std::size_t k = 140; k <= 200; ++k) at.push_back(k);
        for (std::size_t k = 207; k < total - 30; k += 37) at.push_back(k);
        for (std::size_t k = total - 30; k <= total; ++k) at.push_back(k);
        for (std::size_t i = 0; i < at.size(); ++i) {
            for (std::size_t j = i + 1; j < at.size(); ++j) {
                const auto two = plan(file(total, gos({at[i], at[j]})));
                if (!holds_every_line(two)) {
                    CHECK(!"plan leaves a line unread");
                    std::fprintf(stderr, "  %zu lines, GO at %zu %zu\n", total, at[i], at[j]);
                    return;
                }
                const std::size_t third = at[(i + j) % at.size()];
                if (third == at[i] || third == at[j]) continue;
                const auto three = plan(file(total, gos({at[i], at[j], third})));
                if (!holds_every_line(three)) {
                    CHECK(!"plan leaves a line unread");
                    std::fprintf(stderr, "  %zu lines, GO at %zu %zu %zu\n", total, at[i], at[j], third);
                    return;
                }
            }
        }
    }
}
