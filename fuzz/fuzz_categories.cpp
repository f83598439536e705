// Category detection and location: never crash, and agree with every
// category pattern searched on the wide, un-narrowed comment-free text, its
// first match carried back to the original text the plain way.

#include <algorithm>
#include <vector>

#include "input.hpp"
#include "loresift/loresift.hpp"
#include "loresift/tables.hpp"
#include "reference_rules.hpp"
#include "shared/comments.hpp"
#include "shared/pattern.hpp"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const loresift::CategoryDetector detector;
    static const std::vector<text::Pattern> patterns = [] {
        std::vector<text::Pattern> v;
        for (const auto& c : loresift::kCategoryPatterns) v.emplace_back(c.pattern);
        return v;
    }();

    const fuzz::Input input(data, size);
    input.visit([&](auto t) {
        using C = typename decltype(t)::value_type;
        const loresift::CategorySet found = detector.detect(t);
        std::vector<C> buffer;
        const text::Text<C> s = text::strip_comments(t, buffer) ? text::Text<C>(buffer.data(), buffer.size()) : t;
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            FUZZ_CHECK(((found >> i) & 1u) == static_cast<unsigned>(patterns[i].found_in(s)));
        }

        const std::vector<text::Location> located = detector.locate(t);
        const std::vector<std::size_t> kept = reference::kept_offsets(t);
        std::size_t expected = 0;
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            const auto m = patterns[i].search(s);
            if (!m) continue;
            ++expected;
            const std::size_t line = reference::line_at(t, kept[m->start]);
            FUZZ_CHECK(std::any_of(located.begin(), located.end(), [&](const text::Location& l) {
                return l.name == loresift::kCategoryPatterns[i].key && l.line == line;
            }));
        }
        FUZZ_CHECK(located.size() == expected);
        for (std::size_t k = 1; k < located.size(); ++k) FUZZ_CHECK(located[k - 1].line <= located[k].line);
    });
    return 0;
}
