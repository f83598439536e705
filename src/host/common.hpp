// The binding of the C++ cores to the Python host: argument parsing with the
// host's messages, exact type tests, views of host strings in their own
// storage, frozen record types, structured log events and error translation.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "host/ref.hpp"
#include "shared/text.hpp"

namespace quorvane::host {

// ---------------------------------------------------------------------------
// Strings

// Calls f(text::Text<C>) on a host string in its own storage kind.
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

// A new host string made of the pieces [begin, end) of `source`, with
// `separator` (ASCII) between neighbours.  Built in the narrowest storage
// kind its characters allow, as every host string must be.
PyObject* join_pieces(PyObject* source, std::span<const std::pair<std::size_t, std::size_t>> pieces,
                      std::string_view separator);

// A new host string from ASCII text.
PyObject* ascii_string(std::string_view s);

// ---------------------------------------------------------------------------
// Arguments

// A function's parameters as the call boundary sees them: positional-or-
// keyword parameters, then keyword-only ones (the first `kwonly_required` of
// which are required; the others take `kwonly_defaults`).
struct Signature {
    const char* name;
    std::initializer_list<const char*> positional;
    std::initializer_list<const char*> kwonly = {};
    std::size_t kwonly_required = 0;
};

// Interned names of a Signature's parameters, made once at module load.
class BoundSignature {
   public:
    explicit BoundSignature(const Signature& sig);
    bool ok() const noexcept { return ok_; }

    // Fills values[0 .. positional + kwonly) with borrowed references (null
    // for an optional keyword-only argument not given) from a vectorcall.
    // On a bad call sets the host's TypeError and returns false:
    //   "%.200s() takes %.8s %zd positional argument%.1s (%zd given)"
    //   "%s() got an unexpected keyword argument '%U'"
    //   "%s() got multiple values for keyword argument '%U'"
    //   "%s() needs keyword-only argument %U"
    // Keywords are read in call order; the first problem is reported.
    bool parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** values) const;

    std::size_t size() const noexcept { return names_.size(); }

   private:
    const char* func_;
    std::size_t npos_;
    std::size_t kwonly_required_;
    std::vector<PyObject*> names_;  // interned, owned for the process
    bool ok_ = true;
};

// Exactly `type` (no subclass, no None), or the host's TypeError
// "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)%s%U".
bool check_exact(PyObject* obj, PyTypeObject* type, const char* name);

// ---------------------------------------------------------------------------
// Records

// A frozen record type: fields in declaration order, construction by
// position or keyword with the messages of a Python __init__, equality and
// hash over the fields as a tuple, "Name(field=repr, ...)" as its text form,
// the host's FrozenInstanceError on assignment or deletion, pickling and
// copying through __reduce__, and __match_args__.
struct RecordSpec {
    const char* qualified_name;      // "agents.quorvane.complexity.ComplexityResult"
    const char* doc;                 // starts with the text signature
    std::vector<const char*> fields;
    std::vector<PyGetSetDef> properties;  // extra read-only properties, null-terminated by us
};

PyTypeObject* make_record_type(const RecordSpec& record);

// A new record from its field values (borrowed; the record takes its own
// references).
PyObject* new_record(PyTypeObject* type, PyObject* const* values);

// Field `i` of a record of any record type (borrowed).
PyObject* record_field(PyObject* record, std::size_t i);

// Adds a function to a type's namespace that binds to instances the way a
// Python function does: obj.method(x) calls the function with (obj, x), and
// the argument count in its messages includes `self`.
bool add_function_method(PyTypeObject* type, PyMethodDef* def);

// ---------------------------------------------------------------------------
// Modules

// Adds `owned` to the module as `name`, taking the reference either way;
// false (with the exception set) when `owned` is null or adding fails.
bool add_object(PyObject* module, const char* name, PyObject* owned);

// The init function of a single-phase module whose load builds a State: the
// state is reachable through `slot` while `init` runs and stays published
// only if the whole load succeeds, so a failed load leaves nothing half made
// and a later import starts afresh.  The module is loaded once per process.
template <class State>
PyObject* create_module(PyModuleDef* def, State*& slot, bool (*init)(PyObject*)) {
    if (slot) {
        PyErr_Format(PyExc_ImportError, "%s cannot be loaded twice in one process", def->m_name);
        return nullptr;
    }
    auto state = std::make_unique<State>();
    slot = state.get();
    Ref module(PyModule_Create(def));
    if (!module || !init(module.get())) {
        slot = nullptr;
        return nullptr;
    }
    state.release();  // lives as long as the process
    return module.release();
}

// ---------------------------------------------------------------------------
// Logging

// Emits `event` at debug level through the module's current `logger`
// attribute (looked up at each call, so a replaced logger is obeyed):
// logger.debug(event, name0=value0, ...), names from `kwnames`, in order.
bool emit_debug(PyObject* module, PyObject* event, PyObject* kwnames,
                std::initializer_list<PyObject*> values);

// ---------------------------------------------------------------------------
// Errors and threads

// Sets the host exception for a C++ exception (MemoryError for bad_alloc,
// RuntimeError for anything else, engine errors included).
void set_error(std::exception_ptr error);

// Texts shorter than this are scanned without releasing the interpreter
// lock: their scan costs less than handing the lock over to another thread
// and waking up to take it back (measured on a batch of corpus files with
// two threads: 1,024 scaled worse than 4,096).
inline constexpr std::size_t kReleaseThreshold = 4096;

// Runs f(), with the interpreter lock released when `release` is true (the
// arguments f reads are immutable host objects kept alive by the caller).
// A C++ exception from f becomes the host's exception; returns false then.
template <class F>
bool run_core(bool release, F&& f) {
    std::exception_ptr error;
    if (release) {
        Py_BEGIN_ALLOW_THREADS
        try {
            f();
        } catch (...) {
            error = std::current_exception();
        }
        Py_END_ALLOW_THREADS
    } else {
        try {
            f();
        } catch (...) {
            error = std::current_exception();
        }
    }
    if (error) {
        set_error(error);
        return false;
    }
    return true;
}

}  // namespace quorvane::host
