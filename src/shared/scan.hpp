// Vector searches over a text, 16 bytes at a time, and the line-splitting
// rules built on them.
//
// Written with the compiler's portable vector extensions (SSE2 on x86-64,
// NEON on ARM), with a plain loop for the tail.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "shared/text.hpp"

namespace quorvane::text {

namespace detail {

template <CodeUnit C>
struct Lanes {
    static constexpr std::size_t kCount = 16 / sizeof(C);
    typedef C Vector __attribute__((vector_size(16)));
    typedef std::int64_t Words __attribute__((vector_size(16)));

    static Vector load(const C* p) noexcept {
        Vector v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }

    template <class M>
    static bool any(M mask) noexcept {
        Words w;
        std::memcpy(&w, &mask, sizeof w);
        return (w[0] | w[1]) != 0;
    }

    // The first lane set in a mask that has one (0 where the byte order
    // does not tell it cheaply).
    template <class M>
    static std::size_t first_lane(M mask) noexcept {
        if constexpr (std::endian::native == std::endian::little) {
            std::uint64_t w[2];
            std::memcpy(w, &mask, sizeof w);
            const std::size_t byte = w[0] != 0 ? static_cast<std::size_t>(std::countr_zero(w[0])) / 8
                                               : 8 + static_cast<std::size_t>(std::countr_zero(w[1])) / 8;
            return byte / sizeof(C);
        } else {
            return 0;
        }
    }
};

// Lane masks (all ones or zero) of the whitespace characters in v.
template <CodeUnit C>
auto space_lanes(typename Lanes<C>::Vector v) noexcept {
    auto m = ((v - C(0x09)) <= C(4)) | ((v - C(0x1C)) <= C(4)) | (v == C(0x85)) | (v == C(0xA0));
    if constexpr (sizeof(C) > 1) {
        m |= (v == C(0x1680)) | ((v - C(0x2000)) <= C(0x0A)) | ((v - C(0x2028)) <= C(1)) | (v == C(0x202F)) |
             (v == C(0x205F)) | (v == C(0x3000));
    }
    return m;
}

}  // namespace detail

// The first index i >= from at which `at_unit(p + i)` holds (for i with
// `reach` units left from i), or text.size().  `in_lanes(p + i)` tests the
// same condition for the kCount positions from i at once, one lane each (a
// lane may be set where at_unit does not hold, never the reverse); the scan
// skips whole blocks where it finds none, and goes on one by one from the
// first lane set.
template <CodeUnit C, class InLanes, class AtUnit>
[[gnu::always_inline]] inline std::size_t find_first(Text<C> text, std::size_t from, std::size_t reach, InLanes in_lanes,
                                                AtUnit at_unit) noexcept {
    using L = detail::Lanes<C>;
    const C* p = text.data();
    const std::size_t n = text.size();
    std::size_t i = from;
    while (i + L::kCount + reach - 1 <= n) {
        const auto lanes = in_lanes(p + i);
        if (L::any(lanes)) {
            i += L::first_lane(lanes);
            break;
        }
        i += L::kCount;
    }
    for (; i + reach <= n; ++i) {
        if (at_unit(p + i)) return i;
    }
    return n;
}

// Index of the first unit at or after `from` that equals `a` or `b`, or
// text.size() when there is none.
template <CodeUnit C>
std::size_t find_either(Text<C> text, std::size_t from, C a, C b) noexcept {
    using L = detail::Lanes<C>;
    return find_first(
        text, from, 1,
        [=](const C* q) {
            const typename L::Vector v = L::load(q);
            return (v == a) | (v == b);
        },
        [=](const C* q) { return *q == a || *q == b; });
}

// Index i of the first pair text[i] == a, text[i + 1] == b with i >= from,
// or text.size().
template <CodeUnit C>
std::size_t find_pair(Text<C> text, std::size_t from, C a, C b) noexcept {
    using L = detail::Lanes<C>;
    return find_first(
        text, from, 2, [=](const C* q) { return (L::load(q) == a) & (L::load(q + 1) == b); },
        [=](const C* q) { return q[0] == a && q[1] == b; });
}

// Index of the first unit at or after `from` that equals `a`, or text.size().
template <CodeUnit C>
std::size_t find_unit(Text<C> text, std::size_t from, C a) noexcept {
    if constexpr (sizeof(C) == 1) {
        if (from >= text.size()) return text.size();
        const void* hit = std::memchr(text.data() + from, a, text.size() - from);
        return hit ? static_cast<std::size_t>(static_cast<const C*>(hit) - text.data()) : text.size();
    } else {
        return find_either(text, from, a, a);
    }
}

// Index of the first line break (see is_line_break) at or after `from`, or
// text.size().
template <CodeUnit C>
std::size_t find_line_break(Text<C> text, std::size_t from) noexcept {
    using L = detail::Lanes<C>;
    return find_first(
        text, from, 1,
        [](const C* q) {
            const typename L::Vector v = L::load(q);
            auto hit = ((v - C(0x0A)) <= C(3)) | ((v - C(0x1C)) <= C(2)) | (v == C(0x85));
            if constexpr (sizeof(C) > 1) hit |= ((v - C(0x2028)) <= C(1));
            return hit;
        },
        [](const C* q) { return is_line_break(*q); });
}

// Number of maximal runs of non-whitespace characters (the words of the
// host's str.split()): the characters that are not whitespace and follow
// whitespace or the start of the text.
template <CodeUnit C>
std::size_t count_words(Text<C> text) noexcept {
    using L = detail::Lanes<C>;
    const C* p = text.data();
    const std::size_t n = text.size();
    if (n == 0) return 0;
    std::size_t count = !unit_is_space(p[0]);
    std::size_t i = 1;
    // Each block is compared with the block one character earlier, so no
    // lane needs its neighbour's value; lane counters are flushed before
    // they can overflow.
    while (i + L::kCount <= n) {
        decltype(detail::space_lanes<C>(typename L::Vector{})) acc{};
        const std::size_t blocks = std::min<std::size_t>((n - i) / L::kCount, sizeof(C) == 1 ? 255 : 65535);
        for (std::size_t b = 0; b < blocks; ++b, i += L::kCount) {
            acc -= ~detail::space_lanes<C>(L::load(p + i)) & detail::space_lanes<C>(L::load(p + i - 1));
        }
        using Lane = std::make_unsigned_t<std::remove_cvref_t<decltype(acc[0])>>;
        for (std::size_t k = 0; k < L::kCount; ++k) count += static_cast<Lane>(acc[k]);
    }
    for (; i < n; ++i) count += !unit_is_space(p[i]) && unit_is_space(p[i - 1]);
    return count;
}

// Calls `on_line(begin, end)` for every line of `text`, in order, with the
// break excluded.  A break at the very end adds no empty line; an empty text
// has no lines.  Returns the number of lines.
template <CodeUnit C, class F>
std::size_t for_each_line(Text<C> text, F&& on_line) {
    const std::size_t n = text.size();
    std::size_t count = 0;
    std::size_t begin = 0;
    while (begin < n) {
        std::size_t i = find_line_break(text, begin);
        on_line(begin, i);
        ++count;
        if (i == n) break;
        if (text[i] == 0x0D && i + 1 < n && text[i + 1] == 0x0A) ++i;
        begin = i + 1;
    }
    return count;
}

// Number of lines that are not empty after trimming whitespace.  Since every
// line break is whitespace, a line counts exactly when it holds a character
// outside the whitespace set.  (A CR LF pair may be taken as two breaks
// here: the "line" between them is empty.)
template <CodeUnit C>
std::size_t count_nonblank_lines(Text<C> text) noexcept {
    const std::size_t n = text.size();
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < n) {
        // At the start of a line: skip its leading whitespace.
        while (i < n && is_space(text[i]) && !is_line_break(text[i])) ++i;
        if (i == n) break;
        if (!is_line_break(text[i])) {
            ++count;
            i = find_line_break(text, i + 1);
            if (i == n) break;
        }
        ++i;  // past the break
    }
    return count;
}

}  // namespace quorvane::text
