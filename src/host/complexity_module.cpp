// agents.quorvane.complexity: the classifier and the reading planner.

#include <array>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "complexity/budgets.hpp"
#include "complexity/classifier.hpp"
#include "complexity/instructions.hpp"
#include "complexity/planner.hpp"
#include "complexity/tables.hpp"
#include "host/common.hpp"
#include "host/patterns.hpp"

namespace quorvane::host {
namespace {

namespace cx = quorvane::complexity;

// Everything the module builds at load, kept for the life of the process.
struct State {
    std::unique_ptr<cx::Classifier> classifier;
    std::unique_ptr<cx::Planner> planner;
    PyTypeObject* result_type = nullptr;
    PyTypeObject* strategy_type = nullptr;
    std::array<PyObject*, 3> levels{};  // SQLComplexity members, in Level order
    PyObject* ev_classified = nullptr;
    PyObject* ev_strategy = nullptr;
    PyObject* kw_classified = nullptr;
    PyObject* kw_strategy = nullptr;
    PyObject* kw_encoding = nullptr;
    PyObject* utf8 = nullptr;
    PyObject* read_text = nullptr;
    PyObject* empty_tuple = nullptr;
    std::unique_ptr<BoundSignature> sig_classify;
    std::unique_ptr<BoundSignature> sig_classify_file;
    std::unique_ptr<BoundSignature> sig_plan;
    std::unique_ptr<BoundSignature> sig_format;
};

State* g = nullptr;

enum ResultField { kComplexity, kEffectiveLines, kStoredProcCount, kComplexCount, kModerateCount,
                   kTempTableCount, kCteCount };
enum StrategyField { kShouldChunk, kTotalLines, kFirstReadLines, kSectionBoundaries };

// ---------------------------------------------------------------------------
// Turn budgets on the record's own values, with the host's arithmetic.

struct PythonError {};  // a host exception is set

class Num {
   public:
    explicit Num(long v) : ref_(PyLong_FromLong(v)) { check(); }
    static Num own(PyObject* owned) { return Num(Ref(owned)); }
    static Num borrowed(PyObject* p) { return own(Py_NewRef(p)); }
    Num(const Num& o) : ref_(Ref::borrow(o.ref_.get())) {}
    PyObject* get() const { return ref_.get(); }
    PyObject* release() { return ref_.release(); }

    friend Num operator+(const Num& a, const Num& b) { return own(PyNumber_Add(a.get(), b.get())); }
    friend Num operator*(const Num& a, const Num& b) { return own(PyNumber_Multiply(a.get(), b.get())); }
    friend bool operator>(const Num& a, const Num& b) { return compare(a, b, Py_GT); }
    friend Num floordiv(const Num& a, const Num& b) { return own(PyNumber_FloorDivide(a.get(), b.get())); }
    // The host's min(a, b): b only when b < a.
    friend Num smaller(const Num& a, const Num& b) { return compare(b, a, Py_LT) ? b : a; }

   private:
    explicit Num(Ref owned) : ref_(std::move(owned)) { check(); }
    void check() const {
        if (!ref_) throw PythonError{};
    }
    static bool compare(const Num& a, const Num& b, int op) {
        const int r = PyObject_RichCompareBool(a.get(), b.get(), op);
        if (r < 0) throw PythonError{};
        return r == 1;
    }
    Ref ref_;
};

template <class F>
PyObject* budget(F&& f) {
    try {
        return f().release();
    } catch (const PythonError&) {
        return nullptr;
    }
}

PyObject* get_analysis_turns(PyObject* self, void*) {
    return budget([&] {
        return cx::analysis_turns(Num::borrowed(record_field(self, kEffectiveLines)),
                                  Num::borrowed(record_field(self, kComplexCount)));
    });
}

PyObject* get_conversion_turns(PyObject* self, void*) {
    return budget([&] {
        return cx::conversion_turns(Num::borrowed(record_field(self, kEffectiveLines)),
                                    Num::borrowed(record_field(self, kComplexCount)),
                                    Num::borrowed(record_field(self, kStoredProcCount)));
    });
}

PyObject* get_audit_turns(PyObject*, void*) { return PyLong_FromLong(cx::kAuditTurns); }

// ---------------------------------------------------------------------------
// Classification

PyObject* py_size(std::size_t v) { return PyLong_FromSize_t(v); }

PyObject* classify_text(PyObject* module, PyObject* sql) {
    cx::Classification c{};
    const bool ok = run_core(PyUnicode_GET_LENGTH(sql) >= static_cast<Py_ssize_t>(kReleaseThreshold), [&] {
        c = with_text(sql, [&](auto t) { return g->classifier->classify(t); });
    });
    if (!ok) return nullptr;

    PyObject* level = g->levels[static_cast<std::size_t>(c.level)];
    Ref effective(py_size(c.effective_lines)), procs(py_size(c.stored_proc_count)),
        complex_count(py_size(c.complex_construct_count)), moderate(py_size(c.moderate_construct_count)),
        temps(py_size(c.temp_table_count)), ctes(py_size(c.cte_count));
    if (!effective || !procs || !complex_count || !moderate || !temps || !ctes) return nullptr;
    PyObject* fields[] = {level, effective.get(), procs.get(), complex_count.get(), moderate.get(),
                          temps.get(), ctes.get()};
    Ref result(new_record(g->result_type, fields));
    if (!result) return nullptr;
    if (!emit_debug(module, g->ev_classified, g->kw_classified,
                    {level, effective.get(), complex_count.get(), moderate.get(), procs.get()})) {
        return nullptr;
    }
    return result.release();
}

PyObject* classify_sql(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* sql;
    if (!g->sig_classify->parse(args, nargs, kwnames, &sql)) return nullptr;
    if (!check_exact(sql, &PyUnicode_Type, "sql_content")) return nullptr;
    return classify_text(module, sql);
}

// path.read_text(encoding="utf-8"): strict decoding, CR LF and CR become LF.
PyObject* read_text(PyObject* path) {
    PyObject* call_args[] = {path, g->utf8};
    return PyObject_VectorcallMethod(g->read_text, call_args, 1, g->kw_encoding);
}

PyObject* classify_sql_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* path;
    if (!g->sig_classify_file->parse(args, nargs, kwnames, &path)) return nullptr;
    Ref text(read_text(path));
    if (!text) return nullptr;
    // The text goes through the same boundary as a direct call.
    if (!check_exact(text.get(), &PyUnicode_Type, "sql_content")) return nullptr;
    return classify_text(module, text.get());
}

// ---------------------------------------------------------------------------
// Reading plan

PyObject* plan_reading_strategy(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
    PyObject* path;
    if (!g->sig_plan->parse(args, nargs, kwnames, &path)) return nullptr;
    Ref content(read_text(path));
    if (!content) return nullptr;
    if (!PyUnicode_Check(content.get())) {
        PyErr_Format(PyExc_TypeError, "read_text() returned %.200s, not str", Py_TYPE(content.get())->tp_name);
        return nullptr;
    }

    cx::ReadingPlan plan{};
    const bool ok = run_core(PyUnicode_GET_LENGTH(content.get()) >= static_cast<Py_ssize_t>(kReleaseThreshold),
                             [&] { plan = with_text(content.get(), [&](auto t) { return g->planner->plan(t); }); });
    if (!ok) return nullptr;

    Ref sections(PyTuple_New(static_cast<Py_ssize_t>(plan.sections.size())));
    if (!sections) return nullptr;
    for (std::size_t i = 0; i < plan.sections.size(); ++i) {
        const cx::PlannedSection& s = plan.sections[i];
        Ref hint;
        if (s.block_lines) {
            hint = Ref(ascii_string(cx::block_hint_text(s.block_lines)));
        } else {
            const std::pair<std::size_t, std::size_t> piece{s.hint_begin, s.hint_end};
            hint = Ref(join_pieces(content.get(), {&piece, 1}, ""));
        }
        Ref start(py_size(s.start)), end(py_size(s.end));
        if (!hint || !start || !end) return nullptr;
        PyObject* entry = PyTuple_Pack(3, start.get(), end.get(), hint.get());
        if (!entry) return nullptr;
        PyTuple_SET_ITEM(sections.get(), static_cast<Py_ssize_t>(i), entry);
    }
    Ref total(py_size(plan.total_lines)), first(py_size(plan.first_read_lines));
    if (!total || !first) return nullptr;
    PyObject* fields[] = {plan.should_chunk ? Py_True : Py_False, total.get(), first.get(), sections.get()};
    Ref result(new_record(g->strategy_type, fields));
    if (!result) return nullptr;
    if (plan.should_chunk) {
        Ref count(py_size(plan.sections.size()));
        if (!count || !emit_debug(module, g->ev_strategy, g->kw_strategy, {total.get(), count.get(), first.get()})) {
            return nullptr;
        }
    }
    return result.release();
}

// ---------------------------------------------------------------------------
// Reading instructions

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

PyObject* format_reading_instructions(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    namespace ins = cx::instructions;
    PyObject* values[2];
    if (!g->sig_format->parse(args, nargs, kwnames, values)) return nullptr;
    PyObject* self = values[0];
    PyObject* sql_path = values[1];
    if (!check_exact(sql_path, &PyUnicode_Type, "sql_path")) return nullptr;

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

// ---------------------------------------------------------------------------
// Module

PyMethodDef kFormatMethod = {
    "format_reading_instructions", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(format_reading_instructions)),
    METH_FASTCALL | METH_KEYWORDS,
    "format_reading_instructions(self, sql_path)\n--\n\n"
    "The reading instructions for the agent's model: one sentence naming\n"
    "`sql_path` when the file is read whole, else a numbered plan of the\n"
    "first read and each section."};

PyMethodDef kFunctions[] = {
    {"classify_sql", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(classify_sql)),
     METH_FASTCALL | METH_KEYWORDS,
     "classify_sql(sql_content)\n--\n\n"
     "Grade a SQL script simple, moderate or complex and count its constructs.\n"
     "Emits the debug event \"sql_classified\"."},
    {"classify_sql_file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(classify_sql_file)),
     METH_FASTCALL | METH_KEYWORDS,
     "classify_sql_file(sql_path)\n--\n\n"
     "classify_sql() on the text of a file read as UTF-8."},
    {"plan_reading_strategy", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(plan_reading_strategy)),
     METH_FASTCALL | METH_KEYWORDS,
     "plan_reading_strategy(sql_path)\n--\n\n"
     "Decide whether a SQL file must be read in sections, and which.\n"
     "Emits the debug event \"reading_strategy\" when it is split."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "agents.quorvane.complexity",
    "Complexity classification and reading plans for SQL scripts.",
    -1,
    kFunctions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyGetSetDef kBudgetProperties[] = {
    {"recommended_analysis_turns", get_analysis_turns, nullptr,
     "Turns to budget for analysing the script: 3, plus one per full 300\n"
     "effective lines (at most 3) and one per complex construct (at most 2),\n"
     "at most 8.",
     nullptr},
    {"recommended_conversion_turns", get_conversion_turns, nullptr,
     "Turns to budget for converting the script: 5, plus two per full 100\n"
     "effective lines, two per complex construct, 3 when it defines a stored\n"
     "procedure, and a buffer of 4; at most 40.",
     nullptr},
    {"recommended_audit_turns", get_audit_turns, nullptr, "Turns to budget for auditing: always 3.", nullptr},
};

PyObject* make_levels_enum(std::array<PyObject*, 3>& members) {
    Ref enum_module(PyImport_ImportModule("enum"));
    Ref str_enum(enum_module ? PyObject_GetAttrString(enum_module.get(), "StrEnum") : nullptr);
    if (!str_enum) return nullptr;
    Ref args(Py_BuildValue("(s[(ss)(ss)(ss)])", "SQLComplexity", "SIMPLE", "simple", "MODERATE", "moderate",
                           "COMPLEX", "complex"));
    Ref kwargs(Py_BuildValue("{ssss}", "module", "agents.quorvane.complexity", "qualname", "SQLComplexity"));
    Ref cls(args && kwargs ? PyObject_Call(str_enum.get(), args.get(), kwargs.get()) : nullptr);
    if (!cls) return nullptr;
    Ref doc(PyUnicode_FromString("Complexity level of a SQL script; each member is also its string value."));
    if (!doc || PyObject_SetAttrString(cls.get(), "__doc__", doc.get()) < 0) return nullptr;
    const char* names[] = {"SIMPLE", "MODERATE", "COMPLEX"};
    for (std::size_t i = 0; i < 3; ++i) {
        members[i] = PyObject_GetAttrString(cls.get(), names[i]);  // kept for the process
        if (!members[i]) return nullptr;
    }
    return cls.release();
}

bool init(PyObject* m) {
    Ref structlog(PyImport_ImportModule("structlog"));
    if (!structlog) return false;

    // Types of the classification.
    if (!add_object(m, "SQLComplexity", make_levels_enum(g->levels))) return false;
    g->result_type = make_record_type({
        "agents.quorvane.complexity.ComplexityResult",
        "ComplexityResult(complexity, effective_lines, stored_proc_count, complex_construct_count, "
        "moderate_construct_count, temp_table_count, cte_count)\n--\n\n"
        "The immutable result of one classification, with turn budgets derived\n"
        "from its counts.",
        {"complexity", "effective_lines", "stored_proc_count", "complex_construct_count",
         "moderate_construct_count", "temp_table_count", "cte_count"},
        {std::begin(kBudgetProperties), std::end(kBudgetProperties)},
    });
    if (!g->result_type || !add_object(m, "ComplexityResult", Py_NewRef(reinterpret_cast<PyObject*>(g->result_type)))) {
        return false;
    }

    // The module's objects, in load order: the logger, then the tables.
    if (!add_object(m, "logger", PyObject_CallMethod(structlog.get(), "get_logger", nullptr))) return false;
    Ref re(PyImport_ImportModule("re"));
    if (!re) return false;
    if (!add_object(m, "_COMPLEX_PATTERNS", host_pattern_list(re.get(), cx::kComplexPatterns)) ||
        !add_object(m, "_MODERATE_PATTERNS", host_pattern_list(re.get(), cx::kModeratePatterns)) ||
        !add_object(m, "_STORED_PROC_PATTERN", host_pattern(re.get(), cx::kStoredProcPattern)) ||
        !add_object(m, "_COMMENT_PATTERNS", host_pattern_list(re.get(), cx::kCommentPatterns))) {
        return false;
    }
    try {
        g->classifier = std::make_unique<cx::Classifier>();
        g->planner = std::make_unique<cx::Planner>();
    } catch (...) {
        set_error(std::current_exception());
        return false;
    }

    // The reading plan's record.
    g->strategy_type = make_record_type({
        "agents.quorvane.complexity.FileReadingStrategy",
        "FileReadingStrategy(should_chunk, total_lines, first_read_lines, section_boundaries)\n--\n\n"
        "How to read a SQL file: whole, or lines 1..first_read_lines and then\n"
        "each (start, end, hint) section.",
        {"should_chunk", "total_lines", "first_read_lines", "section_boundaries"},
        {},
    });
    if (!g->strategy_type || !add_function_method(g->strategy_type, &kFormatMethod) ||
        !add_object(m, "FileReadingStrategy", Py_NewRef(reinterpret_cast<PyObject*>(g->strategy_type)))) {
        return false;
    }

    g->ev_classified = intern("sql_classified");
    g->ev_strategy = intern("reading_strategy");
    g->kw_classified = name_tuple({"complexity", "effective_lines", "complex_constructs", "moderate_constructs",
                                   "stored_procs"});
    g->kw_strategy = name_tuple({"total_lines", "sections", "first_read"});
    g->kw_encoding = name_tuple({"encoding"});
    g->utf8 = intern("utf-8");
    g->read_text = intern("read_text");
    if (!g->ev_classified || !g->ev_strategy || !g->kw_classified || !g->kw_strategy || !g->kw_encoding ||
        !g->utf8 || !g->read_text) {
        return false;
    }
    g->sig_classify = std::make_unique<BoundSignature>(Signature{"classify_sql", {"sql_content"}});
    g->sig_classify_file = std::make_unique<BoundSignature>(Signature{"classify_sql_file", {"sql_path"}});
    g->sig_plan = std::make_unique<BoundSignature>(Signature{"plan_reading_strategy", {"sql_path"}});
    g->sig_format =
        std::make_unique<BoundSignature>(Signature{"format_reading_instructions", {"self", "sql_path"}});
    return g->sig_classify->ok() && g->sig_classify_file->ok() && g->sig_plan->ok() && g->sig_format->ok();
}

}  // namespace
}  // namespace quorvane::host

PyMODINIT_FUNC PyInit_complexity() {
    using namespace quorvane::host;
    return create_module(&kModule, g, init);
}
