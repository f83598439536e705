// Host strings as the cores read and write them: views in their own storage
// kind, and new strings cut from them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "shared/text.hpp"

namespace quorvane::host {

// Makes a legacy string (built with the old wide-character interface and
// filled in afterwards) ready to be read in its own storage; false with the
// host's exception set when that fails.  Every string is made ready before
// it is read.
inline bool ready(PyObject* str) { return PyUnicode_READY(str) == 0; }

// Calls f(text::Text<C>) on a ready host string in its own storage kind.
template <class F>
decltype(auto) with_text(PyObject* str, F&& f) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(str);
    const void* data = PyUnicode_DATA(str);
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_1BYTE_KIND:
            return f(text::Text<std::uint8_t>(static_cast<const std::uint8_t*>(data),
                                              static_cast<std::size_t>(n)));
        case PyUnicode_2BYTE_KIND:
            return f(text::Text<std::uint16_t>(static_cast<const std::uint16_t*>(data),
                                               static_cast<std::size_t>(n)));
        default:
            return f(text::Text<std::uint32_t>(static_cast<const std::uint32_t*>(data),
                                               static_cast<std::size_t>(n)));
    }
}

// A new host string made of the pieces [begin, end) of the ready string
// `source`, with `separator` (ASCII) between neighbours.  Built in the
// narrowest storage kind its characters allow, as every host string must be.
PyObject* join_pieces(PyObject* source, std::span<const std::pair<std::size_t, std::size_t>> pieces,
                      std::string_view separator);

// A new host string from ASCII text.
PyObject* ascii_string(std::string_view s);

}  // namespace quorvane::host
