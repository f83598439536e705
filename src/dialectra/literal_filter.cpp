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
}

template <text::CodeUnit C>
void LiteralFilter::find(text::Text<C> text, std::vector<char>& found) const {
    if (literal_count_ == 0) return;
    const std::uint32_t* next = next_.data();
    const std::uint32_t* begin = output_begin_.data();
    const std::uint32_t width = class_count_;
    std::uint32_t s = 0;
    for (const C unit : text) {
        s = next[s * width + class_of(unit)];
        if (begin[s] != begin[s + 1]) {
            for (std::uint32_t o = begin[s]; o < begin[s + 1]; ++o) found[outputs_[o]] = 1;
        }
    }
}

template void LiteralFilter::find(text::Text<std::uint8_t>, std::vector<char>&) const;
template void LiteralFilter::find(text::Text<std::uint16_t>, std::vector<char>&) const;
template void LiteralFilter::find(text::Text<std::uint32_t>, std::vector<char>&) const;

}  // namespace quorvane::dialectra
