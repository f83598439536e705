// The marker scanner: the catalogue compiles whole, literals come from the
// parsed patterns, gaps become start checks, and the comment and literal view
// and the line rule hold on their edge cases.
#include <string>
#include <vector>

#include "check.hpp"
#include "dialectra/literal_filter.hpp"
#include "dialectra/markers.hpp"
#include "dialectra/scanner.hpp"
#include "shared/regex_syntax.hpp"

namespace dl = quorvane::dialectra;
namespace rx = quorvane::rx;

namespace {

std::vector<std::size_t> lines(const dl::MarkerScanner& s, const std::u32string& text) {
    const auto* p = reinterpret_cast<const std::uint32_t*>(text.data());
    return s.first_lines(quorvane::text::Text<std::uint32_t>(p, text.size()));
}

std::vector<std::size_t> lines8(const dl::MarkerScanner& s, const std::string& text) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    return s.first_lines(quorvane::text::Text<std::uint8_t>(p, text.size()));
}

const dl::MarkerScanner& catalogue() {
    static const std::vector<dl::ScanRow> rows = [] {
        std::vector<dl::ScanRow> out;
        for (const auto& m : dl::kMarkers) out.push_back({m.pattern, m.scope == "comment"});
        return out;
    }();
    static const dl::MarkerScanner scanner(rows);
    return scanner;
}

std::size_t row_of(std::string_view id) {
    for (std::size_t i = 0; i < dl::kMarkers.size(); ++i) {
        if (dl::kMarkers[i].id == id) return i;
    }
    return static_cast<std::size_t>(-1);
}

}  // namespace

TEST(catalogue_compiles_with_literals_for_almost_every_row) {
    const auto& s = catalogue();
    CHECK_EQ(s.size(), dl::kMarkers.size());
    std::size_t without = 0;
    for (std::size_t i = 0; i < s.size(); ++i) without += s.required_literals(i).empty();
    CHECK(without <= 2);
    using C = std::vector<rx::syntax::Clause>;
    CHECK((s.required_literals(row_of("databricks.optimize_zorder")) == C{{"optimize"}, {"zorder"}, {"by"}}));
    CHECK((s.required_literals(row_of("snowflake.stage_sigil")) == C{{"@%", "@~"}}));
    CHECK_EQ(s.gap_count(row_of("databricks.lakeflow_dlt_ddl")), 2u);
    CHECK_EQ(s.gap_count(row_of("databricks.create_table_using_format")), 1u);
    CHECK_EQ(s.gap_count(row_of("sqlserver.money_type")), 1u);
    // Options of the first group become branches, optional ones too; a
    // sequence with a gap stays whole.
    CHECK_EQ(s.branch_count(row_of("mysql.int_display_width_zerofill")), 6u);
    CHECK_EQ(s.branch_count(row_of("databricks.create_table_using_format")), 1u);
    CHECK_EQ(s.branch_count(row_of("snowflake.semi_structured_types")), 5u);
}

TEST(unsupported_row_is_a_load_error) {
    bool threw = false;
    try {
        std::vector<dl::ScanRow> rows = {{R"(\bA\b)", false}, {R"((?P<x>a))", false}};
        dl::MarkerScanner s(rows);
    } catch (const rx::PatternError& e) {
        threw = std::string(e.what()).starts_with("row 1:");
    }
    CHECK(threw);
}

TEST(gaps_keep_the_pattern_matches) {
    std::vector<dl::ScanRow> rows = {{R"(\bA\b[\s\S]{0,5}?\bB\b)", false},
                                     {R"(\bA\b[\s\S]{2,5}\bB\b[\s\S]{0,3}?C)", false}};
    dl::MarkerScanner s(rows);
    CHECK((lines8(s, "A B") == std::vector<std::size_t>{1, 0}));
    CHECK((lines8(s, "A\n123456B") == std::vector<std::size_t>{0, 0}));  // 7 after A's end
    CHECK((lines8(s, "x\nA\n1234 B") == std::vector<std::size_t>{0, 0}));
    CHECK((lines8(s, "x\nA\n123 B") == std::vector<std::size_t>{2, 0}));
    CHECK((lines8(s, "A  B  C") == std::vector<std::size_t>{1, 1}));
    CHECK((lines8(s, "A B  C") == std::vector<std::size_t>{1, 0}));  // the second needs 2..5 after A
    CHECK((lines8(s, "A AB\nB") == std::vector<std::size_t>{1, 0}));
}

TEST(literals_comments_and_lines) {
    std::vector<dl::ScanRow> rows = {{R"(\bSET\s+NOCOUNT\b)", false}, {R"(--\s*MAGIC\b)", true}};
    dl::MarkerScanner s(rows);
    CHECK((lines8(s, "SELECT 'SET NOCOUNT' x\r\nSET NOCOUNT ON") == std::vector<std::size_t>{2, 0}));
    CHECK((lines8(s, "/* SET NOCOUNT */\n-- MAGIC\n") == std::vector<std::size_t>{0, 2}));
    CHECK((lines8(s, "'it''s' -- x\n/*\n*/ set nocount") == std::vector<std::size_t>{3, 0}));
    CHECK((lines8(s, "'unterminated SET NOCOUNT") == std::vector<std::size_t>{0, 0}));
    CHECK((lines8(s, "\"a'\" SET NOCOUNT") == std::vector<std::size_t>{1, 0}));
    CHECK((lines8(s, "a\rb\x0c\x0b\x1c\n SET NOCOUNT") == std::vector<std::size_t>{6, 0}));
    CHECK((lines(s, U"a\u2028b\u0085\u2029\r\n\u017fET NOCOUNT") == std::vector<std::size_t>{5, 0}));
    CHECK((lines(s, U"SET NO\u212aCOUNT \u0130") == std::vector<std::size_t>{0, 0}));
    CHECK((lines(s, U"SET NOCOUNT") == std::vector<std::size_t>{1, 0}));
}

TEST(literal_filter_folds_long_s_and_kelvin) {
    dl::LiteralFilter f({"sk", "ab", "(+)"});
    std::vector<char> found(3, 0);
    const std::u32string t = U"x\u017f\u212a (+";
    f.find(quorvane::text::Text<std::uint32_t>(reinterpret_cast<const std::uint32_t*>(t.data()), t.size()), found);
    CHECK((found == std::vector<char>{1, 0, 0}));
}

TEST(gap_checks_that_move_left_find_what_a_plain_search_finds) {
    // A greedy head backtracks, so the checks after it come at positions
    // further and further left; a later head moves them right again.
    std::vector<dl::ScanRow> rows = {{R"(A.*[\s\S]{0,2}B)", false}, {R"(C\s*[\s\S]{1,1}D.*[\s\S]{0,1}E)", false}};
    dl::MarkerScanner s(rows);
    CHECK((lines8(s, "AxxBxxxxxxxx") == std::vector<std::size_t>{1, 0}));
    CHECK((lines8(s, "A\n\n\nB") == std::vector<std::size_t>{0, 0}));  // '.' stops at the line end
    CHECK((lines8(s, "A\n\nB") == std::vector<std::size_t>{1, 0}));
    CHECK((lines8(s, "A\n\n\nB\nAB") == std::vector<std::size_t>{5, 0}));
    CHECK((lines8(s, "C   xDyyEzz") == std::vector<std::size_t>{0, 1}));
    CHECK((lines8(s, "C  D\nC xDE") == std::vector<std::size_t>{0, 2}));
    CHECK((lines8(s, "C    D E\nCxDzzzzzzE") == std::vector<std::size_t>{0, 1}));
    CHECK((lines8(s, "C    D  E\nCxDzzzzzzE") == std::vector<std::size_t>{0, 1}));
    CHECK((lines8(s, "C    D\n E\nCxDzzzzzzE") == std::vector<std::size_t>{0, 3}));
}
