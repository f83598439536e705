// agents.quorvane._inventory, the native part of agents.quorvane.inventory:
// the objects of a script and what they reference.

#include <array>
#include <string_view>
#include <vector>

#include "host/arguments.hpp"
#include "host/fingerprint_binding.hpp"
#include "host/module_state.hpp"
#include "host/records.hpp"
#include "host/strings.hpp"
#include "host/threads.hpp"
#include "inventory/inventory.hpp"

namespace quorvane::host {
namespace {

namespace inv = quorvane::inventory;

constexpr std::size_t kKinds = std::size(inv::kKindNames);

// What one load of the module builds.  Python objects are borrowed from
// the state's kept references.
struct State : ModuleState {
    // The records of _inventory_records.
    RecordType object_type, references_type, column_type, parameter_type, local_table_type, added_type;
    std::array<PyObject*, std::size(inv::kParameterModes)> modes{};  // interned parameter modes
    std::array<PyObject*, kKinds> kinds{};  // interned kind names
    FingerprintBinding fingerprints;

    // The reference fields of the last script split_objects found to be one
    // unit, under the core's number for it (0: none), so that references()
    // of the same script right after makes none of them again.  Immutable
    // tuples and a bool, shared with that unit's record.
    std::uint64_t whole_number = 0;
    std::array<Ref, 5> whole_fields;

    bool load();
};

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

PyObject* new_references(State& s, const inv::References& r) {
    std::array<Ref, 5> f;
    if (!reference_fields(r, f)) return nullptr;
    PyObject* args[] = {f[0].get(), f[1].get(), f[2].get(), f[3].get(), f[4].get()};
    return s.references_type.make(args);
}

// A tuple of records, one per item, each made by `make`.
template <class T, class Make>
PyObject* record_tuple(const std::vector<T>& items, Make make) {
    Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* r = make(items[i]);
        if (!r) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), r);
    }
    return tuple.release();
}

PyObject* new_column(State& s, const inv::Column& c) {
    Ref name(name_string(c.name));
    Ref type(name ? name_string(c.type) : nullptr);
    if (!type) return nullptr;
    PyObject* args[] = {name.get(), type.get()};
    return s.column_type.make(args);
}

PyObject* column_tuple(State& s, const std::vector<inv::Column>& columns) {
    return record_tuple(columns, [&](const inv::Column& c) { return new_column(s, c); });
}

PyObject* new_parameter(State& s, const inv::Parameter& p) {
    Ref name(name_string(p.name));
    Ref type(name ? name_string(p.type) : nullptr);
    Ref def(!type ? nullptr : p.has_default ? name_string(p.default_value) : Py_NewRef(Py_None));
    if (!def) return nullptr;
    PyObject* args[] = {name.get(), type.get(), def.get(), s.modes[static_cast<std::size_t>(p.mode)]};
    return s.parameter_type.make(args);
}

// A LocalTable record, or (type: AddedColumns) the columns ALTER TABLE adds.
PyObject* new_local_table(State& s, const inv::LocalTable& t, const RecordType& type) {
    Ref name(name_string(t.name));
    Ref columns(name ? column_tuple(s, t.columns) : nullptr);
    Ref number(columns ? PyLong_FromSize_t(t.line) : nullptr);
    if (!number) return nullptr;
    PyObject* args[] = {name.get(), columns.get(), number.get()};
    return type.make(args);
}

// A SqlObject record; its reference fields are left in `f`.
PyObject* new_object(State& s, const inv::SqlObject& o, std::array<Ref, 5>& f) {
    if (!reference_fields(o.refs, f)) return nullptr;
    Ref name(o.has_name ? name_string(o.name) : Py_NewRef(Py_None));
    Ref start(PyLong_FromSize_t(o.start_line)), end(PyLong_FromSize_t(o.end_line));
    Ref dynamic(name_tuple(o.refs.dynamic_references));
    if (!name || !start || !end || !dynamic) return nullptr;
    const inv::Definitions& d = o.defs;
    Ref columns(column_tuple(s, d.columns));
    Ref parameters(columns ? record_tuple(d.parameters, [&](const inv::Parameter& p) { return new_parameter(s, p); })
                           : nullptr);
    Ref returns(!parameters ? nullptr : d.has_returns ? name_string(d.returns) : Py_NewRef(Py_None));
    Ref locals(returns ? record_tuple(d.local_tables,
                                      [&](const inv::LocalTable& t) { return new_local_table(s, t, s.local_table_type); })
                       : nullptr);
    Ref added(locals ? record_tuple(d.added_columns,
                                    [&](const inv::LocalTable& t) { return new_local_table(s, t, s.added_type); })
                     : nullptr);
    if (!added) return nullptr;
    PyObject* args[] = {s.kinds[static_cast<std::size_t>(o.kind)], name.get(), start.get(), end.get(),
                        f[0].get(), f[1].get(), f[2].get(), f[3].get(), f[4].get(), dynamic.get(),
                        columns.get(), parameters.get(), returns.get(), locals.get(), added.get()};
    return s.object_type.make(args);
}

// The dialect rules a `platform` argument names: None (or absent) for the
// rules that hold in every dialect; null with ValueError or TypeError set
// for anything else.
const inv::DialectRules* dialect_of(PyObject* platform) {
    if (platform == nullptr || platform == Py_None) return &inv::kAnyDialect;
    if (!PyUnicode_Check(platform)) {
        PyErr_Format(PyExc_TypeError, "platform must be a str or None, not %.200s", Py_TYPE(platform)->tp_name);
        return nullptr;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(platform, &size);
    if (utf8 == nullptr) {
        PyErr_Clear();
    } else if (const inv::DialectRules* d = inv::find_dialect(std::string_view(utf8, static_cast<std::size_t>(size)))) {
        return d;
    }
    PyErr_Format(PyExc_ValueError, "unknown platform %R", platform);
    return nullptr;
}

PyObject* split_objects(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    PyObject* values[2];
    if (!sig.parse(args, nargs, kwnames, values) || !check_text(values[0], "sql_content")) return nullptr;
    const inv::DialectRules* rules = dialect_of(values[1]);
    if (!rules) return nullptr;
    std::uint64_t number = 0;
    const std::vector<inv::SqlObject> objects = scan(values[0], [&](auto t) {
        std::vector<inv::SqlObject> found = inv::split_objects(t, *rules);
        number = inv::kept_references_number();
        return found;
    });
    Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(objects.size())));
    if (!tuple) return nullptr;
    std::array<Ref, 5> fields;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        PyObject* o = new_object(s, objects[i], fields);
        if (!o) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), o);
    }
    if (number != 0 && objects.size() == 1) {
        s.whole_fields = std::move(fields);
        s.whole_number = number;
    }
    return tuple.release();
}

PyObject* references(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) {
    PyObject* values[2];
    if (!sig.parse(args, nargs, kwnames, values) || !check_text(values[0], "sql_content")) return nullptr;
    const inv::DialectRules* rules = dialect_of(values[1]);
    if (!rules) return nullptr;
    if (s.whole_number != 0 &&
        scan(values[0], [rules](auto t) { return inv::references_number(t, *rules); }) == s.whole_number) {
        // Owned here: making the record may run code that replaces them.
        const std::array<Ref, 5> f = {Ref::borrow(s.whole_fields[0].get()), Ref::borrow(s.whole_fields[1].get()),
                                      Ref::borrow(s.whole_fields[2].get()), Ref::borrow(s.whole_fields[3].get()),
                                      Ref::borrow(s.whole_fields[4].get())};
        PyObject* args[] = {f[0].get(), f[1].get(), f[2].get(), f[3].get(), f[4].get()};
        return s.references_type.make(args);
    }
    const inv::References refs = scan(values[0], [rules](auto t) { return inv::references(t, *rules); });
    return new_references(s, refs);
}

PyObject* fingerprint(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
    return s.fingerprints.call(sig, args, nargs, kwnames);
}

PyObject* fingerprint_many(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    return s.fingerprints.call_many(sig, args, nargs, kwnames);
}

FunctionRow kFunctions[] = {
    function<State, split_objects>({"split_objects", {"sql_content"}, {"platform"}},
        "split_objects(sql_content, *, platform=None)\n--\n\n"
        "The units of a script in file order: each object it creates or alters\n"
        "(procedure, function, view, trigger, table, ...) and each batch of\n"
        "statements that define nothing, as SqlObject records.  `platform`\n"
        "(\"sqlserver\", \"postgresql\", ...) reads the script as that dialect\n"
        "does; None keeps the rules that hold in every dialect."),
    function<State, references>({"references", {"sql_content"}, {"platform"}},
        "references(sql_content, *, platform=None)\n--\n\n"
        "The tables a piece of SQL reads and writes, the procedures and user\n"
        "functions it calls, its temporary tables and whether it runs dynamic\n"
        "SQL, as a References record, read as `platform`'s dialect."),
    function<State, fingerprint>({"fingerprint", {"sql_content"}, {"platform"}}, kFingerprintDoc),
    function<State, fingerprint_many>({"fingerprint_many", {"texts"}, {"platform"}}, kFingerprintManyDoc),
    {},
};

bool State::load() {
    Ref records(PyImport_ImportModule("agents.quorvane._inventory_records"));
    if (!records) return false;
    const struct {
        RecordType* record;
        const char* name;
        Py_ssize_t fields;
    } bound[] = {
        {&object_type, "SqlObject", 15},      {&references_type, "References", 5}, {&column_type, "Column", 2},
        {&parameter_type, "Parameter", 4},    {&local_table_type, "LocalTable", 3}, {&added_type, "AddedColumns", 3},
    };
    for (const auto& [record, name, fields] : bound) {
        if (!record->load(*this, records.get(), name, fields) || !add_object(name, Py_NewRef(record->type()))) {
            return false;
        }
    }
    for (std::size_t i = 0; i < modes.size(); ++i) {
        modes[i] = keep(intern(std::string(inv::kParameterModes[i]).c_str()));
        if (!modes[i]) return false;
    }
    for (std::size_t i = 0; i < kKinds; ++i) {
        kinds[i] = keep(intern(std::string(inv::kKindNames[i]).c_str()));
        if (!kinds[i]) return false;
    }
    if (!fingerprints.load(*this)) return false;
    return add_functions(kFunctions);
}

PyModuleDef kModule = module_def<State>("agents.quorvane._inventory");

}  // namespace
}  // namespace quorvane::host

PyMODINIT_FUNC PyInit__inventory() { return PyModuleDef_Init(&quorvane::host::kModule); }
