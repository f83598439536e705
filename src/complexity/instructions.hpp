// The text of the reading instructions handed to the agent's model.  The
// host binding fills in the plan's values in their host text form.
#pragma once

#include <string_view>

namespace quorvane::complexity::instructions {

// "Read the complete SQL file at `" + path + "` using the Read tool."
inline constexpr std::string_view kWholeFileBefore = "Read the complete SQL file at `";
inline constexpr std::string_view kWholeFileAfter = "` using the Read tool.";

// "This is a " + total_lines + "-line SQL file. Read it strategically:"
inline constexpr std::string_view kIntroBefore = "This is a ";
inline constexpr std::string_view kIntroAfter = "-line SQL file. Read it strategically:";

// "1. Read lines 1-" + first_read_lines + " to understand structure (...)."
inline constexpr std::string_view kFirstReadBefore = "1. Read lines 1-";
inline constexpr std::string_view kFirstReadAfter =
    " to understand structure (SET statements, parameters, procedure signature).";

inline constexpr std::string_view kSectionsIntro = "2. Then read each logical section:";

// "   - Lines " + start + "-" + end + ": " + hint
inline constexpr std::string_view kSectionBefore = "   - Lines ";
inline constexpr std::string_view kSectionRange = "-";
inline constexpr std::string_view kSectionHint = ": ";

// The closing element; its leading line feed leaves an empty line before it.
inline constexpr std::string_view kClosing =
    "\nUse the Read tool with offset and limit parameters. Do NOT try to read the entire file in "
    "one Read call.";

inline constexpr std::string_view kLineSeparator = "\n";

}  // namespace quorvane::complexity::instructions
