// The classifier's and the reading planner's fixed tables.  Pure data: the
// classifier compiles them once; the host binding publishes the same rows
// as the host's own pattern objects.
#pragma once

#include <array>

#include "shared/cte.hpp"
#include "shared/pattern.hpp"
#include "shared/regex.hpp"

namespace quorvane::complexity {

using text::PatternSpec;
inline constexpr unsigned kI = rx::kIgnoreCase;

// Constructs that make a script complex at once.
inline constexpr std::array<PatternSpec, 15> kComplexPatterns = {{
    {R"(\bCURSOR\b)", kI},
    {R"(\bDECLARE\s+\w+\s+CURSOR\b)", kI},
    {R"(\bEXEC(?:UTE)?\s*\()", kI},
    {R"(\bsp_executesql\b)", kI},
    {R"(\bDYNAMIC\b)", kI},
    {R"(\bBEGIN\s+TRY\b)", kI},
    {R"(\bBEGIN\s+CATCH\b)", kI},
    {R"(\bMERGE\b)", kI},
    {R"(\bOPENXML\b)", kI},
    {R"(\bhierarchyid\b)", kI},
    {R"(\bgeography\b)", kI},
    {R"(\bgeometry\b)", kI},
    {R"(\bFOR\s+XML\b)", kI},
    {R"(\bOPENJSON\b)", kI},
    {R"(\bLINKED\s+SERVER\b)", kI},
}};

// Constructs that make a script moderate when three or more occur.  Two of
// them are also counted: common-table-expression heads (case-insensitive)
// and temporary-table names (row 2, "#\w+", whose matches no flag changes).
inline constexpr std::size_t kCteIndex = 0;
inline constexpr std::size_t kTempTableIndex = 1;
inline constexpr std::array<PatternSpec, 9> kModeratePatterns = {{
    {text::kCteHeadPattern, kI},
    {R"(#\w+)", kI},
    {R"(\bCREATE\s+TABLE\b)", kI},
    {R"(\bWHILE\b)", kI},
    {R"(\bIF\s+EXISTS\b)", kI},
    {R"(\bCASE\s+WHEN\b)", kI},
    {R"(\bOVER\s*\()", kI},
    {R"(\bPIVOT\b)", kI},
    {R"(\bUNPIVOT\b)", kI},
}};

// Stored-procedure definition heads.
inline constexpr PatternSpec kStoredProcPattern = {R"(\bCREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?\b)",
                                                   kI};

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
