#include "host/events.hpp"

#include <vector>

namespace quorvane::host {

bool EventLog::load() {
    logger_name_.reset(intern("logger"));
    debug_name_.reset(intern("debug"));
    return logger_name_ && debug_name_;
}

namespace {

// The global `name`, then the builtin, as a module's own code finds
// it (borrowed); null with the host's NameError when neither exists.
PyObject* global(PyObject* globals, PyObject* name) {
    PyObject* value = PyDict_GetItemWithError(globals, name);
    if (value || PyErr_Occurred()) return value;
    value = PyDict_GetItemWithError(PyEval_GetBuiltins(), name);
    if (value || PyErr_Occurred()) return value;
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return nullptr;
}

}  // namespace

bool EventLog::debug(PyObject* globals, PyObject* event, PyObject* kwnames,
                     std::initializer_list<PyObject*> values) const {
    Ref logger = Ref::borrow(global(globals, logger_name_.get()));
    if (!logger) return false;
    std::vector<PyObject*> args;
    args.reserve(2 + values.size());
    args.push_back(logger.get());
    args.push_back(event);
    args.insert(args.end(), values.begin(), values.end());
    Ref result(PyObject_VectorcallMethod(debug_name_.get(), args.data(), 2, kwnames));
    return static_cast<bool>(result);
}

}  // namespace quorvane::host
