#include "shared/pattern.hpp"

namespace quorvane::text {
namespace {

std::variant<rx::Regex, CteHeadMatcher> compile(const PatternSpec& spec) {
    // The common-table-expression head is matched case-insensitively in
    // every table that lists it; it has its own linear matcher.
    if (spec.text == kCteHeadPattern && spec.flags == rx::kIgnoreCase) {
        return std::variant<rx::Regex, CteHeadMatcher>(std::in_place_type<CteHeadMatcher>);
    }
    return std::variant<rx::Regex, CteHeadMatcher>(std::in_place_type<rx::Regex>, spec.text,
                                                    spec.flags);
}

}  // namespace

Pattern::Pattern(const PatternSpec& spec) : text_(spec.text), impl_(compile(spec)) {
    if (std::holds_alternative<rx::Regex>(impl_)) {
        const std::vector<std::string> parts = rx::presence_alternatives(spec.text);
        if (parts.size() > 1) {
            parts_.reserve(parts.size());
            for (const std::string& p : parts) parts_.emplace_back(p, spec.flags, rx::Regex::Starts::Bounded);
        }
    }
}

}  // namespace quorvane::text
