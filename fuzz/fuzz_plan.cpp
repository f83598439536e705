// Reading plans over arbitrary line lists: never crash, and every plan keeps
// its invariants, above all that no line is left unread.  Short inputs are stretched to long files by repeating
// their lines, so that the chunked path is reached.

#include <algorithm>
#include <vector>

#include "complexity/planner.hpp"
#include "input.hpp"
#include "shared/scan.hpp"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const complexity::Planner planner;
    const fuzz::Input input(data, size);
    input.visit([&](auto t) {
        using C = typename decltype(t)::value_type;
        // Repeat the text until it has more than 500 line breaks (or give up
        // on a text without any).
        std::vector<C> file(t.begin(), t.end());
        std::size_t breaks = 0;
        text::for_each_line(t, [&](std::size_t, std::size_t) { ++breaks; });
        while (breaks > 0 && breaks <= 600 && file.size() < (1u << 22)) {
            file.insert(file.end(), t.begin(), t.end());
            breaks *= 2;
        }
        const text::Text<C> f(file.data(), file.size());
        const complexity::ReadingPlan plan = planner.plan(f);
        std::size_t total = 0;
        text::for_each_line(f, [&](std::size_t, std::size_t) { ++total; });
        FUZZ_CHECK(plan.total_lines == total);
        if (!plan.should_chunk) {
            FUZZ_CHECK(total <= 500 && plan.sections.empty() && plan.first_read_lines == total);
            return;
        }
        const std::size_t target = std::clamp<std::size_t>(total / 300, 2, 5);
        FUZZ_CHECK(plan.first_read_lines == 150 && !plan.sections.empty() && plan.sections.size() <= target);
        // The first read and the sections hold every line, in file order.
        std::size_t held = plan.first_read_lines;
        std::size_t previous_end = 0;
        for (const auto& s : plan.sections) {
            FUZZ_CHECK(s.start >= 150 && s.start < s.end && s.end <= total && s.start >= previous_end);
            FUZZ_CHECK(s.start <= held + 1);
            FUZZ_CHECK(s.block_lines ? s.block_lines >= 21 : (s.hint_end > s.hint_begin && s.hint_end - s.hint_begin <= 50));
            held = std::max(held, s.end);
            previous_end = s.end;
        }
        FUZZ_CHECK(held == total);
    });
    return 0;
}
