#include "dialectra/literal_filter.hpp"

#include <algorithm>
#include <deque>
#include <optional>
#include <utility>
#include <stdexcept>

namespace quorvane::dialectra {

namespace {
char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

LiteralFilter::LiteralFilter(const std::vector<std::string>& literals, const std::vector<char>& record)
    : literal_count_(literals.size()), record_(literals.size(), 0) {
    if (!record.empty() && record.size() != literals.size()) throw std::invalid_argument("one flag per literal");
    for (std::size_t id = 0; id < literals.size(); ++id) {
        lengths_.push_back(static_cast<std::uint32_t>(literals[id].size()));
        record_[id] = record.empty() ? 0 : record[id];
        records_ |= record_[id] != 0;
    }
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

// Collects the starts of the recorded literals within the budget.  Each
// stream of the scan logs its occurrences in the order it meets them, which
// for one literal is ascending; the logs are then dealt out per literal,
// stream by stream, skipping what the overlap of two streams saw twice.
class Recorder {
   public:
    static constexpr std::size_t kStreams = 4;

    Recorder(Occurrences& out, std::size_t literals, std::size_t text_size, std::size_t most_per_literal)
        : out_(out), budget_(text_size / 64 + 4096), most_per_literal_(most_per_literal) {
        out_.dropped_.assign(literals, 0);
        out_.begin_.assign(literals + 1, 0);  // counts first, offsets once finished
    }

    void add(std::size_t stream, std::uint32_t id, std::size_t start) {
        if (out_.dropped_[id]) return;
        log_[stream].push_back({start, id});
        std::size_t& count = out_.begin_[id];
        ++held_;
        if (++count > most_per_literal_) {
            held_ -= count;  // its entries stay in the logs until the next shed()
            count = 0;
            out_.dropped_[id] = 1;
        }
        if (++logged_ > budget_) shed();
    }

    void finish() {
        std::vector<std::size_t>& begin = out_.begin_;
        std::size_t total = 0;
        for (std::size_t& b : begin) total += std::exchange(b, total);
        out_.starts_.resize(total);
        std::size_t* starts = out_.starts_.data();
        std::vector<std::size_t> end(begin.begin(), begin.end() - 1);  // where each list is filled to
        bool twice = false;
        for (const std::vector<Event>& log : log_) {
            for (const Event& e : log) {
                if (out_.dropped_[e.id]) continue;
                std::size_t& at = end[e.id];
                if (at != begin[e.id] && e.start <= starts[at - 1]) {
                    twice = true;  // seen by the stream before too
                    continue;
                }
                starts[at++] = e.start;
            }
        }
        if (!twice) return;
        // Close the gaps the overlaps left: each list moves down to where
        // the one before ends.
        std::size_t to = 0;
        for (std::size_t id = 0; id + 1 < begin.size(); ++id) {
            const std::size_t from = begin[id];
            const std::size_t length = end[id] - from;
            if (to != from) std::copy(starts + from, starts + from + length, starts + to);
            begin[id] = to;
            to += length;
        }
        begin.back() = to;
        out_.starts_.resize(to);
    }

   private:
    struct Event {
        std::size_t start;
        std::uint32_t id;
    };

    // Drops the most frequent literals until the logs hold half the budget,
    // and clears the logs of the dropped ones.
    void shed() {
        std::vector<std::size_t>& counts = out_.begin_;
        while (held_ > budget_ / 2) {
            const auto largest = std::max_element(counts.begin(), counts.end() - 1);
            const auto id = static_cast<std::size_t>(largest - counts.begin());
            held_ -= *largest;
            *largest = 0;
            out_.dropped_[id] = 1;
        }
        for (std::vector<Event>& log : log_) {
            std::erase_if(log, [&](const Event& e) { return out_.dropped_[e.id] != 0; });
        }
        logged_ = held_;
    }

    Occurrences& out_;
    std::size_t budget_;
    std::size_t most_per_literal_;
    std::size_t held_ = 0;    // entries of the literals still recorded
    std::size_t logged_ = 0;  // entries in the logs
    std::vector<Event> log_[kStreams];
};

template <text::CodeUnit C>
void LiteralFilter::find(text::Text<C> text, std::vector<char>& found, Occurrences* occurrences,
                         std::size_t most_per_literal) const {
    if (literal_count_ == 0) return;
    std::optional<Recorder> recorder;
    if (occurrences && records_) recorder.emplace(*occurrences, literal_count_, text.size(), most_per_literal);
    const std::uint32_t* next = next_.data();
    // `at`: the offset of the character the state was entered on.
    auto report = [&](std::uint32_t row, std::size_t stream, std::size_t at) {
        const std::uint32_t s = row / class_count_;
        for (std::uint32_t o = output_begin_[s]; o < output_begin_[s + 1]; ++o) {
            const std::uint32_t id = outputs_[o];
            found[id] = 1;
            if (recorder && record_[id]) recorder->add(stream, id, at + 1 - lengths_[id]);
        }
    };
    // Four parts of the text are walked at once, so that the four chains of
    // table loads overlap; each part but the first starts early enough for a
    // literal that ends in it to be seen whole.
    constexpr std::size_t kStreams = Recorder::kStreams;
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
                if (t0 & kHasOutput) report(r0, 0, start[0] + i);
                if (t1 & kHasOutput) report(r1, 1, start[1] + i);
                if (t2 & kHasOutput) report(r2, 2, start[2] + i);
                if (t3 & kHasOutput) report(r3, 3, start[3] + i);
            }
        }
        row[1] = r1;
        row[2] = r2;
        row[3] = r3;
        for (std::size_t k = 1; k < kStreams; ++k) {
            for (std::size_t i = start[k] + part; i < end[k]; ++i) {
                const std::uint32_t t = next[row[k] + class_of(p[i])];
                row[k] = t & ~kHasOutput;
                if (t & kHasOutput) report(row[k], k, i);
            }
        }
    } else {
        std::uint32_t r = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t t = next[r + class_of(text[i])];
            r = t & ~kHasOutput;
            if (t & kHasOutput) [[unlikely]] report(r, 0, i);
        }
    }
    if (recorder) recorder->finish();
}

template void LiteralFilter::find(text::Text<std::uint8_t>, std::vector<char>&, Occurrences*, std::size_t) const;
template void LiteralFilter::find(text::Text<std::uint16_t>, std::vector<char>&, Occurrences*, std::size_t) const;
template void LiteralFilter::find(text::Text<std::uint32_t>, std::vector<char>&, Occurrences*, std::size_t) const;

}  // namespace quorvane::dialectra
