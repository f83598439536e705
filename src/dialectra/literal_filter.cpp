#include "dialectra/literal_filter.hpp"

#include <algorithm>
#include <deque>
#include <stdexcept>

namespace quorvane::dialectra {

namespace {
char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

LiteralFilter::LiteralFilter(const std::vector<std::string>& literals) : literal_count_(literals.size()) {
    for (const std::string& lit : literals) {
        if (lit.empty()) throw std::invalid_argument("empty literal");
        longest_ = std::max(longest_, lit.size());
        for (const char c : lit) {
            const auto u = static_cast<unsigned char>(fold(c));
            if (u >= 0x80 || u == 0) throw std::invalid_argument("literal outside ASCII");
            if (!classes_[u]) {
                classes_[u] = static_cast<std::uint8_t>(class_count_++);
                // Upper-case letters fold onto their lower-case class.
                if (u >= 'a' && u <= 'z') classes_[u - 'a' + 'A'] = classes_[u];
            }
        }
    }
    // The trie, with per-state outputs before the failure links are added.
    std::vector<std::vector<std::uint32_t>> out(1);
    next_.assign(class_count_, 0);
    std::uint32_t states = 1;
    for (std::size_t id = 0; id < literals.size(); ++id) {
        std::uint32_t s = 0;
        for (const char c : literals[id]) {
            const std::uint32_t k = classes_[static_cast<unsigned char>(fold(c))];
            std::uint32_t& t = next_[s * class_count_ + k];
            if (!t) {
                t = states++;
                next_.resize(static_cast<std::size_t>(states) * class_count_, 0);
                out.emplace_back();
            }
            s = next_[s * class_count_ + k];
        }
        out[s].push_back(static_cast<std::uint32_t>(id));
    }
    // Breadth first: failure links, completed transitions, merged outputs.
    std::vector<std::uint32_t> fail(states, 0);
    std::deque<std::uint32_t> queue;
    for (std::uint32_t k = 1; k < class_count_; ++k) {
        if (const std::uint32_t t = next_[k]) queue.push_back(t);
    }
    while (!queue.empty()) {
        const std::uint32_t s = queue.front();
        queue.pop_front();
        const std::vector<std::uint32_t>& inherited = out[fail[s]];
        out[s].insert(out[s].end(), inherited.begin(), inherited.end());
        for (std::uint32_t k = 1; k < class_count_; ++k) {
            std::uint32_t& t = next_[s * class_count_ + k];
            const std::uint32_t via_fail = next_[fail[s] * class_count_ + k];
            if (t) {
                fail[t] = via_fail;
                queue.push_back(t);
            } else {
                t = via_fail;
            }
        }
    }
    output_begin_.reserve(states + 1);
    for (std::uint32_t s = 0; s < states; ++s) {
        output_begin_.push_back(static_cast<std::uint32_t>(outputs_.size()));
        outputs_.insert(outputs_.end(), out[s].begin(), out[s].end());
    }
    output_begin_.push_back(static_cast<std::uint32_t>(outputs_.size()));
    // The scan's table: each entry is the target's row offset, with the top
    // bit set when literals end at the target.
    if (static_cast<std::uint64_t>(states) * class_count_ >= kHasOutput) throw std::length_error("too many literals");
    for (std::uint32_t& t : next_) {
        const std::uint32_t target = t;
        t = target * class_count_ | (out[target].empty() ? 0 : kHasOutput);
    }
}

template <text::CodeUnit C>
void LiteralFilter::find(text::Text<C> text, std::vector<char>& found) const {
    if (literal_count_ == 0) return;
    const std::uint32_t* next = next_.data();
    auto report = [&](std::uint32_t row) {
        const std::uint32_t s = row / class_count_;
        for (std::uint32_t o = output_begin_[s]; o < output_begin_[s + 1]; ++o) found[outputs_[o]] = 1;
    };
    // Four parts of the text are walked at once, so that the four chains of
    // table loads overlap; each part but the first starts early enough for a
    // literal that ends in it to be seen whole.
    constexpr std::size_t kStreams = 4;
    const std::size_t n = text.size();
    const std::size_t part = n / kStreams;
    if (part > longest_) {
        std::size_t start[kStreams];
        std::size_t end[kStreams];
        std::uint32_t row[kStreams] = {};
        static_assert(kStreams == 4);
        for (std::size_t k = 0; k < kStreams; ++k) {
            start[k] = k == 0 ? 0 : k * part - (longest_ - 1);
            end[k] = k + 1 < kStreams ? (k + 1) * part : n;
        }
        const C* p = text.data();
        const C* p0 = p + start[0];
        const C* p1 = p + start[1];
        const C* p2 = p + start[2];
        const C* p3 = p + start[3];
        std::uint32_t r0 = 0, r1 = 0, r2 = 0, r3 = 0;
        for (std::size_t i = 0; i < part; ++i) {  // part 0 is the shortest
            const std::uint32_t t0 = next[r0 + class_of(p0[i])];
            const std::uint32_t t1 = next[r1 + class_of(p1[i])];
            const std::uint32_t t2 = next[r2 + class_of(p2[i])];
            const std::uint32_t t3 = next[r3 + class_of(p3[i])];
            r0 = t0 & ~kHasOutput;
            r1 = t1 & ~kHasOutput;
            r2 = t2 & ~kHasOutput;
            r3 = t3 & ~kHasOutput;
            if ((t0 | t1 | t2 | t3) & kHasOutput) [[unlikely]] {
                if (t0 & kHasOutput) report(r0);
                if (t1 & kHasOutput) report(r1);
                if (t2 & kHasOutput) report(r2);
                if (t3 & kHasOutput) report(r3);
            }
        }
        row[1] = r1;
        row[2] = r2;
        row[3] = r3;
        for (std::size_t k = 1; k < kStreams; ++k) {
            for (std::size_t i = start[k] + part; i < end[k]; ++i) {
                const std::uint32_t t = next[row[k] + class_of(p[i])];
                row[k] = t & ~kHasOutput;
                if (t & kHasOutput) report(row[k]);
            }
        }
        return;
    }
    std::uint32_t r = 0;
    for (const C unit : text) {
        const std::uint32_t t = next[r + class_of(unit)];
        r = t & ~kHasOutput;
        if (t & kHasOutput) [[unlikely]] report(r);
    }
}

template void LiteralFilter::find(text::Text<std::uint8_t>, std::vector<char>&) const;
template void LiteralFilter::find(text::Text<std::uint16_t>, std::vector<char>&) const;
template void LiteralFilter::find(text::Text<std::uint32_t>, std::vector<char>&) const;

}  // namespace quorvane::dialectra
