// One load of a module of the package and the state its functions use.
//
// Each module of the package is a small Python module whose body hands its
// namespace to its native part:
//
//     from agents.quorvane import _complexity as _native
//     _native.load(globals())
//
// and every such load (the first import in an interpreter, an import after
// the module left sys.modules, importlib.reload) builds a new State: it
// fills the namespace (tables, logger, types) and publishes functions bound
// to that state, so each module object's functions use that module's own
// tables and `logger`, and nothing is shared between interpreters.  (An
// extension module cannot be that module itself: the host runs an extension
// module's initialisation once per module object, and reload never again.)
// The state lives in a small holder object that the functions are bound to;
// the collector sees the objects it keeps.
//
// A native part:
//
//     struct State : ModuleState {
//         bool load();   // fills globals(); false with the host's exception
//         ...
//     };
//     PyObject* f(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
//                 PyObject* kwnames);
//     FunctionRow kFunctions[] = {function<State, f>({"f", {"x"}}, "f(x)\n--\n\n..."), {}};
//     PyModuleDef kModule = module_def<State>("agents.quorvane._m");
//     PyMODINIT_FUNC PyInit__m() { return PyModuleDef_Init(&kModule); }
//
// where State::load calls add_functions(kFunctions) where the functions
// belong in the namespace.  Each row declares a function's parameters
// beside its name and documentation; the load binds them once (interned
// names), and every call is checked against them with the host's own
// argument-error messages (arguments.hpp) before the body runs.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <utility>
#include <vector>

#include "host/arguments.hpp"
#include "host/errors.hpp"
#include "host/ref.hpp"

namespace quorvane::host {

// One row of a module's function table: the function's definition and its
// parameters, declared together (made by function<State, F>() below).
struct FunctionRow {
    PyMethodDef def;
    Signature signature;
};

class ModuleState {
   public:
    ModuleState() = default;
    ModuleState(const ModuleState&) = delete;
    ModuleState& operator=(const ModuleState&) = delete;
    virtual ~ModuleState();

    // The namespace of the module this state was loaded into (borrowed).
    PyObject* globals() const noexcept { return globals_; }

    // Keeps an owned reference for the life of the state and returns it,
    // borrowed; null passes through (the host's exception stays set).
    PyObject* keep(PyObject* owned);

    // A new function object bound to this state, its __module__ the
    // module's __name__, with its row's signature bound.
    PyObject* new_function(FunctionRow* row);

    // Adds new function objects for rows (ending at a null name) to the
    // namespace, in order.
    bool add_functions(FunctionRow* rows);

    // The bound signature of the function whose entry point is `entry`, or
    // null when no row of this state has it.
    const BoundSignature* signature_of(PyCFunction entry) const noexcept;

    // Adds `owned` to the namespace as `name`, taking the reference either way;
    // false (with the host's exception set) when `owned` is null or adding
    // fails.
    bool add_object(const char* name, PyObject* owned);

    // Internal to the holder.
    int traverse(visitproc visit, void* arg);
    void clear() noexcept;
    void attach(PyObject* holder, PyObject* globals);

   private:
    PyObject* holder_ = nullptr;   // borrowed: the holder owns this state
    PyObject* globals_ = nullptr;  // borrowed from kept_
    std::vector<PyObject*> kept_;
    std::vector<std::pair<PyCFunction, std::unique_ptr<BoundSignature>>> signatures_;
};

namespace detail {

// A new holder object owning `state`, which it attaches to `globals`.
PyObject* new_holder(PyObject* globals, std::unique_ptr<ModuleState> state);

// The state a holder owns, or null with the host's exception set when the
// holder was cleared (its module is being torn down).
ModuleState* state_in(PyObject* holder);

// `globals` when it is a module namespace, else null with a TypeError.
bool check_globals(PyObject* globals);

template <class State>
PyObject* load(PyObject*, PyObject* globals) {
    if (!check_globals(globals)) return nullptr;
    return guarded([&]() -> PyObject* {
        auto owned = std::make_unique<State>();
        State& state = *owned;
        Ref holder(new_holder(globals, std::move(owned)));
        if (!holder || !state.load()) return nullptr;
        Py_RETURN_NONE;
    });
}

template <class State>
using Body = PyObject* (*)(State&, const BoundSignature&, PyObject* const*, Py_ssize_t, PyObject*);

template <class State, Body<State> F>
PyObject* entry(PyObject* holder, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

template <class State, Body<State> F>
PyCFunction entry_point() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<State, F>));
}

template <class State, Body<State> F>
PyObject* entry(PyObject* holder, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    ModuleState* state = state_in(holder);
    if (!state) return nullptr;
    const BoundSignature* sig = state->signature_of(entry_point<State, F>());
    if (!sig) {
        PyErr_SetString(PyExc_SystemError, "a function of the module has no bound signature");
        return nullptr;
    }
    return guarded([&] { return F(static_cast<State&>(*state), *sig, args, nargs, kwnames); });
}

}  // namespace detail

// The method-table row of a function of a module with state: its
// parameters, its documentation, and its body, which runs in the entry
// guard (see errors.hpp) with the row's bound signature.
template <class State, detail::Body<State> F>
FunctionRow function(const Signature& signature, const char* doc) {
    return {{signature.name, detail::entry_point<State, F>(), METH_FASTCALL | METH_KEYWORDS, doc}, signature};
}

// The definition of a native part whose every load(globals) builds a new
// State.  The native module itself holds nothing.
template <class State>
PyModuleDef module_def(const char* name) {
    static PyMethodDef methods[] = {
        {"load", &detail::load<State>, METH_O,
         "load(globals)\n--\n\nFills a module's namespace with a fresh load of this module."},
        {nullptr, nullptr, 0, nullptr},
    };
    static PyModuleDef_Slot slots[] = {{0, nullptr}};
    return {PyModuleDef_HEAD_INIT, name, nullptr, 0, methods, slots, nullptr, nullptr, nullptr};
}

}  // namespace quorvane::host
