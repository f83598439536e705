// UTF-8 bytes as code points, for texts that arrive as bytes (a column of a
// query log in Arrow's layout) rather than as host strings.  The bytes are
// read as the host's strict decoder reads them: a text it would refuse (an
// overlong form, an encoded surrogate, a code point past U+10FFFF, a cut or
// stray byte) is no text.  Written here rather than taken from a library:
// these few lines run once per row of a large log, and a text that is all
// ASCII (most SQL) is read in place, eight bytes at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace quorvane::text {

// True when every byte is below 0x80: the bytes are then their own
// one-byte code points.
inline bool is_ascii(std::string_view bytes) noexcept {
    const char* p = bytes.data();
    std::size_t n = bytes.size();
    std::uint64_t high = 0;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        high |= word;
    }
    for (; n > 0; ++p, --n) high |= static_cast<unsigned char>(*p);
    return (high & 0x8080808080808080ULL) == 0;
}

// Decodes `bytes` into `out` (replacing its contents) and returns the
// largest code point, or -1 when the bytes are not UTF-8.
inline std::int32_t decode_utf8(std::string_view bytes, std::vector<std::uint32_t>& out) {
    out.clear();
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    std::uint32_t largest = 0;
    while (p < end) {
        const std::uint32_t lead = *p;
        if (lead < 0x80) {
            out.push_back(lead);
            ++p;
            continue;
        }
        std::size_t more;
        std::uint32_t c;
        // The second byte's range closes out overlong forms, surrogates and
        // code points past U+10FFFF, as the Unicode standard's table does.
        unsigned char lo = 0x80, hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1, c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2, c = lead & 0x0F;
            if (lead == 0xE0) lo = 0xA0;
            if (lead == 0xED) hi = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3, c = lead & 0x07;
            if (lead == 0xF0) lo = 0x90;
            if (lead == 0xF4) hi = 0x8F;
        } else {
            return -1;
        }
        if (static_cast<std::size_t>(end - p) <= more || p[1] < lo || p[1] > hi) return -1;
        for (std::size_t k = 1; k <= more; ++k) {
            if ((p[k] & 0xC0) != 0x80) return -1;
            c = (c << 6) | (p[k] & 0x3F);
        }
        out.push_back(c);
        if (c > largest) largest = c;
        p += more + 1;
    }
    return static_cast<std::int32_t>(largest);
}

}  // namespace quorvane::text
