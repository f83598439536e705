// Scanning a host string with the interpreter lock released when the scan
// is long enough to be worth it.
#pragma once

#include <chrono>
#include <exception>
#include <optional>
#include <thread>

#include "host/errors.hpp"
#include "host/strings.hpp"

namespace quorvane::host {

// Texts shorter than this are scanned without releasing the interpreter
// lock: their scan costs less than handing the lock over to another thread
// and waking up to take it back (measured on a batch of corpus files with
// two threads: 1,024 scaled worse than 4,096).
inline constexpr Py_ssize_t kReleaseThreshold = 4096;

// Takes the interpreter lock back after a scan.  A thread that wakes up after
// the interpreter has been finalised is ended by the host with an unwinding
// of its stack, which would run this call's destructors (owned host
// references among them) without the lock.  Such a thread is parked for good
// instead: the process is exiting, and nothing waits for it.
inline void reacquire(PyThreadState* saved) {
#if defined(__GLIBCXX__)
    try {
        PyEval_RestoreThread(saved);
    } catch (abi::__forced_unwind&) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
#else
    PyEval_RestoreThread(saved);
#endif
}

// f() with the interpreter lock released (f must touch no host object but
// immutable ones the caller keeps alive).  A C++ exception from f is
// rethrown once the lock is held again, for the entry point's guard.
template <class F>
auto unlocked(F&& f) {
    std::optional<decltype(f())> result;
    std::exception_ptr error;
    PyThreadState* saved = PyEval_SaveThread();
    try {
        result.emplace(f());
    }
    QUORVANE_PASS_THREAD_EXIT
    catch (...) {
        error = std::current_exception();
    }
    reacquire(saved);
    if (error) std::rethrow_exception(error);
    return std::move(*result);
}

// f(text::Text<C>) on a ready host string in its own storage kind, with the
// interpreter lock released for a string of kReleaseThreshold characters or
// more (f must touch no host object but the string, which is immutable and
// kept alive by the caller).  A C++ exception from f is rethrown as by
// unlocked().
template <class F>
auto scan(PyObject* str, F&& f) {
    if (PyUnicode_GET_LENGTH(str) < kReleaseThreshold) return with_text(str, f);
    return unlocked([&] { return with_text(str, f); });
}

}  // namespace quorvane::host
