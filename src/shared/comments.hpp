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
#include <vector>

#include "shared/text.hpp"

namespace quorvane::text {

namespace detail {

template <CodeUnit C>
std::size_t find_lf(Text<C> text, std::size_t from) noexcept {
    for (std::size_t i = from; i < text.size(); ++i) {
        if (text[i] == 0x0A) return i;
    }
    return text.size();
}

}  // namespace detail

// Writes the text without comments to `out` and returns true, or returns
// false without touching `out` when the text has no comment at all (the
// caller then scans the original text, uncopied).
template <CodeUnit C>
bool strip_comments(Text<C> text, std::vector<C>& out) {
    const std::size_t n = text.size();
    std::size_t kept_from = 0;  // start of the pending run of kept text
    bool changed = false;
    bool blocks_closed = false;  // an unclosed "/*" was seen: line comments only

    auto keep_until = [&](std::size_t end) {
        if (!changed) {
            out.clear();
            out.reserve(n);
            changed = true;
        }
        out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(kept_from),
                   text.begin() + static_cast<std::ptrdiff_t>(end));
    };

    std::size_t i = 0;
    while (i + 1 < n) {
        const C c = text[i];
        if (c == '-' && text[i + 1] == '-') {
            keep_until(i);
            i = kept_from = detail::find_lf(text, i + 2);
            continue;
        }
        if (c != '/' || blocks_closed || text[i + 1] != '*') {
            ++i;
            continue;
        }
        // A block comment opens at i: find its end outside line comments.
        std::size_t j = i + 2;
        bool closed = false;
        while (j + 1 < n) {
            const C d = text[j];
            if (d == '*' && text[j + 1] == '/') {
                closed = true;
                break;
            }
            if (d == '-' && text[j + 1] == '-') {
                j = detail::find_lf(text, j + 2);
                continue;
            }
            ++j;
        }
        if (!closed) {
            blocks_closed = true;
            i += 2;
            continue;
        }
        keep_until(i);
        i = kept_from = j + 2;
    }
    if (!changed) return false;
    out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(kept_from), text.end());
    return true;
}

}  // namespace quorvane::text
