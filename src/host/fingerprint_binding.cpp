#include "host/fingerprint_binding.hpp"

#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/strings.hpp"
#include "host/threads.hpp"
#include "inventory/fingerprint.hpp"

namespace quorvane::host {

namespace inv = quorvane::inventory;

namespace {

// A template as a host string (lone surrogates come back as themselves).
PyObject* template_string(const std::string& utf8) {
    return PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "surrogatepass");
}

// The row flags the Python record publishes must be the ones written here.
bool check_flag(PyObject* type, const char* name, long expected) {
    Ref value(PyObject_GetAttrString(type, name));
    if (!value) return false;
    const long got = PyLong_AsLong(value.get());
    if (got == -1 && PyErr_Occurred()) return false;
    if (got != expected) {
        PyErr_Format(PyExc_SystemError, "FingerprintBatch.%s is %ld, the native module writes %ld", name, got, expected);
        return false;
    }
    return true;
}

// The first row of one distinct template in a batch.
struct FirstRow {
    std::uint64_t hash;
    Py_ssize_t index;
    std::string template_utf8;
};

}  // namespace

bool FingerprintBinding::load(ModuleState& state) {
    Ref records(PyImport_ImportModule("agents.quorvane._fingerprint_records"));
    if (!records) return false;
    record_type = state.keep(PyObject_GetAttrString(records.get(), "Fingerprint"));
    if (!record_type || !state.add_object("Fingerprint", Py_NewRef(record_type))) return false;
    batch_type = state.keep(PyObject_GetAttrString(records.get(), "FingerprintBatch"));
    if (!batch_type || !state.add_object("FingerprintBatch", Py_NewRef(batch_type))) return false;
    if (!check_flag(batch_type, "WHOLE", kWhole) || !check_flag(batch_type, "UNTERMINATED", kUnterminated) ||
        !check_flag(batch_type, "BLANK", kBlank) || !check_flag(batch_type, "NOT_TEXT", kNotText)) {
        return false;
    }
    if (!state.add_object("FINGERPRINT_VERSION", PyLong_FromLong(inv::kFingerprintVersion))) return false;
    Ref detect(PyImport_ImportModule("agents.quorvane.platforms"));
    if (!detect) return false;
    platforms = state.keep(PyObject_GetAttrString(detect.get(), "PLATFORMS"));
    if (!platforms) return false;
    return true;
}

const inv::DialectRules* FingerprintBinding::dialect(PyObject* platform) const {
    if (platform == nullptr || platform == Py_None) return &inv::kAnyDialect;
    if (!check_text(platform, "platform")) return nullptr;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(platform, &size);
    if (utf8 == nullptr) PyErr_Clear();
    const inv::DialectRules* rules =
        utf8 ? inv::find_dialect(std::string_view(utf8, static_cast<std::size_t>(size))) : nullptr;
    if (rules == nullptr || rules->id.empty()) {
        PyErr_Format(PyExc_ValueError, "unknown platform %R (expected one of %R)", platform, platforms);
        return nullptr;
    }
    return rules;
}

PyObject* FingerprintBinding::call(const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) const {
    PyObject* values[2];
    if (!sig.parse(args, nargs, kwnames, values) || !check_text(values[0], "sql_content")) return nullptr;
    const inv::DialectRules* rules = dialect(values[1]);
    if (!rules) return nullptr;
    const inv::Fingerprint fp = scan(values[0], [rules](auto t) { return inv::fingerprint(t, *rules); });
    Ref hash(PyLong_FromUnsignedLongLong(fp.hash));
    Ref shape(template_string(fp.template_utf8));
    if (!hash || !shape) return nullptr;
    PyObject* fields[] = {hash.get(), shape.get(), fp.unterminated ? Py_True : Py_False};
    return PyObject_Vectorcall(record_type, fields, 3, nullptr);
}

PyObject* FingerprintBinding::call_many(const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) const {
    PyObject* values[2];
    if (!sig.parse(args, nargs, kwnames, values)) return nullptr;
    if (PyUnicode_Check(values[0]) || PyBytes_Check(values[0])) {
        PyErr_Format(PyExc_TypeError, "texts must be a sequence of str, not %.200s", Py_TYPE(values[0])->tp_name);
        return nullptr;
    }
    const inv::DialectRules* rules = dialect(values[1]);
    if (!rules) return nullptr;
    // The rows, held by this call while the lock is released: a list the
    // caller changes meanwhile cannot pull a string from under the scan.
    Ref rows(PySequence_Tuple(values[0]));
    if (!rows) return nullptr;
    const Py_ssize_t n = PyTuple_GET_SIZE(rows.get());
    Ref hashes(PyBytes_FromStringAndSize(nullptr, n * static_cast<Py_ssize_t>(sizeof(std::uint64_t))));
    Ref flags(PyBytes_FromStringAndSize(nullptr, n));
    if (!hashes || !flags) return nullptr;
    auto* flag = reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(flags.get()));
    char* hash_bytes = PyBytes_AS_STRING(hashes.get());
    std::memset(hash_bytes, 0, static_cast<std::size_t>(n) * sizeof(std::uint64_t));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* row = PyTuple_GET_ITEM(rows.get(), i);
        // Only exact strings are read here; the caller judges anything else.
        if (!PyUnicode_CheckExact(row)) {
            flag[i] = kNotText;
        } else if (!ready(row)) {
            return nullptr;
        } else {
            flag[i] = kWhole;
        }
    }
    std::vector<FirstRow> firsts;
    unlocked([&] {
        std::unordered_map<std::uint64_t, std::size_t> seen;
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (flag[i] == kNotText) continue;
            PyObject* row = PyTuple_GET_ITEM(rows.get(), i);
            const bool blank = with_text(row, [](auto t) {
                for (const auto c : t) {
                    if (!text::unit_is_space(c)) return false;
                }
                return true;
            });
            if (blank) {
                flag[i] = kBlank;
                continue;
            }
            inv::Fingerprint fp = with_text(row, [rules](auto t) { return inv::fingerprint(t, *rules); });
            std::memcpy(hash_bytes + static_cast<std::size_t>(i) * sizeof(fp.hash), &fp.hash, sizeof(fp.hash));
            flag[i] = fp.unterminated ? kUnterminated : kWhole;
            if (seen.try_emplace(fp.hash, firsts.size()).second) {
                firsts.push_back({fp.hash, i, std::move(fp.template_utf8)});
            }
        }
        return true;
    });
    Ref templates(PyDict_New());
    if (!templates) return nullptr;
    for (const FirstRow& f : firsts) {
        Ref hash(PyLong_FromUnsignedLongLong(f.hash));
        Ref first(PyLong_FromSsize_t(f.index));
        Ref shape(template_string(f.template_utf8));
        if (!hash || !first || !shape) return nullptr;
        Ref pair(PyTuple_Pack(2, first.get(), shape.get()));
        if (!pair || PyDict_SetItem(templates.get(), hash.get(), pair.get()) < 0) return nullptr;
    }
    PyObject* fields[] = {hashes.get(), flags.get(), templates.get()};
    return PyObject_Vectorcall(batch_type, fields, 3, nullptr);
}

}  // namespace quorvane::host
