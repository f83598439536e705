// Owned references to host objects, and interned names.  Header-only, so
// every extension module can use it whatever else it links.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <initializer_list>
#include <utility>

namespace quorvane::host {

// An owned reference, released on destruction.
class Ref {
   public:
    Ref() = default;
    explicit Ref(PyObject* owned) noexcept : p_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    void reset(PyObject* owned = nullptr) noexcept {
        Py_XDECREF(std::exchange(p_, owned));
    }
    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

   private:
    PyObject* p_ = nullptr;
};

// The interned string for a C string (new reference).
inline PyObject* intern(const char* s) { return PyUnicode_InternFromString(s); }

// A tuple of interned names (new reference).
inline PyObject* name_tuple(std::initializer_list<const char*> names) {
    Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    if (!tuple) return nullptr;
    Py_ssize_t i = 0;
    for (const char* n : names) {
        PyObject* s = intern(n);
        if (!s) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), i++, s);
    }
    return tuple.release();
}

}  // namespace quorvane::host
