// Classification: never crashes, and its pieces agree with their plain
// definitions: comment removal with the two substitutions done naively, the
// linear head matcher with backtracking, narrowing with the wide text.

#include <vector>

#include "complexity/classifier.hpp"
#include "complexity/tables.hpp"
#include "input.hpp"
#include "reference_rules.hpp"
#include "shared/comments.hpp"
#include "shared/cte.hpp"
#include "shared/narrow.hpp"
#include "shared/regex.hpp"

using namespace quorvane;


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const complexity::Classifier classifier;
    static const text::CteHeadMatcher cte;
    static const rx::Regex cte_backtracking(text::kCteHeadPattern, rx::kIgnoreCase);
    static const text::Pattern temp_tables(complexity::kModeratePatterns[complexity::kTempTableIndex]);

    const fuzz::Input input(data, size);
    input.visit([&](auto t) {
        using C = typename decltype(t)::value_type;
        const complexity::Classification c = classifier.classify(t);
        FUZZ_CHECK(c.complex_construct_count <= 15 && c.moderate_construct_count <= 9);

        std::vector<C> stripped;
        const bool changed = text::strip_comments(t, stripped);
        const std::vector<C> expected = reference::strip_comments(t);
        const text::Text<C> s = changed ? text::Text<C>(stripped.data(), stripped.size()) : t;
        FUZZ_CHECK(s.size() == expected.size() && std::equal(s.begin(), s.end(), expected.begin()));
        FUZZ_CHECK(c.effective_lines == text::count_nonblank_lines(s));
        FUZZ_CHECK(c.temp_table_count == temp_tables.count(s));

        // Backtracking is quadratic on some texts: compare on short ones.
        if (s.size() <= 4096) FUZZ_CHECK(cte.count(s) == cte_backtracking.count(s));
        FUZZ_CHECK(c.cte_count == cte.count(s));
    });
    return 0;
}
