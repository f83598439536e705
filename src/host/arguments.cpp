#include "host/arguments.hpp"

#include <algorithm>

#include "host/strings.hpp"

namespace quorvane::host {

namespace {

// The names of a list up to its first null.
std::size_t listed(const Signature::Names& names) {
    return static_cast<std::size_t>(std::find(names.begin(), names.end(), nullptr) - names.begin());
}

}  // namespace

BoundSignature::BoundSignature(const Signature& sig)
    : func_(sig.name), npos_(listed(sig.positional)), kwonly_required_(sig.kwonly_required) {
    const std::size_t nkw = listed(sig.kwonly);
    names_.reserve(npos_ + nkw);
    for (std::size_t i = 0; i < npos_; ++i) names_.emplace_back(intern(sig.positional[i]));
    for (std::size_t i = 0; i < nkw; ++i) names_.emplace_back(intern(sig.kwonly[i]));
    ok_ = std::all_of(names_.begin(), names_.end(), [](const Ref& p) { return static_cast<bool>(p); });
}

namespace {

void wrong_count(const char* func, std::size_t expected, std::size_t given) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", func,
                 "exactly", static_cast<Py_ssize_t>(expected), expected == 1 ? "" : "s",
                 static_cast<Py_ssize_t>(given));
}

// Equality of a parameter name and a keyword: 1, 0, or -1 with an error set.
int same_name(PyObject* name, PyObject* key) {
    if (name == key) return 1;
    if (!PyUnicode_Check(key)) return 0;
    const int cmp = PyUnicode_Compare(name, key);
    if (cmp == -1 && PyErr_Occurred()) return -1;
    return cmp == 0;
}

}  // namespace

Py_ssize_t BoundSignature::find(std::size_t from, std::size_t to, PyObject* key) const {
    for (std::size_t i = from; i < to; ++i) {
        if (names_[i].get() == key) return static_cast<Py_ssize_t>(i);
    }
    for (std::size_t i = from; i < to; ++i) {
        const int eq = same_name(names_[i].get(), key);
        if (eq < 0) return -2;
        if (eq) return static_cast<Py_ssize_t>(i);
    }
    return -1;
}

Py_ssize_t BoundSignature::find_keyword(PyObject* kwnames, PyObject* name) {
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        if (PyTuple_GET_ITEM(kwnames, k) == name) return k;
    }
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        const int eq = same_name(name, PyTuple_GET_ITEM(kwnames, k));
        if (eq < 0) return -2;
        if (eq) return k;
    }
    return -1;
}

bool BoundSignature::parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** values) const {
    const std::size_t total = names_.size();
    const auto given = static_cast<std::size_t>(nargs);
    std::fill(values, values + total, nullptr);
    if (given > npos_) {
        wrong_count(func_, npos_, given);
        return false;
    }
    std::copy(args, args + nargs, values);
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw == 0) {
        if (given != npos_) {
            wrong_count(func_, npos_, given);
            return false;
        }
        if (kwonly_required_ > 0) {
            PyErr_Format(PyExc_TypeError, "%s() needs keyword-only argument %U", func_, names_[npos_].get());
            return false;
        }
        return true;
    }

    // Parameters not given by position, looked up by name in order.
    PyObject* const* kwvalues = args + nargs;
    Py_ssize_t matched = 0;
    for (std::size_t i = given; i < total; ++i) {
        const Py_ssize_t k = find_keyword(kwnames, names_[i].get());
        if (k == -2) return false;
        if (k >= 0) {
            values[i] = kwvalues[k];
            ++matched;
        } else if (i < npos_) {
            wrong_count(func_, npos_, i);
            return false;
        } else if (i < npos_ + kwonly_required_) {
            PyErr_Format(PyExc_TypeError, "%s() needs keyword-only argument %U", func_, names_[i].get());
            return false;
        }
    }
    if (matched == nkw) return true;

    // Some keyword names no parameter left to fill: the first, in call order.
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", func_);
            return false;
        }
        const Py_ssize_t idx = find(given, total, key);
        if (idx == -2) return false;
        if (idx >= 0) continue;
        const Py_ssize_t dup = find(0, given, key);
        if (dup == -2) return false;
        if (dup >= 0) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", func_, key);
        } else {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", func_, key);
        }
        return false;
    }
    return true;  // not reached: some keyword was left over
}

bool check_exact(PyObject* obj, PyTypeObject* type, const char* name) {
    if (Py_TYPE(obj) == type) return true;
    const bool subclass = PyObject_TypeCheck(obj, type);
    Ref note(PyUnicode_FromString(
        subclass ? "Note that subclasses of built-in types are deliberately rejected: convert the "
                   "argument to the exact built-in type first."
                 : ""));
    if (!note) return false;
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)%s%U",
                 name, type->tp_name, Py_TYPE(obj)->tp_name, subclass ? ". " : "", note.get());
    return false;
}

bool check_text(PyObject* obj, const char* name) {
    return check_exact(obj, &PyUnicode_Type, name) && ready(obj);
}

}  // namespace quorvane::host
