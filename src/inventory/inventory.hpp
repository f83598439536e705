// The inventory of a SQL script: its units (objects and batches) in file
// order, and what each unit reads, writes and calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/definitions.hpp"
#include "inventory/dialects.hpp"
#include "shared/text.hpp"

namespace quorvane::inventory {

// Names as code points, quoting removed; parts joined by ".".
using Name = std::u32string;

// A range of token indices [begin, end).
struct TokenRange {
    std::size_t begin, end;
};

struct References {
    std::vector<Name> reads;        // tables and views read, first appearance first, no duplicates
    std::vector<Name> writes;       // tables written
    std::vector<Name> calls;        // procedures executed, user functions called
    std::vector<Name> temp_tables;  // #t and ##t
    bool dynamic_sql = false;       // runs SQL built at run time
    // Names after FROM, JOIN, INTO, UPDATE or EXEC inside the literals the
    // text executes: probable references, never in the lists above.
    std::vector<Name> dynamic_references;
};

enum class ObjectKind : std::uint8_t {
    Procedure, Function, View, Trigger, Table, Type, Sequence, Synonym, Schema, Index, Package, PackageBody,
    TypeBody, Macro, Batch,
};

inline constexpr std::string_view kKindNames[] = {
    "procedure", "function", "view", "trigger", "table", "type", "sequence", "synonym", "schema", "index",
    "package", "package_body", "type_body", "macro", "batch",
};

constexpr std::string_view kind_name(ObjectKind k) noexcept { return kKindNames[static_cast<std::size_t>(k)]; }

struct SqlObject {
    ObjectKind kind;
    bool has_name;
    Name name;
    std::size_t start_line;  // 1-based, inclusive: lines of the unit's first and last tokens
    std::size_t end_line;
    References refs;
    Definitions defs;
};

// The units of a script, in file order.  Every statement belongs to exactly
// one unit; comments and blank lines between units belong to none.
// `rules` are those of the script's dialect (dialects.hpp); the default
// keeps the rules that hold in every dialect.
template <text::CodeUnit C>
std::vector<SqlObject> split_objects(text::Text<C> sql, const DialectRules& rules = kAnyDialect);

// The references of any text: a statement, an object body or a script.
template <text::CodeUnit C>
References references(text::Text<C> sql, const DialectRules& rules = kAnyDialect);

// When split_objects finds a whole script to be one unit, that unit's
// references are those references() would give for the script.  The
// calling thread then notes the script under a number no other text lexed
// in the process shares: kept_references_number() is that number right
// after such a call (0 after a split_objects that found more or less than
// the whole script); references_number(sql, rules) is it while `sql` read
// as `rules` is still that script (0 otherwise; it lexes nothing).  A
// caller may keep what it built from the unit's references under the
// number and use it for references() of the same script.
std::uint64_t kept_references_number();
template <text::CodeUnit C>
std::uint64_t references_number(text::Text<C> sql, const DialectRules& rules);

}  // namespace quorvane::inventory
