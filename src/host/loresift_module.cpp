// agents.quorvane.loresift: construct categories and knowledge selection.

#include <array>
#include <memory>
#include <string_view>
#include <vector>

#include "host/common.hpp"
#include "host/patterns.hpp"
#include "loresift/loresift.hpp"
#include "loresift/tables.hpp"
#include "shared/scan.hpp"
#include "shared/unicode.hpp"

namespace quorvane::host {
namespace {

namespace ls = quorvane::loresift;

struct State {
    std::unique_ptr<ls::CategoryDetector> detector;
    std::array<PyObject*, ls::kCategoryPatterns.size()> keys{};  // interned category keys
    PyObject* ev_selected = nullptr;
    PyObject* kw_selected = nullptr;
    PyObject* empty = nullptr;
    PyObject* mapping_key = nullptr;
    PyObject* gotchas_key = nullptr;
    PyObject* limitations_key = nullptr;
    std::unique_ptr<BoundSignature> sig_detect;
    std::unique_ptr<BoundSignature> sig_extract;
    std::unique_ptr<BoundSignature> sig_select;
};

State* g = nullptr;

bool large(PyObject* str) { return PyUnicode_GET_LENGTH(str) >= static_cast<Py_ssize_t>(kReleaseThreshold); }

// ---------------------------------------------------------------------------

PyObject* detect_construct_categories(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* sql;
    if (!g->sig_detect->parse(args, nargs, kwnames, &sql)) return nullptr;
    if (!check_exact(sql, &PyUnicode_Type, "sql_content")) return nullptr;
    ls::CategorySet found = 0;
    if (!run_core(large(sql), [&] { found = with_text(sql, [&](auto t) { return g->detector->detect(t); }); })) {
        return nullptr;
    }
    Ref result(PySet_New(nullptr));
    if (!result) return nullptr;
    for (std::size_t i = 0; i < g->keys.size(); ++i) {
        if ((found >> i & 1) && PySet_Add(result.get(), g->keys[i]) < 0) return nullptr;
    }
    return result.release();
}

// The lower-cased form of one wanted title, by the host's str.lower().
bool lowered_title(PyObject* title, std::u32string& out) {
    if (PyUnicode_CheckExact(title)) {
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
    with_text(lowered.get(), [&](auto t) { out.insert(out.end(), t.begin(), t.end()); });
    return true;
}

// Cuts the matching sections out of `document` and joins them with a blank
// line; `words` receives their word count.
PyObject* select_sections(PyObject* document, const std::vector<std::u32string>& titles, std::size_t* words) {
    ls::SectionSelection selection;
    if (!run_core(large(document), [&] {
            selection = with_text(document, [&](auto t) { return ls::extract_sections(t, titles); });
        })) {
        return nullptr;
    }
    if (words) *words = selection.words;
    return join_pieces(document, selection.sections, "\n\n");
}

PyObject* extract_sections(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[2];
    if (!g->sig_extract->parse(args, nargs, kwnames, values)) return nullptr;
    PyObject* full_text = values[0];
    PyObject* headers = values[1];
    if (!check_exact(full_text, &PyUnicode_Type, "full_text") || !check_exact(headers, &PySet_Type, "headers")) {
        return nullptr;
    }
    if (PySet_GET_SIZE(headers) == 0 || PyUnicode_GET_LENGTH(full_text) == 0) return Py_NewRef(g->empty);
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
    std::size_t n = 0;
    with_text(str, [&](auto t) { n = text::count_words(t); });
    return n;
}

PyObject* select_knowledge(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* v[4];
    if (!g->sig_select->parse(args, nargs, kwnames, v)) return nullptr;
    PyObject* categories = v[0];
    PyObject* full_mapping = v[1];
    PyObject* full_gotchas = v[2];
    PyObject* full_limitations = v[3] ? v[3] : g->empty;
    if (!check_exact(categories, &PySet_Type, "categories") ||
        !check_exact(full_mapping, &PyUnicode_Type, "full_mapping") ||
        !check_exact(full_gotchas, &PyUnicode_Type, "full_gotchas") ||
        !check_exact(full_limitations, &PyUnicode_Type, "full_limitations")) {
        return nullptr;
    }

    // Category keys the tables know; any other element adds no title.
    std::vector<std::string_view> keys;
    Ref it(PyObject_GetIter(categories));
    if (!it) return nullptr;
    while (Ref c{PyIter_Next(it.get())}) {
        if (!PyUnicode_Check(c.get()) || !PyUnicode_IS_ASCII(c.get())) continue;
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
    Ref gotchas(gotcha_titles.empty() ? Py_NewRef(g->empty)
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
    if (!emit_debug(module, g->ev_selected, g->kw_selected,
                    {sorted.get(), n_mapping.get(), n_gotchas.get(), tokens.get(), full.get(), pct.get()})) {
        return nullptr;
    }
    Ref result(PyDict_New());
    if (!result || PyDict_SetItem(result.get(), g->mapping_key, mapping.get()) < 0 ||
        PyDict_SetItem(result.get(), g->gotchas_key, gotchas.get()) < 0 ||
        PyDict_SetItem(result.get(), g->limitations_key, full_limitations) < 0) {
        return nullptr;
    }
    return result.release();
}

// ---------------------------------------------------------------------------
// Module

#define QUORVANE_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f))

// Published after the tables, in this order.
PyMethodDef kFunctions[] = {
    {"detect_construct_categories", QUORVANE_FASTCALL(detect_construct_categories), METH_FASTCALL | METH_KEYWORDS,
     "detect_construct_categories(sql_content)\n--\n\n"
     "The set of construct categories (keys of _CATEGORY_PATTERNS) that a SQL\n"
     "script uses outside its comments."},
    {"select_knowledge", QUORVANE_FASTCALL(select_knowledge), METH_FASTCALL | METH_KEYWORDS,
     "select_knowledge(categories, *, full_mapping, full_gotchas, full_limitations='')\n--\n\n"
     "The mapping-guide and gotcha sections that a set of categories calls for,\n"
     "and the limitations document unchanged: {'mapping', 'gotchas',\n"
     "'limitations'}.  Emits the debug event \"knowledge_selected\"."},
    {"extract_sections", QUORVANE_FASTCALL(extract_sections), METH_FASTCALL | METH_KEYWORDS,
     "extract_sections(full_text, headers)\n--\n\n"
     "The level-2 sections of a Markdown document whose titles match one of\n"
     "`headers` (case-insensitive substring, either way), joined by a blank line."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "agents.quorvane.loresift",
    "Construct-category detection and knowledge-base selection for SQL scripts.",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
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

bool init(PyObject* m) {
    // The facilities first, then the logger, the title tables, the category
    // patterns and last the functions.
    Ref re(PyImport_ImportModule("re"));
    Ref structlog(re ? PyImport_ImportModule("structlog") : nullptr);
    if (!structlog) return false;
    if (!add_object(m, "logger", PyObject_CallMethod(structlog.get(), "get_logger", nullptr)) ||
        !add_object(m, "CONSTRUCT_TO_MAPPING_SECTIONS", title_table(ls::kMappingSections)) ||
        !add_object(m, "CONSTRUCT_TO_GOTCHA_SECTIONS", title_table(ls::kGotchaSections)) ||
        !add_object(m, "ALWAYS_INCLUDE_MAPPING", string_list(ls::kAlwaysIncludeMapping)) ||
        !add_object(m, "ALWAYS_INCLUDE_GOTCHAS", string_list(ls::kAlwaysIncludeGotchas))) {
        return false;
    }
    Ref patterns(PyDict_New());
    if (!patterns) return false;
    for (std::size_t i = 0; i < ls::kCategoryPatterns.size(); ++i) {
        g->keys[i] = intern(std::string(ls::kCategoryPatterns[i].key).c_str());
        Ref compiled(host_pattern(re.get(), ls::kCategoryPatterns[i].pattern));
        if (!g->keys[i] || !compiled || PyDict_SetItem(patterns.get(), g->keys[i], compiled.get()) < 0) {
            return false;
        }
    }
    if (!add_object(m, "_CATEGORY_PATTERNS", patterns.release())) return false;
    try {
        g->detector = std::make_unique<ls::CategoryDetector>();
    } catch (...) {
        set_error(std::current_exception());
        return false;
    }

    g->ev_selected = intern("knowledge_selected");
    g->kw_selected = name_tuple(
        {"categories", "mapping_sections", "gotcha_sections", "token_estimate", "full_tokens", "reduction_pct"});
    g->empty = PyUnicode_New(0, 0);
    g->mapping_key = intern("mapping");
    g->gotchas_key = intern("gotchas");
    g->limitations_key = intern("limitations");
    if (!g->ev_selected || !g->kw_selected || !g->empty || !g->mapping_key || !g->gotchas_key ||
        !g->limitations_key) {
        return false;
    }
    g->sig_detect = std::make_unique<BoundSignature>(Signature{"detect_construct_categories", {"sql_content"}});
    g->sig_extract = std::make_unique<BoundSignature>(Signature{"extract_sections", {"full_text", "headers"}});
    g->sig_select = std::make_unique<BoundSignature>(
        Signature{"select_knowledge", {"categories"}, {"full_mapping", "full_gotchas", "full_limitations"}, 2});
    if (!g->sig_detect->ok() || !g->sig_extract->ok() || !g->sig_select->ok()) return false;
    return PyModule_AddFunctions(m, kFunctions) == 0;
}

}  // namespace
}  // namespace quorvane::host

PyMODINIT_FUNC PyInit_loresift() {
    using namespace quorvane::host;
    return create_module(&kModule, g, init);
}
