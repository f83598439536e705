// agents.quorvane.dialectra.MarkerScanner: the host type over
// dialectra::MarkerScanner.
//
//   MarkerScanner(rows)      rows: an iterable of (pattern, comment_scope)
//                            pairs; every pattern is compiled here, and one
//                            the engine cannot take raises ValueError.
//   scanner.first_lines(sql) tuple of the 1-based line of each row's first
//                            counted match in `sql` (0: none), in row order.
//   scanner.first_matches(sql)
//                            tuple of (row, line) for the rows that match.
//   scanner.all_matches(sql) tuple of (row, line, start, end) for every
//                            counted match, ordered by start, then row;
//                            start and end are indexes of `sql`.
//   len(scanner)             the number of rows.
//
// The scan reads the str in its own storage and releases the interpreter
// lock for texts of 4,096 characters and more.
#include "host/marker_scanner_type.hpp"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "dialectra/scanner.hpp"
#include "host/errors.hpp"
#include "host/ref.hpp"
#include "host/threads.hpp"

namespace quorvane::host {
namespace {

namespace dl = quorvane::dialectra;

struct ScannerObject {
    PyObject_HEAD
    dl::MarkerScanner* scanner;
};

// One row: (pattern, comment_scope); the pattern's UTF-8 text goes to `out`.
bool read_row(PyObject* item, Py_ssize_t index, std::string& pattern, bool& comment_scope) {
    if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
        PyErr_Format(PyExc_TypeError, "row %zd must be a (pattern, comment_scope) pair, not %.200s", index,
                     Py_TYPE(item)->tp_name);
        return false;
    }
    PyObject* text = PyTuple_GET_ITEM(item, 0);
    if (!PyUnicode_Check(text)) {
        PyErr_Format(PyExc_TypeError, "row %zd: pattern must be str, not %.200s", index, Py_TYPE(text)->tp_name);
        return false;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (!utf8) return false;
    pattern.assign(utf8, static_cast<std::size_t>(size));
    const int flag = PyObject_IsTrue(PyTuple_GET_ITEM(item, 1));
    if (flag < 0) return false;
    comment_scope = flag != 0;
    return true;
}

PyObject* build_scanner(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"rows", nullptr};
    PyObject* rows_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:MarkerScanner", const_cast<char**>(keywords), &rows_arg)) {
        return nullptr;
    }
    Ref rows(PySequence_Fast(rows_arg, "MarkerScanner() argument must be an iterable of (pattern, comment_scope)"));
    if (!rows) return nullptr;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(rows.get());
    std::vector<std::string> patterns(static_cast<std::size_t>(count));
    std::vector<dl::ScanRow> table(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (!read_row(PySequence_Fast_GET_ITEM(rows.get(), i), i, patterns[k], table[k].comment_scope)) return nullptr;
        table[k].pattern = patterns[k];
    }
    std::unique_ptr<dl::MarkerScanner> scanner;
    try {
        scanner = std::make_unique<dl::MarkerScanner>(table);
    } catch (const rx::PatternError& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
        return nullptr;
    }
    auto* self = reinterpret_cast<ScannerObject*>(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    self->scanner = scanner.release();
    return reinterpret_cast<PyObject*>(self);
}

PyObject* scanner_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] { return build_scanner(type, args, kwargs); });
}

void scanner_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<ScannerObject*>(self)->scanner;
    type->tp_free(self);
    Py_DECREF(type);
}

// The lines of every row for `sql`, or false with an exception set.
bool scan_lines(PyObject* self, PyObject* sql, const char* method, std::vector<std::size_t>& lines) {
    if (!PyUnicode_Check(sql)) {
        PyErr_Format(PyExc_TypeError, "%s() argument must be str, not %.200s", method, Py_TYPE(sql)->tp_name);
        return false;
    }
    if (!ready(sql)) return false;
    const dl::MarkerScanner& scanner = *reinterpret_cast<ScannerObject*>(self)->scanner;
    lines = host::scan(sql, [&](auto text) { return scanner.first_lines(text); });
    return true;
}

PyObject* lines_tuple(PyObject* self, PyObject* sql) {
    std::vector<std::size_t> lines;
    if (!scan_lines(self, sql, "first_lines", lines)) return nullptr;
    Ref result(PyTuple_New(static_cast<Py_ssize_t>(lines.size())));
    if (!result) return nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        PyObject* line = PyLong_FromSize_t(lines[i]);
        if (!line) return nullptr;
        PyTuple_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), line);
    }
    return result.release();
}

PyObject* matches_tuple(PyObject* self, PyObject* sql) {
    std::vector<std::size_t> lines;
    if (!scan_lines(self, sql, "first_matches", lines)) return nullptr;
    const auto matched = std::count_if(lines.begin(), lines.end(), [](std::size_t l) { return l != 0; });
    Ref result(PyTuple_New(static_cast<Py_ssize_t>(matched)));
    if (!result) return nullptr;
    Py_ssize_t k = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i]) continue;
        Ref row(PyLong_FromSize_t(i));
        Ref line(row ? PyLong_FromSize_t(lines[i]) : nullptr);
        if (!line) return nullptr;
        PyObject* pair = PyTuple_Pack(2, row.get(), line.get());
        if (!pair) return nullptr;
        PyTuple_SET_ITEM(result.get(), k++, pair);
    }
    return result.release();
}

PyObject* all_matches_tuple(PyObject* self, PyObject* sql) {
    if (!PyUnicode_Check(sql)) {
        PyErr_Format(PyExc_TypeError, "all_matches() argument must be str, not %.200s", Py_TYPE(sql)->tp_name);
        return nullptr;
    }
    if (!ready(sql)) return nullptr;
    const dl::MarkerScanner& scanner = *reinterpret_cast<ScannerObject*>(self)->scanner;
    const std::vector<dl::ScanMatch> found = host::scan(sql, [&](auto text) { return scanner.all_matches(text); });
    Ref result(PyTuple_New(static_cast<Py_ssize_t>(found.size())));
    if (!result) return nullptr;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const dl::ScanMatch& m = found[i];
        PyObject* item = Py_BuildValue("(nnnn)", static_cast<Py_ssize_t>(m.row), static_cast<Py_ssize_t>(m.line),
                                       static_cast<Py_ssize_t>(m.begin), static_cast<Py_ssize_t>(m.end));
        if (!item) return nullptr;
        PyTuple_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), item);
    }
    return result.release();
}

PyObject* all_matches(PyObject* self, PyObject* sql) {
    return guarded([&] { return all_matches_tuple(self, sql); });
}

PyObject* first_lines(PyObject* self, PyObject* sql) {
    return guarded([&] { return lines_tuple(self, sql); });
}

PyObject* first_matches(PyObject* self, PyObject* sql) {
    return guarded([&] { return matches_tuple(self, sql); });
}

Py_ssize_t scanner_length(PyObject* self) {
    return static_cast<Py_ssize_t>(reinterpret_cast<ScannerObject*>(self)->scanner->size());
}

PyMethodDef kMethods[] = {
    {"first_lines", first_lines, METH_O,
     "first_lines($self, sql, /)\n--\n\n"
     "The 1-based line of each row's first counted match in sql (0: none),\n"
     "in row order."},
    {"first_matches", first_matches, METH_O,
     "first_matches($self, sql, /)\n--\n\n"
     "(row, line) for each row with a counted match in sql, in row order:\n"
     "the non-zero entries of first_lines(sql) with their indexes."},
    {"all_matches", all_matches, METH_O,
     "all_matches($self, sql, /)\n--\n\n"
     "(row, line, start, end) for every counted match in sql, ordered by\n"
     "start, then row: a row's matches do not overlap; start and end index\n"
     "sql (a code row's span includes any comment inside the match)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(scanner_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(scanner_dealloc)},
    {Py_tp_methods, kMethods},
    {Py_sq_length, reinterpret_cast<void*>(scanner_length)},
    {Py_tp_doc, const_cast<char*>(
                    "MarkerScanner(rows)\n--\n\n"
                    "A scanner over a table of (pattern, comment_scope) rows, compiled once.\n"
                    "Patterns are in the re module's syntax and match case-insensitively\n"
                    "(Unicode simple case folding) and in multi-line mode.  A comment-scope\n"
                    "row searches the whole text; any other row searches the text without\n"
                    "its comments and ignores matches that begin inside a single-quoted\n"
                    "literal.")},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "agents.quorvane.dialectra.MarkerScanner",
    sizeof(ScannerObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    kSlots,
};

}  // namespace

bool add_marker_scanner_type(PyObject* globals) {
    Ref type(PyType_FromSpec(&kSpec));
    if (!type) return false;
    return PyDict_SetItemString(globals, "MarkerScanner", type.get()) == 0;
}

}  // namespace quorvane::host
