// agents.quorvane._loresift, the native part of agents.quorvane.loresift:
// construct categories and knowledge selection.

#include <array>
#include <memory>
#include <string_view>
#include <vector>

#include "host/arguments.hpp"
#include "host/events.hpp"
#include "host/locations.hpp"
#include "host/module_state.hpp"
#include "host/patterns.hpp"
#include "host/strings.hpp"
#include "host/threads.hpp"
#include "loresift/loresift.hpp"
#include "loresift/tables.hpp"
#include "shared/scan.hpp"
#include "shared/unicode.hpp"

namespace quorvane::host {
namespace {

namespace ls = quorvane::loresift;

// What one load of the module builds.  Python objects are borrowed from
// the state's kept references.
struct State : ModuleState {
    std::unique_ptr<ls::CategoryDetector> detector;
    std::array<PyObject*, ls::kCategoryPatterns.size()> keys{};  // interned category keys
    PyObject* ev_selected = nullptr;
    PyObject* kw_selected = nullptr;
    PyObject* kw_sizes = nullptr;  // the event's size fields, for select_knowledge_with_sizes
    PyObject* empty = nullptr;
    PyObject* mapping_key = nullptr;
    PyObject* gotchas_key = nullptr;
    PyObject* limitations_key = nullptr;
    EventLog events;

    bool load();
};

// ---------------------------------------------------------------------------

PyObject* detect_construct_categories(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
    PyObject* sql;
    if (!sig.parse(args, nargs, kwnames, &sql) || !check_text(sql, "sql_content")) return nullptr;
    const ls::CategorySet found = scan(sql, [&](auto t) { return s.detector->detect(t); });
    Ref result(PySet_New(nullptr));
    if (!result) return nullptr;
    for (std::size_t i = 0; i < s.keys.size(); ++i) {
        if ((found >> i & 1) && PySet_Add(result.get(), s.keys[i]) < 0) return nullptr;
    }
    return result.release();
}

PyObject* locate_categories(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    PyObject* sql;
    if (!sig.parse(args, nargs, kwnames, &sql) || !check_text(sql, "sql_content")) return nullptr;
    return location_tuple(scan(sql, [&](auto t) { return s.detector->locate(t); }));
}

// The lower-cased form of one wanted title, by the host's str.lower().
bool lowered_title(PyObject* title, std::u32string& out) {
    if (PyUnicode_CheckExact(title)) {
        if (!ready(title)) return false;
        with_text(title, [&](auto t) { unicode::append_lower(t, 0, t.size(), out); });
        return true;
    }
    // Anything else is asked for its own lower(), as a Python caller would.
    Ref lowered(PyObject_CallMethod(title, "lower", nullptr));
    if (!lowered) return false;
    if (!PyUnicode_Check(lowered.get())) {
        PyErr_Format(PyExc_TypeError, "'in <string>' requires string as left operand, not %.200s",
                     Py_TYPE(lowered.get())->tp_name);
        return false;
    }
    if (!ready(lowered.get())) return false;
    with_text(lowered.get(), [&](auto t) { out.insert(out.end(), t.begin(), t.end()); });
    return true;
}

// Cuts the matching sections out of `document` and joins them with a blank
// line; `words` receives their word count.
PyObject* select_sections(PyObject* document, const std::vector<std::u32string>& titles, std::size_t* words) {
    const ls::SectionSelection selection = scan(document, [&](auto t) { return ls::extract_sections(t, titles); });
    if (words) *words = selection.words;
    return join_pieces(document, selection.sections, "\n\n");
}

PyObject* extract_sections(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    PyObject* values[2];
    if (!sig.parse(args, nargs, kwnames, values)) return nullptr;
    PyObject* full_text = values[0];
    PyObject* headers = values[1];
    if (!check_text(full_text, "full_text") || !check_exact(headers, &PySet_Type, "headers")) return nullptr;
    if (PySet_GET_SIZE(headers) == 0 || PyUnicode_GET_LENGTH(full_text) == 0) return Py_NewRef(s.empty);
    std::vector<std::u32string> titles;
    titles.reserve(static_cast<std::size_t>(PySet_GET_SIZE(headers)));
    Ref it(PyObject_GetIter(headers));
    if (!it) return nullptr;
    while (Ref h{PyIter_Next(it.get())}) {
        titles.emplace_back();
        if (!lowered_title(h.get(), titles.back())) return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    return select_sections(full_text, titles, nullptr);
}

std::vector<std::u32string> lowered(const std::vector<std::string_view>& titles) {
    std::vector<std::u32string> out(titles.size());
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(titles[i].data());
        unicode::append_lower(text::Text<std::uint8_t>(p, titles[i].size()), 0, titles[i].size(), out[i]);
    }
    return out;
}

std::size_t words_in(PyObject* str) {
    return scan(str, [](auto t) { return text::count_words(t); });
}

// One knowledge selection: the result map, and the size figures of its
// "knowledge_selected" event (emitted here) as a map when `sizes` is given.
PyObject* select(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 Ref* sizes) {
    PyObject* v[4];
    if (!sig.parse(args, nargs, kwnames, v)) return nullptr;
    PyObject* categories = v[0];
    PyObject* full_mapping = v[1];
    PyObject* full_gotchas = v[2];
    PyObject* full_limitations = v[3] ? v[3] : s.empty;
    if (!check_exact(categories, &PySet_Type, "categories") || !check_text(full_mapping, "full_mapping") ||
        !check_text(full_gotchas, "full_gotchas") || !check_text(full_limitations, "full_limitations")) {
        return nullptr;
    }

    // Category keys the tables know; any other element adds no title.
    std::vector<std::string_view> keys;
    Ref it(PyObject_GetIter(categories));
    if (!it) return nullptr;
    while (Ref c{PyIter_Next(it.get())}) {
        if (!PyUnicode_Check(c.get()) || !ready(c.get())) {
            if (PyErr_Occurred()) return nullptr;
            continue;
        }
        if (!PyUnicode_IS_ASCII(c.get())) continue;
        const std::string_view key(static_cast<const char*>(PyUnicode_DATA(c.get())),
                                   static_cast<std::size_t>(PyUnicode_GET_LENGTH(c.get())));
        for (const ls::CategoryPattern& row : ls::kCategoryPatterns) {
            if (row.key == key) keys.push_back(row.key);
        }
    }
    if (PyErr_Occurred()) return nullptr;
    const std::vector<std::string_view> mapping_titles = ls::mapping_titles_for(keys);
    const std::vector<std::string_view> gotcha_titles = ls::gotcha_titles_for(keys);

    std::size_t mapping_words = 0;
    std::size_t gotcha_words = 0;
    Ref mapping(select_sections(full_mapping, lowered(mapping_titles), &mapping_words));
    if (!mapping) return nullptr;
    Ref gotchas(gotcha_titles.empty() ? Py_NewRef(s.empty)
                                      : select_sections(full_gotchas, lowered(gotcha_titles), &gotcha_words));
    if (!gotchas) return nullptr;
    const std::size_t token_estimate = mapping_words + gotcha_words;
    const std::size_t full_estimate = words_in(full_mapping) + words_in(full_gotchas);

    Ref sorted(PySequence_List(categories));
    if (!sorted || PyList_Sort(sorted.get()) < 0) return nullptr;
    Ref n_mapping(PyLong_FromSize_t(mapping_titles.size())), n_gotchas(PyLong_FromSize_t(gotcha_titles.size())),
        tokens(PyLong_FromSize_t(token_estimate)), full(PyLong_FromSize_t(full_estimate)),
        pct(PyLong_FromLongLong(ls::reduction_pct(token_estimate, full_estimate)));
    if (!n_mapping || !n_gotchas || !tokens || !full || !pct) return nullptr;
    if (!s.events.debug(s.globals(), s.ev_selected, s.kw_selected,
                        {sorted.get(), n_mapping.get(), n_gotchas.get(), tokens.get(), full.get(), pct.get()})) {
        return nullptr;
    }
    Ref result(PyDict_New());
    if (!result || PyDict_SetItem(result.get(), s.mapping_key, mapping.get()) < 0 ||
        PyDict_SetItem(result.get(), s.gotchas_key, gotchas.get()) < 0 ||
        PyDict_SetItem(result.get(), s.limitations_key, full_limitations) < 0) {
        return nullptr;
    }
    if (sizes) {
        PyObject* figures[] = {n_mapping.get(), n_gotchas.get(), tokens.get(), full.get(), pct.get()};
        Ref map(PyDict_New());
        if (!map) return nullptr;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(s.kw_sizes); ++i) {
            if (PyDict_SetItem(map.get(), PyTuple_GET_ITEM(s.kw_sizes, i), figures[i]) < 0) return nullptr;
        }
        *sizes = std::move(map);
    }
    return result.release();
}

PyObject* select_knowledge(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    return select(s, sig, args, nargs, kwnames, nullptr);
}

PyObject* select_knowledge_with_sizes(State& s, const BoundSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
    Ref sizes;
    Ref selected(select(s, sig, args, nargs, kwnames, &sizes));
    return selected ? PyTuple_Pack(2, selected.get(), sizes.get()) : nullptr;
}

// ---------------------------------------------------------------------------
// Module

// Published after the tables, in this order.
FunctionRow kFunctions[] = {
    function<State, detect_construct_categories>({"detect_construct_categories", {"sql_content"}},
        "detect_construct_categories(sql_content)\n--\n\n"
        "The set of construct categories (keys of _CATEGORY_PATTERNS) that a SQL\n"
        "script uses outside its comments."),
    function<State, locate_categories>({"locate_categories", {"sql_content"}},
        "locate_categories(sql_content)\n--\n\n"
        "Where each construct category first occurs: a tuple of\n"
        "(line, 'category', key), sorted by line.  Comments are removed for\n"
        "matching; lines are those of the text as given, numbered from 1 as the\n"
        "reading plan numbers them."),
    function<State, select_knowledge>(
        {"select_knowledge", {"categories"}, {"full_mapping", "full_gotchas", "full_limitations"}, 2},
        "select_knowledge(categories, *, full_mapping, full_gotchas, full_limitations='')\n--\n\n"
        "The mapping-guide and gotcha sections that a set of categories calls for,\n"
        "and the limitations document unchanged: {'mapping', 'gotchas',\n"
        "'limitations'}.  Emits the debug event \"knowledge_selected\"."),
    function<State, extract_sections>({"extract_sections", {"full_text", "headers"}},
        "extract_sections(full_text, headers)\n--\n\n"
        "The level-2 sections of a Markdown document whose titles match one of\n"
        "`headers` (case-insensitive substring, either way), joined by a blank line."),
    function<State, select_knowledge_with_sizes>(
        {"select_knowledge_with_sizes", {"categories"}, {"full_mapping", "full_gotchas", "full_limitations"}, 2},
        "select_knowledge_with_sizes(categories, *, full_mapping, full_gotchas, full_limitations='')\n--\n\n"
        "select_knowledge() and the size figures of its \"knowledge_selected\"\n"
        "event, as (selection, sizes): sizes maps 'mapping_sections',\n"
        "'gotcha_sections', 'token_estimate', 'full_tokens' and 'reduction_pct'\n"
        "to the event's values.  Emits the same event."),
    {},
};

PyObject* string_list(std::span<const std::string_view> items) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* s = ascii_string(items[i]);
        if (!s) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), s);
    }
    return list.release();
}

template <std::size_t N>
PyObject* title_table(const std::array<ls::TitleRow, N>& rows) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (const ls::TitleRow& row : rows) {
        Ref key(ascii_string(row.key));
        Ref titles(string_list(row.list()));
        if (!key || !titles || PyDict_SetItem(dict.get(), key.get(), titles.get()) < 0) return nullptr;
    }
    return dict.release();
}

bool State::load() {
    // The facilities first, then the logger, the title tables, the category
    // patterns and last the functions.
    Ref re(PyImport_ImportModule("re"));
    Ref structlog(re ? PyImport_ImportModule("structlog") : nullptr);
    if (!structlog) return false;
    if (!add_object("logger", PyObject_CallMethod(structlog.get(), "get_logger", nullptr)) ||
        !add_object("CONSTRUCT_TO_MAPPING_SECTIONS", title_table(ls::kMappingSections)) ||
        !add_object("CONSTRUCT_TO_GOTCHA_SECTIONS", title_table(ls::kGotchaSections)) ||
        !add_object("ALWAYS_INCLUDE_MAPPING", string_list(ls::kAlwaysIncludeMapping)) ||
        !add_object("ALWAYS_INCLUDE_GOTCHAS", string_list(ls::kAlwaysIncludeGotchas))) {
        return false;
    }
    Ref patterns(PyDict_New());
    if (!patterns) return false;
    for (std::size_t i = 0; i < ls::kCategoryPatterns.size(); ++i) {
        keys[i] = keep(intern(std::string(ls::kCategoryPatterns[i].key).c_str()));
        Ref compiled(host_pattern(re.get(), ls::kCategoryPatterns[i].pattern));
        if (!keys[i] || !compiled || PyDict_SetItem(patterns.get(), keys[i], compiled.get()) < 0) return false;
    }
    if (!add_object("_CATEGORY_PATTERNS", patterns.release())) return false;
    detector = std::make_unique<ls::CategoryDetector>();

    ev_selected = keep(intern("knowledge_selected"));
    kw_selected = keep(name_tuple(
        {"categories", "mapping_sections", "gotcha_sections", "token_estimate", "full_tokens", "reduction_pct"}));
    kw_sizes = keep(kw_selected ? PyTuple_GetSlice(kw_selected, 1, 6) : nullptr);
    empty = keep(PyUnicode_New(0, 0));
    mapping_key = keep(intern("mapping"));
    gotchas_key = keep(intern("gotchas"));
    limitations_key = keep(intern("limitations"));
    if (!ev_selected || !kw_selected || !kw_sizes || !empty || !mapping_key || !gotchas_key || !limitations_key ||
        !events.load()) {
        return false;
    }
    return add_functions(kFunctions);
}

PyModuleDef kModule = module_def<State>("agents.quorvane._loresift");

}  // namespace
}  // namespace quorvane::host

PyMODINIT_FUNC PyInit__loresift() { return PyModuleDef_Init(&quorvane::host::kModule); }
