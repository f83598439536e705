// Publishing a table's patterns as the host's own compiled pattern objects,
// so callers can introspect them (`.pattern`, `.flags`).  They are built
// from the same rows the engine compiles and are never read back.
#pragma once

#include <span>

#include "host/ref.hpp"
#include "shared/pattern.hpp"

namespace quorvane::host {

// re.compile(row.text, row.flags) (new reference).
inline PyObject* host_pattern(PyObject* re, const text::PatternSpec& row) {
    return PyObject_CallMethod(re, "compile", "s#I", row.text.data(),
                               static_cast<Py_ssize_t>(row.text.size()), row.flags);
}

// A new list of host patterns, in table order.
template <std::size_t N>
PyObject* host_pattern_list(PyObject* re, const std::array<text::PatternSpec, N>& rows) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(N)));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < N; ++i) {
        PyObject* p = host_pattern(re, rows[i]);
        if (!p) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), p);
    }
    return list.release();
}

}  // namespace quorvane::host
