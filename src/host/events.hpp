// Structured debug events through a module's own `logger`.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <initializer_list>

#include "host/ref.hpp"

namespace quorvane::host {

class EventLog {
   public:
    // Makes the names it looks up; false with the host's exception set.
    bool load();

    // logger.debug(event, name0=value0, ...), names from `kwnames`, in
    // order, where `logger` is the module's global of that name (from its
    // namespace `globals`) looked up at each call: a replaced logger is
    // obeyed, and a deleted one is the host's NameError.
    bool debug(PyObject* globals, PyObject* event, PyObject* kwnames, std::initializer_list<PyObject*> values) const;

   private:
    Ref logger_name_;
    Ref debug_name_;
};

}  // namespace quorvane::host
