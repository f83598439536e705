// Grades a SQL script simple, moderate or complex from its comment-free text.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "complexity/tables.hpp"
#include "shared/locate.hpp"
#include "shared/pattern.hpp"
#include "shared/text.hpp"

namespace quorvane::complexity {

enum class Level { Simple, Moderate, Complex };

struct Classification {
    Level level;
    std::size_t effective_lines;
    std::size_t stored_proc_count;
    std::size_t complex_construct_count;
    std::size_t moderate_construct_count;
    std::size_t temp_table_count;
    std::size_t cte_count;
};

// The level for a script's measurements; the first rule that applies wins.
constexpr Level decide_level(std::size_t complex_count, std::size_t moderate_count,
                             std::size_t effective_lines, std::size_t stored_proc_count) noexcept {
    if (complex_count > 0 || effective_lines > 300 || stored_proc_count > 1) return Level::Complex;
    if (moderate_count > 2 || effective_lines > 50 || stored_proc_count == 1) return Level::Moderate;
    return Level::Simple;
}

class Classifier {
   public:
    Classifier();  // compiles every table row once

    template <text::CodeUnit C>
    Classification classify(text::Text<C> sql) const;

    // Where each counted construct first occurs: every row of the complex
    // and moderate tables that matches, and the stored-procedure head (kinds
    // kComplexKind, kModerateKind, kStoredProcKind; the counted temporary
    // tables and common-table-expression heads are the moderate rows of the
    // same names).  Sorted by line, then in table order.
    template <text::CodeUnit C>
    std::vector<text::Location> locate(text::Text<C> sql) const;

   private:
    Classification classify_stripped(text::Text<std::uint8_t> stripped) const;

    std::array<text::Pattern, kComplexPatterns.size()> complex_;
    std::array<text::Pattern, kModeratePatterns.size()> moderate_;
    text::Pattern stored_proc_;
};

}  // namespace quorvane::complexity
