#include "dialectra/anchor.hpp"

#include <algorithm>
#include <string_view>

namespace quorvane::dialectra {

namespace sx = rx::syntax;

void CharSuperset::add_everything() {
    std::fill(std::begin(ascii_), std::end(ascii_), true);
    non_ascii_ = true;
}

void CharSuperset::add_folded(char32_t c, bool ignore_case) {
    ascii_[c] = true;
    if (!ignore_case) return;
    if (c >= 'a' && c <= 'z') ascii_[c - 'a' + 'A'] = true;
    if (c >= 'A' && c <= 'Z') ascii_[c - 'A' + 'a'] = true;
    if (c == 's' || c == 'S') long_s_ = true;
    if (c == 'k' || c == 'K') kelvin_ = true;
}

namespace {

constexpr std::size_t kUnbounded = Anchor::kUnbounded;

// Widths saturate at kUnbounded: a maximum too large to count is no limit,
// and a minimum that large could never be met by any text anyway.
std::size_t add_widths(std::size_t a, std::size_t b) { return a >= kUnbounded - b ? kUnbounded : a + b; }

std::size_t times(std::size_t width, int count) {
    if (count == 0 || width == 0) return 0;
    if (count < 0 || width >= kUnbounded / static_cast<std::size_t>(count)) return kUnbounded;
    return width * static_cast<std::size_t>(count);
}

struct Widths {
    std::size_t min = 0;
    std::size_t max = 0;
};

void add_set(const sx::Node& set, bool ignore_case, CharSuperset& chars) {
    if (set.negated) {
        chars.add_everything();
        return;
    }
    for (const sx::SetItem& item : set.items) {
        switch (item.kind) {
            case sx::SetItemKind::Char:
            case sx::SetItemKind::Range:
                if (item.kind == sx::SetItemKind::Char ? item.lo >= 0x80 : item.hi >= 0x80) {
                    chars.add_everything();  // non-ASCII members fold in ways not tracked here
                    return;
                }
                for (char32_t c = item.lo; c <= (item.kind == sx::SetItemKind::Char ? item.lo : item.hi); ++c) {
                    chars.add_folded(c, ignore_case);
                }
                break;
            case sx::SetItemKind::Word:
            case sx::SetItemKind::Digit:
                for (char32_t c = '0'; c <= '9'; ++c) chars.add_ascii(c);
                if (item.kind == sx::SetItemKind::Word) {
                    for (char32_t c = 'a'; c <= 'z'; ++c) {
                        chars.add_ascii(c);
                        chars.add_ascii(c - 'a' + 'A');
                    }
                    chars.add_ascii('_');
                }
                chars.add_any_non_ascii();  // letters and digits of any script, whatever the engine's tables
                break;
            case sx::SetItemKind::Space:
                for (char32_t c = 0; c < 0x80; ++c) {
                    if (text::is_space(c)) chars.add_ascii(c);
                }
                chars.add_space();
                break;
            default:  // a negated class
                chars.add_everything();
                return;
        }
    }
}

// The widths of one repetition of `item`, adding what it can match to `chars`.
Widths one_repetition(const sx::Node& item, bool ignore_case, CharSuperset& chars);

Widths sequence_widths(const sx::Node& seq, bool ignore_case, CharSuperset& chars) {
    Widths total;
    for (const sx::Node& item : seq.kids) {
        const Widths one = one_repetition(item, ignore_case, chars);
        total.min = add_widths(total.min, times(one.min, item.min));
        total.max = add_widths(total.max, times(one.max, item.max));
    }
    return total;
}

Widths one_repetition(const sx::Node& item, bool ignore_case, CharSuperset& chars) {
    switch (item.type) {
        case sx::NodeType::Literal:
            if (item.ch >= 0x80) {
                chars.add_everything();
            } else {
                chars.add_folded(item.ch, ignore_case);
            }
            return {1, 1};
        case sx::NodeType::Set:
            add_set(item, ignore_case, chars);
            return {1, 1};
        case sx::NodeType::AnyChar:
            chars.add_everything();
            return {1, 1};
        case sx::NodeType::Group: {
            if (item.group != sx::GroupKind::Capture && item.group != sx::GroupKind::NonCapture) return {0, 0};
            Widths w{kUnbounded, 0};
            for (const sx::Node& option : item.kids[0].kids) {
                const Widths o = sequence_widths(option, ignore_case, chars);
                w.min = std::min(w.min, o.min);
                w.max = w.max == kUnbounded || o.max == kUnbounded ? kUnbounded : std::max(w.max, o.max);
            }
            return w;
        }
        default:  // assertions and callouts match no character
            return {0, 0};
    }
}

}  // namespace

std::vector<Anchor> find_anchors(const sx::Node& seq, bool ignore_case) {
    // Characters too common in SQL for a one-character anchor to pay.
    static constexpr std::string_view kCommon = "(),.;=*'[]@<>+-/_ \t\r\n";
    auto letter = [](char c) { return c >= 'a' && c <= 'z'; };
    auto worth = [&](const std::string& run) {
        if (run.size() >= 3) return true;
        if (run.size() == 2) return !(letter(run[0]) && letter(run[1]));  // two-letter words are everywhere
        const char c = run[0];
        return !(letter(c) || (c >= '0' && c <= '9') || kCommon.find(c) != std::string_view::npos);
    };
    std::vector<Anchor> found;
    Anchor before;  // the items before position i
    const std::vector<sx::Node>& items = seq.kids;
    for (std::size_t i = 0; i < items.size();) {
        std::string run;
        std::size_t j = i;
        while (j < items.size() && items[j].type == sx::NodeType::Literal && items[j].min == 1 &&
               items[j].max == 1 && items[j].ch > 0 && items[j].ch < 0x80) {
            const auto c = static_cast<char>(items[j].ch);
            run += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;  // the filter folds case
            ++j;
        }
        if (!run.empty() && worth(run)) {
            found.push_back(before);
            found.back().literal = run;
        }
        if (j == i) j = i + 1;
        for (; i < j; ++i) {
            const Widths one = one_repetition(items[i], ignore_case, before.before);
            before.min_before = add_widths(before.min_before, times(one.min, items[i].min));
            before.max_before = add_widths(before.max_before, times(one.max, items[i].max));
        }
    }
    return found;
}

}  // namespace quorvane::dialectra
