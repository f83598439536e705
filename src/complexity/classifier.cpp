#include "complexity/classifier.hpp"

#include <utility>
#include <vector>

#include "shared/narrow.hpp"
#include "shared/regex.hpp"

namespace quorvane::complexity {
namespace {

template <std::size_t N, std::size_t... I>
std::array<text::Pattern, N> compile_all(const std::array<PatternSpec, N>& rows,
                                         std::index_sequence<I...>) {
    return {text::Pattern(rows[I])...};
}

template <std::size_t N>
std::array<text::Pattern, N> compile_all(const std::array<PatternSpec, N>& rows) {
    return compile_all(rows, std::make_index_sequence<N>());
}

}  // namespace

Classifier::Classifier()
    : complex_(compile_all(kComplexPatterns)),
      moderate_(compile_all(kModeratePatterns)),
      stored_proc_(kStoredProcPattern) {
    // Every scan runs on the narrowed comment-free text.
    auto check = [](const text::Pattern& p) {
        if (!p.narrowable()) throw rx::PatternError("pattern depends on more than character classes: " +
                                                    std::string(p.text()));
    };
    for (const auto& p : complex_) check(p);
    for (const auto& p : moderate_) check(p);
    check(stored_proc_);
}

template <text::CodeUnit C>
Classification Classifier::classify(text::Text<C> sql) const {
    text::ScratchLease scratch;
    return classify_stripped(text::comment_free_narrow(sql, scratch.buffer()));
}

Classification Classifier::classify_stripped(text::Text<std::uint8_t> stripped) const {
    Classification r{};
    r.effective_lines = text::count_nonblank_lines(stripped);
    for (const text::Pattern& p : complex_) r.complex_construct_count += p.found_in(stripped);
    // The two counted moderate patterns are counted over the whole text
    // anyway; their presence follows from the count.
    r.cte_count = moderate_[kCteIndex].count(stripped);
    r.temp_table_count = moderate_[kTempTableIndex].count(stripped);
    for (std::size_t i = 0; i < moderate_.size(); ++i) {
        if (i == kCteIndex) r.moderate_construct_count += r.cte_count > 0;
        else if (i == kTempTableIndex) r.moderate_construct_count += r.temp_table_count > 0;
        else r.moderate_construct_count += moderate_[i].found_in(stripped);
    }
    r.stored_proc_count = stored_proc_.count(stripped);
    r.level = decide_level(r.complex_construct_count, r.moderate_construct_count, r.effective_lines,
                           r.stored_proc_count);
    return r;
}

template <text::CodeUnit C>
std::vector<text::Location> Classifier::locate(text::Text<C> sql) const {
    return text::locate_first_matches(sql, [&](auto&& visit) {
        for (std::size_t i = 0; i < complex_.size(); ++i) visit(complex_[i], kComplexKind, kComplexPatterns[i].name);
        for (std::size_t i = 0; i < moderate_.size(); ++i) {
            visit(moderate_[i], kModerateKind, kModeratePatterns[i].name);
        }
        visit(stored_proc_, kStoredProcKind, kStoredProcPattern.name);
    });
}

template Classification Classifier::classify(text::Text<std::uint8_t>) const;
template Classification Classifier::classify(text::Text<std::uint16_t>) const;
template Classification Classifier::classify(text::Text<std::uint32_t>) const;
template std::vector<text::Location> Classifier::locate(text::Text<std::uint8_t>) const;
template std::vector<text::Location> Classifier::locate(text::Text<std::uint16_t>) const;
template std::vector<text::Location> Classifier::locate(text::Text<std::uint32_t>) const;

}  // namespace quorvane::complexity
