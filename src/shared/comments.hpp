// SQL comment removal, shared by the classifier and the category detector.
//
// The rule is two substitutions applied one after the other, each replacing
// its matches by nothing:
//   1. line comments  "--.*$"     (multi-line): from "--" up to, not
//      including, the next LF, or to the end of the text;
//   2. block comments "/\*.*?\*/" (dot matches newline), on the result of 1:
//      from "/*" to the nearest following "*/"; comments do not nest.
// String literals are not recognised.
//
// Both passes are done in one left-to-right scan.  Removing a line comment
// joins the text before "--" to an LF or to the end of the text, so it can
// neither create nor break a "/*" or "*/" pair; a block comment therefore
// ends at the first "*/" that lies outside a line comment.  Once a "/*" finds
// no such "*/", no later "/*" can either, and only line comments are removed
// from there on.  Every character is examined a bounded number of times.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "shared/scan.hpp"
#include "shared/text.hpp"

namespace quorvane::text {

// The end (just past "*/") of the block comment that opens at text[open]
// ("/*"): the first "*/" after it that lies outside a line comment, or 0
// when there is none.  Once a "/*" finds no end, no later "/*" can.
template <CodeUnit C>
std::size_t block_comment_end(Text<C> text, std::size_t open) noexcept {
    const std::size_t n = text.size();
    std::size_t j = open + 2;
    while (true) {
        j = find_either(text, j, C('*'), C('-'));
        if (j + 1 >= n) return 0;
        if (text[j] == '*') {
            if (text[j + 1] == '/') return j + 2;
        } else if (text[j + 1] == '-') {
            j = find_unit(text, j + 2, C('\n'));
            continue;
        }
        ++j;
    }
}

// Calls keep(begin, end) for every run of `text` left once the comments are
// removed, in order (runs may be empty).  Returns the number of comments
// removed.
template <CodeUnit C, class Keep>
std::size_t for_each_kept_run(Text<C> text, Keep&& keep) {
    const std::size_t n = text.size();
    std::size_t kept_from = 0;  // start of the pending run of kept text
    std::size_t removed = 0;
    bool blocks_closed = false;  // an unclosed "/*" was seen: line comments only

    std::size_t i = 0;
    while (true) {
        i = blocks_closed ? find_unit(text, i, C('-')) : find_either(text, i, C('-'), C('/'));
        if (i + 1 >= n) break;
        if (text[i] == '-') {
            if (text[i + 1] != '-') {
                ++i;
                continue;
            }
            keep(kept_from, i);
            ++removed;
            i = kept_from = find_unit(text, i + 2, C('\n'));
            continue;
        }
        if (text[i + 1] != '*') {
            ++i;
            continue;
        }
        const std::size_t end = block_comment_end(text, i);
        if (end == 0) {
            blocks_closed = true;
            i += 2;
            continue;
        }
        keep(kept_from, i);
        ++removed;
        i = kept_from = end;
    }
    keep(kept_from, n);
    return removed;
}

// Writes the text without comments to `out` and returns true, or returns
// false without touching `out` when the text has no comment at all (the
// caller then scans the original text, uncopied).
template <CodeUnit C>
bool strip_comments(Text<C> text, std::vector<C>& out) {
    // The first run is copied only once a second one shows that a comment
    // was cut out; a comment-free text is never copied.
    std::pair<std::size_t, std::size_t> first{0, 0};
    std::size_t runs = 0;
    auto append = [&](std::size_t b, std::size_t e) {
        out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(b),
                   text.begin() + static_cast<std::ptrdiff_t>(e));
    };
    const std::size_t removed = for_each_kept_run(text, [&](std::size_t b, std::size_t e) {
        if (runs++ == 0) {
            first = {b, e};
            return;
        }
        if (runs == 2) {
            out.clear();
            out.reserve(text.size());
            append(first.first, first.second);
        }
        append(b, e);
    });
    if (removed == 0) return false;
    if (runs == 1) out.assign(text.begin() + static_cast<std::ptrdiff_t>(first.first),
                              text.begin() + static_cast<std::ptrdiff_t>(first.second));
    return true;
}

}  // namespace quorvane::text
