// The one guard every entry point from the interpreter runs its body in: no
// C++ exception ever reaches the interpreter, and running out of memory,
// wherever it happens, is the host's MemoryError.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace quorvane::host {

// The unwinding that ends a thread (the host ends a thread that wakes up to
// take the interpreter lock after the interpreter has been finalised): it
// must pass through every guard, or the C library aborts the process.
#if defined(__GLIBCXX__)
#define QUORVANE_PASS_THREAD_EXIT \
    catch (abi::__forced_unwind&) { throw; }
#else
#define QUORVANE_PASS_THREAD_EXIT
#endif

// Sets the host's exception for the C++ exception being handled: MemoryError
// for std::bad_alloc and for the regex engine running out of memory,
// RuntimeError with the exception's text for anything else (engine errors
// included).  Call only inside a catch block.
void set_error_from_current_exception() noexcept;

// f() -> PyObject* (null with the host's exception set on failure); a C++
// exception from f becomes the host's exception and null.  (Not noexcept:
// only the end of a thread may pass, see above.)
template <class F>
PyObject* guarded(F&& f) {
    try {
        return std::forward<F>(f)();
    }
    QUORVANE_PASS_THREAD_EXIT
    catch (...) {
        set_error_from_current_exception();
        return nullptr;
    }
}

// f() -> bool (false with the host's exception set); the same guard, as a
// status: 0, or -1 with the host's exception set.
template <class F>
int guarded_status(F&& f) {
    try {
        if (std::forward<F>(f)()) return 0;
    }
    QUORVANE_PASS_THREAD_EXIT
    catch (...) {
        set_error_from_current_exception();
        return -1;
    }
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "operation failed without an exception");
    return -1;
}

}  // namespace quorvane::host
