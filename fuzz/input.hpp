// Turning fuzzer bytes into texts of every storage width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "shared/text.hpp"

namespace quorvane::fuzz {

// The first byte picks the width (1, 2 or 4 bytes per character); the rest
// are the characters, little-endian, four-byte ones folded below 0x110000.
struct Input {
    int width = 1;
    std::vector<std::uint8_t> u8;
    std::vector<std::uint16_t> u16;
    std::vector<std::uint32_t> u32;

    Input(const std::uint8_t* data, std::size_t size) {
        if (size == 0) return;
        width = 1 << (data[0] % 3);
        ++data;
        --size;
        if (width == 1) {
            u8.assign(data, data + size);
        } else if (width == 2) {
            u16.resize(size / 2);
            if (!u16.empty()) std::memcpy(u16.data(), data, u16.size() * 2);
        } else {
            u32.resize(size / 4);
            if (!u32.empty()) std::memcpy(u32.data(), data, u32.size() * 4);
            for (auto& c : u32) c %= 0x110000;
        }
    }

    // Calls f(text::Text<C>) on the text in its width.
    template <class F>
    void visit(F&& f) const {
        if (width == 1) f(text::Text<std::uint8_t>(u8.data(), u8.size()));
        else if (width == 2) f(text::Text<std::uint16_t>(u16.data(), u16.size()));
        else f(text::Text<std::uint32_t>(u32.data(), u32.size()));
    }
};

}  // namespace quorvane::fuzz

#define FUZZ_CHECK(cond)                                                          \
    do {                                                                          \
        if (!(cond)) {                                                            \
            __builtin_printf("check failed: %s at %s:%d\n", #cond, __FILE__, __LINE__); \
            __builtin_trap();                                                     \
        }                                                                         \
    } while (0)
