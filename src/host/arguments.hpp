// Arguments at the call boundary, checked and reported as the host's
// compiled functions do.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <vector>

#include "host/ref.hpp"

namespace quorvane::host {

// A function's parameters as the call boundary sees them: positional-or-
// keyword parameters, then keyword-only ones (the first `kwonly_required` of
// which are required; the others are optional).  Each list ends at its
// first null (a literal list of up to kMaxParameters names), so that a
// signature can be a value in a function's method-table row.
struct Signature {
    static constexpr std::size_t kMaxParameters = 4;
    using Names = std::array<const char*, kMaxParameters>;

    const char* name;
    Names positional{};
    Names kwonly{};
    std::size_t kwonly_required = 0;
};

// A Signature with its parameter names interned, made once per module load.
class BoundSignature {
   public:
    // Check ok() afterwards: false with the host's exception set when the
    // names could not be made.
    explicit BoundSignature(const Signature& sig);
    bool ok() const noexcept { return ok_; }

    // Fills values[0 .. positional + kwonly) with borrowed references (null
    // for an optional keyword-only argument not given) from a vectorcall.
    // On a bad call sets the host's TypeError and returns false, reporting,
    // in this order: too many positional arguments; the first missing
    // positional parameter, as
    //   "%.200s() takes %.8s %zd positional argument%.1s (%zd given)"
    // counting those before it as given; the first missing required
    // keyword-only parameter, as "%s() needs keyword-only argument %U"; and
    // only then, in call order, a keyword that names no parameter
    //   "%s() got an unexpected keyword argument '%U'"
    // or one already given by position
    //   "%s() got multiple values for keyword argument '%U'".
    bool parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** values) const;

   private:
    // Index of keyword `key` among names_[from, to): -1 none, -2 error set.
    Py_ssize_t find(std::size_t from, std::size_t to, PyObject* key) const;
    // Index in `kwnames` of parameter `name`: -1 none, -2 error set.
    static Py_ssize_t find_keyword(PyObject* kwnames, PyObject* name);

    const char* func_;
    std::size_t npos_;
    std::size_t kwonly_required_;
    std::vector<Ref> names_;
    bool ok_ = true;
};

// Exactly `type` (no subclass, no None), or the host's TypeError
// "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)%s%U".
bool check_exact(PyObject* obj, PyTypeObject* type, const char* name);

// Exactly a host string (as check_exact), made ready to be read.
bool check_text(PyObject* obj, const char* name);

}  // namespace quorvane::host
