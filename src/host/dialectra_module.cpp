// agents.quorvane._dialectra, the native part of agents.quorvane.dialectra:
// publishes the platform marker catalogue.
//
// Each load imports `Marker` and the ten platform identifiers from the
// platform vocabulary, agents.quorvane.platforms (a module that imports
// nothing of the package, so loading the catalogue never loads the
// detector; agents.quorvane.platform_detect re-exports the same objects),
// turns every row of kMarkers into a
// `Marker(id=..., platforms=[...], confidence=..., pattern=...[, scope=... |
// , corroborating_only=...])` call, and binds the resulting list to
// PLATFORM_MARKERS.  It also publishes MarkerScanner, the native scanner
// over a table of marker patterns (marker_scanner_type.cpp).  The module has
// no functions; its state holds only its namespace.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "dialectra/markers.hpp"
#include "host/marker_scanner_type.hpp"
#include "host/module_state.hpp"
#include "host/ref.hpp"

namespace {

namespace dl = quorvane::dialectra;

constexpr const char* kSourceModule = "agents.quorvane.platforms";

using quorvane::host::Ref;

PyObject* text(std::string_view sv) {
    return PyUnicode_FromStringAndSize(sv.data(), static_cast<Py_ssize_t>(sv.size()));
}

// `from agents.quorvane.platforms import <name>`, bound in `globals`.
// A missing attribute becomes ImportError("cannot import name <name>");
// any other lookup error passes through.  Returns a new reference.
PyObject* import_name(PyObject* globals, PyObject* source, std::string_view name) {
    Ref key(text(name));
    if (!key) return nullptr;
    Ref value(PyObject_GetAttr(source, key.get()));
    if (!value) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_ImportError, "cannot import name %S", key.get());
        }
        return nullptr;
    }
    if (PyDict_SetItem(globals, key.get(), value.get()) < 0) return nullptr;
    return value.release();
}

// Keyword-name tuples for the three call shapes, built once per load.
struct KeywordNames {
    Ref plain;          // id, platforms, confidence, pattern
    Ref scoped;         // ... , scope
    Ref corroborating;  // ... , corroborating_only
};

bool build_keyword_names(KeywordNames& kw) {
    kw.plain.reset(quorvane::host::name_tuple({"id", "platforms", "confidence", "pattern"}));
    if (!kw.plain) return false;
    kw.scoped.reset(quorvane::host::name_tuple({"id", "platforms", "confidence", "pattern", "scope"}));
    if (!kw.scoped) return false;
    kw.corroborating.reset(
        quorvane::host::name_tuple({"id", "platforms", "confidence", "pattern", "corroborating_only"}));
    return static_cast<bool>(kw.corroborating);
}

// One `Marker(...)` call for `row`; returns the new record.
PyObject* build_marker(PyObject* marker_type, const dl::MarkerRow& row,
                       const std::array<Ref, dl::kPlatformCount>& identifiers,
                       const KeywordNames& kw) {
    const auto platforms = row.platform_list();
    Ref platform_list(PyList_New(static_cast<Py_ssize_t>(platforms.size())));
    if (!platform_list) return nullptr;
    for (std::size_t i = 0; i < platforms.size(); ++i) {
        PyObject* identifier = identifiers[static_cast<std::size_t>(platforms[i])].get();
        PyList_SET_ITEM(platform_list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(identifier));
    }
    Ref id(text(row.id));
    if (!id) return nullptr;
    Ref confidence(text(row.confidence));
    if (!confidence) return nullptr;
    Ref pattern(text(row.pattern));
    if (!pattern) return nullptr;

    Ref scope;
    PyObject* kwnames = kw.plain.get();
    // Slot 0 is scratch space for PY_VECTORCALL_ARGUMENTS_OFFSET; the call
    // passes no positional arguments, only the keyword values in slots 1..5.
    std::array<PyObject*, 6> slots = {nullptr,           id.get(),      platform_list.get(),
                                      confidence.get(),  pattern.get(), nullptr};
    if (!row.scope.empty()) {
        scope.reset(text(row.scope));
        if (!scope) return nullptr;
        slots[5] = scope.get();
        kwnames = kw.scoped.get();
    } else if (row.corroborating != dl::Corroborating::NotGiven) {
        slots[5] = row.corroborating == dl::Corroborating::True ? Py_True : Py_False;
        kwnames = kw.corroborating.get();
    }
    return PyObject_Vectorcall(marker_type, slots.data() + 1, 0 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                               kwnames);
}

// Fills the namespace `globals`; on failure an exception is set and false
// returned.
bool load_catalogue(PyObject* globals) {
    Ref source(PyImport_ImportModule(kSourceModule));
    if (!source) return false;

    Ref marker_type(import_name(globals, source.get(), "Marker"));
    if (!marker_type) return false;
    std::array<Ref, dl::kPlatformCount> identifiers;
    for (std::size_t i = 0; i < dl::kPlatformCount; ++i) {
        identifiers[i].reset(import_name(globals, source.get(), dl::kPlatformIdentifierNames[i]));
        if (!identifiers[i]) return false;
    }

    KeywordNames kw;
    if (!build_keyword_names(kw)) return false;

    Ref catalogue(PyList_New(static_cast<Py_ssize_t>(dl::kMarkerCount)));
    if (!catalogue) return false;
    for (std::size_t i = 0; i < dl::kMarkerCount; ++i) {
        PyObject* record = build_marker(marker_type.get(), dl::kMarkers[i], identifiers, kw);
        if (!record) return false;
        PyList_SET_ITEM(catalogue.get(), static_cast<Py_ssize_t>(i), record);
    }
    return PyDict_SetItemString(globals, "PLATFORM_MARKERS", catalogue.get()) == 0;
}

struct State : quorvane::host::ModuleState {
    bool load() { return load_catalogue(globals()) && quorvane::host::add_marker_scanner_type(globals()); }
};

PyModuleDef kModule = quorvane::host::module_def<State>("agents.quorvane._dialectra");

}  // namespace

PyMODINIT_FUNC PyInit__dialectra() { return PyModuleDef_Init(&kModule); }
