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

        // One location per counted row, in line order.
        const std::vector<text::Location> located = classifier.locate(t);
        std::size_t complex = 0, moderate = 0, procs = 0;
        for (std::size_t k = 0; k < located.size(); ++k) {
            complex += located[k].kind == complexity::kComplexKind;
            moderate += located[k].kind == complexity::kModerateKind;
            procs += located[k].kind == complexity::kStoredProcKind;
            if (k > 0) FUZZ_CHECK(located[k - 1].line <= located[k].line);
        }
        FUZZ_CHECK(complex == c.complex_construct_count && moderate == c.moderate_construct_count);
        FUZZ_CHECK(procs == (c.stored_proc_count > 0 ? 1u : 0u));
    });
    return 0;
}
