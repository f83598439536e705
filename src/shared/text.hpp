// Text rules shared by every module: the character type of a scanned text,
// the whitespace set, line breaks, line splitting, trimming and word counting.
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

// Calls `on_line(begin, end)` for every line of `text`, in order, with the
// break excluded.  A break at the very end adds no empty line; an empty text
// has no lines.  Returns the number of lines.
template <CodeUnit C, class F>
std::size_t for_each_line(Text<C> text, F&& on_line) {
    const std::size_t n = text.size();
    std::size_t count = 0;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t c = text[i];
        if (c > 0x0D && c < 0x1C) continue;  // fast path for most characters
        if (!is_line_break(c)) continue;
        on_line(begin, i);
        ++count;
        if (c == 0x0D && i + 1 < n && text[i + 1] == 0x0A) ++i;
        begin = i + 1;
    }
    if (begin < n) {
        on_line(begin, n);
        ++count;
    }
    return count;
}

// The part of text[begin, end) left after removing leading and trailing
// whitespace.
template <CodeUnit C>
constexpr std::pair<std::size_t, std::size_t> trim(Text<C> text, std::size_t begin,
                                                   std::size_t end) noexcept {
    while (begin < end && is_space(text[begin])) ++begin;
    while (end > begin && is_space(text[end - 1])) --end;
    return {begin, end};
}

// Number of lines that are not empty after trimming whitespace.  Since every
// line break is whitespace, a line counts exactly when it holds a character
// outside the whitespace set.
template <CodeUnit C>
std::size_t count_nonblank_lines(Text<C> text) noexcept {
    std::size_t count = 0;
    bool pending = false;  // the current line has a non-whitespace character
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t c = text[i];
        if (!is_space(c)) {
            pending = true;
            continue;
        }
        if (!is_line_break(c)) continue;
        count += pending;
        pending = false;
        if (c == 0x0D && i + 1 < n && text[i + 1] == 0x0A) ++i;
    }
    return count + pending;
}

// Number of maximal runs of non-whitespace characters.
template <CodeUnit C>
std::size_t count_words(Text<C> text) noexcept {
    std::size_t count = 0;
    bool in_word = false;
    for (const C unit : text) {
        const bool space = is_space(unit);
        count += (!space && !in_word);
        in_word = !space;
    }
    return count;
}

// ASCII-case-insensitive test of text[at, at + word.size()) against a
// lower-case ASCII word, under Unicode simple case folding: besides the ASCII
// pair, U+017F LATIN SMALL LETTER LONG S folds to 's' and U+212A KELVIN SIGN
// to 'k'.  No other character folds onto an ASCII letter.
constexpr bool folds_to_ascii_letter(std::uint32_t c, char lower) noexcept {
    if (c < 0x80) return (c | 0x20) == static_cast<std::uint32_t>(lower) && lower >= 'a' && lower <= 'z';
    return (lower == 's' && c == 0x017F) || (lower == 'k' && c == 0x212A);
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
