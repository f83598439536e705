// Which of a set of short ASCII strings occur in a text, under case folding,
// found in one pass (an Aho-Corasick automaton over the folded characters).
//
// Folding: ASCII letters compare without case, U+017F LATIN SMALL LETTER
// LONG S as s and U+212A KELVIN SIGN as k (the only characters whose simple
// case folding is an ASCII letter); every other character only as itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "shared/text.hpp"

namespace quorvane::dialectra {

// Where the recorded literals occur: per literal, the ascending offsets at
// which it starts.  A literal that occurs more often than the caller wants
// to know about is dropped, and so are the most frequent ones whenever the
// lists of a text of n characters would hold more than n / 64 + 4096
// offsets together.
class Occurrences {
   public:
    bool recorded() const noexcept { return !dropped_.empty(); }
    bool dropped(std::uint32_t id) const noexcept { return dropped_[id] != 0; }
    // Empty unless the literal is recorded and not dropped.
    std::span<const std::size_t> starts(std::uint32_t id) const noexcept {
        return {starts_.data() + begin_[id], starts_.data() + begin_[id + 1]};
    }

   private:
    friend class Recorder;
    std::vector<std::size_t> begin_;   // per literal id, into starts_ (size ids + 1)
    std::vector<std::size_t> starts_;
    std::vector<char> dropped_;        // per literal id
};

class LiteralFilter {
   public:
    // `literals`: non-empty strings of ASCII characters, letters in lower
    // case.  `record` (empty, or one flag per literal): the literals whose
    // occurrences find() can record.
    explicit LiteralFilter(const std::vector<std::string>& literals, const std::vector<char>& record = {});

    std::size_t size() const noexcept { return literal_count_; }

    // found[i] becomes true for every literal i that occurs in `text` (the
    // others are left as they are).  `found` has size() entries.  With
    // `occurrences`, the starts of every recorded literal that occurs at most
    // `most_per_literal` times are filled in too.
    template <text::CodeUnit C>
    void find(text::Text<C> text, std::vector<char>& found, Occurrences* occurrences = nullptr,
              std::size_t most_per_literal = static_cast<std::size_t>(-1)) const;

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
    std::vector<std::uint32_t> lengths_;      // per literal id
    std::vector<char> record_;                // per literal id
    bool records_ = false;                    // whether any literal is recorded
};

}  // namespace quorvane::dialectra
