// What an object defines: a table's or view's columns, a routine's
// parameters and return type, and the temporary tables and table variables
// a unit builds.  Read off the inventory's tokens of one unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shared/text.hpp"

namespace quorvane::inventory {

struct Lexed;
enum class ObjectKind : std::uint8_t;

struct Column {
    std::u32string name;
    std::u32string type;  // as written, whitespace collapsed; empty for a computed or untyped column
};

enum class ParameterMode : std::uint8_t { In, Out, InOut, ReadOnly };

inline constexpr std::string_view kParameterModes[] = {"in", "out", "inout", "readonly"};

struct Parameter {
    std::u32string name;  // empty for an unnamed parameter
    std::u32string type;
    bool has_default = false;
    std::u32string default_value;
    ParameterMode mode = ParameterMode::In;
};

struct LocalTable {
    std::u32string name;
    std::vector<Column> columns;
    std::size_t line;  // 1-based line of its name
};

struct Definitions {
    std::vector<Column> columns;
    std::vector<Parameter> parameters;
    bool has_returns = false;
    std::u32string returns;
    std::vector<LocalTable> local_tables;
    std::vector<LocalTable> added_columns;  // ALTER TABLE t ADD ...: the table's name and the columns added
};

// The definitions of the unit of tokens [first, last) of kind `kind` whose name ends
// before token `name_end` (equal to `first` for a batch).
template <text::CodeUnit C>
Definitions definitions(text::Text<C> sql, const Lexed& lexed, ObjectKind kind, std::size_t name_end,
                        std::size_t first, std::size_t last);

}  // namespace quorvane::inventory
