// The binding of statement fingerprints, part of agents.quorvane._inventory:
// fingerprint(sql_content, *, platform=None) -> Fingerprint, and
// fingerprint_many(texts, *, platform=None) -> FingerprintBatch, the same
// for a whole batch of a query log in one call (a list of str, or an Arrow
// string column read in place).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

#include "host/arguments.hpp"
#include "host/module_state.hpp"
#include "inventory/dialects.hpp"

namespace quorvane::host {

// What one load of the inventory module keeps for fingerprints.  Python
// objects are borrowed from the state's kept references.
struct FingerprintBinding {
    PyObject* record_type = nullptr;  // _fingerprint_records.Fingerprint
    PyObject* batch_type = nullptr;   // _fingerprint_records.FingerprintBatch
    PyObject* platforms = nullptr;    // platforms.PLATFORMS, for messages

    // What a batch says of each of its rows: the values of FingerprintBatch's
    // WHOLE, UNTERMINATED, BLANK and NOT_TEXT (checked as the module loads).
    enum RowFlag : std::uint8_t { kWhole = 0, kUnterminated = 1, kBlank = 2, kNotText = 3 };

    // Adds Fingerprint, FingerprintBatch and FINGERPRINT_VERSION to the
    // namespace of `state`; false with the host's exception set.
    bool load(ModuleState& state);

    // The calls, their arguments checked against `sig` (sql_content or
    // texts, then the keyword-only platform).
    PyObject* call(const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const;
    PyObject* call_many(const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const;

   private:
    // The dialect of a platform argument (None: every dialect's rules); null
    // with the host's exception set when it names no platform.
    const inventory::DialectRules* dialect(PyObject* platform) const;
};

inline constexpr const char* kFingerprintDoc =
    "fingerprint(sql_content, *, platform=None)\n--\n\n"
    "The shape of one statement, its literals, spacing, comments, letter case\n"
    "and run-specific temporary names taken out, and the XXH3-64 hash of that\n"
    "template's UTF-8 bytes, as a Fingerprint record.";

inline constexpr const char* kFingerprintManyDoc =
    "fingerprint_many(texts, *, platform=None)\n--\n\n"
    "fingerprint() of every str in `texts` (a list of a query log's rows), in\n"
    "one call with the interpreter lock released, as a FingerprintBatch: each\n"
    "row's hash (native-endian unsigned 64-bit) and flag, and the template of\n"
    "each distinct hash with the index of its first row.  `texts` may also be\n"
    "an Arrow string column (anything with __arrow_c_array__), read in place.";

}  // namespace quorvane::host
