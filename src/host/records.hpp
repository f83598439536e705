// Frozen dataclass records made from native code without running their
// generated __init__.
//
// A frozen dataclass's __init__ stores each field through
// object.__setattr__, in interpreted code; for records made by the
// thousand (one per object, column and parameter of a script) that call
// costs more than the scan that found them.  Here the instance is made by
// the type's own tp_new and each field is stored by the same generic
// attribute store, so the record is the one __init__ would have made.  It
// holds only for dataclasses without __post_init__ or field converters,
// which load() checks.
#pragma once

#include "host/module_state.hpp"
#include "host/ref.hpp"

namespace quorvane::host {

class RecordType {
   public:
    // Binds the dataclass `name` of `module` with exactly `fields` fields;
    // false with the host's exception set otherwise.
    bool load(ModuleState& state, PyObject* module, const char* name, Py_ssize_t fields) {
        type_ = state.keep(PyObject_GetAttrString(module, name));
        if (!type_) return false;
        names_ = state.keep(PyObject_GetAttrString(type_, "__match_args__"));
        if (!names_) return false;
        if (!PyType_Check(type_) || !PyTuple_Check(names_) || PyTuple_GET_SIZE(names_) != fields ||
            PyObject_HasAttrString(type_, "__post_init__")) {
            PyErr_Format(PyExc_TypeError, "%s is not a plain dataclass of %zd fields", name, fields);
            return false;
        }
        empty_ = state.keep(PyTuple_New(0));
        return empty_ != nullptr;
    }

    PyObject* type() const noexcept { return type_; }

    // A new record of `values` (borrowed; as many as the type has fields),
    // or null with the host's exception set.
    PyObject* make(PyObject* const* values) const {
        auto* tp = reinterpret_cast<PyTypeObject*>(type_);
        Ref obj(tp->tp_new(tp, empty_, nullptr));
        if (!obj) return nullptr;
        const Py_ssize_t n = PyTuple_GET_SIZE(names_);
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (PyObject_GenericSetAttr(obj.get(), PyTuple_GET_ITEM(names_, i), values[i]) < 0) return nullptr;
        }
        return obj.release();
    }

   private:
    PyObject* type_ = nullptr;   // borrowed from the state's kept references
    PyObject* names_ = nullptr;  // the field names, in order
    PyObject* empty_ = nullptr;  // ()
};

}  // namespace quorvane::host
