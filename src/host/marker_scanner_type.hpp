// The MarkerScanner type of agents.quorvane.dialectra.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quorvane::host {

// Creates the type and adds it to a module's namespace `globals` as
// MarkerScanner; false with an exception set on failure.
bool add_marker_scanner_type(PyObject* globals);

}  // namespace quorvane::host
