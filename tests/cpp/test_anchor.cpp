// Anchors (where a pattern's matches can start, from one literal run) and the
// literal filter's record of where its literals occur.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "dialectra/anchor.hpp"
#include "dialectra/literal_filter.hpp"
#include "shared/regex_syntax.hpp"

namespace dl = quorvane::dialectra;
namespace sx = quorvane::rx::syntax;
namespace text = quorvane::text;

namespace {

std::vector<dl::Anchor> anchors_of(const char* pattern) {
    return dl::find_anchors(sx::parse(pattern).tree.kids[0], true);
}

text::Text<std::uint8_t> t8(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::vector<std::size_t> naive_starts(const std::string& hay, const std::string& needle) {
    std::vector<std::size_t> out;
    for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) out.push_back(at);
    return out;
}

}  // namespace

TEST(anchors_are_the_literal_runs_with_the_width_before_them) {
    const auto a = anchors_of(R"(\bCREATE\s+OR\s+REPLACE\b)");
    CHECK_EQ(a.size(), 2u);  // "or" is a two-letter word: no anchor
    CHECK_EQ(a[0].literal, std::string("create"));
    CHECK_EQ(a[0].min_before, 0u);
    CHECK_EQ(a[0].max_before, 0u);
    CHECK_EQ(a[1].literal, std::string("replace"));
    CHECK_EQ(a[1].min_before, 10u);  // CREATE, one space, OR, one space
    CHECK_EQ(a[1].max_before, dl::Anchor::kUnbounded);

    const auto b = anchors_of(R"((?:^|;)\s{0,3}#[A-Z]{2,4}::x)");
    CHECK_EQ(b.size(), 2u);
    CHECK_EQ(b[0].literal, std::string("#"));
    CHECK_EQ(b[0].min_before, 0u);
    CHECK_EQ(b[0].max_before, 4u);
    CHECK_EQ(b[1].literal, std::string("::x"));
    CHECK_EQ(b[1].min_before, 3u);
    CHECK_EQ(b[1].max_before, 9u);

    CHECK(anchors_of(R"(\w+\s*,\s*IN\b)").empty());   // one common character, one two-letter word
    CHECK(anchors_of(R"((?:INSERT)\s+x{3})").empty());  // inside a group: not at the top level
}

TEST(the_characters_before_an_anchor_are_over_approximated) {
    const auto a = anchors_of(R"([(,]\s*\w+\s+SUPER)");
    CHECK_EQ(a.size(), 1u);
    const dl::CharSuperset& before = a[0].before;
    for (const char c : std::string("(, \t\n_aZ9")) CHECK(before.holds(static_cast<std::uint8_t>(c)));
    for (const char c : std::string(";.)#'")) CHECK(!before.holds(static_cast<std::uint8_t>(c)));
    CHECK(before.holds(std::uint32_t{0x2028}));  // whitespace beyond ASCII
    CHECK(before.holds(std::uint32_t{0x00E9}));  // a letter of any script

    const auto k = anchors_of(R"(;k\s*TABLE)");
    CHECK(k[0].literal == ";k");
    CHECK_EQ(k[1].literal, std::string("table"));
    CHECK(k[1].before.holds(std::uint32_t{0x212A}));   // KELVIN SIGN folds to k
    CHECK(k[1].before.holds(std::uint8_t{'K'}));
    CHECK(!k[1].before.holds(std::uint32_t{0x017F}));  // no s before TABLE
    CHECK(!k[1].before.holds(std::uint32_t{0x00E9}));

    const auto any = anchors_of(R"([^x]\bFROM)");
    CHECK(any[0].before.holds(std::uint8_t{'x'}));  // negated sets are taken whole
}

TEST(earliest_start_walks_back_over_what_may_come_before) {
    const auto a = anchors_of(R"((?:^|;)\s*REPLACE)");
    const std::string s = "a; \t REPLACE";
    const std::size_t at = s.find("REPLACE");
    CHECK_EQ(a[0].earliest_start(t8(s), at, 0), 1u);   // back to the ';'
    CHECK_EQ(a[0].earliest_start(t8(s), at, 3), 3u);   // never before the floor
    const auto bounded = anchors_of(R"(x{0,2}REPLACE)");
    CHECK_EQ(bounded[0].earliest_start(t8("xxxxxREPLACE"), 5, 0), 3u);
}

TEST(filter_records_every_occurrence_once_in_order) {
    const std::vector<std::string> literals = {"from", "om", "#", "zz", "select"};
    const dl::LiteralFilter filter(literals, {1, 1, 1, 0, 1});
    std::mt19937 rng(7);
    const std::vector<std::string> pieces = {"from", "FROM", "om", "#", " ", "x", "sel", "ect", "SELECT", "\n", "zz"};
    for (int round = 0; round < 200; ++round) {
        std::string hay;
        const std::size_t n = rng() % 400;
        for (std::size_t i = 0; i < n; ++i) hay += pieces[rng() % pieces.size()];
        std::string folded = hay;
        for (char& c : folded) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        std::vector<char> found(literals.size(), 0);
        dl::Occurrences occ;
        filter.find(t8(hay), found, &occ);
        for (std::uint32_t id = 0; id < literals.size(); ++id) {
            const std::vector<std::size_t> want = naive_starts(folded, literals[id]);
            CHECK_EQ(found[id] != 0, !want.empty());
            CHECK(!occ.dropped(id));
            const auto got = occ.starts(id);
            if (id == 3) {
                CHECK(got.empty());  // not recorded
            } else {
                CHECK((std::vector<std::size_t>(got.begin(), got.end()) == want));
            }
        }
    }
}

TEST(filter_drops_the_most_frequent_literals_past_its_budget) {
    // Budget: n / 64 + 4096 starts.  "a" occurs at every other character and
    // must go; "b" (every 200th) stays whole.
    const dl::LiteralFilter filter({"a", "b"}, {1, 1});
    std::string hay;
    for (std::size_t i = 0; i < 200000; ++i) hay += (i % 200 == 199) ? "b" : (i % 2 ? "a" : "-");
    std::vector<char> found(2, 0);
    dl::Occurrences occ;
    filter.find(t8(hay), found, &occ);
    CHECK(found[0] && found[1]);
    CHECK(occ.dropped(0));
    CHECK(occ.starts(0).empty());
    CHECK(!occ.dropped(1));
    CHECK((std::vector<std::size_t>(occ.starts(1).begin(), occ.starts(1).end()) == naive_starts(hay, "b")));
}

TEST(filter_drops_a_literal_past_the_callers_limit) {
    const dl::LiteralFilter filter({"ab", "cd"}, {1, 1});
    const std::string hay = "ab ab ab cd ab";
    std::vector<char> found(2, 0);
    dl::Occurrences occ;
    filter.find(t8(hay), found, &occ, 3);
    CHECK(found[0] && found[1]);
    CHECK(occ.dropped(0));
    CHECK(!occ.dropped(1));
    CHECK_EQ(occ.starts(1).size(), 1u);
    CHECK_EQ(occ.starts(1)[0], 9u);
}

TEST(widths_too_large_to_count_are_no_limit) {
    // 65535^5 characters at most before ZZZ: more than a size_t holds.
    const auto a = anchors_of(R"((?:(?:(?:(?:x{0,65535}){65535}){65535}){65535}){65535}ZZZ)");
    CHECK_EQ(a.size(), 1u);
    CHECK_EQ(a[0].max_before, dl::Anchor::kUnbounded);
    CHECK_EQ(a[0].min_before, 0u);
}
