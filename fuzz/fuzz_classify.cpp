// Classification: never crashes, and its pieces agree with their plain
// definitions: comment removal with the two substitutions done naively, the
// linear head matcher with backtracking, narrowing with the wide text.

#include <vector>

#include "complexity/classifier.hpp"
#include "complexity/tables.hpp"
#include "input.hpp"
#include "shared/comments.hpp"
#include "shared/cte.hpp"
#include "shared/narrow.hpp"
#include "shared/regex.hpp"

using namespace quorvane;

namespace {

template <class C>
std::vector<C> strip_naively(text::Text<C> in) {
    std::vector<C> pass1;
    for (std::size_t i = 0; i < in.size();) {
        if (i + 1 < in.size() && in[i] == '-' && in[i + 1] == '-') {
            while (i < in.size() && in[i] != '\n') ++i;
        } else {
            pass1.push_back(in[i++]);
        }
    }
    std::vector<C> out;
    for (std::size_t i = 0; i < pass1.size();) {
        if (i + 1 < pass1.size() && pass1[i] == '/' && pass1[i + 1] == '*') {
            std::size_t j = i + 2;
            while (j + 1 < pass1.size() && !(pass1[j] == '*' && pass1[j + 1] == '/')) ++j;
            if (j + 1 < pass1.size()) {
                i = j + 2;
                continue;
            }
        }
        out.push_back(pass1[i++]);
    }
    return out;
}

}  // namespace

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
        const std::vector<C> expected = strip_naively(t);
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
