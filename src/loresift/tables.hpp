// Knowledge selection's fixed tables: the construct categories with their
// patterns, and the knowledge-base section titles each category calls for.
// Pure data, in table order; the host binding publishes the same rows.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "shared/cte.hpp"
#include "shared/pattern.hpp"
#include "shared/regex.hpp"

namespace quorvane::loresift {

struct CategoryPattern {
    std::string_view key;
    text::PatternSpec pattern;
};

inline constexpr unsigned kI = rx::kIgnoreCase;

// The kind of a category's location, as construct locations report it.
inline constexpr std::string_view kCategoryKind = "category";

inline constexpr std::array<CategoryPattern, 14> kCategoryPatterns = {{
    {"date_function",
     {R"(\b(?:DATEDIFF|DATEADD|GETDATE|GETUTCDATE|EOMONTH|DATEPART|DATENAME|DATETRUNC|SYSDATETIME|SYSUTCDATETIME)\b)",
      kI}},
    {"window_function",
     {R"(\b(?:ROW_NUMBER|RANK|DENSE_RANK|NTILE|LAG|LEAD|CUME_DIST|PERCENT_RANK)\s*\()", kI}},
    {"null_handling", {R"(\b(?:ISNULL|COALESCE|NULLIF|IS\s+NULL|IS\s+NOT\s+NULL)\b)", kI}},
    {"string_ops",
     {R"(\b(?:LIKE|CHARINDEX|PATINDEX|STUFF|REPLACE|SUBSTRING|LEFT|RIGHT|COLLATE|CONCAT)\b)", kI}},
    {"cursor", {R"(\bCURSOR\b)", kI}},
    {"cte", {text::kCteHeadPattern, kI}},
    {"json_ops", {R"(\b(?:FOR\s+JSON|OPENJSON|JSON_VALUE|JSON_QUERY|JSON_MODIFY)\b)", kI}},
    {"type_cast", {R"(\b(?:CAST|CONVERT|TRY_CAST|TRY_CONVERT|DECIMAL|NUMERIC|FLOAT)\b)", kI}},
    {"stored_proc", {R"(\b(?:CREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?|EXEC(?:UTE)?)\b)", kI}},
    {"merge", {R"(\bMERGE\b)", kI}},
    {"temp_table", {R"(#\w+|@\w+\s+TABLE)", kI}},
    {"join", {R"(\b(?:INNER|LEFT|RIGHT|FULL|CROSS)\s+(?:OUTER\s+)?JOIN\b)", kI}},
    {"aggregation", {R"(\b(?:GROUP\s+BY|HAVING|SUM|COUNT|AVG|MIN|MAX)\s*\()", kI}},
    {"query", {R"(\bSELECT\b)", kI}},
}};

// A category's section titles, in list order.
struct TitleRow {
    std::string_view key;
    std::array<std::string_view, 3> titles;
    std::size_t count;

    constexpr std::span<const std::string_view> list() const { return {titles.data(), count}; }
};

inline constexpr std::array<TitleRow, 14> kMappingSections = {{
    {"date_function", {"Date Functions"}, 1},
    {"window_function", {"Window Functions"}, 1},
    {"null_handling", {"NULL Semantics (CRITICAL)", "NULL Handling"}, 2},
    {"string_ops", {"String Functions", "String Collation"}, 2},
    {"cursor", {"Cursor Patterns"}, 1},
    {"cte", {"CTE / Subqueries"}, 1},
    {"json_ops", {"JSON Operations"}, 1},
    {"type_cast", {"Data Type Mapping with Gotchas", "Type Casting"}, 2},
    {"stored_proc", {"Stored Procedures & Functions"}, 1},
    {"merge", {"Control Flow"}, 1},
    {"temp_table", {"Data Structures"}, 1},
    {"join", {"Joins"}, 1},
    {"aggregation", {"Aggregations"}, 1},
    {"query", {"Queries & Filters"}, 1},
}};

inline constexpr std::array<TitleRow, 6> kGotchaSections = {{
    {"date_function",
     {"1. DATEDIFF Argument Order Reversed", "6. months_between Returns DOUBLE Not INT",
      "7. date_sub with Negative Goes FORWARD"},
     3},
    {"window_function", {"4. Window Frame RANGE Includes Duplicates"}, 1},
    {"null_handling",
     {"3. NULL Ordering in ORDER BY", "10. BIT Column NULL Handling",
      "9. COUNT(*) vs COUNT(col) with NULLs"},
     3},
    {"string_ops", {"2. Case-Sensitive String Comparison"}, 1},
    {"cursor", {"8. Python UDF 50-100x Slower Than Native F.xxx"}, 1},
    {"type_cast", {"5. Decimal Arithmetic Precision Loss"}, 1},
}};

inline constexpr std::array<std::string_view, 2> kAlwaysIncludeMapping = {
    "Data Type Mapping with Gotchas", "NULL Semantics (CRITICAL)"};
inline constexpr std::array<std::string_view, 0> kAlwaysIncludeGotchas = {};

}  // namespace quorvane::loresift
