// Text rules shared by every module: the character type of a scanned text,
// the whitespace set, line breaks, trimming, word counting and ASCII case
// folding.  Line splitting lives in scan.hpp, next to the vector searches it
// uses.
//
// A text is scanned in its own storage: one, two or four bytes per code point
// (the three storage kinds of a host string), never converted.  Every offset
// and length here counts code points.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace quorvane::text {

// The three code-unit widths a text may be stored in.  Each unit is one
// code point; two-byte texts may hold lone surrogates like any character.
template <class C>
concept CodeUnit = std::same_as<C, std::uint8_t> || std::same_as<C, std::uint16_t> ||
                   std::same_as<C, std::uint32_t>;

template <CodeUnit C>
using Text = std::span<const C>;

// Whitespace: general category Zs or bidirectional class WS, B or S.  This is
// the set used for trimming lines, splitting words and for `\s` in patterns.
// U+200B, U+FEFF and U+180E are not whitespace.
constexpr bool is_space(std::uint32_t c) noexcept {
    if (c <= 0x20) return (c >= 0x09 && c <= 0x0D) || c >= 0x1C;
    if (c < 0x85) return false;
    if (c <= 0xA0) return c == 0x85 || c == 0xA0;
    if (c < 0x1680) return false;
    return c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

// Characters that end a line: LF, VT, FF, CR (with CR LF one break), the
// file, group and record separators U+001C..U+001E, NEL, LINE SEPARATOR and
// PARAGRAPH SEPARATOR.  Every line break is also whitespace.
constexpr bool is_line_break(std::uint32_t c) noexcept {
    if (c <= 0x1E) return (c >= 0x0A && c <= 0x0D) || c >= 0x1C;
    return c == 0x85 || c == 0x2028 || c == 0x2029;
}

namespace detail {
// is_space for the first 256 code points, for the hot loops.
struct SpaceTable {
    bool v[256];
    constexpr SpaceTable() : v{} {
        for (std::uint32_t c = 0; c < 256; ++c) v[c] = is_space(c);
    }
};
inline constexpr SpaceTable kSpace{};
}  // namespace detail

template <CodeUnit C>
constexpr bool unit_is_space(C c) noexcept {
    if constexpr (sizeof(C) == 1) {
        return detail::kSpace.v[c];
    } else {
        return c < 256 ? detail::kSpace.v[c] : is_space(c);
    }
}

// The part of text[begin, end) left after removing leading and trailing
// whitespace.
template <CodeUnit C>
constexpr std::pair<std::size_t, std::size_t> trim(Text<C> text, std::size_t begin,
                                                   std::size_t end) noexcept {
    while (begin < end && unit_is_space(text[begin])) ++begin;
    while (end > begin && unit_is_space(text[end - 1])) --end;
    return {begin, end};
}

// What c folds to under Unicode simple case folding, when that is ASCII:
// ASCII letters lower-cased, other ASCII unchanged, U+017F to 's' and
// U+212A to 'k'; -1 for anything else.
constexpr int ascii_folded(std::uint32_t c) noexcept {
    if (c < 0x80) return static_cast<int>(c >= 'A' && c <= 'Z' ? c | 0x20 : c);
    if (c == 0x017F) return 's';
    if (c == 0x212A) return 'k';
    return -1;
}

// ASCII-case-insensitive test of text[at, at + word.size()) against a
// lower-case ASCII word, under Unicode simple case folding: besides the ASCII
// pair, U+017F LATIN SMALL LETTER LONG S folds to 's' and U+212A KELVIN SIGN
// to 'k'.  No other character folds onto an ASCII letter.
constexpr bool folds_to_ascii_letter(std::uint32_t c, char lower) noexcept {
    return lower >= 'a' && lower <= 'z' && ascii_folded(c) == lower;
}

template <CodeUnit C>
constexpr bool equals_folded_ascii(Text<C> text, std::size_t at, const char* lower_word,
                                   std::size_t length) noexcept {
    if (at > text.size() || text.size() - at < length) return false;
    for (std::size_t k = 0; k < length; ++k) {
        if (!folds_to_ascii_letter(text[at + k], lower_word[k])) return false;
    }
    return true;
}

}  // namespace quorvane::text
