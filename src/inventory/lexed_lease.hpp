// The calling thread's tokens of a text, kept from call to call, so that
// the scripts of a code base are lexed into the same buffers and the same
// script read twice in a row is lexed once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "inventory/dialects.hpp"
#include "inventory/lexer.hpp"
#include "shared/text.hpp"
#include "shared/thread_scratch.hpp"

namespace quorvane::inventory {

// The tokens of `t` (and, with `lines`, where its lines start) in buffers
// of the calling thread, reused from call to call: allocating and faulting
// in fresh pages for every text costs more than scanning it (a fifth of
// the time on a file of a few megabytes).  A buffer that held more than
// kKeptTokens entries, or reserved room for four times as many, is given
// back when the lease ends, so that what a thread keeps is bounded
// (kKeptTokens tokens are 48 MiB); reserved slots never written cost no
// memory.
//
// The buffers remember what they were made of (a copy of the text, up to
// kRememberedBytes, and its dialect), so that the same text read again
// right after (split_objects, then references or fingerprint of the whole
// script) is not lexed twice.  The copy is compared whole, so a result
// never depends on what was lexed before; it costs a copy and a compare,
// a small part of lexing.
class LexedLease {
   public:
    static constexpr std::size_t kKeptTokens = std::size_t{1} << 21;
    static constexpr std::size_t kRememberedBytes = std::size_t{16} << 20;

    template <text::CodeUnit C>
    LexedLease(text::Text<C> t, const DialectRules& rules, bool lines) : s_(thread_scratch<Scratch>()) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(t.data());
        const std::size_t size = t.size() * sizeof(C);
        if (!holds(s_, t, rules)) {
            s_.generation = new_generation();
            s_.remembered = s_.lines = false;
            s_.lexed.line_starts.clear();
            Lexer<C>(t, rules).run(s_.lexed);
            if (size <= kRememberedBytes) {
                s_.source.assign(bytes, bytes + size);
                s_.width = sizeof(C);
                s_.rules = rules;
                s_.remembered = true;
            } else {
                std::vector<unsigned char>().swap(s_.source);
            }
        }
        if (lines && !s_.lines) {
            detail::index_lines(t, s_.lexed.line_starts);
            s_.lines = true;
        }
    }
    ~LexedLease() {
        Lexed& l = s_.lexed;
        if (l.tokens.size() > kKeptTokens || l.tokens.capacity() > 4 * kKeptTokens) {
            std::vector<Token>().swap(l.tokens);
            s_.remembered = false;
        }
        if (l.line_starts.capacity() > kKeptTokens) {
            shrink_past(l.line_starts, kKeptTokens);
            s_.lines = false;
        }
    }
    LexedLease(const LexedLease&) = delete;
    LexedLease& operator=(const LexedLease&) = delete;

    const Lexed& get() const noexcept { return s_.lexed; }

    // What the buffers hold: the same number, with remembered() true, for
    // as long as they hold the tokens of the same text and dialect, so that
    // a result computed from them can be kept beside them.  No two texts
    // lexed in the process, on any thread, share a number.
    std::uint64_t generation() const noexcept { return s_.generation; }
    bool remembered() const noexcept { return s_.remembered; }

    // The generation of the calling thread's buffers when they hold the
    // tokens of `t` read as `rules`, else 0; lexes nothing.
    template <text::CodeUnit C>
    static std::uint64_t holding(text::Text<C> t, const DialectRules& rules) {
        const Scratch& s = thread_scratch<Scratch>();
        return holds(s, t, rules) ? s.generation : 0;
    }

   private:
    static std::uint64_t new_generation() noexcept {
        static std::atomic<std::uint64_t> last{0};
        return last.fetch_add(1, std::memory_order_relaxed) + 1;
    }

    struct Scratch {
        Lexed lexed;
        std::vector<unsigned char> source;  // the text the tokens are of, when remembered
        std::size_t width = 0;              // its code unit's size
        DialectRules rules{};
        bool remembered = false;
        bool lines = false;  // lexed.line_starts indexed for that text
        std::uint64_t generation = 0;  // of the text lexed last
    };

    template <text::CodeUnit C>
    static bool holds(const Scratch& s, text::Text<C> t, const DialectRules& rules) noexcept {
        const std::size_t size = t.size() * sizeof(C);
        return s.remembered && s.width == sizeof(C) && s.rules == rules && s.source.size() == size &&
               (size == 0 || std::memcmp(s.source.data(), t.data(), size) == 0);
    }

    Scratch& s_;
};

}  // namespace quorvane::inventory
