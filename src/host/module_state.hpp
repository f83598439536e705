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
//     PyObject* f(State& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
//     PyMethodDef kFunctions[] = {function<State, f>("f", "f(x)\n--\n\n..."), {}};
//     PyModuleDef kModule = module_def<State>("agents.quorvane._m");
//     PyMODINIT_FUNC PyInit__m() { return PyModuleDef_Init(&kModule); }
//
// where State::load calls add_functions(kFunctions) where the functions
// belong in the namespace.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <vector>

#include "host/errors.hpp"
#include "host/ref.hpp"

namespace quorvane::host {

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
    // module's __name__.
    PyObject* new_function(PyMethodDef* def);

    // Adds new function objects for defs (ending at a null name) to the
    // namespace, in order.
    bool add_functions(PyMethodDef* defs);

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

template <class State, PyObject* (*F)(State&, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* entry(PyObject* holder, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    ModuleState* state = state_in(holder);
    if (!state) return nullptr;
    return guarded([&] { return F(static_cast<State&>(*state), args, nargs, kwnames); });
}

}  // namespace detail

// The definition of a function of a module with state; the function runs in
// the entry guard (see errors.hpp).
template <class State, PyObject* (*F)(State&, PyObject* const*, Py_ssize_t, PyObject*)>
PyMethodDef function(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&detail::entry<State, F>)),
            METH_FASTCALL | METH_KEYWORDS, doc};
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
