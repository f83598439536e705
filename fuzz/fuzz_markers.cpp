// The marker scanner: never crashes, and its lines equal a plain search of
// each whole catalogue pattern on the comment-free text (no branches, no
// literal filter, gaps searched as written), skipping matches that start in
// a single-quoted literal.  A pattern that starts with `^\s*` is at the
// first character after its leading whitespace.  Every match of all_matches
// lies in the text, in order of start, and each row's first one is on the
// line first_lines gives.

#include <vector>

#include "dialectra/code_view.hpp"
#include "dialectra/markers.hpp"
#include "dialectra/scanner.hpp"
#include "input.hpp"
#include "shared/regex.hpp"

using namespace quorvane;

namespace {

const std::vector<dialectra::ScanRow>& rows() {
    static const std::vector<dialectra::ScanRow> table = [] {
        std::vector<dialectra::ScanRow> out;
        for (const auto& m : dialectra::kMarkers) out.push_back({m.pattern, m.scope == "comment"});
        return out;
    }();
    return table;
}

// Past the whitespace a `^\s*` pattern's match begins with.
template <text::CodeUnit C>
std::size_t past_space(text::Text<C> t, std::size_t at, bool leading_space) {
    while (leading_space && at < t.size() && text::unit_is_space(t[at])) ++at;
    return at;
}

template <text::CodeUnit C>
std::size_t line_at(text::Text<C> t, std::size_t offset) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < offset; ++i) {
        if (!text::is_line_break(t[i])) continue;
        if (t[i] == 0x0D && i + 1 < t.size() && t[i + 1] == 0x0A) continue;  // CR LF: the LF ends the line
        ++line;
    }
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const dialectra::MarkerScanner scanner(rows());
    static const std::vector<rx::Regex> plain = [] {
        std::vector<rx::Regex> v;
        for (const auto& r : rows()) v.emplace_back(r.pattern, rx::kIgnoreCase | rx::kMultiLine);
        return v;
    }();

    const fuzz::Input input(data, size);
    input.visit([&](auto t) {
        const std::vector<std::size_t> lines = scanner.first_lines(t);
        FUZZ_CHECK(lines.size() == plain.size());
        const std::vector<dialectra::ScanMatch> all = scanner.all_matches(t);
        std::vector<std::size_t> first(plain.size(), 0);
        for (std::size_t i = 0; i < all.size(); ++i) {
            FUZZ_CHECK(all[i].row < plain.size() && all[i].begin <= all[i].end && all[i].end <= t.size());
            FUZZ_CHECK(i == 0 || all[i - 1].begin <= all[i].begin);
            if (first[all[i].row] == 0) first[all[i].row] = all[i].line;
        }
        FUZZ_CHECK(first == lines);
        const dialectra::CodeView<typename decltype(t)::value_type> view(t);
        for (std::size_t r = 0; r < plain.size(); ++r) {
            std::size_t want = 0;
            const bool leading_space = rows()[r].pattern.starts_with("^\\s*");
            if (rows()[r].comment_scope) {
                if (const auto m = plain[r].search(t)) want = line_at(t, past_space(t, m->start, leading_space));
            } else {
                std::size_t from = 0;
                while (const auto m = plain[r].search(view.text(), from)) {
                    std::size_t resume = 0;
                    if (!view.in_literal(m->start, resume)) {
                        want = line_at(t, view.original_offset(past_space(view.text(), m->start, leading_space)));
                        break;
                    }
                    from = resume;
                }
            }
            FUZZ_CHECK(lines[r] == want);
        }
    });
    return 0;
}
