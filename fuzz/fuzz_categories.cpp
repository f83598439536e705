// Category detection: never crashes, and agrees with every category pattern
// searched on the wide, un-narrowed comment-free text.

#include <vector>

#include "input.hpp"
#include "loresift/loresift.hpp"
#include "loresift/tables.hpp"
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
    });
    return 0;
}
