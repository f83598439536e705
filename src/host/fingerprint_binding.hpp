// The binding of statement fingerprints, part of agents.quorvane._inventory:
// fingerprint(sql_content, *, platform=None) -> Fingerprint.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "host/arguments.hpp"
#include "host/module_state.hpp"

namespace quorvane::host {

// What one load of the inventory module keeps for fingerprints.  Python
// objects are borrowed from the state's kept references.
struct FingerprintBinding {
    PyObject* record_type = nullptr;  // _fingerprint_records.Fingerprint
    PyObject* platforms = nullptr;    // platforms.PLATFORMS, for messages

    // Adds Fingerprint and FINGERPRINT_VERSION to the namespace of `state`;
    // false with the host's exception set.
    bool load(ModuleState& state);

    // The call, its arguments checked against `sig` (sql_content, then the
    // keyword-only platform).
    PyObject* call(const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const;
};

inline constexpr const char* kFingerprintDoc =
    "fingerprint(sql_content, *, platform=None)\n--\n\n"
    "The shape of one statement, its literals, spacing, comments, letter case\n"
    "and run-specific temporary names taken out, and the XXH3-64 hash of that\n"
    "template's UTF-8 bytes, as a Fingerprint record.";

}  // namespace quorvane::host
