// The inventory: never crashes or hangs on any text in any dialect; units come in file
// order with lines inside the text, each after the one before it or inside
// the batch whose blocks define it; a batch has no name.

#include <algorithm>
#include <string>

#include "input.hpp"
#include "inventory/inventory.hpp"
#include "shared/scan.hpp"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input input(data, size);
    input.visit([&](auto t) {
        const std::size_t lines = text::for_each_line(t, [](std::size_t, std::size_t) {});
        // The last input byte picks the dialect, so every dialect's rules
        // meet every text.
        const auto& rules = inventory::kDialects[size == 0 ? 0 : data[size - 1] % inventory::kDialects.size()];
        const auto objects = inventory::split_objects(t, rules);
        std::size_t previous_start = 0, previous_end = 0, batch_end = 0;
        for (const inventory::SqlObject& o : objects) {
            const bool batch = o.kind == inventory::ObjectKind::Batch;
            FUZZ_CHECK(o.start_line >= 1 && o.start_line <= o.end_line && o.end_line <= lines);
            FUZZ_CHECK(o.start_line >= previous_start);
            FUZZ_CHECK(o.start_line >= previous_end || (!batch && o.end_line <= batch_end));
            FUZZ_CHECK(!batch || !o.has_name);
            if (batch) batch_end = o.end_line;
            previous_start = o.start_line;
            previous_end = std::max(previous_end, o.end_line);
        }
        const inventory::References all = inventory::references(t, rules);
        FUZZ_CHECK(all.reads.size() <= t.size() && all.calls.size() <= t.size());
    });
    return 0;
}
