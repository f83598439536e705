// How each SQL dialect writes comments, literals and statement ends, as the
// inventory's tokenizer and unit cutter read them.  Pure data: one row per
// platform identifier, plus the row of rules that hold in every dialect.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quorvane::inventory {

enum class Dialect : std::uint8_t {
    Any, SqlServer, PostgreSql, MySql, Oracle, Snowflake, BigQuery, Databricks, Hive, Redshift, Teradata,
};

struct DialectRules {
    std::string_view id;         // the platform identifier ("" for Any)
    Dialect dialect;
    bool nested_comments;        // "/*" inside a block comment opens a nested one
    bool hash_comments;          // "#" starts a line comment
    bool double_quoted_strings;  // "..." is a string, not a name
    bool backslash_escapes;      // "\" escapes the next character in a string
    bool triple_and_raw;         // """...""", '''...''' and r'...' / r"..." / b'...'
    bool bracket_names;          // [...] is a quoted name
    bool routines_run_to_batch_end;  // a routine ends at its batch's end, never at ";"
    bool replace_creates;        // REPLACE PROCEDURE | VIEW | MACRO ... defines an object as CREATE does

    constexpr bool operator==(const DialectRules&) const noexcept = default;
};

// Nesting as each server's documentation states it: SQL Server, PostgreSQL,
// Databricks (Spark SQL) and Teradata nest block comments; Oracle,
// Snowflake, MySQL, BigQuery, Hive and Redshift end one at the first "*/".
// The Any row keeps the rules that hold in every dialect (no nesting, "..."
// a name, [...] a name, routines to the end of the batch).  Teradata writes
// CREATE OR REPLACE as REPLACE alone.
inline constexpr auto kDialects = std::to_array<DialectRules>({
    {"", Dialect::Any, false, false, false, false, false, true, true, false},
    {"sqlserver", Dialect::SqlServer, true, false, false, false, false, true, true, false},
    {"postgresql", Dialect::PostgreSql, true, false, false, false, false, false, false, false},
    {"mysql", Dialect::MySql, false, true, true, true, false, false, false, false},
    {"oracle", Dialect::Oracle, false, false, false, false, false, false, false, false},
    {"snowflake", Dialect::Snowflake, false, false, false, true, false, false, false, false},
    {"bigquery", Dialect::BigQuery, false, true, true, true, true, false, false, false},
    {"databricks", Dialect::Databricks, true, false, true, true, false, false, false, false},
    {"hive", Dialect::Hive, false, true, true, true, false, false, false, false},
    {"redshift", Dialect::Redshift, false, false, false, false, false, false, false, false},
    {"teradata", Dialect::Teradata, true, false, false, false, false, false, false, true},
});

inline constexpr const DialectRules& kAnyDialect = kDialects[0];

// The rules of a platform identifier, or null when it names none.
inline const DialectRules* find_dialect(std::string_view id) noexcept {
    for (const DialectRules& d : kDialects) {
        if (!d.id.empty() && d.id == id) return &d;
    }
    return nullptr;
}

}  // namespace quorvane::inventory
