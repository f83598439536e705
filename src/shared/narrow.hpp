// The narrowed form of a text: one byte per character, for the pattern
// tables to scan a two- or four-byte text as fast as a one-byte one.
//
// Characters below U+0100 stay as they are.  Every other character becomes a
// Latin-1 character of the same class as far as the tables can tell:
//   U+017F (long s) -> 's' and U+212A (Kelvin sign) -> 'k', their only
//     case-insensitive partners among the tables' literals;
//   U+2028, U+2029 (line breaks)   -> U+0085, a line break;
//   other whitespace               -> U+00A0, whitespace that breaks no line;
//   a letter or number (\w)        -> U+00AA, a letter without case partner;
//   anything else (marks, symbols, punctuation, lone surrogates)
//                                  -> U+00D7, neither word nor whitespace.
// Positions are unchanged, so a pattern for which Pattern::narrowable() holds
// finds the same matches in both forms, and lines count the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "shared/comments.hpp"
#include "shared/scan.hpp"
#include "shared/text.hpp"
#include "shared/thread_scratch.hpp"
#include "shared/unicode.hpp"

namespace quorvane::text {

constexpr std::uint8_t kNarrowLineBreak = 0x85;
constexpr std::uint8_t kNarrowSpace = 0xA0;
constexpr std::uint8_t kNarrowWord = 0xAA;
constexpr std::uint8_t kNarrowOther = 0xD7;

inline std::uint8_t narrow(std::uint32_t c) noexcept {
    if (c < 0x100) return static_cast<std::uint8_t>(c);
    if (c == 0x017F) return 's';
    if (c == 0x212A) return 'k';
    if (is_space(c)) return is_line_break(c) ? kNarrowLineBreak : kNarrowSpace;
    return unicode::is_word(c) ? kNarrowWord : kNarrowOther;
}

template <CodeUnit C>
void append_narrowed(Text<C> text, std::size_t begin, std::size_t end, std::vector<std::uint8_t>& out) {
    const std::size_t at = out.size();
    out.resize(at + (end - begin));
    std::uint8_t* dst = out.data() + at;
    std::size_t i = begin;
    if constexpr (sizeof(C) > 1) {
        // Lane by lane: characters below U+0100 as they are, whitespace above
        // it as U+00A0 or U+0085; a block holding any other character goes
        // through narrow() one character at a time.
        using L = detail::Lanes<C>;
        using V = typename L::Vector;
        typedef std::uint8_t Narrow __attribute__((vector_size(L::kCount)));
        while (i + L::kCount <= end) {
            const V v = L::load(text.data() + i);
            const V high = (V)(v > C(0xFF));
            const V breaks = (V)((v - C(0x2028)) <= C(1));
            const V spaces = (V)((v == C(0x1680)) | ((v - C(0x2000)) <= C(0x0A)) | (v == C(0x202F)) |
                                 (v == C(0x205F)) | (v == C(0x3000)));
            if (L::any(high & ~(breaks | spaces))) {
                for (std::size_t k = 0; k < L::kCount; ++k) *dst++ = narrow(text[i + k]);
            } else {
                const V mapped = (v & ~high) | (breaks & C(kNarrowLineBreak)) | (spaces & C(kNarrowSpace));
                const Narrow bytes = __builtin_convertvector(mapped, Narrow);
                std::memcpy(dst, &bytes, L::kCount);
                dst += L::kCount;
            }
            i += L::kCount;
        }
    }
    for (; i < end; ++i) *dst++ = narrow(text[i]);
}

// A buffer of the calling thread, reused from call to call: allocating and
// freeing a large block on every call maps and unmaps memory, and page
// faults on fresh memory serialise threads in the kernel.  A buffer grown
// beyond kKeptScratch is given back when the lease ends.
class ScratchLease {
   public:
    static constexpr std::size_t kKeptScratch = std::size_t{1} << 20;

    ScratchLease() : buffer_(thread_buffer()) { buffer_.clear(); }
    ~ScratchLease() {
        if (buffer_.capacity() > kKeptScratch) std::vector<std::uint8_t>().swap(buffer_);
    }
    ScratchLease(const ScratchLease&) = delete;
    ScratchLease& operator=(const ScratchLease&) = delete;

    std::vector<std::uint8_t>& buffer() noexcept { return buffer_; }

   private:
    struct Scratch {
        std::vector<std::uint8_t> buffer;
    };
    static std::vector<std::uint8_t>& thread_buffer() { return thread_scratch<Scratch>().buffer; }
    std::vector<std::uint8_t>& buffer_;
};

// The comment-free text to scan with narrowable patterns: a one-byte text as
// it is (or its stripped copy), a wider one as its narrowed stripped copy in
// `buffer`.
template <CodeUnit C>
Text<std::uint8_t> comment_free_narrow(Text<C> text, std::vector<std::uint8_t>& buffer) {
    if constexpr (sizeof(C) == 1) {
        return strip_comments(text, buffer) ? Text<std::uint8_t>(buffer.data(), buffer.size()) : text;
    } else {
        buffer.clear();
        buffer.reserve(text.size());
        for_each_kept_run(text, [&](std::size_t b, std::size_t e) { append_narrowed(text, b, e, buffer); });
        return Text<std::uint8_t>(buffer.data(), buffer.size());
    }
}

}  // namespace quorvane::text
