// Section extraction: never crashes; the sections found are trimmed,
// non-empty, in order, disjoint and inside the document.  The input's first
// line holds the wanted titles, separated by '|'.

#include <string>
#include <vector>

#include "input.hpp"
#include "loresift/loresift.hpp"
#include "shared/scan.hpp"
#include "shared/unicode.hpp"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input input(data, size);
    input.visit([&](auto t) {
        std::size_t split = 0;
        while (split < t.size() && t[split] != '\n') ++split;
        std::vector<std::u32string> titles(1);
        for (std::size_t i = 0; i < split; ++i) {
            if (t[i] == '|') {
                titles.emplace_back();
            } else {
                unicode::append_lower(t, i, i + 1, titles.back());
            }
        }
        const auto doc = t.subspan(split < t.size() ? split + 1 : split);
        const loresift::SectionSelection sel = loresift::extract_sections(doc, titles);
        std::size_t previous_end = 0;
        std::size_t words = 0;
        for (const auto& [b, e] : sel.sections) {
            FUZZ_CHECK(b < e && e <= doc.size() && b >= previous_end);
            FUZZ_CHECK(!text::is_space(doc[b]) && !text::is_space(doc[e - 1]));
            words += text::count_words(doc.subspan(b, e - b));
            previous_end = e;
        }
        FUZZ_CHECK(words == sel.words);
    });
    return 0;
}
