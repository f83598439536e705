// Where a pattern's matches can start, told by one literal run they all hold.
//
// A sequence  P L R,  with L a run of literal ASCII characters matched once
// and P the items before it, matches at s only with L at some p where
//   - p - s lies between the least and the most P can match, and
//   - every character of [s, p) is one that P can match.
// So the starts of its matches are found from the occurrences of L alone:
// from each occurrence, walk back over characters P can match (no further
// than P's widest match) and search only that window.  The characters P can
// match are over-approximated (never under), which only widens a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "shared/regex_syntax.hpp"
#include "shared/text.hpp"

namespace quorvane::dialectra {

// A superset of the characters some items can match.
class CharSuperset {
   public:
    void add_ascii(char32_t c) { ascii_[c] = true; }
    void add_space() { space_ = true; }
    void add_any_non_ascii() { non_ascii_ = true; }
    void add_everything();
    // An ASCII character, and under case folding every character that folds
    // to the same (the other case; U+017F with s, U+212A with k).
    void add_folded(char32_t c, bool ignore_case);

    template <text::CodeUnit C>
    bool holds(C unit) const noexcept {
        if (unit < 0x80) return ascii_[unit];
        if (non_ascii_) return true;
        const auto c = static_cast<std::uint32_t>(unit);
        if (space_ && text::is_space(c)) return true;
        return (c == 0x017F && long_s_) || (c == 0x212A && kelvin_);
    }

   private:
    bool ascii_[128] = {};
    bool space_ = false;      // non-ASCII whitespace (ASCII spaces are in ascii_)
    bool non_ascii_ = false;  // every non-ASCII character
    bool long_s_ = false;
    bool kelvin_ = false;
};

struct Anchor {
    static constexpr std::size_t kUnbounded = static_cast<std::size_t>(-1);

    std::string literal;  // lower-case ASCII, as the literal filter takes it
    std::size_t min_before = 0;
    std::size_t max_before = 0;  // kUnbounded: no limit
    CharSuperset before;         // what the items before the literal can match

    // The earliest start, at or after `floor`, of a match whose literal is at
    // `at`; the latest is at - min_before (when at >= min_before).
    template <text::CodeUnit C>
    std::size_t earliest_start(text::Text<C> text, std::size_t at, std::size_t floor) const noexcept {
        std::size_t lowest = floor;
        if (max_before != kUnbounded && at - floor > max_before) lowest = at - max_before;
        std::size_t s = at;
        while (s > lowest && before.holds(text[s - 1])) --s;
        return s;
    }
};

// The anchors of one sequence (a Seq node of the tree): each run of literal
// characters at its top level that SQL text does not hold everywhere: of
// three characters or more, of two but not two letters, or of one that is
// not a letter, a digit, or punctuation SQL uses all the time.  Which is
// best depends on the text: the scan takes the one that occurs least.
std::vector<Anchor> find_anchors(const rx::syntax::Node& seq, bool ignore_case);

}  // namespace quorvane::dialectra
