// agents.quorvane._complexity, the native part of agents.quorvane.complexity:
// the classifier and the reading planner.

#include <array>
#include <memory>
#include <utility>

#include "complexity/classifier.hpp"
#include "complexity/planner.hpp"
#include "complexity/tables.hpp"
#include "host/arguments.hpp"
#include "host/events.hpp"
#include "host/locations.hpp"
#include "host/module_state.hpp"
#include "host/patterns.hpp"
#include "host/reading_instructions.hpp"
#include "host/strings.hpp"
#include "host/threads.hpp"

namespace quorvane::host {
namespace {

namespace cx = quorvane::complexity;

// What one load of the module builds.  Python objects are borrowed from
// the state's kept references.
struct State : ModuleState {
    std::unique_ptr<cx::Classifier> classifier;
    std::unique_ptr<cx::Planner> planner;
    PyObject* result_type = nullptr;    // ComplexityResult
    PyObject* strategy_type = nullptr;  // FileReadingStrategy
    std::array<PyObject*, 3> levels{};  // SQLComplexity members, in Level order
    PyObject* ev_classified = nullptr;
    PyObject* ev_strategy = nullptr;
    PyObject* kw_classified = nullptr;
    PyObject* kw_strategy = nullptr;
    PyObject* kw_encoding = nullptr;
    PyObject* utf8 = nullptr;
    PyObject* read_text = nullptr;
    EventLog events;

    bool load();
};

// ---------------------------------------------------------------------------
// Classification

PyObject* py_size(std::size_t v) { return PyLong_FromSize_t(v); }

PyObject* classify_text(State& s, PyObject* sql) {
    const cx::Classification c = scan(sql, [&](auto t) { return s.classifier->classify(t); });
    PyObject* level = s.levels[static_cast<std::size_t>(c.level)];
    Ref effective(py_size(c.effective_lines)), procs(py_size(c.stored_proc_count)),
        complex_count(py_size(c.complex_construct_count)), moderate(py_size(c.moderate_construct_count)),
        temps(py_size(c.temp_table_count)), ctes(py_size(c.cte_count));
    if (!effective || !procs || !complex_count || !moderate || !temps || !ctes) return nullptr;
    PyObject* fields[] = {level, effective.get(), procs.get(), complex_count.get(), moderate.get(),
                          temps.get(), ctes.get()};
    Ref result(PyObject_Vectorcall(s.result_type, fields, std::size(fields), nullptr));
    if (!result) return nullptr;
    if (!s.events.debug(s.globals(), s.ev_classified, s.kw_classified,
                        {level, effective.get(), complex_count.get(), moderate.get(), procs.get()})) {
        return nullptr;
    }
    return result.release();
}

PyObject* classify_sql(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
    PyObject* sql;
    if (!sig.parse(args, nargs, kwnames, &sql) || !check_text(sql, "sql_content")) return nullptr;
    return classify_text(s, sql);
}

PyObject* locate_constructs(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    PyObject* sql;
    if (!sig.parse(args, nargs, kwnames, &sql) || !check_text(sql, "sql_content")) return nullptr;
    return location_tuple(scan(sql, [&](auto t) { return s.classifier->locate(t); }));
}

// path.read_text(encoding="utf-8"): strict decoding, CR LF and CR become LF.
PyObject* read_text(State& s, PyObject* path) {
    PyObject* call_args[] = {path, s.utf8};
    return PyObject_VectorcallMethod(s.read_text, call_args, 1, s.kw_encoding);
}

PyObject* classify_sql_file(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    PyObject* path;
    if (!sig.parse(args, nargs, kwnames, &path)) return nullptr;
    Ref text(read_text(s, path));
    // The text goes through the same boundary as a direct call.
    if (!text || !check_text(text.get(), "sql_content")) return nullptr;
    return classify_text(s, text.get());
}

// ---------------------------------------------------------------------------
// Reading plan

// The plan of a ready host string; emits "reading_strategy" when it is split.
PyObject* plan_text(State& s, PyObject* content) {
    const cx::ReadingPlan plan = scan(content, [&](auto t) { return s.planner->plan(t); });
    Ref sections(PyTuple_New(static_cast<Py_ssize_t>(plan.sections.size())));
    if (!sections) return nullptr;
    for (std::size_t i = 0; i < plan.sections.size(); ++i) {
        const cx::PlannedSection& section = plan.sections[i];
        Ref hint;
        if (section.block_lines) {
            hint = Ref(ascii_string(cx::block_hint_text(section.block_lines)));
        } else {
            const std::pair<std::size_t, std::size_t> piece{section.hint_begin, section.hint_end};
            hint = Ref(join_pieces(content, {&piece, 1}, ""));
        }
        Ref start(py_size(section.start)), end(py_size(section.end));
        if (!hint || !start || !end) return nullptr;
        PyObject* entry = PyTuple_Pack(3, start.get(), end.get(), hint.get());
        if (!entry) return nullptr;
        PyTuple_SET_ITEM(sections.get(), static_cast<Py_ssize_t>(i), entry);
    }
    Ref total(py_size(plan.total_lines)), first(py_size(plan.first_read_lines));
    if (!total || !first) return nullptr;
    PyObject* fields[] = {plan.should_chunk ? Py_True : Py_False, total.get(), first.get(), sections.get()};
    Ref result(PyObject_Vectorcall(s.strategy_type, fields, std::size(fields), nullptr));
    if (!result) return nullptr;
    if (plan.should_chunk) {
        Ref count(py_size(plan.sections.size()));
        if (!count || !s.events.debug(s.globals(), s.ev_strategy, s.kw_strategy, {total.get(), count.get(), first.get()})) {
            return nullptr;
        }
    }
    return result.release();
}

PyObject* plan_reading_strategy(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
    PyObject* path;
    if (!sig.parse(args, nargs, kwnames, &path)) return nullptr;
    Ref content(read_text(s, path));
    if (!content) return nullptr;
    if (!PyUnicode_Check(content.get())) {
        PyErr_Format(PyExc_TypeError, "read_text() returned %.200s, not str", Py_TYPE(content.get())->tp_name);
        return nullptr;
    }
    if (!ready(content.get())) return nullptr;
    return plan_text(s, content.get());
}

PyObject* plan_reading_text(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    PyObject* sql;
    if (!sig.parse(args, nargs, kwnames, &sql) || !check_text(sql, "sql_content")) return nullptr;
    return plan_text(s, sql);
}

// ---------------------------------------------------------------------------
// Reading instructions (their text: reading_instructions.cpp)

PyObject* format_reading_instructions(State&, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
    PyObject* values[2];
    if (!sig.parse(args, nargs, kwnames, values)) return nullptr;
    if (!check_exact(values[1], &PyUnicode_Type, "sql_path")) return nullptr;
    return reading_instructions(values[0], values[1]);
}

// ---------------------------------------------------------------------------
// Module

FunctionRow kFormatMethod = function<State, format_reading_instructions>(
    {"format_reading_instructions", {"self", "sql_path"}},
    "format_reading_instructions(self, sql_path)\n--\n\n"
    "The reading instructions for the agent's model: one sentence naming\n"
    "`sql_path` when the file is read whole, else a numbered plan of the\n"
    "first read and each section.");

FunctionRow kFunctions[] = {
    function<State, classify_sql>({"classify_sql", {"sql_content"}},
        "classify_sql(sql_content)\n--\n\n"
        "Grade a SQL script simple, moderate or complex and count its constructs.\n"
        "Emits the debug event \"sql_classified\"."),
    function<State, classify_sql_file>({"classify_sql_file", {"sql_path"}},
        "classify_sql_file(sql_path)\n--\n\n"
        "classify_sql() on the text of a file read as UTF-8."),
    function<State, locate_constructs>({"locate_constructs", {"sql_content"}},
        "locate_constructs(sql_content)\n--\n\n"
        "Where each construct the classifier counts first occurs: a tuple of\n"
        "(line, kind, name), kind \"complex\", \"moderate\" or \"stored_proc\",\n"
        "sorted by line.  Comments are removed for matching; lines are those of\n"
        "the text as given, numbered from 1 as the reading plan numbers them."),
    function<State, plan_reading_strategy>({"plan_reading_strategy", {"sql_path"}},
        "plan_reading_strategy(sql_path)\n--\n\n"
        "Decide whether a SQL file must be read in sections, and which.\n"
        "Emits the debug event \"reading_strategy\" when it is split."),
    function<State, plan_reading_text>({"plan_reading_text", {"sql_content"}},
        "plan_reading_text(sql_content)\n--\n\n"
        "plan_reading_strategy() on the text of a file already read (as\n"
        "read_text(encoding=\"utf-8\") gives it), for a caller that has it."),
    {},
};

bool State::load() {
    Ref structlog(PyImport_ImportModule("structlog"));
    Ref records(structlog ? PyImport_ImportModule("agents.quorvane._records") : nullptr);
    if (!records) return false;
    if (!add_functions(kFunctions)) return false;

    // The Python-level types: the level enumeration and the two records.
    Ref method(new_function(&kFormatMethod));
    Ref bound(method ? PyInstanceMethod_New(method.get()) : nullptr);
    Ref types(bound ? PyObject_CallMethod(records.get(), "define", "O", bound.get()) : nullptr);
    if (!types) return false;
    PyObject* level_type = nullptr;
    if (!PyArg_ParseTuple(types.get(), "OOO;define() returns three types", &level_type, &result_type,
                          &strategy_type)) {
        return false;
    }
    keep(Py_NewRef(result_type));
    keep(Py_NewRef(strategy_type));
    const char* level_names[] = {"SIMPLE", "MODERATE", "COMPLEX"};
    for (std::size_t i = 0; i < levels.size(); ++i) {
        levels[i] = keep(PyObject_GetAttrString(level_type, level_names[i]));
        if (!levels[i]) return false;
    }
    if (!add_object("SQLComplexity", Py_NewRef(level_type)) ||
        !add_object("ComplexityResult", Py_NewRef(result_type))) {
        return false;
    }

    // The module's objects, in load order: the logger, then the tables.
    if (!add_object("logger", PyObject_CallMethod(structlog.get(), "get_logger", nullptr))) return false;
    Ref re(PyImport_ImportModule("re"));
    if (!re) return false;
    if (!add_object("_COMPLEX_PATTERNS", host_pattern_list(re.get(), cx::kComplexPatterns)) ||
        !add_object("_MODERATE_PATTERNS", host_pattern_list(re.get(), cx::kModeratePatterns)) ||
        !add_object("_STORED_PROC_PATTERN", host_pattern(re.get(), cx::kStoredProcPattern)) ||
        !add_object("_COMMENT_PATTERNS", host_pattern_list(re.get(), cx::kCommentPatterns))) {
        return false;
    }
    classifier = std::make_unique<cx::Classifier>();
    planner = std::make_unique<cx::Planner>();
    if (!add_object("FileReadingStrategy", Py_NewRef(strategy_type))) return false;

    ev_classified = keep(intern("sql_classified"));
    ev_strategy = keep(intern("reading_strategy"));
    kw_classified = keep(name_tuple({"complexity", "effective_lines", "complex_constructs", "moderate_constructs",
                                     "stored_procs"}));
    kw_strategy = keep(name_tuple({"total_lines", "sections", "first_read"}));
    kw_encoding = keep(name_tuple({"encoding"}));
    utf8 = keep(intern("utf-8"));
    read_text = keep(intern("read_text"));
    if (!ev_classified || !ev_strategy || !kw_classified || !kw_strategy || !kw_encoding || !utf8 || !read_text ||
        !events.load()) {
        return false;
    }
    return true;
}

PyModuleDef kModule = module_def<State>("agents.quorvane._complexity");

}  // namespace
}  // namespace quorvane::host

PyMODINIT_FUNC PyInit__complexity() { return PyModuleDef_Init(&quorvane::host::kModule); }
