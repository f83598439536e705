// Construct locations as a Python caller sees them: a tuple of
// (line, kind, name) tuples, in the order the core found them.
#pragma once

#include <vector>

#include "host/ref.hpp"
#include "shared/locate.hpp"

namespace quorvane::host {

// A new tuple of (int, str, str) tuples.
inline PyObject* location_tuple(const std::vector<text::Location>& found) {
    Ref result(PyTuple_New(static_cast<Py_ssize_t>(found.size())));
    if (!result) return nullptr;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const text::Location& at = found[i];
        Ref line(PyLong_FromSize_t(at.line));
        Ref kind(line ? PyUnicode_FromStringAndSize(at.kind.data(), static_cast<Py_ssize_t>(at.kind.size()))
                      : nullptr);
        Ref name(kind ? PyUnicode_FromStringAndSize(at.name.data(), static_cast<Py_ssize_t>(at.name.size()))
                      : nullptr);
        if (!name) return nullptr;
        PyObject* entry = PyTuple_Pack(3, line.get(), kind.get(), name.get());
        if (!entry) return nullptr;
        PyTuple_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), entry);
    }
    return result.release();
}

}  // namespace quorvane::host
