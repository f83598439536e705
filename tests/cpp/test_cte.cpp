// The linear matcher of common-table-expression heads agrees with PCRE2
// running the pattern itself, match for match.

#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "shared/cte.hpp"
#include "shared/regex.hpp"

using quorvane::text::Text;

TEST(cte_matcher_agrees_with_backtracking) {
    const quorvane::text::CteHeadMatcher fast;
    const quorvane::rx::Regex slow(quorvane::text::kCteHeadPattern, quorvane::rx::kIgnoreCase);
    const std::vector<std::u32string> pieces = {U"WITH", U"with", U"WiTh ", U" ", U"\n", U"\u3000", U"(", U")",
                                                U"AS", U"as", U"a\u017f", U"x", U"xAS", U"_", U"\u00e9",
                                                U"\u0301", U"1", U",", U"#", U"WITHAS",
                                                U"WITH x ", U"AS (", U"(a) ", U"x (", U" AS(", U"with y\n"};
    std::mt19937 rng(7);
    std::size_t matches = 0;
    for (int round = 0; round < 30000; ++round) {
        std::u32string s;
        const int n = static_cast<int>(rng() % 14);
        for (int i = 0; i < n; ++i) s += pieces[rng() % pieces.size()];
        std::vector<std::uint32_t> v(s.begin(), s.end());
        const Text<std::uint32_t> t(v.data(), v.size());
        for (std::size_t from = 0; from <= std::min<std::size_t>(v.size(), 3); ++from) {
            const auto a = fast.search(t, from);
            const auto b = slow.search(t, from);
            CHECK_EQ(a.has_value(), b.has_value());
            if (a && b) {
                CHECK_EQ(a->start, b->start);
                CHECK_EQ(a->end, b->end);
                ++matches;
            }
        }
        CHECK_EQ(fast.count(t), slow.count(t));
    }
    CHECK(matches > 1000);  // the generator does reach real heads
}

TEST(cte_examples) {
    const quorvane::text::CteHeadMatcher m;
    auto count = [&](std::u32string_view s) {
        std::vector<std::uint32_t> v(s.begin(), s.end());
        return m.count(Text<std::uint32_t>(v.data(), v.size()));
    };
    CHECK_EQ(count(U"WITH a AS (SELECT 1), b AS (SELECT 2) SELECT 1"), 1u);
    CHECK_EQ(count(U"WITH t (x, y) AS (SELECT 1, 2)"), 1u);
    CHECK_EQ(count(U"SELECT * FROM t WITH (NOLOCK)"), 0u);
    CHECK_EQ(count(U"with cte as\n(select 1)"), 1u);
    CHECK_EQ(count(U"WITH xAS (1)"), 1u);  // \w+ gives back "AS"
    CHECK_EQ(count(U"WITH x (a) b AS (1)"), 0u);
}
