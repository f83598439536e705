#include "host/reading_instructions.hpp"

#include <initializer_list>

#include "complexity/instructions.hpp"
#include "host/ref.hpp"
#include "host/strings.hpp"

namespace quorvane::host {
namespace {

namespace cx = quorvane::complexity;

// The host's f-string text of a value.
PyObject* text_of(PyObject* v) { return PyObject_Format(v, nullptr); }

// `a, b, c = entry`, with the host's unpacking errors.
bool unpack3(PyObject* entry, Ref (&out)[3]) {
    Ref it(PyObject_GetIter(entry));
    if (!it) {
        if (PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(entry)->tp_iter == nullptr &&
            !PySequence_Check(entry)) {
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(entry)->tp_name);
        }
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        out[i] = Ref(PyIter_Next(it.get()));
        if (!out[i]) {
            if (!PyErr_Occurred()) {
                PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected %d, got %d)", 3, i);
            }
            return false;
        }
    }
    Ref extra(PyIter_Next(it.get()));
    if (extra) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %d)", 3);
        return false;
    }
    return !PyErr_Occurred();
}

class Lines {
   public:
    Lines() : list_(PyList_New(0)) {}
    bool ok() const { return static_cast<bool>(list_); }

    // Appends the concatenation of `parts` (host strings) as one line.
    bool add(std::initializer_list<PyObject*> parts) {
        Ref empty(PyUnicode_New(0, 0));
        Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(parts.size())));
        if (!empty || !tuple) return false;
        Py_ssize_t i = 0;
        for (PyObject* p : parts) PyTuple_SET_ITEM(tuple.get(), i++, Py_NewRef(p));
        Ref line(PyUnicode_Join(empty.get(), tuple.get()));
        return line && PyList_Append(list_.get(), line.get()) == 0;
    }

    PyObject* join() {
        Ref sep(ascii_string(cx::instructions::kLineSeparator));
        return sep ? PyUnicode_Join(sep.get(), list_.get()) : nullptr;
    }

   private:
    Ref list_;
};

}  // namespace

PyObject* reading_instructions(PyObject* self, PyObject* sql_path) {
    namespace ins = cx::instructions;
    Ref should_chunk(PyObject_GetAttrString(self, "should_chunk"));
    if (!should_chunk) return nullptr;
    const int chunked = PyObject_IsTrue(should_chunk.get());
    if (chunked < 0) return nullptr;
    if (!chunked) {
        Ref before(ascii_string(ins::kWholeFileBefore)), after(ascii_string(ins::kWholeFileAfter));
        if (!before || !after) return nullptr;
        Lines line;
        return line.ok() && line.add({before.get(), sql_path, after.get()}) ? line.join() : nullptr;
    }

    Lines lines;
    if (!lines.ok()) return nullptr;
    Ref total_attr(PyObject_GetAttrString(self, "total_lines"));
    Ref total(total_attr ? text_of(total_attr.get()) : nullptr);
    Ref intro_before(ascii_string(ins::kIntroBefore)), intro_after(ascii_string(ins::kIntroAfter));
    if (!total || !intro_before || !intro_after || !lines.add({intro_before.get(), total.get(), intro_after.get()})) {
        return nullptr;
    }
    Ref first_attr(PyObject_GetAttrString(self, "first_read_lines"));
    Ref first(first_attr ? text_of(first_attr.get()) : nullptr);
    Ref first_before(ascii_string(ins::kFirstReadBefore)), first_after(ascii_string(ins::kFirstReadAfter));
    Ref sections_intro(ascii_string(ins::kSectionsIntro));
    if (!first || !first_before || !first_after || !sections_intro ||
        !lines.add({first_before.get(), first.get(), first_after.get()}) || !lines.add({sections_intro.get()})) {
        return nullptr;
    }

    Ref boundaries(PyObject_GetAttrString(self, "section_boundaries"));
    Ref it(boundaries ? PyObject_GetIter(boundaries.get()) : nullptr);
    Ref before(ascii_string(ins::kSectionBefore)), range(ascii_string(ins::kSectionRange)),
        hint_sep(ascii_string(ins::kSectionHint));
    if (!it || !before || !range || !hint_sep) return nullptr;
    while (Ref entry{PyIter_Next(it.get())}) {
        Ref parts[3];
        if (!unpack3(entry.get(), parts)) return nullptr;
        Ref start(text_of(parts[0].get()));
        Ref end(start ? text_of(parts[1].get()) : nullptr);
        Ref hint(end ? text_of(parts[2].get()) : nullptr);
        if (!hint ||
            !lines.add({before.get(), start.get(), range.get(), end.get(), hint_sep.get(), hint.get()})) {
            return nullptr;
        }
    }
    if (PyErr_Occurred()) return nullptr;
    Ref closing(ascii_string(ins::kClosing));
    if (!closing || !lines.add({closing.get()})) return nullptr;
    return lines.join();
}


}  // namespace quorvane::host
