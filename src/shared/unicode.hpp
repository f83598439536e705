// Character properties and case mapping as the host's `str` defines them
// (Unicode 14.0): word characters, and the default lower-case mapping of
// `str.lower()`, final sigma included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "shared/text.hpp"

namespace quorvane::unicode {

// A letter or number of any script (general categories L and N), or "_".
bool is_word(std::uint32_t c) noexcept;

// Appends the lower-case form of text[begin, end) to `out`, exactly as the
// host's `str.lower()`: full mappings (U+0130 becomes two code points) and
// the final-sigma rule for U+03A3, whose context is the whole of `text`
// within [begin, end).
template <text::CodeUnit C>
void append_lower(text::Text<C> text, std::size_t begin, std::size_t end, std::u32string& out);

}  // namespace quorvane::unicode
