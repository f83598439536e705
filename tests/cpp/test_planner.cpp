// The reading planner on texts built in memory.

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

std::vector<std::pair<std::size_t, std::size_t>> ranges(const cx::ReadingPlan& p) {
    std::vector<std::pair<std::size_t, std::size_t>> r;
    for (const auto& s : p.sections) r.emplace_back(s.start, s.end);
    return r;
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
