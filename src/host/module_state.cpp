#include "host/module_state.hpp"

#include <utility>

namespace quorvane::host {

ModuleState::~ModuleState() { clear(); }

PyObject* ModuleState::keep(PyObject* owned) {
    if (!owned) return nullptr;
    Ref ref(owned);
    kept_.push_back(nullptr);
    kept_.back() = ref.release();
    return owned;
}

void ModuleState::attach(PyObject* holder, PyObject* globals) {
    holder_ = holder;
    globals_ = keep(Py_NewRef(globals));
}

PyObject* ModuleState::new_function(FunctionRow* row) {
    PyObject* name = PyDict_GetItemString(globals_, "__name__");
    if (!name) {
        PyErr_SetString(PyExc_SystemError, "module namespace without __name__");
        return nullptr;
    }
    auto bound = std::make_unique<BoundSignature>(row->signature);
    if (!bound->ok()) return nullptr;
    signatures_.emplace_back(row->def.ml_meth, std::move(bound));
    return PyCFunction_NewEx(&row->def, holder_, name);
}

bool ModuleState::add_functions(FunctionRow* rows) {
    for (FunctionRow* row = rows; row->def.ml_name; ++row) {
        if (!add_object(row->def.ml_name, new_function(row))) return false;
    }
    return true;
}

const BoundSignature* ModuleState::signature_of(PyCFunction entry) const noexcept {
    for (const auto& [point, sig] : signatures_) {
        if (point == entry) return sig.get();
    }
    return nullptr;
}

bool ModuleState::add_object(const char* name, PyObject* owned) {
    if (!owned) return false;
    const int rc = PyDict_SetItemString(globals_, name, owned);
    Py_DECREF(owned);
    return rc == 0;
}

int ModuleState::traverse(visitproc visit, void* arg) {
    for (PyObject* p : kept_) Py_VISIT(p);
    return 0;
}

void ModuleState::clear() noexcept {
    globals_ = nullptr;
    // Releasing may run arbitrary code: take the list out first.
    std::vector<PyObject*> kept = std::move(kept_);
    kept_.clear();
    for (PyObject* p : kept) Py_XDECREF(p);
}

namespace detail {
namespace {

struct Holder {
    PyObject_HEAD
    ModuleState* state;
};

Holder* as_holder(PyObject* self) { return reinterpret_cast<Holder*>(self); }

int holder_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    ModuleState* state = as_holder(self)->state;
    return state ? state->traverse(visit, arg) : 0;
}

int holder_clear(PyObject* self) {
    if (ModuleState* state = as_holder(self)->state) state->clear();
    return 0;
}

void holder_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    delete std::exchange(as_holder(self)->state, nullptr);
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot kHolderSlots[] = {
    {Py_tp_traverse, reinterpret_cast<void*>(holder_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(holder_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc)},
    {0, nullptr},
};

PyType_Spec kHolderSpec = {
    "agents.quorvane._ModuleState",
    static_cast<int>(sizeof(Holder)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    kHolderSlots,
};

}  // namespace

PyObject* new_holder(PyObject* globals, std::unique_ptr<ModuleState> state) {
    // A type per load: no type object is shared between interpreters.
    Ref type(PyType_FromSpec(&kHolderSpec));
    if (!type) return nullptr;
    auto* tp = reinterpret_cast<PyTypeObject*>(type.get());
    Ref self(tp->tp_alloc(tp, 0));
    if (!self) return nullptr;
    ModuleState* s = state.release();
    as_holder(self.get())->state = s;
    s->attach(self.get(), globals);
    return self.release();
}

ModuleState* state_in(PyObject* holder) {
    ModuleState* state = as_holder(holder)->state;
    if (state && state->globals()) return state;
    PyErr_SetString(PyExc_RuntimeError, "the module of this function has been torn down");
    return nullptr;
}

bool check_globals(PyObject* globals) {
    if (PyDict_CheckExact(globals)) return true;
    PyErr_Format(PyExc_TypeError, "load() needs a module's globals(), not %.200s", Py_TYPE(globals)->tp_name);
    return false;
}

}  // namespace detail
}  // namespace quorvane::host
