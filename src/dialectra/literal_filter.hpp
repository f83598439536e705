// Which of a set of short ASCII strings occur in a text, under case folding,
// found in one pass (an Aho-Corasick automaton over the folded characters).
//
// Folding: ASCII letters compare without case, U+017F LATIN SMALL LETTER
// LONG S as s and U+212A KELVIN SIGN as k (the only characters whose simple
// case folding is an ASCII letter); every other character only as itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "shared/text.hpp"

namespace quorvane::dialectra {

class LiteralFilter {
   public:
    // `literals`: non-empty strings of ASCII characters, letters in lower case.
    explicit LiteralFilter(const std::vector<std::string>& literals);

    std::size_t size() const noexcept { return literal_count_; }

    // found[i] becomes true for every literal i that occurs in `text` (the
    // others are left as they are).  `found` has size() entries.
    template <text::CodeUnit C>
    void find(text::Text<C> text, std::vector<char>& found) const;

   private:
    template <text::CodeUnit C>
    std::uint32_t class_of(C unit) const noexcept {
        if (unit < 0x80) return classes_[unit];
        if (unit == 0x017F) return classes_[static_cast<unsigned char>('s')];
        if (unit == 0x212A) return classes_[static_cast<unsigned char>('k')];
        return 0;
    }

    static constexpr std::uint32_t kHasOutput = 1u << 31;

    std::size_t literal_count_;
    std::size_t longest_ = 0;
    std::uint32_t class_count_ = 1;          // class 0: no literal holds the character
    std::uint8_t classes_[128] = {};          // folded ASCII character -> class
    std::vector<std::uint32_t> next_;         // state * class_count_ + class -> see the .cpp
    std::vector<std::uint32_t> output_begin_; // per state, into outputs_ (size states + 1)
    std::vector<std::uint32_t> outputs_;      // literal ids ending at each state
};

}  // namespace quorvane::dialectra
