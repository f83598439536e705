// The code of a SQL script as platform detection reads it: the text without
// its comments, with the single-quoted string literals marked.
//
// One left-to-right pass finds the next of four openers: "--", "/*", a
// single quote and a double quote.
//   --  a line comment, up to (not including) the next LF or the end;
//   /*  a block comment, up to and including the nearest "*/", or the end;
//   ' " a quoted string or identifier, kept whole, up to the matching quote
//       (a doubled quote inside stands for itself) or the end; so a "--" or
//       "/*" inside quotes opens no comment.
// The comments are cut out; single-quoted runs are recorded as literal spans
// of the comment-free text.  Offsets of the comment-free text map back to
// the original through the kept runs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "shared/scan.hpp"
#include "shared/text.hpp"

namespace quorvane::dialectra {

template <text::CodeUnit C>
class CodeView {
   public:
    explicit CodeView(text::Text<C> sql) : sql_(sql) { build(); }

    // The comment-free text (the original itself when it has no comment).
    text::Text<C> text() const noexcept {
        return copied_ ? text::Text<C>(storage_.data(), storage_.size()) : sql_;
    }

    // Whether a match starting at `at` (an offset of text()) begins inside a
    // single-quoted literal; if so, `resume` receives the literal's end.
    bool in_literal(std::size_t at, std::size_t& resume) const noexcept {
        auto it = std::upper_bound(literal_begins_.begin(), literal_begins_.end(), at);
        if (it == literal_begins_.begin()) return false;
        const std::size_t k = static_cast<std::size_t>(it - literal_begins_.begin()) - 1;
        if (at >= literal_ends_[k]) return false;
        resume = literal_ends_[k];
        return true;
    }

    // The offset in the original text of offset `at` of text().
    std::size_t original_offset(std::size_t at) const noexcept {
        if (!copied_ || runs_.empty()) return at;
        auto it = std::upper_bound(runs_.begin(), runs_.end(), at,
                                   [](std::size_t v, const Run& r) { return v < r.code_begin; });
        const Run& run = *(it - 1);
        return run.original_begin + (at - run.code_begin);
    }

   private:
    struct Run {
        std::size_t code_begin;
        std::size_t original_begin;
    };

    // Index of the next opener at or after `from`, or the text's size.
    std::size_t next_opener(std::size_t from) const noexcept {
        const std::size_t n = sql_.size();
        std::size_t i = from;
        while (true) {
            i = text::find_first(
                sql_, i, 1,
                [](const C* q) {
                    const auto v = text::detail::Lanes<C>::load(q);
                    return (v == C('-')) | (v == C('/')) | (v == C('\'')) | (v == C('"'));
                },
                [](const C* q) { return *q == C('-') || *q == C('/') || *q == C('\'') || *q == C('"'); });
            if (i >= n) return n;
            const C c = sql_[i];
            if (c == C('\'') || c == C('"')) return i;
            if (i + 1 < n && sql_[i + 1] == (c == C('-') ? C('-') : C('*'))) return i;
            ++i;
        }
    }

    void keep(std::size_t begin, std::size_t end) {
        if (begin == end) return;
        if (!runs_.empty() && runs_.back().original_begin + (code_size_ - runs_.back().code_begin) == begin) {
            code_size_ += end - begin;  // continues the current run
            return;
        }
        runs_.push_back({code_size_, begin});
        code_size_ += end - begin;
    }

    void build() {
        const std::size_t n = sql_.size();
        std::size_t pos = 0;
        bool cut = false;
        while (true) {
            const std::size_t i = next_opener(pos);
            if (i >= n) break;
            keep(pos, i);
            const C c = sql_[i];
            if (c == C('-')) {
                pos = text::find_unit(sql_, i + 2, C('\n'));  // the LF itself stays
                cut = true;
                continue;
            }
            if (c == C('/')) {
                const std::size_t close = text::find_pair(sql_, i + 2, C('*'), C('/'));
                pos = close >= n ? n : close + 2;
                cut = true;
                continue;
            }
            std::size_t scan = i + 1;
            std::size_t end;
            while (true) {
                const std::size_t close = text::find_unit(sql_, scan, c);
                if (close >= n) {
                    end = n;
                    break;
                }
                if (close + 1 < n && sql_[close + 1] == c) {
                    scan = close + 2;
                    continue;
                }
                end = close + 1;
                break;
            }
            if (c == C('\'')) {
                literal_begins_.push_back(code_size_);
                literal_ends_.push_back(code_size_ + (end - i));
            }
            keep(i, end);
            pos = end;
        }
        keep(pos, n);
        if (!cut) return;
        copied_ = true;
        storage_.reserve(code_size_);
        for (std::size_t r = 0; r < runs_.size(); ++r) {
            const std::size_t length =
                (r + 1 < runs_.size() ? runs_[r + 1].code_begin : code_size_) - runs_[r].code_begin;
            const C* from = sql_.data() + runs_[r].original_begin;
            storage_.insert(storage_.end(), from, from + length);
        }
    }

    text::Text<C> sql_;
    bool copied_ = false;
    std::vector<C> storage_;
    std::vector<Run> runs_;
    std::size_t code_size_ = 0;
    std::vector<std::size_t> literal_begins_;
    std::vector<std::size_t> literal_ends_;
};

}  // namespace quorvane::dialectra
