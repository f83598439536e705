// A compiled pattern of one of the fixed tables.
//
// Tables are data: each row gives the pattern text and the host's flags (and
// a name where the row is reported as a construct of its own).  At
// load every row is compiled once into a Pattern, which matches with the
// host's semantics: through the regex wrapper, or, for the one pattern whose
// backtracking is quadratic, through its dedicated linear matcher.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "shared/cte.hpp"
#include "shared/regex.hpp"

namespace quorvane::text {

struct PatternSpec {
    std::string_view text;
    unsigned flags;
    std::string_view name = {};  // a stable identifier, for rows reported one by one
};

class Pattern {
   public:
    explicit Pattern(const PatternSpec& row);

    std::string_view text() const noexcept { return text_; }

    // Whether matching the narrowed form of a text (text::narrow) gives the
    // same results as matching the text.
    bool narrowable() const noexcept {
        if (const auto* re = std::get_if<rx::Regex>(&impl_)) return re->narrowable();
        return true;  // the head matcher sees only ASCII, word and space classes
    }

    // Whether the pattern matches anywhere: through its presence
    // alternatives when it has several (see rx::presence_alternatives).
    template <CodeUnit C>
    bool found_in(Text<C> subject) const {
        if (!parts_.empty()) return found_through_parts(subject);
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

    // Where the leftmost match starts, if any.  With presence alternatives
    // it is the earliest start among theirs: a match of the pattern starts
    // exactly where a match of one of them does.
    template <CodeUnit C>
    std::optional<std::size_t> first_start(Text<C> subject) const {
        if (parts_.empty()) {
            const auto m = search(subject);
            return m ? std::optional<std::size_t>(m->start) : std::nullopt;
        }
        std::optional<std::size_t> first;
        scan_windows(subject.size(), [&](std::size_t begin, std::size_t last) {
            for (const rx::Regex& part : parts_) {
                // Later parts need only beat the earliest start found so far.
                if (first && *first == begin) break;
                const std::size_t bound = first ? *first - 1 : last;
                if (const auto m = part.search_starting_by(subject, begin, bound)) first = m->start;
            }
            return first.has_value();
        });
        return first;
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
    Pattern(const PatternSpec& row, const rx::syntax::Parsed& parsed);

    // The parts are searched window by window, windows growing fourfold,
    // so that a match near the start is found after a short search of each
    // part rather than a full search of the parts before it.
    template <CodeUnit C>
    bool found_through_parts(Text<C> subject) const {
        bool found = false;
        scan_windows(subject.size(), [&](std::size_t begin, std::size_t last) {
            for (const rx::Regex& part : parts_) {
                if (part.search_starting_by(subject, begin, last)) return found = true;
            }
            return false;
        });
        return found;
    }

    // Calls window(begin, last) for the windows of match starts [begin,
    // last] covering 0..size, in order, until it returns true.
    template <class Window>
    static void scan_windows(std::size_t size, Window&& window) {
        std::size_t width = 1 << 15;
        for (std::size_t begin = 0; begin <= size; begin += width, width *= 4) {
            const std::size_t last = begin + width - 1;
            if (window(begin, last) || last >= size) return;
        }
    }

    std::string_view text_;
    std::variant<rx::Regex, CteHeadMatcher> impl_;
    std::vector<rx::Regex> parts_;  // presence alternatives, when more than one
};

}  // namespace quorvane::text
