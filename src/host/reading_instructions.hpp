// The reading instructions for the agent's model, from a reading plan: one
// sentence naming the file when it is read whole, else a numbered plan of
// the first read and each section.  The wording is the complexity core's
// (complexity/instructions.hpp); this joins it with the plan's values as the
// host formats them.
#pragma once

#include <Python.h>

namespace quorvane::host {

// `self`: a FileReadingStrategy (or anything with its attributes);
// `sql_path`: a str.  A new reference, or nullptr with an exception set.
PyObject* reading_instructions(PyObject* self, PyObject* sql_path);

}  // namespace quorvane::host
