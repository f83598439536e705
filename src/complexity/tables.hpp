// The classifier's and the reading planner's fixed tables.  Pure data: the
// classifier compiles them once; the host binding publishes the same rows
// as the host's own pattern objects.
#pragma once

#include <array>
#include <string_view>

#include "shared/cte.hpp"
#include "shared/pattern.hpp"
#include "shared/regex.hpp"

namespace quorvane::complexity {

using text::PatternSpec;
inline constexpr unsigned kI = rx::kIgnoreCase;

// The kind of each counted table, as construct locations report it; the
// rows' names say which construct of the table.
inline constexpr std::string_view kComplexKind = "complex";
inline constexpr std::string_view kModerateKind = "moderate";
inline constexpr std::string_view kStoredProcKind = "stored_proc";

// Constructs that make a script complex at once.
inline constexpr std::array<PatternSpec, 15> kComplexPatterns = {{
    {R"(\bCURSOR\b)", kI, "cursor"},
    {R"(\bDECLARE\s+\w+\s+CURSOR\b)", kI, "declare_cursor"},
    {R"(\bEXEC(?:UTE)?\s*\()", kI, "exec_string"},
    {R"(\bsp_executesql\b)", kI, "sp_executesql"},
    {R"(\bDYNAMIC\b)", kI, "dynamic"},
    {R"(\bBEGIN\s+TRY\b)", kI, "begin_try"},
    {R"(\bBEGIN\s+CATCH\b)", kI, "begin_catch"},
    {R"(\bMERGE\b)", kI, "merge"},
    {R"(\bOPENXML\b)", kI, "openxml"},
    {R"(\bhierarchyid\b)", kI, "hierarchyid"},
    {R"(\bgeography\b)", kI, "geography"},
    {R"(\bgeometry\b)", kI, "geometry"},
    {R"(\bFOR\s+XML\b)", kI, "for_xml"},
    {R"(\bOPENJSON\b)", kI, "openjson"},
    {R"(\bLINKED\s+SERVER\b)", kI, "linked_server"},
}};

// Constructs that make a script moderate when three or more occur.  Two of
// them are also counted: common-table-expression heads (case-insensitive)
// and temporary-table names (row 2, "#\w+", whose matches no flag changes).
inline constexpr std::size_t kCteIndex = 0;
inline constexpr std::size_t kTempTableIndex = 1;
inline constexpr std::array<PatternSpec, 9> kModeratePatterns = {{
    {text::kCteHeadPattern, kI, "cte"},
    {R"(#\w+)", kI, "temp_table"},
    {R"(\bCREATE\s+TABLE\b)", kI, "create_table"},
    {R"(\bWHILE\b)", kI, "while"},
    {R"(\bIF\s+EXISTS\b)", kI, "if_exists"},
    {R"(\bCASE\s+WHEN\b)", kI, "case_when"},
    {R"(\bOVER\s*\()", kI, "over"},
    {R"(\bPIVOT\b)", kI, "pivot"},
    {R"(\bUNPIVOT\b)", kI, "unpivot"},
}};

// Stored-procedure definition heads.
inline constexpr PatternSpec kStoredProcPattern = {R"(\bCREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?\b)",
                                                   kI, "create_procedure"};

// Comment removal, in order of application.  The rule is implemented by
// text::strip_comments; the rows are what the module publishes.
inline constexpr std::array<PatternSpec, 2> kCommentPatterns = {{
    {R"(--.*$)", rx::kMultiLine},
    {R"(/\*.*?\*/)", rx::kDotAll},
}};

// Section boundaries of the reading planner, matched anchored against a
// trimmed line, case-insensitively.
inline constexpr PatternSpec kBatchSeparatorPattern = {R"(^GO\s*$)", kI};
inline constexpr PatternSpec kRoutineHeaderPattern = {
    R"(^CREATE\s+(?:OR\s+ALTER\s+)?(?:PROC|PROCEDURE|FUNCTION)\b)", kI};

}  // namespace quorvane::complexity
