// A compiled pattern of one of the fixed tables.
//
// Tables are data: each row gives the pattern text and the host's flags.  At
// load every row is compiled once into a Pattern, which matches with the
// host's semantics: through the regex wrapper, or, for the one pattern whose
// backtracking is quadratic, through its dedicated linear matcher.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <variant>

#include "shared/cte.hpp"
#include "shared/regex.hpp"

namespace quorvane::text {

struct PatternSpec {
    std::string_view text;
    unsigned flags;
};

class Pattern {
   public:
    explicit Pattern(const PatternSpec& spec);

    std::string_view text() const noexcept { return text_; }

    // Whether matching the narrowed form of a text (text::narrow) gives the
    // same results as matching the text.
    bool narrowable() const noexcept {
        if (const auto* re = std::get_if<rx::Regex>(&impl_)) return re->narrowable();
        return true;  // the head matcher sees only ASCII, word and space classes
    }

    template <CodeUnit C>
    bool found_in(Text<C> subject) const {
        return std::visit([&](const auto& m) { return m.search(subject).has_value(); }, impl_);
    }

    // Whether a match starts at the very beginning of `subject` (an anchored
    // match: the leftmost match, if one starts there).
    template <CodeUnit C>
    bool matches_at_start(Text<C> subject) const {
        if (const auto* re = std::get_if<rx::Regex>(&impl_)) return re->match(subject).has_value();
        const auto m = search(subject);
        return m && m->start == 0;
    }

    template <CodeUnit C>
    std::optional<rx::Span> search(Text<C> subject, std::size_t from = 0) const {
        return std::visit([&](const auto& m) { return m.search(subject, from); }, impl_);
    }

    template <CodeUnit C>
    std::size_t count(Text<C> subject) const {
        return std::visit([&](const auto& m) { return m.count(subject); }, impl_);
    }

   private:
    std::string_view text_;
    std::variant<rx::Regex, CteHeadMatcher> impl_;
};

}  // namespace quorvane::text
