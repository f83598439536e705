// Plain, slow statements of text rules, for checking the fast ones (unit
// tests and fuzzing harnesses).
#pragma once

#include <vector>

#include "shared/text.hpp"

namespace quorvane::reference {

// Comment removal as its two substitutions: every "--" up to the next LF,
// then, in what remains, every "/*" up to the nearest "*/".
template <text::CodeUnit C>
std::vector<C> strip_comments(text::Text<C> in) {
    std::vector<C> pass1;
    for (std::size_t i = 0; i < in.size();) {
        if (i + 1 < in.size() && in[i] == '-' && in[i + 1] == '-') {
            while (i < in.size() && in[i] != '\n') ++i;
        } else {
            pass1.push_back(in[i++]);
        }
    }
    std::vector<C> out;
    for (std::size_t i = 0; i < pass1.size();) {
        if (i + 1 < pass1.size() && pass1[i] == '/' && pass1[i + 1] == '*') {
            std::size_t j = i + 2;
            while (j + 1 < pass1.size() && !(pass1[j] == '*' && pass1[j + 1] == '/')) ++j;
            if (j + 1 < pass1.size()) {
                i = j + 2;
                continue;
            }
        }
        out.push_back(pass1[i++]);
    }
    return out;
}

// The offsets in `in` of the characters comment removal keeps, in order:
// the same two substitutions, on offsets.
template <text::CodeUnit C>
std::vector<std::size_t> kept_offsets(text::Text<C> in) {
    std::vector<std::size_t> pass1;
    for (std::size_t i = 0; i < in.size();) {
        if (i + 1 < in.size() && in[i] == '-' && in[i + 1] == '-') {
            while (i < in.size() && in[i] != '\n') ++i;
        } else {
            pass1.push_back(i++);
        }
    }
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < pass1.size();) {
        if (i + 1 < pass1.size() && in[pass1[i]] == '/' && in[pass1[i + 1]] == '*') {
            std::size_t j = i + 2;
            while (j + 1 < pass1.size() && !(in[pass1[j]] == '*' && in[pass1[j + 1]] == '/')) ++j;
            if (j + 1 < pass1.size()) {
                i = j + 2;
                continue;
            }
        }
        out.push_back(pass1[i++]);
    }
    return out;
}

// The 1-based line holding offset `at`: one more than the number of line
// breaks that end before it, CR LF once (its LF is on the CR's line).
template <text::CodeUnit C>
std::size_t line_at(text::Text<C> t, std::size_t at) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < at; ++i) {
        if (!text::is_line_break(t[i])) continue;
        if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') {
            if (i + 1 == at) break;
            ++i;
        }
        ++line;
    }
    return line;
}

}  // namespace quorvane::reference
