// agents.quorvane.inventory: the objects of a script and what they
// reference.

#include <array>
#include <memory>
#include <vector>

#include "host/common.hpp"
#include "inventory/inventory.hpp"

namespace quorvane::host {
namespace {

namespace inv = quorvane::inventory;

constexpr std::size_t kKinds = std::size(inv::kKindNames);

struct State {
    PyObject* object_type = nullptr;      // _inventory_records.SqlObject
    PyObject* references_type = nullptr;  // _inventory_records.References
    std::array<PyObject*, kKinds> kinds{};  // interned kind names
    std::unique_ptr<BoundSignature> sig_split;
    std::unique_ptr<BoundSignature> sig_references;
};

State* g = nullptr;

bool large(PyObject* str) { return PyUnicode_GET_LENGTH(str) >= static_cast<Py_ssize_t>(kReleaseThreshold); }

PyObject* name_string(const inv::Name& n) {
    return PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, n.data(), static_cast<Py_ssize_t>(n.size()));
}

PyObject* name_tuple(const std::vector<inv::Name>& names) {
    Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < names.size(); ++i) {
        PyObject* s = name_string(names[i]);
        if (!s) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), s);
    }
    return tuple.release();
}

// The five reference fields as new references, in record order.
bool reference_fields(const inv::References& r, std::array<Ref, 5>& out) {
    out[0] = Ref(name_tuple(r.reads));
    out[1] = Ref(name_tuple(r.writes));
    out[2] = Ref(name_tuple(r.calls));
    out[3] = Ref(name_tuple(r.temp_tables));
    out[4] = Ref::borrow(r.dynamic_sql ? Py_True : Py_False);
    return out[0] && out[1] && out[2] && out[3];
}

PyObject* new_references(const inv::References& r) {
    std::array<Ref, 5> f;
    if (!reference_fields(r, f)) return nullptr;
    PyObject* args[] = {f[0].get(), f[1].get(), f[2].get(), f[3].get(), f[4].get()};
    return PyObject_Vectorcall(g->references_type, args, 5, nullptr);
}

PyObject* new_object(const inv::SqlObject& o) {
    std::array<Ref, 5> f;
    if (!reference_fields(o.refs, f)) return nullptr;
    Ref name(o.has_name ? name_string(o.name) : Py_NewRef(Py_None));
    Ref start(PyLong_FromSize_t(o.start_line)), end(PyLong_FromSize_t(o.end_line));
    if (!name || !start || !end) return nullptr;
    PyObject* args[] = {g->kinds[static_cast<std::size_t>(o.kind)], name.get(), start.get(), end.get(),
                        f[0].get(), f[1].get(), f[2].get(), f[3].get(), f[4].get()};
    return PyObject_Vectorcall(g->object_type, args, 9, nullptr);
}

PyObject* split_objects(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* sql;
    if (!g->sig_split->parse(args, nargs, kwnames, &sql)) return nullptr;
    if (!check_exact(sql, &PyUnicode_Type, "sql_content")) return nullptr;
    std::vector<inv::SqlObject> objects;
    if (!run_core(large(sql), [&] { objects = with_text(sql, [](auto t) { return inv::split_objects(t); }); })) {
        return nullptr;
    }
    Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(objects.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        PyObject* o = new_object(objects[i]);
        if (!o) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), o);
    }
    return tuple.release();
}

PyObject* references(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* sql;
    if (!g->sig_references->parse(args, nargs, kwnames, &sql)) return nullptr;
    if (!check_exact(sql, &PyUnicode_Type, "sql_content")) return nullptr;
    inv::References refs;
    if (!run_core(large(sql), [&] { refs = with_text(sql, [](auto t) { return inv::references(t); }); })) {
        return nullptr;
    }
    return new_references(refs);
}

#define QUORVANE_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f))

PyMethodDef kFunctions[] = {
    {"split_objects", QUORVANE_FASTCALL(split_objects), METH_FASTCALL | METH_KEYWORDS,
     "split_objects(sql_content)\n--\n\n"
     "The units of a script in file order: each object it creates or alters\n"
     "(procedure, function, view, trigger, table, ...) and each batch of\n"
     "statements that define nothing, as SqlObject records."},
    {"references", QUORVANE_FASTCALL(references), METH_FASTCALL | METH_KEYWORDS,
     "references(sql_content)\n--\n\n"
     "The tables a piece of SQL reads and writes, the procedures and user\n"
     "functions it calls, its temporary tables and whether it runs dynamic\n"
     "SQL, as a References record."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "agents.quorvane.inventory",
    "The objects of a SQL script and the tables and routines each one references.",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

bool init(PyObject* m) {
    Ref records(PyImport_ImportModule("agents.quorvane._inventory_records"));
    if (!records) return false;
    g->object_type = PyObject_GetAttrString(records.get(), "SqlObject");
    g->references_type = g->object_type ? PyObject_GetAttrString(records.get(), "References") : nullptr;
    if (!g->references_type) return false;
    if (PyModule_AddObjectRef(m, "SqlObject", g->object_type) < 0 ||
        PyModule_AddObjectRef(m, "References", g->references_type) < 0) {
        return false;
    }
    for (std::size_t i = 0; i < kKinds; ++i) {
        g->kinds[i] = PyUnicode_InternFromString(std::string(inv::kKindNames[i]).c_str());
        if (!g->kinds[i]) return false;
    }
    g->sig_split = std::make_unique<BoundSignature>(Signature{"split_objects", {"sql_content"}});
    g->sig_references = std::make_unique<BoundSignature>(Signature{"references", {"sql_content"}});
    if (!g->sig_split->ok() || !g->sig_references->ok()) return false;
    return PyModule_AddFunctions(m, kFunctions) == 0;
}

}  // namespace
}  // namespace quorvane::host

PyMODINIT_FUNC PyInit_inventory() {
    using namespace quorvane::host;
    return create_module(&kModule, g, init);
}
