// Knowledge selection: which construct categories a script uses, and which
// level-2 sections of the knowledge base's Markdown documents they call for.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "loresift/tables.hpp"
#include "shared/locate.hpp"
#include "shared/pattern.hpp"
#include "shared/text.hpp"

namespace quorvane::loresift {

// Bit i set: category kCategoryPatterns[i] is present.
using CategorySet = std::uint32_t;

class CategoryDetector {
   public:
    CategoryDetector();  // compiles the fourteen patterns once

    // Searches the comment-free text for every category.
    template <text::CodeUnit C>
    CategorySet detect(text::Text<C> sql) const;

    // Where each detected category first occurs (kind kCategoryKind, the
    // category's key as name), sorted by line, then in table order.
    template <text::CodeUnit C>
    std::vector<text::Location> locate(text::Text<C> sql) const;

   private:
    std::vector<text::Pattern> patterns_;
};

// The sections of a document whose titles match, in document order, each
// trimmed of surrounding whitespace, and the number of words they hold.
struct SectionSelection {
    std::vector<std::pair<std::size_t, std::size_t>> sections;  // [begin, end) in the document
    std::size_t words = 0;
};

// Cuts `document` before every "## " that starts a line (LF only) and keeps
// each non-blank piece whose title, lower-cased, contains or is contained in
// one of `lowered_titles` (already lower-cased by the host's rule).
template <text::CodeUnit C>
SectionSelection extract_sections(text::Text<C> document,
                                  const std::vector<std::u32string>& lowered_titles);

// The distinct titles wanted for a set of category keys (unknown keys add
// nothing), always-included titles first.
std::vector<std::string_view> mapping_titles_for(const std::vector<std::string_view>& keys);
std::vector<std::string_view> gotcha_titles_for(const std::vector<std::string_view>& keys);

// The saving in whole percent, rounded half to even, with the host's
// floating-point arithmetic: round((1 - selected / max(full, 1)) * 100).
long long reduction_pct(std::size_t selected_words, std::size_t full_words);

}  // namespace quorvane::loresift
