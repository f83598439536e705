#include "shared/pattern.hpp"

namespace quorvane::text {
namespace {

std::variant<rx::Regex, CteHeadMatcher> compile(const PatternSpec& row) {
    // The common-table-expression head is matched case-insensitively in
    // every table that lists it; it has its own linear matcher.
    if (row.text == kCteHeadPattern && row.flags == rx::kIgnoreCase) {
        return std::variant<rx::Regex, CteHeadMatcher>(std::in_place_type<CteHeadMatcher>);
    }
    return std::variant<rx::Regex, CteHeadMatcher>(std::in_place_type<rx::Regex>, row.text,
                                                    row.flags);
}

}  // namespace

Pattern::Pattern(const PatternSpec& row) : text_(row.text), impl_(compile(row)) {
    if (std::holds_alternative<rx::Regex>(impl_)) {
        const std::vector<std::string> parts = rx::presence_alternatives(row.text);
        if (parts.size() > 1) {
            parts_.reserve(parts.size());
            for (const std::string& p : parts) parts_.emplace_back(p, row.flags, rx::Regex::Starts::Bounded);
        }
    }
}

}  // namespace quorvane::text
