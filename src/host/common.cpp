#include "host/common.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace quorvane::host {

// ---------------------------------------------------------------------------
// Strings

PyObject* ascii_string(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

namespace {

// The largest character the pieces need, rounded to what decides a string's
// storage: 127 (ASCII), 255, 0xFFFF or 0x10FFFF.
template <text::CodeUnit C>
Py_UCS4 storage_maxchar(text::Text<C> t, std::span<const std::pair<std::size_t, std::size_t>> pieces) {
    Py_UCS4 level = 127;
    const Py_UCS4 ceiling = sizeof(C) == 1 ? 255 : (sizeof(C) == 2 ? 0xFFFF : 0x10FFFF);
    for (const auto& [b, e] : pieces) {
        for (std::size_t i = b; i < e; ++i) {
            const Py_UCS4 c = t[i];
            if (c <= level) continue;
            level = c < 256 ? 255 : (c < 0x10000 ? 0xFFFF : 0x10FFFF);
            if (level == ceiling) return level;
        }
    }
    return level;
}

template <text::CodeUnit C, class Out>
void copy_pieces(text::Text<C> t, std::span<const std::pair<std::size_t, std::size_t>> pieces,
                 std::string_view separator, Out* out) {
    bool first = true;
    for (const auto& [b, e] : pieces) {
        if (!first) {
            for (char c : separator) *out++ = static_cast<Out>(static_cast<unsigned char>(c));
        }
        first = false;
        if constexpr (sizeof(Out) == sizeof(C)) {
            std::memcpy(out, t.data() + b, (e - b) * sizeof(C));
            out += e - b;
        } else {
            for (std::size_t i = b; i < e; ++i) *out++ = static_cast<Out>(t[i]);
        }
    }
}

}  // namespace

PyObject* join_pieces(PyObject* source, std::span<const std::pair<std::size_t, std::size_t>> pieces,
                      std::string_view separator) {
    std::size_t length = 0;
    for (const auto& [b, e] : pieces) length += e - b;
    if (!pieces.empty()) length += separator.size() * (pieces.size() - 1);
    return with_text(source, [&](auto t) -> PyObject* {
        const Py_UCS4 maxchar = PyUnicode_IS_ASCII(source) ? 127 : storage_maxchar(t, pieces);
        PyObject* result = PyUnicode_New(static_cast<Py_ssize_t>(length), maxchar);
        if (!result) return nullptr;
        void* data = PyUnicode_DATA(result);
        switch (PyUnicode_KIND(result)) {
            case PyUnicode_1BYTE_KIND: copy_pieces(t, pieces, separator, static_cast<Py_UCS1*>(data)); break;
            case PyUnicode_2BYTE_KIND: copy_pieces(t, pieces, separator, static_cast<Py_UCS2*>(data)); break;
            default: copy_pieces(t, pieces, separator, static_cast<Py_UCS4*>(data)); break;
        }
        return result;
    });
}

// ---------------------------------------------------------------------------
// Arguments

BoundSignature::BoundSignature(const Signature& sig)
    : func_(sig.name), npos_(sig.positional.size()), kwonly_required_(sig.kwonly_required) {
    for (const char* n : sig.positional) names_.push_back(intern(n));
    for (const char* n : sig.kwonly) names_.push_back(intern(n));
    ok_ = std::none_of(names_.begin(), names_.end(), [](PyObject* p) { return p == nullptr; });
}

namespace {

void wrong_count(const char* func, std::size_t expected, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", func,
                 "exactly", static_cast<Py_ssize_t>(expected), expected == 1 ? "" : "s", given);
}

// Index of `key` among names[from..], by identity first, then by value.
Py_ssize_t find_name(const std::vector<PyObject*>& names, std::size_t from, std::size_t to, PyObject* key) {
    for (std::size_t i = from; i < to; ++i) {
        if (names[i] == key) return static_cast<Py_ssize_t>(i);
    }
    for (std::size_t i = from; i < to; ++i) {
        const int eq = PyUnicode_Compare(names[i], key);
        if (eq == 0) return static_cast<Py_ssize_t>(i);
        if (eq == -1 && PyErr_Occurred()) return -2;
    }
    return -1;
}

}  // namespace

bool BoundSignature::parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                           PyObject** values) const {
    const std::size_t total = names_.size();
    std::fill(values, values + total, nullptr);
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw == 0) {
        if (static_cast<std::size_t>(nargs) != npos_) {
            wrong_count(func_, npos_, nargs);
            return false;
        }
        std::copy(args, args + nargs, values);
        if (kwonly_required_ > 0) {
            PyErr_Format(PyExc_TypeError, "%s() needs keyword-only argument %U", func_, names_[npos_]);
            return false;
        }
        return true;
    }
    if (static_cast<std::size_t>(nargs) > npos_) {
        wrong_count(func_, npos_, nargs);
        return false;
    }
    std::copy(args, args + nargs, values);
    PyObject* const* kwvalues = args + nargs;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", func_);
            return false;
        }
        const Py_ssize_t idx = find_name(names_, static_cast<std::size_t>(nargs), total, key);
        if (idx == -2) return false;
        if (idx >= 0) {
            values[idx] = kwvalues[k];
            continue;
        }
        const Py_ssize_t dup = find_name(names_, 0, static_cast<std::size_t>(nargs), key);
        if (dup == -2) return false;
        if (dup >= 0) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", func_, key);
        } else {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", func_, key);
        }
        return false;
    }
    for (std::size_t i = static_cast<std::size_t>(nargs); i < npos_; ++i) {
        if (!values[i]) {
            wrong_count(func_, npos_, static_cast<Py_ssize_t>(i));
            return false;
        }
    }
    for (std::size_t i = npos_; i < npos_ + kwonly_required_; ++i) {
        if (!values[i]) {
            PyErr_Format(PyExc_TypeError, "%s() needs keyword-only argument %U", func_, names_[i]);
            return false;
        }
    }
    return true;
}

bool check_exact(PyObject* obj, PyTypeObject* type, const char* name) {
    if (Py_TYPE(obj) == type) return true;
    const bool subclass = PyObject_TypeCheck(obj, type);
    Ref note(PyUnicode_FromString(
        subclass ? "Note that subclasses of built-in types are deliberately rejected: convert the "
                   "argument to the exact built-in type first."
                 : ""));
    if (!note) return false;
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)%s%U",
                 name, type->tp_name, Py_TYPE(obj)->tp_name, subclass ? ". " : "", note.get());
    return false;
}

// ---------------------------------------------------------------------------
// Records

namespace {

struct RecordObject {
    PyObject_HEAD
    PyObject* fields;  // tuple, in declaration order
};

struct RecordInfo {
    PyTypeObject* type;
    std::string init_qualname;        // "Name.__init__", for construction errors
    std::vector<PyObject*> names;     // interned field names
};

// Record types live for the whole process; there are only a few.
std::vector<RecordInfo>& registry() {
    static std::vector<RecordInfo> infos;
    return infos;
}

const RecordInfo* info_for(PyTypeObject* type) {
    for (const RecordInfo& info : registry()) {
        if (info.type == type) return &info;
    }
    return nullptr;
}

PyObject* frozen_instance_error() {
    static PyObject* cls = [] {
        Ref dataclasses(PyImport_ImportModule("dataclasses"));
        return dataclasses ? PyObject_GetAttrString(dataclasses.get(), "FrozenInstanceError") : nullptr;
    }();
    return cls;
}

// Joins quoted names the way the host lists missing arguments:
// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
PyObject* quoted_list(const std::vector<PyObject*>& names) {
    std::string joined;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) joined += (names.size() == 2) ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        Ref r(PyObject_Repr(names[i]));
        if (!r) return nullptr;
        const char* u = PyUnicode_AsUTF8(r.get());
        if (!u) return nullptr;
        joined += u;
    }
    return PyUnicode_FromStringAndSize(joined.data(), static_cast<Py_ssize_t>(joined.size()));
}

PyObject* record_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    const RecordInfo* info = info_for(type);
    if (!info) {
        PyErr_SetString(PyExc_TypeError, "not a record type");
        return nullptr;
    }
    const char* qual = info->init_qualname.c_str();
    const std::size_t nf = info->names.size();
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    std::vector<PyObject*> values(nf, nullptr);
    for (Py_ssize_t i = 0; i < nargs && static_cast<std::size_t>(i) < nf; ++i) {
        values[i] = PyTuple_GET_ITEM(args, i);
    }
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject* key;
        PyObject* value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!PyUnicode_Check(key)) {
                PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", qual);
                return nullptr;
            }
            if (PyUnicode_CompareWithASCIIString(key, "self") == 0) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%S'", qual, key);
                return nullptr;
            }
            const Py_ssize_t idx = find_name(info->names, 0, nf, key);
            if (idx == -2) return nullptr;
            if (idx < 0) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", qual, key);
                return nullptr;
            }
            if (values[idx]) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%S'", qual, key);
                return nullptr;
            }
            values[idx] = value;
        }
    }
    if (static_cast<std::size_t>(nargs) > nf) {
        // `self` counts, as in the host's message for a Python __init__.
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd were given", qual,
                     static_cast<Py_ssize_t>(nf + 1), nargs + 1);
        return nullptr;
    }
    std::vector<PyObject*> missing;
    for (std::size_t i = 0; i < nf; ++i) {
        if (!values[i]) missing.push_back(info->names[i]);
    }
    if (!missing.empty()) {
        Ref list(quoted_list(missing));
        if (!list) return nullptr;
        PyErr_Format(PyExc_TypeError, "%s() missing %zd required positional argument%s: %U", qual,
                     static_cast<Py_ssize_t>(missing.size()), missing.size() == 1 ? "" : "s", list.get());
        return nullptr;
    }
    return new_record(type, values.data());
}

int record_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<RecordObject*>(self)->fields);
    Py_VISIT(Py_TYPE(self));
    return 0;
}

int record_clear(PyObject* self) {
    Py_CLEAR(reinterpret_cast<RecordObject*>(self)->fields);
    return 0;
}

void record_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    record_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* record_repr(PyObject* self) {
    const RecordInfo* info = info_for(Py_TYPE(self));
    const int rec = Py_ReprEnter(self);
    if (rec != 0) return rec > 0 ? PyUnicode_FromString("...") : nullptr;
    Ref parts(PyList_New(0));
    bool ok = static_cast<bool>(parts);
    PyObject* fields = reinterpret_cast<RecordObject*>(self)->fields;
    for (std::size_t i = 0; ok && i < info->names.size(); ++i) {
        Ref r(PyObject_Repr(PyTuple_GET_ITEM(fields, i)));
        Ref item(r ? PyUnicode_FromFormat("%U=%U", info->names[i], r.get()) : nullptr);
        ok = item && PyList_Append(parts.get(), item.get()) == 0;
    }
    Ref joined;
    if (ok) {
        Ref sep(PyUnicode_FromString(", "));
        joined = Ref(sep ? PyUnicode_Join(sep.get(), parts.get()) : nullptr);
    }
    Py_ReprLeave(self);
    if (!joined) return nullptr;
    return PyUnicode_FromFormat("%s(%U)", _PyType_Name(Py_TYPE(self)), joined.get());
}

PyObject* record_richcompare(PyObject* self, PyObject* other, int op) {
    if (Py_TYPE(other) != Py_TYPE(self) || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
    return PyObject_RichCompare(reinterpret_cast<RecordObject*>(self)->fields,
                                reinterpret_cast<RecordObject*>(other)->fields, op);
}

Py_hash_t record_hash(PyObject* self) { return PyObject_Hash(reinterpret_cast<RecordObject*>(self)->fields); }

int record_setattro(PyObject*, PyObject* name, PyObject* value) {
    PyObject* cls = frozen_instance_error();
    if (!cls) return -1;
    PyErr_Format(cls, value ? "cannot assign to field %R" : "cannot delete field %R", name);
    return -1;
}

PyObject* record_reduce(PyObject* self, PyObject*) {
    return Py_BuildValue("(OO)", reinterpret_cast<PyObject*>(Py_TYPE(self)),
                         reinterpret_cast<RecordObject*>(self)->fields);
}

PyObject* record_get_field(PyObject* self, void* closure) {
    PyObject* v = PyTuple_GET_ITEM(reinterpret_cast<RecordObject*>(self)->fields,
                                   reinterpret_cast<Py_ssize_t>(closure));
    return Py_NewRef(v);
}

}  // namespace

PyObject* new_record(PyTypeObject* type, PyObject* const* values) {
    const RecordInfo* info = info_for(type);
    const auto nf = static_cast<Py_ssize_t>(info->names.size());
    Ref fields(PyTuple_New(nf));
    if (!fields) return nullptr;
    for (Py_ssize_t i = 0; i < nf; ++i) PyTuple_SET_ITEM(fields.get(), i, Py_NewRef(values[i]));
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    reinterpret_cast<RecordObject*>(self)->fields = fields.release();
    return self;
}

PyObject* record_field(PyObject* record, std::size_t i) {
    return PyTuple_GET_ITEM(reinterpret_cast<RecordObject*>(record)->fields, static_cast<Py_ssize_t>(i));
}

PyTypeObject* make_record_type(const RecordSpec& record) {
    // Definitions handed to the type must outlive it: keep them for the
    // process, like the type itself.
    auto* getset = new std::vector<PyGetSetDef>();
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
        getset->push_back({record.fields[i], record_get_field, nullptr, nullptr,
                           reinterpret_cast<void*>(static_cast<Py_ssize_t>(i))});
    }
    getset->insert(getset->end(), record.properties.begin(), record.properties.end());
    getset->push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
    auto* methods = new std::vector<PyMethodDef>();
    methods->push_back({"__reduce__", record_reduce, METH_NOARGS, "Support for pickle and copy."});
    methods->push_back({nullptr, nullptr, 0, nullptr});

    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(record.doc)},
        {Py_tp_new, reinterpret_cast<void*>(record_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(record_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(record_clear)},
        {Py_tp_repr, reinterpret_cast<void*>(record_repr)},
        {Py_tp_richcompare, reinterpret_cast<void*>(record_richcompare)},
        {Py_tp_hash, reinterpret_cast<void*>(record_hash)},
        {Py_tp_setattro, reinterpret_cast<void*>(record_setattro)},
        {Py_tp_getset, getset->data()},
        {Py_tp_methods, methods->data()},
        {0, nullptr},
    };
    PyType_Spec type_spec = {
        record.qualified_name,
        static_cast<int>(sizeof(RecordObject)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    if (!frozen_instance_error()) return nullptr;
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
    if (!type) return nullptr;

    RecordInfo info{type, std::string(_PyType_Name(type)) + ".__init__", {}};
    Ref match_args(PyTuple_New(static_cast<Py_ssize_t>(record.fields.size())));
    if (!match_args) {
        Py_DECREF(type);
        return nullptr;
    }
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
        PyObject* name = intern(record.fields[i]);
        if (!name) {
            Py_DECREF(type);
            return nullptr;
        }
        info.names.push_back(name);
        PyTuple_SET_ITEM(match_args.get(), static_cast<Py_ssize_t>(i), Py_NewRef(name));
    }
    if (PyDict_SetItemString(type->tp_dict, "__match_args__", match_args.get()) < 0) {
        Py_DECREF(type);
        return nullptr;
    }
    PyType_Modified(type);
    // The registry keeps its own reference: a record type is never freed,
    // so no other type can ever take its address.
    Py_INCREF(type);
    registry().push_back(std::move(info));
    return type;
}

bool add_function_method(PyTypeObject* type, PyMethodDef* def) {
    Ref func(PyCFunction_NewEx(def, nullptr, nullptr));
    if (!func) return false;
    Ref method(PyInstanceMethod_New(func.get()));
    if (!method || PyDict_SetItemString(type->tp_dict, def->ml_name, method.get()) < 0) return false;
    PyType_Modified(type);
    return true;
}

// ---------------------------------------------------------------------------
// Modules

bool add_object(PyObject* module, const char* name, PyObject* owned) {
    if (!owned) return false;
    if (PyModule_AddObject(module, name, owned) == 0) return true;
    Py_DECREF(owned);
    return false;
}

// ---------------------------------------------------------------------------
// Logging

bool emit_debug(PyObject* module, PyObject* event, PyObject* kwnames,
                std::initializer_list<PyObject*> values) {
    static PyObject* logger_name = intern("logger");
    static PyObject* debug_name = intern("debug");
    if (!logger_name || !debug_name) return false;
    Ref logger(PyObject_GetAttr(module, logger_name));
    if (!logger) return false;
    std::vector<PyObject*> args;
    args.reserve(2 + values.size());
    args.push_back(logger.get());
    args.push_back(event);
    args.insert(args.end(), values.begin(), values.end());
    Ref result(PyObject_VectorcallMethod(debug_name, args.data(), 2, kwnames));
    return static_cast<bool>(result);
}

// ---------------------------------------------------------------------------
// Errors

void set_error(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected internal error");
    }
}

}  // namespace quorvane::host
