// The words the inventory scanner acts on, and which of them can never be a
// table alias.  Pure data: one row per word, looked up through a hash table
// built at compile time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvane::inventory {

enum class Kw : std::uint8_t {
    None = 0,
    // Statements and clauses the reference rules follow.
    Select, From, Join, Apply, Using, Into, Insert, Update, Delete, Merge, Truncate, Table, Bulk,
    Create, Alter, Drop, Exec, Execute, Call, With, As, On, Set, Then, Fetch, References, For,
    If, Not, Exists, Top, Overwrite, Only, Lateral, Immediate, Collect, Returning, Statistics,
    Outfile, Dumpfile, Is, Declare,
    // Block structure.
    Begin, End, Case, Tran, Transaction, Distributed, Dialog, Conversation, Work, Loop, While, Repeat,
    // Object kinds and the words that may stand between CREATE and the kind.
    Procedure, Proc, Function, View, Trigger, Type, Sequence, Synonym, Schema, Index, Package, Body, Macro,
    Or, Replace,
    // Other words that are never an alias (clause and statement starters).
    Reserved,
    // Words that may stand between CREATE and an object kind.
    Modifier,
};

struct KeywordRow {
    std::string_view word;  // lower case
    Kw kw;
    bool reserved;          // never an alias or a bare name
};

inline constexpr auto kKeywords = std::to_array<KeywordRow>({
    {"select", Kw::Select, true},      {"from", Kw::From, true},
    {"join", Kw::Join, true},          {"apply", Kw::Apply, true},
    {"using", Kw::Using, true},        {"into", Kw::Into, true},
    {"insert", Kw::Insert, true},      {"update", Kw::Update, true},
    {"delete", Kw::Delete, true},      {"merge", Kw::Merge, true},
    {"truncate", Kw::Truncate, true},  {"table", Kw::Table, true},
    {"bulk", Kw::Bulk, true},          {"create", Kw::Create, true},
    {"alter", Kw::Alter, true},        {"drop", Kw::Drop, true},
    {"exec", Kw::Exec, true},          {"execute", Kw::Execute, true},
    {"call", Kw::Call, true},          {"with", Kw::With, true},
    {"as", Kw::As, true},              {"on", Kw::On, true},
    {"set", Kw::Set, true},            {"then", Kw::Then, true},
    {"fetch", Kw::Fetch, true},        {"references", Kw::References, true},
    {"for", Kw::For, true},            {"if", Kw::If, true},
    {"not", Kw::Not, true},            {"exists", Kw::Exists, true},
    {"top", Kw::Top, true},            {"overwrite", Kw::Overwrite, true},
    {"only", Kw::Only, false},         {"lateral", Kw::Lateral, true},
    {"immediate", Kw::Immediate, false}, {"collect", Kw::Collect, false},
    {"returning", Kw::Returning, true}, {"statistics", Kw::Statistics, false},
    {"outfile", Kw::Outfile, true},    {"dumpfile", Kw::Dumpfile, true},
    {"begin", Kw::Begin, true},        {"end", Kw::End, true},
    {"case", Kw::Case, true},          {"tran", Kw::Tran, false},
    {"transaction", Kw::Transaction, false}, {"distributed", Kw::Distributed, false},
    {"dialog", Kw::Dialog, false},     {"conversation", Kw::Conversation, false},
    {"work", Kw::Work, false},         {"loop", Kw::Loop, false},
    {"while", Kw::While, true},        {"repeat", Kw::Repeat, false},
    {"procedure", Kw::Procedure, true}, {"proc", Kw::Proc, false},
    {"function", Kw::Function, true},  {"view", Kw::View, false},
    {"trigger", Kw::Trigger, true},    {"type", Kw::Type, false},
    {"sequence", Kw::Sequence, false}, {"synonym", Kw::Synonym, false},
    {"schema", Kw::Schema, false},     {"index", Kw::Index, true},
    {"package", Kw::Package, false},   {"body", Kw::Body, false},
    {"macro", Kw::Macro, false},
    {"or", Kw::Or, true},              {"replace", Kw::Replace, false},
    // Clause and statement starters.
    {"where", Kw::Reserved, true},     {"group", Kw::Reserved, true},
    {"order", Kw::Reserved, true},     {"having", Kw::Reserved, true},
    {"union", Kw::Reserved, true},     {"except", Kw::Reserved, true},
    {"intersect", Kw::Reserved, true}, {"minus", Kw::Reserved, true},
    {"inner", Kw::Reserved, true},     {"left", Kw::Reserved, true},
    {"right", Kw::Reserved, true},     {"full", Kw::Reserved, true},
    {"cross", Kw::Reserved, true},     {"outer", Kw::Reserved, true},
    {"natural", Kw::Reserved, true},   {"straight_join", Kw::Reserved, true},
    {"pivot", Kw::Reserved, true},     {"unpivot", Kw::Reserved, true},
    {"tablesample", Kw::Reserved, true}, {"when", Kw::Reserved, true},
    {"else", Kw::Reserved, true},      {"output", Kw::Reserved, true},
    {"option", Kw::Reserved, true},    {"values", Kw::Reserved, true},
    {"default", Kw::Reserved, true},   {"declare", Kw::Declare, true},
    {"return", Kw::Reserved, true},    {"print", Kw::Reserved, true},
    {"raiserror", Kw::Reserved, true}, {"throw", Kw::Reserved, true},
    {"commit", Kw::Reserved, true},    {"rollback", Kw::Reserved, true},
    {"save", Kw::Reserved, true},      {"waitfor", Kw::Reserved, true},
    {"open", Kw::Reserved, true},      {"close", Kw::Reserved, true},
    {"deallocate", Kw::Reserved, true}, {"grant", Kw::Reserved, true},
    {"deny", Kw::Reserved, true},      {"revoke", Kw::Reserved, true},
    {"use", Kw::Reserved, true},       {"go", Kw::Reserved, true},
    {"limit", Kw::Reserved, true},     {"offset", Kw::Reserved, true},
    {"qualify", Kw::Reserved, true},   {"window", Kw::Reserved, true},
    {"connect", Kw::Reserved, true},   {"start", Kw::Reserved, true},
    {"by", Kw::Reserved, true},        {"and", Kw::Reserved, true},
    {"in", Kw::Reserved, true},        {"is", Kw::Is, true},
    {"like", Kw::Reserved, true},      {"between", Kw::Reserved, true},
    {"any", Kw::Reserved, true},       {"all", Kw::Reserved, true},
    {"some", Kw::Reserved, true},      {"over", Kw::Reserved, true},
    {"break", Kw::Reserved, true},     {"continue", Kw::Reserved, true},
    {"goto", Kw::Reserved, true},      {"null", Kw::Reserved, true},
    {"distinct", Kw::Reserved, true},
    {"elsif", Kw::Reserved, true},     {"elseif", Kw::Reserved, true},
    {"perform", Kw::Reserved, true},   {"raise", Kw::Reserved, true},
    {"matched", Kw::Reserved, true},   {"collate", Kw::Reserved, true},
    // Words that may stand between CREATE and the object kind.
    {"temp", Kw::Modifier, false},     {"temporary", Kw::Modifier, false},
    {"global", Kw::Modifier, false},   {"local", Kw::Modifier, false},
    {"unique", Kw::Modifier, false},   {"clustered", Kw::Modifier, false},
    {"nonclustered", Kw::Modifier, false}, {"columnstore", Kw::Modifier, false},
    {"materialized", Kw::Modifier, false}, {"secure", Kw::Modifier, false},
    {"recursive", Kw::Modifier, false}, {"external", Kw::Modifier, false},
    {"transient", Kw::Modifier, false}, {"volatile", Kw::Modifier, false},
    {"multiset", Kw::Modifier, false}, {"force", Kw::Modifier, false},
    {"no", Kw::Modifier, false},       {"noforce", Kw::Modifier, false},
    {"editionable", Kw::Modifier, false}, {"noneditionable", Kw::Modifier, false},
    {"unlogged", Kw::Modifier, false}, {"definer", Kw::Modifier, false},
    {"sql", Kw::Modifier, false},      {"security", Kw::Modifier, false},
    {"invoker", Kw::Modifier, false},  {"algorithm", Kw::Modifier, false},
    {"undefined", Kw::Modifier, false}, {"temptable", Kw::Modifier, false},
    {"xml", Kw::Modifier, false},      {"spatial", Kw::Modifier, false},
    {"fulltext", Kw::Modifier, false}, {"bitmap", Kw::Modifier, false},
    {"hybrid", Kw::Modifier, false},   {"dynamic", Kw::Modifier, false},
    {"iceberg", Kw::Modifier, false},  {"constraint", Kw::Modifier, false},
    {"aggregate", Kw::Modifier, false}, {"current_user", Kw::Modifier, false},
    {"primary", Kw::Modifier, false},  {"memory_optimized", Kw::Modifier, false},
    {"refresh", Kw::Modifier, false},  {"streaming", Kw::Modifier, false},
    {"live", Kw::Modifier, false},     {"private", Kw::Modifier, false},
});

// Built-in table functions: in FROM they are no call of a user function.
inline constexpr auto kBuiltinTableFunctions = std::to_array<std::string_view>({
    "openrowset", "openquery", "openjson", "openxml", "opendatasource", "string_split", "unnest",
    "generate_series", "containstable", "freetexttable", "json_table", "flatten", "generator",
    "values", "table", "lateral", "changetable", "predict", "json_each", "jsonb_each",
    "json_array_elements", "jsonb_array_elements", "regexp_split_to_table", "explode", "posexplode",
    "range",
});

// Table hints written without WITH: FROM t (NOLOCK) is a table, not a call.
inline constexpr auto kTableHints = std::to_array<std::string_view>({
    "nolock", "holdlock", "updlock", "rowlock", "tablock", "tablockx", "paglock", "readpast", "readcommitted",
    "readuncommitted", "repeatableread", "serializable", "xlock", "nowait", "index", "forceseek",
});

// Methods called on a column or variable (XML, spatial, hierarchyid), which
// look like schema-qualified function calls: t.col.value('...', 'int').
inline constexpr auto kMethodNames = std::to_array<std::string_view>({
    "value", "query", "nodes", "exist", "modify", "tostring", "stastext", "stdistance", "stintersects",
    "stbuffer", "stcontains", "stwithin", "getancestor", "getdescendant", "getlevel", "isdescendantof",
    "getreparentedvalue", "write", "nextval", "currval",
});

inline constexpr std::size_t kLongestKeyword = 16;

// A lower-case word of up to kLongestKeyword characters packed into two
// machine words, so that a lookup compares two integers, not two strings.
struct PackedWord {
    std::uint64_t lo = 0, hi = 0;
    std::uint8_t size = 0;

    // Appends a lower-case ASCII character (at most kLongestKeyword).
    constexpr void push(char c) noexcept {
        const std::uint64_t v = static_cast<std::uint8_t>(c);
        if (size < 8) {
            lo |= v << (8 * size);
        } else {
            hi |= v << (8 * (size - 8));
        }
        ++size;
    }
    constexpr bool operator==(const PackedWord&) const noexcept = default;
    // An order of packed words, for sorted tables of them.
    constexpr bool operator<(const PackedWord& o) const noexcept {
        return lo != o.lo ? lo < o.lo : hi != o.hi ? hi < o.hi : size < o.size;
    }
};

namespace detail {

constexpr PackedWord pack(std::string_view w) noexcept {
    PackedWord p;
    for (char c : w) p.push(c);
    return p;
}

inline constexpr std::size_t kSlots = 1024;  // a power of two, over four times the rows

constexpr std::size_t slot_of(const PackedWord& w) noexcept {
    const std::uint64_t h = (w.lo * 0x9E3779B97F4A7C15ull) ^ (w.hi * 0xC2B2AE3D27D4EB4Full) ^ w.size;
    return static_cast<std::size_t>(h >> 54) & (kSlots - 1);
}

struct KeywordIndex {
    PackedWord word[kSlots];
    std::int16_t row[kSlots];
    constexpr KeywordIndex() : word{}, row{} {
        for (auto& r : row) r = -1;
        for (std::size_t i = 0; i < kKeywords.size(); ++i) {
            const PackedWord w = pack(kKeywords[i].word);
            std::size_t at = slot_of(w);
            while (row[at] >= 0 && !(word[at] == w)) at = (at + 1) & (kSlots - 1);
            if (row[at] < 0) {
                word[at] = w;
                row[at] = static_cast<std::int16_t>(i);
            }
        }
    }
};

inline constexpr KeywordIndex kIndex{};

static_assert([] {
    for (const KeywordRow& r : kKeywords) {
        if (r.word.empty() || r.word.size() > kLongestKeyword) return false;
    }
    return true;
}());

}  // namespace detail

// A lower-case word of 1 to kLongestKeyword characters of a table, packed
// (when the program is compiled, where the compiler folds constants; a
// longer word is an error there).  "select"_w is the same.
constexpr PackedWord packed(std::string_view w) {
    if (w.empty() || w.size() > kLongestKeyword) throw "a packed word holds 1 to 16 characters";
    return detail::pack(w);
}
constexpr PackedWord operator""_w(const char* s, std::size_t n) { return packed(std::string_view(s, n)); }

// The row of a packed lower-case word, or null.
inline const KeywordRow* find_keyword(const PackedWord& w) noexcept {
    for (std::size_t at = detail::slot_of(w); detail::kIndex.row[at] >= 0; at = (at + 1) & (detail::kSlots - 1)) {
        if (detail::kIndex.word[at] == w) return &kKeywords[static_cast<std::size_t>(detail::kIndex.row[at])];
    }
    return nullptr;
}

// The row of a lower-case word, or null.
inline const KeywordRow* find_keyword(std::string_view lower) noexcept {
    return lower.empty() || lower.size() > kLongestKeyword ? nullptr : find_keyword(detail::pack(lower));
}

}  // namespace quorvane::inventory
