// Regular expressions with the host's semantics, on PCRE2.
//
// A pattern is written in the host's syntax (the subset the fixed tables
// use); regex_syntax.hpp parses it once and emits PCRE2 syntax per code-unit
// width.  Case-insensitive matching is PCRE2's Unicode simple case folding:
// U+017F matches s and U+212A matches k, while U+0130 and U+0131 match
// neither i nor I.
//
// Each pattern is compiled for all three code-unit widths without UTF mode,
// so a text is matched in its own storage and every code unit is one
// character: lone surrogates are ordinary characters.  Compiled patterns are
// shared; the only change to one after load is its machine code, made once,
// on its first search in that width, while other threads wait.  All match
// state lives in the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "shared/regex_syntax.hpp"
#include "shared/text.hpp"

namespace quorvane::rx {

// A match could not be decided (a match or depth limit, an exhausted JIT
// stack, no memory).  Never reported as "no match".
class EngineError : public std::runtime_error {
   public:
    EngineError(int code, std::string_view pattern);
    int code() const noexcept { return code_; }

   private:
    int code_;
};

// The engine ran out of memory while matching.
class EngineOutOfMemory : public EngineError {
   public:
    using EngineError::EngineError;
};

struct Span {
    std::size_t start;
    std::size_t end;
};

// A callout check for patterns holding Callout nodes: called with the
// callout's number and the current position in the subject; true lets the
// match go on, false makes it backtrack.  It must not throw; it may search
// again (with this or another pattern), on the same thread.
struct CalloutCheck {
    bool (*check)(void* data, int number, std::size_t position);
    void* data;
};

class Regex {
   public:
    // Bounded: search_starting_by() is available.  (It costs the engine some
    // of its start-of-match optimisations, so plain searches are faster
    // without it.)
    enum class Starts { Free, Bounded };

    Regex(std::string_view pattern, unsigned flags, Starts starts = Starts::Free);
    // From a parsed pattern, which may hold Callout nodes (their matches then
    // need search_with()).
    Regex(const syntax::Parsed& pattern, unsigned flags, Starts starts = Starts::Free);
    ~Regex();
    Regex(Regex&&) noexcept;
    Regex& operator=(Regex&&) noexcept;
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    std::string_view pattern() const noexcept { return pattern_; }

    // Whether every match depends on a non-ASCII character only through its
    // class (see text::narrow): true unless the pattern uses \d or \D, or
    // matches s, S, k or K case-sensitively.  Such a pattern gives the same
    // matches on a text and on its narrowed form.
    bool narrowable() const noexcept { return narrowable_; }

    // Leftmost match starting at or after `from`.  Look-behind assertions
    // see the text before `from`.
    template <text::CodeUnit C>
    std::optional<Span> search(text::Text<C> subject, std::size_t from = 0) const;

    // Leftmost match starting in [from, last_start]; the text beyond stays
    // visible to the pattern (look-arounds, \b, the match's own extent).
    // Needs Starts::Bounded.
    static constexpr std::size_t kNoLimit = static_cast<std::size_t>(-1);
    template <text::CodeUnit C>
    std::optional<Span> search_starting_by(text::Text<C> subject, std::size_t from, std::size_t last_start) const;

    // search() for a pattern with callouts, each decided by `callouts`; with
    // a `last_start` (Starts::Bounded only), as search_starting_by().
    template <text::CodeUnit C>
    std::optional<Span> search_with(text::Text<C> subject, std::size_t from, const CalloutCheck& callouts,
                                    std::size_t last_start = kNoLimit) const;

    // Match starting exactly at `at` (anchored), or nothing.
    template <text::CodeUnit C>
    std::optional<Span> match(text::Text<C> subject, std::size_t at = 0) const;

    // Number of non-overlapping matches, left to right, each search resuming
    // where the previous match ended (after an empty match, a match at the
    // same position must not be empty), as the host counts them.
    template <text::CodeUnit C>
    std::size_t count(text::Text<C> subject) const;

    // Test hook: run matches with this match limit (0: the library default),
    // to show that an exhausted limit raises instead of reading as no match.
    void set_match_limit_for_testing(std::uint32_t limit);

    struct Compiled;

   private:
    void build(const syntax::Parsed& pattern);

    std::string pattern_;
    unsigned flags_;
    bool narrowable_;
    bool bounded_starts_;
    std::unique_ptr<Compiled> compiled_;
};

}  // namespace quorvane::rx
