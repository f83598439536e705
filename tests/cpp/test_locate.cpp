// Construct locations: the way back from the comment-free text to the
// original, line numbering, and the classifier's and the category
// detector's first occurrences.

#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "complexity/classifier.hpp"
#include "loresift/loresift.hpp"
#include "reference_rules.hpp"
#include "shared/locate.hpp"
#include "shared/narrow.hpp"

using quorvane::text::Text;
namespace text = quorvane::text;
namespace cx = quorvane::complexity;
namespace ls = quorvane::loresift;

namespace {

template <class C>
std::vector<C> units(std::u32string_view s) {
    return std::vector<C>(s.begin(), s.end());
}

std::string describe(const std::vector<text::Location>& found) {
    std::string out;
    for (const auto& l : found) {
        out += std::to_string(l.line) + " " + std::string(l.kind) + " " + std::string(l.name) + "; ";
    }
    return out;
}

template <class C>
std::string constructs(std::u32string_view s) {
    static const cx::Classifier classifier;
    const auto v = units<C>(s);
    return describe(classifier.locate(Text<C>(v.data(), v.size())));
}

template <class C>
std::string categories(std::u32string_view s) {
    static const ls::CategoryDetector detector;
    const auto v = units<C>(s);
    return describe(detector.locate(Text<C>(v.data(), v.size())));
}

}  // namespace

TEST(comment_free_offsets_lead_back_to_the_original) {
    // Random texts of comment openers, closers, line breaks and letters:
    // every kept character maps to the offset the two substitutions keep.
    std::mt19937 rng(7);
    const std::u32string alphabet = U"-/*\n\rab \u2028\u00e9";
    for (int round = 0; round < 3000; ++round) {
        std::u32string s;
        const int n = static_cast<int>(rng() % 40);
        for (int k = 0; k < n; ++k) s += alphabet[rng() % alphabet.size()];
        const auto wide = units<std::uint32_t>(s);
        const Text<std::uint32_t> t(wide.data(), wide.size());
        const std::vector<std::size_t> kept = quorvane::reference::kept_offsets(t);
        std::vector<std::uint8_t> buffer;
        const text::CommentFreeText stripped(t, buffer);
        CHECK_EQ(stripped.text().size(), kept.size());
        for (std::size_t k = 0; k < kept.size() && k < stripped.text().size(); ++k) {
            CHECK_EQ(stripped.original(k), kept[k]);
            CHECK_EQ(stripped.text()[k], text::narrow(wide[kept[k]]));
        }
    }
}

TEST(a_one_byte_text_without_comments_is_not_copied) {
    const auto v = units<std::uint8_t>(U"SELECT 1 - 2 / 3");
    std::vector<std::uint8_t> buffer;
    const text::CommentFreeText stripped(Text<std::uint8_t>(v.data(), v.size()), buffer);
    CHECK(stripped.text().data() == v.data());
    CHECK(buffer.empty());
}

TEST(lines_are_numbered_like_the_reading_plan) {
    const auto t = units<std::uint32_t>(U"a\r\nb\rc\n\nd\u2028e\x0b\x1c" U"f\r\n\r\ng\u0085h");
    std::vector<std::size_t> at(t.size());
    for (std::size_t k = 0; k < t.size(); ++k) at[t.size() - 1 - k] = k;  // unordered on purpose
    std::vector<std::size_t> lines;
    text::number_lines(Text<std::uint32_t>(t.data(), t.size()), at, lines);
    for (std::size_t k = 0; k < at.size(); ++k) CHECK_EQ(lines[k], quorvane::reference::line_at(Text<std::uint32_t>(t.data(), t.size()), at[k]));
    // 'f' follows VT and U+001C: lines 6 and 7 end there.
    CHECK_EQ(lines[t.size() - 1 - 13], 8u);
    CHECK_EQ(lines[t.size() - 1 - 2], 1u);  // the LF of the first CR LF
    CHECK_EQ(lines[t.size() - 1 - 3], 2u);
}

TEST(constructs_are_located_by_first_occurrence) {
    const std::u32string sql =
        U"/* MERGE in a comment\r\n   spanning lines */ SELECT 1\r\n"  // lines 1-2
        U"-- CURSOR\r\n"                                                // 3
        U"MERGE t USING s ON 1 = 1; WHILE 1 = 1 BREAK\r\n"              // 4
        U"DECLARE c CURSOR FOR SELECT #tmp\r"                           // 5
        U"merge again\u2028CREATE PROC p AS SELECT 1\n"                 // 6, 7
        U"CREATE PROCEDURE q AS SELECT 2";                              // 8
    const std::string expected =
        "4 complex merge; 4 moderate while; 5 complex cursor; 5 complex declare_cursor; "
        "5 moderate temp_table; 7 stored_proc create_procedure; ";
    CHECK_EQ(constructs<std::uint32_t>(sql), expected);
    CHECK_EQ(constructs<std::uint16_t>(sql), expected);
    // Line comments go first: "-- */ WITH ..." is one, so the last "/*"
    // is never closed and hides nothing.
    CHECK_EQ(constructs<std::uint8_t>(U"x\n/*\n*/ #t /* -- */ WITH a AS (SELECT 1)\n--\nMERGE"),
             std::string("3 moderate temp_table; 5 complex merge; "));
    CHECK_EQ(constructs<std::uint8_t>(U"x\n/*\n*/ #t /* */ WITH a AS (SELECT 1)\n--\nMERGE"),
             std::string("3 moderate cte; 3 moderate temp_table; 5 complex merge; "));
    CHECK_EQ(constructs<std::uint8_t>(U""), std::string());
    CHECK_EQ(constructs<std::uint8_t>(U"-- MERGE\n/* CURSOR */"), std::string());
}

TEST(categories_are_located_by_first_occurrence) {
    CHECK_EQ(categories<std::uint16_t>(U"\u00e9\n-- SELECT\nSELECT GETDATE()\u2029FROM a LEFT JOIN b"),
             std::string("3 category date_function; 3 category query; 4 category string_ops; 4 category join; "));
    // An unclosed block comment hides nothing; lone surrogates are characters.
    CHECK_EQ(categories<std::uint16_t>(U"\xd800\n/* x\nCAST(a AS INT)"),
             std::string("3 category type_cast; "));
}
