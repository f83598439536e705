// Where the constructs a table counts first occur in a script: the line, in
// the original text, of the first match of each row in the comment-free text.
//
// Matching runs on the comment-free text, exactly as for counting (narrowed
// when the text is wider than one byte).  A match start is carried back to
// the original text through the runs that comment removal kept, and numbered
// by the line rule of the reading plan: line breaks as in for_each_line,
// CR LF one break.  Nothing in a match's first character can be a line
// break, but the numbering is defined for every offset.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <string_view>
#include <vector>

#include "shared/comments.hpp"
#include "shared/narrow.hpp"
#include "shared/pattern.hpp"
#include "shared/scan.hpp"
#include "shared/text.hpp"

namespace quorvane::text {

// One construct: the 1-based line of its first occurrence, the table it
// belongs to and its name in that table.
struct Location {
    std::size_t line;
    std::string_view kind;
    std::string_view name;
};

// The comment-free text of a script, one byte per character, with the way
// back to the original.  A one-byte text without comments is used as it is;
// otherwise the kept runs are copied (narrowed) into `buffer`.
class CommentFreeText {
   public:
    template <CodeUnit C>
    CommentFreeText(Text<C> original, std::vector<std::uint8_t>& buffer) {
        std::size_t length = 0;
        for_each_kept_run(original, [&](std::size_t b, std::size_t e) {
            if (b == e) return;
            runs_.push_back({length, b});
            length += e - b;
        });
        if constexpr (sizeof(C) == 1) {
            if (length == original.size()) {  // nothing was removed
                text_ = original;
                return;
            }
        }
        buffer.clear();
        buffer.reserve(length);
        for (std::size_t k = 0; k < runs_.size(); ++k) {
            const std::size_t end = k + 1 < runs_.size() ? runs_[k + 1].stripped : length;
            const std::size_t b = runs_[k].original;
            const std::size_t e = b + (end - runs_[k].stripped);
            if constexpr (sizeof(C) == 1) {
                buffer.insert(buffer.end(), original.begin() + static_cast<std::ptrdiff_t>(b),
                              original.begin() + static_cast<std::ptrdiff_t>(e));
            } else {
                append_narrowed(original, b, e, buffer);
            }
        }
        text_ = Text<std::uint8_t>(buffer.data(), buffer.size());
    }

    Text<std::uint8_t> text() const noexcept { return text_; }

    // The offset in the original text of the character at `at` in the
    // comment-free one (at < text().size()).
    std::size_t original(std::size_t at) const noexcept {
        if (runs_.empty()) return 0;
        const auto next = std::upper_bound(runs_.begin(), runs_.end(), at,
                                           [](std::size_t a, const Run& r) { return a < r.stripped; });
        const Run& run = *(next - 1);
        return run.original + (at - run.stripped);
    }

   private:
    struct Run {
        std::size_t stripped;  // where the run starts in the comment-free text
        std::size_t original;  // and in the original
    };
    std::vector<Run> runs_;
    Text<std::uint8_t> text_;
};

// Sets lines[i] to the 1-based number of the line holding offset
// positions[i] of `text`, a line's break counting as part of it (the LF of a
// CR LF pair is on the CR's line).
template <CodeUnit C>
void number_lines(Text<C> text, const std::vector<std::size_t>& positions, std::vector<std::size_t>& lines) {
    std::vector<std::size_t> order(positions.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return positions[a] < positions[b]; });
    lines.assign(positions.size(), 0);
    std::size_t line = 1;
    std::size_t next_break = find_line_break(text, 0);
    for (const std::size_t k : order) {
        while (next_break < positions[k]) {
            std::size_t next_line = next_break + 1;
            if (text[next_break] == 0x0D && next_line < text.size() && text[next_line] == 0x0A) ++next_line;
            if (next_line > positions[k]) break;
            ++line;
            next_break = find_line_break(text, next_line);
        }
        lines[k] = line;
    }
}

// The first occurrence of every row that matches the comment-free text of
// `sql`.  `rows(visit)` calls visit(pattern, kind, name) for each row in table
// order.  The result is sorted by line, rows of one line in table order.
template <CodeUnit C, class Rows>
std::vector<Location> locate_first_matches(Text<C> sql, Rows&& rows) {
    std::vector<Location> found;
    std::vector<std::size_t> positions;
    {
        ScratchLease scratch;
        const CommentFreeText stripped(sql, scratch.buffer());
        rows([&](const Pattern& pattern, std::string_view kind, std::string_view name) {
            if (const auto start = pattern.first_start(stripped.text())) {
                found.push_back({0, kind, name});
                positions.push_back(stripped.original(*start));
            }
        });
    }
    std::vector<std::size_t> lines;
    number_lines(sql, positions, lines);
    for (std::size_t k = 0; k < found.size(); ++k) found[k].line = lines[k];
    std::stable_sort(found.begin(), found.end(),
                     [](const Location& a, const Location& b) { return a.line < b.line; });
    return found;
}

}  // namespace quorvane::text
