#include "host/fingerprint_binding.hpp"

#include <string_view>

#include "host/strings.hpp"
#include "host/threads.hpp"
#include "inventory/fingerprint.hpp"

namespace quorvane::host {

namespace inv = quorvane::inventory;

bool FingerprintBinding::load(ModuleState& state) {
    Ref records(PyImport_ImportModule("agents.quorvane._fingerprint_records"));
    if (!records) return false;
    record_type = state.keep(PyObject_GetAttrString(records.get(), "Fingerprint"));
    if (!record_type || !state.add_object("Fingerprint", Py_NewRef(record_type))) return false;
    if (!state.add_object("FINGERPRINT_VERSION", PyLong_FromLong(inv::kFingerprintVersion))) return false;
    Ref detect(PyImport_ImportModule("agents.quorvane.platforms"));
    if (!detect) return false;
    platforms = state.keep(PyObject_GetAttrString(detect.get(), "PLATFORMS"));
    if (!platforms) return false;
    return true;
}

PyObject* FingerprintBinding::call(const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) const {
    PyObject* values[2];
    if (!sig.parse(args, nargs, kwnames, values) || !check_text(values[0], "sql_content")) return nullptr;
    const inv::DialectRules* rules = &inv::kAnyDialect;
    if (PyObject* platform = values[1]; platform != nullptr && platform != Py_None) {
        if (!check_text(platform, "platform")) return nullptr;
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(platform, &size);
        if (utf8 == nullptr) PyErr_Clear();
        rules = utf8 ? inv::find_dialect(std::string_view(utf8, static_cast<std::size_t>(size))) : nullptr;
        if (rules == nullptr || rules->id.empty()) {
            PyErr_Format(PyExc_ValueError, "unknown platform %R (expected one of %R)", platform, platforms);
            return nullptr;
        }
    }
    const inv::Fingerprint fp = scan(values[0], [rules](auto t) { return inv::fingerprint(t, *rules); });
    Ref hash(PyLong_FromUnsignedLongLong(fp.hash));
    Ref shape(PyUnicode_DecodeUTF8(fp.template_utf8.data(), static_cast<Py_ssize_t>(fp.template_utf8.size()),
                                   "surrogatepass"));
    if (!hash || !shape) return nullptr;
    PyObject* fields[] = {hash.get(), shape.get(), fp.unterminated ? Py_True : Py_False};
    return PyObject_Vectorcall(record_type, fields, 3, nullptr);
}

}  // namespace quorvane::host
