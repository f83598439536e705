#include "shared/pattern.hpp"

namespace quorvane::text {
namespace {

std::variant<rx::Regex, CteHeadMatcher> compile(const PatternSpec& row, const rx::syntax::Parsed& parsed) {
    // The common-table-expression head is matched case-insensitively in
    // every table that lists it; it has its own linear matcher.
    if (row.text == kCteHeadPattern && row.flags == rx::kIgnoreCase) {
        return std::variant<rx::Regex, CteHeadMatcher>(std::in_place_type<CteHeadMatcher>);
    }
    return std::variant<rx::Regex, CteHeadMatcher>(std::in_place_type<rx::Regex>, parsed, row.flags);
}

}  // namespace

Pattern::Pattern(const PatternSpec& row) : Pattern(row, rx::syntax::parse(row.text)) {}

Pattern::Pattern(const PatternSpec& row, const rx::syntax::Parsed& parsed)
    : text_(row.text), impl_(compile(row, parsed)) {
    if (std::holds_alternative<rx::Regex>(impl_)) {
        const std::vector<rx::syntax::Parsed> parts = rx::syntax::presence_alternatives(parsed);
        if (parts.size() > 1) {
            parts_.reserve(parts.size());
            for (const rx::syntax::Parsed& p : parts) parts_.emplace_back(p, row.flags, rx::Regex::Starts::Bounded);
        }
    }
}

}  // namespace quorvane::text
