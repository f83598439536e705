#include "host/strings.hpp"

#include <cstring>

namespace quorvane::host {

PyObject* ascii_string(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

namespace {

// The largest character the pieces need, rounded to what decides a string's
// storage: 127 (ASCII), 255, 0xFFFF or 0x10FFFF.
template <text::CodeUnit C>
Py_UCS4 storage_maxchar(text::Text<C> t, std::span<const std::pair<std::size_t, std::size_t>> pieces) {
    Py_UCS4 level = 127;
    const Py_UCS4 ceiling = sizeof(C) == 1 ? 255 : (sizeof(C) == 2 ? 0xFFFF : 0x10FFFF);
    for (const auto& [b, e] : pieces) {
        for (std::size_t i = b; i < e; ++i) {
            const Py_UCS4 c = t[i];
            if (c <= level) continue;
            level = c < 256 ? 255 : (c < 0x10000 ? 0xFFFF : 0x10FFFF);
            if (level == ceiling) return level;
        }
    }
    return level;
}

template <text::CodeUnit C, class Out>
void copy_pieces(text::Text<C> t, std::span<const std::pair<std::size_t, std::size_t>> pieces,
                 std::string_view separator, Out* out) {
    bool first = true;
    for (const auto& [b, e] : pieces) {
        if (!first) {
            for (char c : separator) *out++ = static_cast<Out>(static_cast<unsigned char>(c));
        }
        first = false;
        if constexpr (sizeof(Out) == sizeof(C)) {
            std::memcpy(out, t.data() + b, (e - b) * sizeof(C));
            out += e - b;
        } else {
            for (std::size_t i = b; i < e; ++i) *out++ = static_cast<Out>(t[i]);
        }
    }
}

}  // namespace

PyObject* join_pieces(PyObject* source, std::span<const std::pair<std::size_t, std::size_t>> pieces,
                      std::string_view separator) {
    std::size_t length = 0;
    for (const auto& [b, e] : pieces) length += e - b;
    if (!pieces.empty()) length += separator.size() * (pieces.size() - 1);
    return with_text(source, [&](auto t) -> PyObject* {
        const Py_UCS4 maxchar = PyUnicode_IS_ASCII(source) ? 127 : storage_maxchar(t, pieces);
        PyObject* result = PyUnicode_New(static_cast<Py_ssize_t>(length), maxchar);
        if (!result) return nullptr;
        void* data = PyUnicode_DATA(result);
        switch (PyUnicode_KIND(result)) {
            case PyUnicode_1BYTE_KIND: copy_pieces(t, pieces, separator, static_cast<Py_UCS1*>(data)); break;
            case PyUnicode_2BYTE_KIND: copy_pieces(t, pieces, separator, static_cast<Py_UCS2*>(data)); break;
            default: copy_pieces(t, pieces, separator, static_cast<Py_UCS4*>(data)); break;
        }
        return result;
    });
}

}  // namespace quorvane::host
