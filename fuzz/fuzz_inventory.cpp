// The inventory: never crashes or hangs on any text; units come in file
// order with lines inside the text; a batch has no name.

#include <string>

#include "input.hpp"
#include "inventory/inventory.hpp"
#include "shared/scan.hpp"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input input(data, size);
    input.visit([&](auto t) {
        const std::size_t lines = text::for_each_line(t, [](std::size_t, std::size_t) {});
        const auto objects = inventory::split_objects(t);
        std::size_t previous_end = 0;
        for (const inventory::SqlObject& o : objects) {
            FUZZ_CHECK(o.start_line >= 1 && o.start_line <= o.end_line && o.end_line <= lines);
            FUZZ_CHECK(o.start_line >= previous_end);
            FUZZ_CHECK(o.kind != inventory::ObjectKind::Batch || !o.has_name);
            previous_end = o.end_line;
        }
        const inventory::References all = inventory::references(t);
        FUZZ_CHECK(all.reads.size() <= t.size() && all.calls.size() <= t.size());
    });
    return 0;
}
