#include "host/fingerprint_binding.hpp"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/arrow_strings.hpp"
#include "host/strings.hpp"
#include "host/threads.hpp"
#include "inventory/fingerprint.hpp"
#include "shared/utf8.hpp"

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

// What a batch call gathers: each row's hash and flag, and the first row of
// each distinct template.
struct BatchRows {
    std::uint8_t* flag;
    char* hash_bytes;
    std::vector<FirstRow> firsts;
    std::unordered_map<std::uint64_t, std::size_t> seen;

    // Fingerprints row i, a text; returns its flag.
    template <text::CodeUnit C>
    std::uint8_t add(Py_ssize_t i, text::Text<C> t, const inv::DialectRules& rules) {
        bool blank = true;
        for (const auto c : t) {
            if (!text::unit_is_space(c)) {
                blank = false;
                break;
            }
        }
        if (blank) return FingerprintBinding::kBlank;
        inv::Fingerprint fp = inv::fingerprint(t, rules);
        std::memcpy(hash_bytes + static_cast<std::size_t>(i) * sizeof(fp.hash), &fp.hash, sizeof(fp.hash));
        if (seen.try_emplace(fp.hash, firsts.size()).second) firsts.push_back({fp.hash, i, std::move(fp.template_utf8)});
        return fp.unterminated ? FingerprintBinding::kUnterminated : FingerprintBinding::kWhole;
    }
};

// Code points decoded from UTF-8, kept in the narrowest width that holds
// them, as a host string of the same text would be.
struct Decoded {
    std::vector<std::uint32_t> wide;
    std::vector<std::uint16_t> two;
    std::vector<std::uint8_t> one;

    // Calls f(text) on the row's code points; false when the bytes are not UTF-8.
    template <class F>
    bool with(std::string_view bytes, F&& f) {
        if (text::is_ascii(bytes)) {
            f(text::Text<std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
            return true;
        }
        const std::int32_t largest = text::decode_utf8(bytes, wide);
        if (largest < 0) return false;
        if (largest < 0x100) {
            one.assign(wide.begin(), wide.end());
            f(text::Text<std::uint8_t>(one));
        } else if (largest < 0x10000) {
            two.assign(wide.begin(), wide.end());
            f(text::Text<std::uint16_t>(two));
        } else {
            f(text::Text<std::uint32_t>(wide));
        }
        return true;
    }
};

// The hashes and flags of n rows, zeroed, and where the batch writes them.
bool start_batch(Py_ssize_t n, Ref& hashes, Ref& flags, BatchRows& batch) {
    hashes.reset(PyBytes_FromStringAndSize(nullptr, n * static_cast<Py_ssize_t>(sizeof(std::uint64_t))));
    flags.reset(PyBytes_FromStringAndSize(nullptr, n));
    if (!hashes || !flags) return false;
    batch.flag = reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(flags.get()));
    batch.hash_bytes = PyBytes_AS_STRING(hashes.get());
    std::memset(batch.hash_bytes, 0, static_cast<std::size_t>(n) * sizeof(std::uint64_t));
    return true;
}

// The FingerprintBatch of what the batch gathered.
PyObject* finish_batch(PyObject* batch_type, Ref& hashes, Ref& flags, const BatchRows& batch) {
    Ref templates(PyDict_New());
    if (!templates) return nullptr;
    for (const FirstRow& f : batch.firsts) {
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

// fingerprint_many over a column in Arrow's layout.
PyObject* many_arrow(PyObject* batch_type, const ArrowStrings& column, const inv::DialectRules& rules) {
    if (column.size() > PY_SSIZE_T_MAX / static_cast<Py_ssize_t>(sizeof(std::uint64_t))) return PyErr_NoMemory();
    const auto n = static_cast<Py_ssize_t>(column.size());
    Ref hashes, flags;
    BatchRows batch;
    if (!start_batch(n, hashes, flags, batch)) return nullptr;
    unlocked([&] {
        Decoded decoded;
        for (Py_ssize_t i = 0; i < n; ++i) {
            const std::optional<std::string_view> bytes = column.row(i);
            // A null, or bytes that are not UTF-8, is left to the caller as
            // any row that is not a str.
            std::uint8_t flag = FingerprintBinding::kNotText;
            if (bytes) decoded.with(*bytes, [&](auto t) { flag = batch.add(i, t, rules); });
            batch.flag[i] = flag;
        }
        return true;
    });
    return finish_batch(batch_type, hashes, flags, batch);
}

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
    std::optional<ArrowStrings> column = ArrowStrings::from(values[0]);
    if (PyErr_Occurred()) return nullptr;
    if (column) return many_arrow(batch_type, *column, *rules);
    // The rows, held by this call while the lock is released: a list the
    // caller changes meanwhile cannot pull a string from under the scan.
    Ref rows(PySequence_Tuple(values[0]));
    if (!rows) return nullptr;
    const Py_ssize_t n = PyTuple_GET_SIZE(rows.get());
    Ref hashes, flags;
    BatchRows batch;
    if (!start_batch(n, hashes, flags, batch)) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* row = PyTuple_GET_ITEM(rows.get(), i);
        // Only exact strings are read here; the caller judges anything else.
        if (!PyUnicode_CheckExact(row)) {
            batch.flag[i] = kNotText;
        } else if (!ready(row)) {
            return nullptr;
        } else {
            batch.flag[i] = kWhole;
        }
    }
    unlocked([&] {
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (batch.flag[i] == kNotText) continue;
            PyObject* row = PyTuple_GET_ITEM(rows.get(), i);
            batch.flag[i] = with_text(row, [&](auto t) { return batch.add(i, t, *rules); });
        }
        return true;
    });
    return finish_batch(batch_type, hashes, flags, batch);
}

}  // namespace quorvane::host
