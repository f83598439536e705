#include "shared/unicode.hpp"

#include <algorithm>

namespace quorvane::unicode {
namespace {

struct LowerMapping {
    std::uint32_t from;
    std::uint32_t to;
    std::uint32_t to2;  // second code point of a two-point mapping, else 0
};

#include "shared/unicode_data.inc"

enum : std::uint8_t { kWord = 1, kCaseIgnorable = 2, kCased = 4 };

std::uint8_t properties(std::uint32_t c) noexcept {
    if (c >= 0x110000) return 0;
    return kPropertyStage2[kPropertyStage1[c >> kPropertyBlockShift]]
                          [c & ((1u << kPropertyBlockShift) - 1)];
}

const LowerMapping* find_lower(std::uint32_t c) noexcept {
    const auto* first = std::begin(kLowerMappings);
    const auto* last = std::end(kLowerMappings);
    const auto* it = std::lower_bound(first, last, c, [](const LowerMapping& m, std::uint32_t v) {
        return m.from < v;
    });
    return (it != last && it->from == c) ? it : nullptr;
}

constexpr std::uint32_t kCapitalSigma = 0x03A3;
constexpr std::uint32_t kSmallSigma = 0x03C3;
constexpr std::uint32_t kFinalSigma = 0x03C2;

// U+03A3 lowers to the final form when a cased letter precedes it and none
// follows it, case-ignorable characters being skipped on both sides.
template <text::CodeUnit C>
std::uint32_t lower_sigma(text::Text<C> text, std::size_t begin, std::size_t end,
                          std::size_t at) noexcept {
    std::size_t j = at;
    while (j > begin && (properties(text[j - 1]) & kCaseIgnorable)) --j;
    if (j == begin || !(properties(text[j - 1]) & kCased)) return kSmallSigma;
    j = at + 1;
    while (j < end && (properties(text[j]) & kCaseIgnorable)) ++j;
    if (j < end && (properties(text[j]) & kCased)) return kSmallSigma;
    return kFinalSigma;
}

}  // namespace

bool is_word(std::uint32_t c) noexcept { return properties(c) & kWord; }

template <text::CodeUnit C>
void append_lower(text::Text<C> text, std::size_t begin, std::size_t end, std::u32string& out) {
    // At most two code points per character (only U+0130 takes two).
    const std::size_t at = out.size();
    out.resize(at + 2 * (end - begin));
    char32_t* dst = out.data() + at;
    for (std::size_t i = begin; i < end; ++i) {
        const std::uint32_t c = text[i];
        if (c < 0x80) {
            *dst++ = static_cast<char32_t>((c >= 'A' && c <= 'Z') ? c + 0x20 : c);
        } else if (c == kCapitalSigma) {
            *dst++ = static_cast<char32_t>(lower_sigma(text, begin, end, i));
        } else if (const LowerMapping* m = find_lower(c)) {
            *dst++ = static_cast<char32_t>(m->to);
            if (m->to2) *dst++ = static_cast<char32_t>(m->to2);
        } else {
            *dst++ = static_cast<char32_t>(c);
        }
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
}

template void append_lower(text::Text<std::uint8_t>, std::size_t, std::size_t, std::u32string&);
template void append_lower(text::Text<std::uint16_t>, std::size_t, std::size_t, std::u32string&);
template void append_lower(text::Text<std::uint32_t>, std::size_t, std::size_t, std::u32string&);

}  // namespace quorvane::unicode
