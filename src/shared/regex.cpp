#include "shared/regex.hpp"
#include "shared/thread_scratch.hpp"

#define PCRE2_CODE_UNIT_WIDTH 0
#include <pcre2.h>

#include <array>
#include <mutex>
#include <new>
#include <cstdio>
#include <utility>
#include <vector>

namespace quorvane::rx {
namespace {

// ---------------------------------------------------------------------------
// PCRE2 per code-unit width.

template <text::CodeUnit C>
struct Pcre;

#define QUORVANE_PCRE2_TRAITS(BITS, UNIT)                                                      \
    template <>                                                                                \
    struct Pcre<UNIT> {                                                                        \
        using Code = pcre2_code_##BITS;                                                        \
        using MatchData = pcre2_match_data_##BITS;                                             \
        using MatchContext = pcre2_match_context_##BITS;                                       \
        using CompileContext = pcre2_compile_context_##BITS;                                   \
        using Sptr = PCRE2_SPTR##BITS;                                                         \
        static Code* compile(const std::string& p, std::uint32_t opts, int* err,               \
                             PCRE2_SIZE* off, CompileContext* cc) {                            \
            std::vector<UNIT> units(p.begin(), p.end());                                       \
            return pcre2_compile_##BITS(reinterpret_cast<Sptr>(units.data()), units.size(),    \
                                        opts, err, off, cc);                                   \
        }                                                                                      \
        static CompileContext* compile_context() {                                             \
            return pcre2_compile_context_create_##BITS(nullptr);                              \
        }                                                                                      \
        static void set_newline(CompileContext* cc) {                                          \
            pcre2_set_newline_##BITS(cc, PCRE2_NEWLINE_LF);                                    \
        }                                                                                      \
        static void free_compile_context(CompileContext* cc) {                                 \
            pcre2_compile_context_free_##BITS(cc);                                             \
        }                                                                                      \
        static int jit(Code* c) { return pcre2_jit_compile_##BITS(c, PCRE2_JIT_COMPLETE); }    \
        static void free_code(Code* c) { pcre2_code_free_##BITS(c); }                          \
        static MatchData* match_data() { return pcre2_match_data_create_##BITS(1, nullptr); }  \
        static void free_match_data(MatchData* m) { pcre2_match_data_free_##BITS(m); }         \
        static PCRE2_SIZE* ovector(MatchData* m) { return pcre2_get_ovector_pointer_##BITS(m); } \
        static MatchContext* match_context() {                                                 \
            return pcre2_match_context_create_##BITS(nullptr);                                 \
        }                                                                                      \
        static void set_match_limit(MatchContext* m, std::uint32_t limit) {                    \
            pcre2_set_match_limit_##BITS(m, limit);                                            \
        }                                                                                      \
        static void set_offset_limit(MatchContext* m, PCRE2_SIZE limit) {                      \
            pcre2_set_offset_limit_##BITS(m, limit);                                           \
        }                                                                                      \
        static void free_match_context(MatchContext* m) { pcre2_match_context_free_##BITS(m); } \
        using CalloutBlock = pcre2_callout_block_##BITS;                                       \
        static void set_callout(MatchContext* m, int (*f)(CalloutBlock*, void*), void* data) {  \
            pcre2_set_callout_##BITS(m, f, data);                                              \
        }                                                                                      \
        static int run(const Code* c, bool jitted, const UNIT* s, std::size_t n,               \
                       std::size_t from, std::uint32_t opts, MatchData* md,                    \
                       MatchContext* mc) {                                                     \
            auto subject = reinterpret_cast<Sptr>(s);                                          \
            return jitted ? pcre2_jit_match_##BITS(c, subject, n, from, opts, md, mc)          \
                          : pcre2_match_##BITS(c, subject, n, from, opts, md, mc);             \
        }                                                                                      \
    };

QUORVANE_PCRE2_TRAITS(8, std::uint8_t)
QUORVANE_PCRE2_TRAITS(16, std::uint16_t)
QUORVANE_PCRE2_TRAITS(32, std::uint32_t)
#undef QUORVANE_PCRE2_TRAITS

std::string error_text(int code) {
    PCRE2_UCHAR8 buf[256];
    if (pcre2_get_error_message_8(code, buf, sizeof buf) < 0) return "error " + std::to_string(code);
    return reinterpret_cast<const char*>(buf);
}

// The match state of one thread, per code-unit width: compiled patterns
// stay shared, and concurrent matches never share state.  Made on first use
// (see thread_scratch.hpp); a failed allocation is std::bad_alloc.
template <text::CodeUnit C>
struct WidthMatchState {
    typename Pcre<C>::MatchData* data = nullptr;
    typename Pcre<C>::MatchContext* offset = nullptr;   // searches whose matches must start before an offset
    typename Pcre<C>::MatchContext* callout = nullptr;  // searches with callouts

    WidthMatchState() = default;
    WidthMatchState(const WidthMatchState&) = delete;
    WidthMatchState& operator=(const WidthMatchState&) = delete;
    ~WidthMatchState() {
        if (data) Pcre<C>::free_match_data(data);
        if (offset) Pcre<C>::free_match_context(offset);
        if (callout) Pcre<C>::free_match_context(callout);
    }

    typename Pcre<C>::MatchData* match_data() {
        if (!data && !(data = Pcre<C>::match_data())) throw std::bad_alloc();
        return data;
    }
    static typename Pcre<C>::MatchContext* context(typename Pcre<C>::MatchContext*& slot) {
        if (!slot && !(slot = Pcre<C>::match_context())) throw std::bad_alloc();
        return slot;
    }
};

struct ThreadMatchState {
    // Searches of this thread in progress: a callout may search again, and
    // that search must not use the match data and context of the one it is
    // inside.
    unsigned searches = 0;
    WidthMatchState<std::uint8_t> w8;
    WidthMatchState<std::uint16_t> w16;
    WidthMatchState<std::uint32_t> w32;

    template <text::CodeUnit C>
    WidthMatchState<C>& width() {
        if constexpr (sizeof(C) == 1) {
            return w8;
        } else if constexpr (sizeof(C) == 2) {
            return w16;
        } else {
            return w32;
        }
    }
};

template <text::CodeUnit C>
struct Unit {
    typename Pcre<C>::Code* code = nullptr;
    typename Pcre<C>::MatchContext* limits = nullptr;  // tests only

    // The machine code is made on the first search, not at load: most
    // patterns of a table are only ever searched in one of the three widths,
    // and many never (the marker scanner skips rows whose literals are
    // missing).  Every match goes through jit_ready(), so the code object is
    // never read while it is being compiled.
    bool jit_ready() const {
        std::call_once(jit_once_, [this] { jitted_ = Pcre<C>::jit(code) == 0; });
        return jitted_;
    }

    Unit() = default;
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;
    ~Unit() {
        if (code) Pcre<C>::free_code(code);
        if (limits) Pcre<C>::free_match_context(limits);
    }

    void build(const syntax::Parsed& pattern, unsigned flags, int width, bool bounded_starts) {
        const std::string translated = syntax::emit(pattern.tree, flags, width);
        auto* cc = Pcre<C>::compile_context();
        if (!cc) throw std::bad_alloc();
        Pcre<C>::set_newline(cc);
        int err = 0;
        PCRE2_SIZE off = 0;
        std::uint32_t opts = PCRE2_UCP | PCRE2_ALT_CIRCUMFLEX;
        if (bounded_starts) opts |= PCRE2_USE_OFFSET_LIMIT;
        if (flags & kIgnoreCase) opts |= PCRE2_CASELESS;
        // A callout decides a match from the position it is reached at, so
        // no repeat before it may be made possessive behind its back.
        if (syntax::has_callouts(pattern.tree)) opts |= PCRE2_NO_AUTO_POSSESS;
        code = Pcre<C>::compile(translated, opts, &err, &off, cc);
        Pcre<C>::free_compile_context(cc);
        if (!code) {
            if (err == PCRE2_ERROR_HEAP_FAILED) throw std::bad_alloc();
            throw PatternError("PCRE2 rejects '" + translated + "' (from '" + pattern.source +
                               "'): " + error_text(err) + " at offset " + std::to_string(off));
        }
    }

   private:
    mutable std::once_flag jit_once_;
    mutable bool jitted_ = false;
};

}  // namespace

// ---------------------------------------------------------------------------

EngineError::EngineError(int code, std::string_view pattern)
    : std::runtime_error("regular-expression engine failed on pattern '" + std::string(pattern) +
                         "': " + error_text(code)),
      code_(code) {}


struct Regex::Compiled {
    Unit<std::uint8_t> u8;
    Unit<std::uint16_t> u16;
    Unit<std::uint32_t> u32;

    template <text::CodeUnit C>
    const Unit<C>& unit() const {
        if constexpr (sizeof(C) == 1) return u8;
        else if constexpr (sizeof(C) == 2) return u16;
        else return u32;
    }
};

Regex::Regex(std::string_view pattern, unsigned flags, Starts starts)
    : Regex(syntax::parse(pattern), flags, starts) {}

Regex::Regex(const syntax::Parsed& pattern, unsigned flags, Starts starts)
    : pattern_(pattern.source),
      flags_(flags),
      narrowable_(syntax::narrowable(pattern.tree, flags & kIgnoreCase)),
      bounded_starts_(starts == Starts::Bounded),
      compiled_(std::make_unique<Compiled>()) {
    compiled_->u8.build(pattern, flags, 8, bounded_starts_);
    compiled_->u16.build(pattern, flags, 16, bounded_starts_);
    compiled_->u32.build(pattern, flags, 32, bounded_starts_);
}

Regex::~Regex() = default;
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;

namespace {

template <text::CodeUnit C>
int run_callout(typename Pcre<C>::CalloutBlock* block, void* data) {
    const auto* callouts = static_cast<const CalloutCheck*>(data);
    return callouts->check(callouts->data, static_cast<int>(block->callout_number), block->current_position) ? 0 : 1;
}

template <text::CodeUnit C>
struct OwnMatchState {
    typename Pcre<C>::MatchData* data = nullptr;
    typename Pcre<C>::MatchContext* context = nullptr;
    OwnMatchState() = default;
    OwnMatchState(const OwnMatchState&) = delete;
    OwnMatchState& operator=(const OwnMatchState&) = delete;
    ~OwnMatchState() {
        if (data) Pcre<C>::free_match_data(data);
        if (context) Pcre<C>::free_match_context(context);
    }
};

template <text::CodeUnit C>
std::optional<Span> run_once(const Regex& re, const Unit<C>& unit, text::Text<C> subject,
                             std::size_t from, std::uint32_t options,
                             std::size_t start_limit = Regex::kNoLimit,
                             const CalloutCheck* callouts = nullptr) {
    static const C empty[1] = {0};
    const C* data = subject.empty() ? empty : subject.data();
    ThreadMatchState& state = thread_scratch<ThreadMatchState>();
    struct Counted {
        unsigned& searches;
        explicit Counted(unsigned& s) : searches(++s) {}
        ~Counted() { --searches; }
    } counted(state.searches);
    OwnMatchState<C> own;
    const bool inner = state.searches > 1;
    if (inner) {
        own.data = Pcre<C>::match_data();
        if (!own.data) throw std::bad_alloc();
        if (callouts || start_limit != Regex::kNoLimit) {
            own.context = Pcre<C>::match_context();
            if (!own.context) throw std::bad_alloc();
        }
    }
    WidthMatchState<C>& mine = state.width<C>();
    auto* md = inner ? own.data : mine.match_data();
    typename Pcre<C>::MatchContext* context = unit.limits;
    if (callouts) {
        context = inner ? own.context : mine.context(mine.callout);
        Pcre<C>::set_callout(context, &run_callout<C>, const_cast<CalloutCheck*>(callouts));
        Pcre<C>::set_offset_limit(context, start_limit == Regex::kNoLimit ? PCRE2_UNSET : start_limit);
    } else if (start_limit != Regex::kNoLimit) {
        context = inner ? own.context : mine.context(mine.offset);
        Pcre<C>::set_offset_limit(context, start_limit);
    }
    const bool jitted = unit.jit_ready();  // (the JIT takes no PCRE2_ANCHORED at match time)
    const int rc = Pcre<C>::run(unit.code, jitted && !(options & PCRE2_ANCHORED), data,
                                subject.size(), from, options, md, context);
    if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
    if (rc == PCRE2_ERROR_NOMEMORY) throw EngineOutOfMemory(rc, re.pattern());
    if (rc < 0) throw EngineError(rc, re.pattern());
    const PCRE2_SIZE* ov = Pcre<C>::ovector(md);
    return Span{ov[0], ov[1]};
}

}  // namespace

template <text::CodeUnit C>
std::optional<Span> Regex::search(text::Text<C> subject, std::size_t from) const {
    if (from > subject.size()) return std::nullopt;
    return run_once(*this, compiled_->unit<C>(), subject, from, 0);
}

template <text::CodeUnit C>
std::optional<Span> Regex::search_starting_by(text::Text<C> subject, std::size_t from, std::size_t last_start) const {
    if (!bounded_starts_) throw std::logic_error("pattern not compiled for bounded starts");
    if (from > subject.size() || from > last_start) return std::nullopt;
    return run_once(*this, compiled_->unit<C>(), subject, from, 0, last_start);
}

template <text::CodeUnit C>
std::optional<Span> Regex::search_with(text::Text<C> subject, std::size_t from, const CalloutCheck& callouts,
                                       std::size_t last_start) const {
    if (last_start != kNoLimit && !bounded_starts_) throw std::logic_error("pattern not compiled for bounded starts");
    if (from > subject.size() || from > last_start) return std::nullopt;
    return run_once(*this, compiled_->unit<C>(), subject, from, 0, last_start, &callouts);
}

template <text::CodeUnit C>
std::optional<Span> Regex::match(text::Text<C> subject, std::size_t at) const {
    if (at > subject.size()) return std::nullopt;
    // PCRE2's JIT does not take PCRE2_ANCHORED at match time; run_once then
    // uses the interpreter, which is fine for the short anchored subjects
    // this serves.
    return run_once(*this, compiled_->unit<C>(), subject, at, PCRE2_ANCHORED);
}

template <text::CodeUnit C>
std::size_t Regex::count(text::Text<C> subject) const {
    const Unit<C>& unit = compiled_->unit<C>();
    std::size_t n = 0;
    std::size_t pos = 0;
    std::uint32_t options = 0;
    while (pos <= subject.size()) {
        const auto m = run_once(*this, unit, subject, pos, options);
        if (!m) break;
        ++n;
        options = (m->end == m->start) ? PCRE2_NOTEMPTY_ATSTART : 0;
        pos = m->end;
    }
    return n;
}

void Regex::set_match_limit_for_testing(std::uint32_t limit) {
    auto apply = [limit](auto& unit, auto create, auto set, auto destroy) {
        if (unit.limits) destroy(unit.limits);
        unit.limits = nullptr;
        if (limit) {
            unit.limits = create();
            set(unit.limits, limit);
        }
    };
    apply(compiled_->u8, Pcre<std::uint8_t>::match_context, Pcre<std::uint8_t>::set_match_limit,
          Pcre<std::uint8_t>::free_match_context);
    apply(compiled_->u16, Pcre<std::uint16_t>::match_context, Pcre<std::uint16_t>::set_match_limit,
          Pcre<std::uint16_t>::free_match_context);
    apply(compiled_->u32, Pcre<std::uint32_t>::match_context, Pcre<std::uint32_t>::set_match_limit,
          Pcre<std::uint32_t>::free_match_context);
}

#define QUORVANE_INSTANTIATE(UNIT)                                                              \
    template std::optional<Span> Regex::search(text::Text<UNIT>, std::size_t) const;          \
    template std::optional<Span> Regex::search_starting_by(text::Text<UNIT>, std::size_t, std::size_t) const; \
    template std::optional<Span> Regex::match(text::Text<UNIT>, std::size_t) const;           \
    template std::optional<Span> Regex::search_with(text::Text<UNIT>, std::size_t, const CalloutCheck&, std::size_t) const; \
    template std::size_t Regex::count(text::Text<UNIT>) const;
QUORVANE_INSTANTIATE(std::uint8_t)
QUORVANE_INSTANTIATE(std::uint16_t)
QUORVANE_INSTANTIATE(std::uint32_t)
#undef QUORVANE_INSTANTIATE

}  // namespace quorvane::rx
