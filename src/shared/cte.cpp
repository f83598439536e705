#include "shared/cte.hpp"

#include "shared/unicode.hpp"

namespace quorvane::text {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Position of the first ")" at or after a position, for queries that never
// move backwards: every character is examined once per search sequence.
template <CodeUnit C>
class NextClose {
   public:
    explicit NextClose(Text<C> t) : t_(t) {}

    std::size_t at_or_after(std::size_t p) {
        if (scanned_from_ != kNone && p >= scanned_from_ && (found_ == kNone || p <= found_)) {
            return found_;
        }
        scanned_from_ = p;
        found_ = kNone;
        for (std::size_t k = p; k < t_.size(); ++k) {
            if (t_[k] == ')') {
                found_ = k;
                break;
            }
        }
        return found_;
    }

   private:
    Text<C> t_;
    std::size_t scanned_from_ = kNone;
    std::size_t found_ = kNone;
};

template <CodeUnit C>
std::size_t skip_space(Text<C> t, std::size_t i) {
    while (i < t.size() && is_space(t[i])) ++i;
    return i;
}

template <CodeUnit C>
bool as_at(Text<C> t, std::size_t i) {
    return equals_folded_ascii(t, i, "as", 2);
}

// `\s*AS\s*\(` from i: the end of the match, or kNone.  Each `\s*` is
// followed by a character that is not whitespace, so giving back whitespace
// never helps, and the greedy run is the only one to try.
template <CodeUnit C>
std::size_t as_paren(Text<C> t, std::size_t i) {
    const std::size_t r = skip_space(t, i);
    if (!as_at(t, r)) return kNone;
    const std::size_t u = skip_space(t, r + 2);
    return (u < t.size() && t[u] == '(') ? u + 1 : kNone;
}

// The head whose `WITH` starts at s, given that `\bWITH\s` matches there.
template <CodeUnit C>
std::size_t head_end(Text<C> t, std::size_t s, NextClose<C>& close) {
    const std::size_t j = skip_space(t, s + 4);  // \s+ (cannot give back: \w+ follows)
    if (j >= t.size() || !unicode::is_word(t[j])) return kNone;
    std::size_t b = j;
    while (b < t.size() && unicode::is_word(t[b])) ++b;

    // \w+ takes the whole word first.  Then the optional group is tried
    // first: it can only start right after the whitespace, and `[^)]*\)`
    // reaches exactly the next ")".  If the group cannot match, `AS` must
    // follow the whitespace instead; if it can but `\s*AS\s*\(` fails after
    // it, leaving the group out puts `AS` on the "(" and fails too.
    const std::size_t m = skip_space(t, b);
    if (m < t.size() && t[m] == '(') {
        const std::size_t q = close.at_or_after(m + 1);
        if (q != kNone) {
            const std::size_t end = as_paren(t, q + 1);
            if (end != kNone) return end;
        }
    } else {
        const std::size_t end = as_paren(t, b);
        if (end != kNone) return end;
    }
    // Backtracking into \w+: a shorter word is followed by a word character,
    // which neither `\s*` nor "(" can take, so only `AS` can follow, and
    // `\s*\(` after it needs the word to end there: the word must end in
    // "AS" with at least one character before it.
    if (b - j >= 3 && as_at(t, b - 2)) {
        const std::size_t u = skip_space(t, b);
        if (u < t.size() && t[u] == '(') return u + 1;
    }
    return kNone;
}

template <CodeUnit C>
std::optional<rx::Span> search_with(const rx::Regex& with, Text<C> t, std::size_t from,
                                     NextClose<C>& close) {
    while (const auto candidate = with.search(t, from)) {
        const std::size_t end = head_end(t, candidate->start, close);
        if (end != kNone) return rx::Span{candidate->start, end};
        from = candidate->start + 1;
    }
    return std::nullopt;
}

}  // namespace

CteHeadMatcher::CteHeadMatcher() : with_(R"(\bWITH\s)", rx::kIgnoreCase) {}

template <CodeUnit C>
std::optional<rx::Span> CteHeadMatcher::search(Text<C> subject, std::size_t from) const {
    NextClose<C> close(subject);
    return search_with(with_, subject, from, close);
}

template <CodeUnit C>
std::size_t CteHeadMatcher::count(Text<C> subject) const {
    NextClose<C> close(subject);
    std::size_t n = 0;
    std::size_t pos = 0;
    while (const auto m = search_with(with_, subject, pos, close)) {
        ++n;
        pos = m->end;
    }
    return n;
}

template std::optional<rx::Span> CteHeadMatcher::search(Text<std::uint8_t>, std::size_t) const;
template std::optional<rx::Span> CteHeadMatcher::search(Text<std::uint16_t>, std::size_t) const;
template std::optional<rx::Span> CteHeadMatcher::search(Text<std::uint32_t>, std::size_t) const;
template std::size_t CteHeadMatcher::count(Text<std::uint8_t>) const;
template std::size_t CteHeadMatcher::count(Text<std::uint16_t>) const;
template std::size_t CteHeadMatcher::count(Text<std::uint32_t>) const;

}  // namespace quorvane::text
