// The head of a common table expression,
//
//     \bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\(      (case-insensitive)
//
// matched with the host's semantics in linear time.  A backtracking engine
// rescans `[^)]*` up to the next ")" from every "WITH name (" it tries, which
// is quadratic on text with many such heads and a distant or missing ")";
// here each search knows the next ")" from a cache that only moves forward.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "shared/regex.hpp"
#include "shared/text.hpp"

namespace quorvane::text {

// The pattern text, as the tables that use it publish it.
inline constexpr std::string_view kCteHeadPattern = R"(\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\()";

class CteHeadMatcher {
   public:
    CteHeadMatcher();

    // Leftmost head starting at or after `from`.
    template <CodeUnit C>
    std::optional<rx::Span> search(Text<C> subject, std::size_t from = 0) const;

    // Number of non-overlapping heads, left to right.
    template <CodeUnit C>
    std::size_t count(Text<C> subject) const;

   private:
    rx::Regex with_;  // candidate starts: \bWITH\s
};

}  // namespace quorvane::text
