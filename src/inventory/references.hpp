// The reference rules: what a run of tokens reads, writes and calls.
//
// One pass over the tokens with a stack of parenthesis frames.  A frame
// opened right after a name is a call's argument list (FROM there is
// EXTRACT(YEAR FROM d), not a table); any other is a query or a group.
// Every step consumes at least one token and looks ahead a bounded number,
// so the pass is linear.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "inventory/inventory.hpp"
#include "inventory/keywords.hpp"
#include "inventory/lexer.hpp"
#include "inventory/names.hpp"
#include "shared/thread_scratch.hpp"

namespace quorvane::inventory {

template <text::CodeUnit C>
class ReferenceScanner {
   public:
    // `declaring` false says no token of `k` is DECLARE, FOR or LET (see
    // Lexed::has_declaring), which spares looking for declarations a unit
    // cannot hold.
    ReferenceScanner(text::Text<C> t, const std::vector<Token>& k, const DialectRules& rules = kAnyDialect,
                     bool declaring = true)
        : t_(t), k_(k), rules_(rules), declaring_(declaring), b_(take_buffers(own_)) {}
    ~ReferenceScanner() {
        if (own_) return;
        clear();
        shrink_past(b_.undeclared, kKeptEntries);
        shrink_past(b_.executed_literals, kKeptEntries);
        shrink_past(b_.key, kKeptEntries);
        shrink_past(b_.assigned_literals, kKeptEntries);
        shrink_past(b_.ctes, kKeptEntries);
        shrink_past(b_.frames, kKeptEntries);
        shrink_past(b_.events, kKeptEntries);
        shrink_past(b_.pending, kKeptEntries);
        if (b_.cte_count.bucket_count() > kKeptEntries) b_.cte_count = {};
        b_.leased = false;
    }
    ReferenceScanner(const ReferenceScanner&) = delete;
    ReferenceScanner& operator=(const ReferenceScanner&) = delete;

    // The references of tokens [begin, end) less the `holes` (ascending,
    // inside the range): objects defined inside a batch are units of their
    // own.  A scanner may scan one unit after another: each scan starts
    // afresh, keeping only the buffers.
    References scan(std::size_t begin, std::size_t end, const std::vector<TokenRange>& holes) {
        clear();
        begin_ = begin;
        frames_.assign(1, Frame{});
        events_.reserve(16);  // grown once, not at every doubling, for the usual unit
        if (!rules_.routines_run_to_batch_end) declarations(begin, end);
        std::size_t from = begin;
        for (const TokenRange& h : holes) {
            segment(from, h.begin);
            from = h.end;
        }
        segment(from, end);
        return collect();
    }

   private:
    enum List : std::uint8_t { kReads, kWrites, kCalls, kTemp };

    void clear() {
        declared_.clear();
        undeclared_.clear();
        declared_bits_ = 0;
        executed_literals_.clear();
        executed_variables_.clear();
        assigned_literals_.clear();
        i_ = begin_ = end_ = 0;
        events_.clear();
        pending_.clear();
        cte_count_.clear();
        ctes_.clear();
        using_depth_ = 0;
        dynamic_ = false;
    }

    struct Frame {
        bool call = false;        // a call's argument list
        bool from_list = false;   // a FROM list may go on with ","
        bool alias_after = false; // a derived table or table function: an alias may follow ")"
        bool list_after = false;  // ... and then the FROM list may go on
        bool cte_body = false;    // the body of a common table expression
        std::size_t first_event = 0;  // events recorded before the frame opened
    };

    struct Event {
        List list;
        Name name;
        bool alive;
    };

    struct Pending {  // an UPDATE or DELETE target that may be an alias
        std::size_t event;
        Name key;
        std::size_t depth;  // frames open at the target
    };

    // The buffers a scanner grows, kept by the calling thread from scanner
    // to scanner (one per call of split_objects or references): on a small
    // script, allocating and freeing them costs more than the scan.  A
    // buffer that grew past kKeptEntries entries is given back.
    struct Buffers {
        KeySet declared, executed_variables;
        std::vector<std::size_t> undeclared, executed_literals;
        Name key;
        std::vector<std::pair<Name, std::size_t>> assigned_literals, ctes;
        std::vector<Frame> frames;
        std::vector<Event> events;
        std::vector<Pending> pending;
        std::unordered_map<Name, int> cte_count;
        bool leased = false;  // a scanner of the thread uses them
    };
    static constexpr std::size_t kKeptEntries = 4096;

    // The thread's buffers, or (when a scanner of the thread holds them)
    // buffers of this scanner's own, made in `own`.
    static Buffers& take_buffers(std::unique_ptr<Buffers>& own) {
        Buffers& kept = thread_scratch<Buffers>();
        if (!kept.leased) {
            kept.leased = true;
            return kept;
        }
        own = std::make_unique<Buffers>();
        return *own;
    }

    // --- declared names (procedural dialects) ---

    // Declared names are words.  Each is noted by its token and a bit of
    // its length and first letter, and made a key only when a lookup passes
    // that bit: most declared names (a table's column list) are never looked
    // up, and most lookups (a table's own name) miss every bit.
    bool declared(std::size_t j, std::size_t e) {
        if (declared_bits_ == 0 || e != j + 1) return false;
        if (at(j).type == Tok::Word && (declared_bits_ & word_bit(j)) == 0) return false;
        for (const std::size_t d : undeclared_) {
            name_key_into(t_, k_, d, d + 1, key_);
            declared_.insert(key_);
        }
        undeclared_.clear();
        name_key_into(t_, k_, j, e, key_);
        return declared_.contains(key_);
    }

    void declare(std::size_t j) {
        undeclared_.push_back(j);
        declared_bits_ |= word_bit(j);
    }

    // The bit of a word's key (its text, ASCII letters lower-cased): equal
    // keys have equal bits.
    std::uint64_t word_bit(std::size_t j) const noexcept {
        std::uint32_t first = static_cast<std::uint32_t>(t_[at(j).begin]);
        if (first >= 'A' && first <= 'Z') first |= 0x20;
        return std::uint64_t{1} << ((7 * (at(j).end - at(j).begin) + first) & 63);
    }

    // The names a unit declares: its routine's parameters, the names its
    // declaration sections (after DECLARE, or after the routine's IS / AS,
    // up to BEGIN) introduce, DECLARE a, b lists, FOR r IN loop records and
    // LET variables.
    void declarations(std::size_t begin, std::size_t end) {
        end_ = end;
        bool section = false, expect = false;
        std::size_t depth = 0, from = begin;
        if (begin < end && (word(begin, Kw::Create) || word(begin, Kw::Alter))) {
            if (const auto head = parse_head(k_, begin, end); head && head->name_end > head->name_begin) {
                from = parameters(head->next);
                if (from < end && (word(from, Kw::Is) || word(from, Kw::As)) && from + 1 < end) {
                    const Token& n = at(from + 1);
                    section = expect = n.type == Tok::Word && !n.reserved && !is_word_text(from + 1, "language");
                    ++from;
                }
            }
        }
        // Without a declaration section, a DECLARE, FOR or LET, or a
        // declared name that a list could go on from, nothing below declares.
        if (!section && !declaring_ && declared_bits_ == 0) return;
        for (std::size_t j = from; j < end; ++j) {
            const Token& tk = at(j);
            if (tk.type == Tok::Punct) {
                if (tk.ch == U'(') ++depth;
                if (tk.ch == U')' && depth > 0) --depth;
                if (depth == 0 && tk.ch == U';') expect = section;
                if (depth == 0 && tk.ch == U',' && j > from && at(j - 1).type == Tok::Word && declared(j - 1, j)) {
                    expect = true;
                }
                continue;
            }
            if (tk.type == Tok::DollarOpen || tk.type == Tok::DollarClose || tk.type == Tok::Separator) {
                section = expect = false;
                depth = 0;
                continue;
            }
            if (tk.type != Tok::Word || depth > 0) continue;
            if (tk.kw == Kw::Begin) {
                section = expect = false;
            } else if (tk.kw == Kw::Declare) {
                section = expect = true;
            } else if (expect) {
                if (is_word_text(j, "cursor") || is_word_text(j, "type") || is_word_text(j, "subtype")) continue;
                expect = false;
                if (tk.reserved || tk.kw == Kw::Procedure || tk.kw == Kw::Function) {
                    section = false;
                } else {
                    declare(j);
                }
            } else if ((tk.kw == Kw::For && j + 2 < end && is_word_text(j + 2, "in")) || is_word_text(j, "let")) {
                if (j + 1 < end && at(j + 1).type == Tok::Word && !at(j + 1).reserved) declare(j + 1);
            }
        }
    }

    // Past the parameter list that opens at j (names declared), or j.
    std::size_t parameters(std::size_t j) {
        if (!punct(j, U'(')) return j;
        std::size_t depth = 0;
        bool expect = true;
        for (std::size_t p = j; p < end_; ++p) {
            if (punct(p, U'(')) {
                ++depth;
            } else if (punct(p, U')')) {
                if (--depth == 0) return p + 1;
            } else if (depth == 1 && punct(p, U',')) {
                expect = true;
            } else if (depth == 1 && expect && is_name_part(at(p))) {
                if (is_word_text(p, "in") || is_word_text(p, "out") || is_word_text(p, "inout") ||
                    is_word_text(p, "variadic")) {
                    continue;
                }
                expect = false;
                if (at(p).type == Tok::Word && first_char(p) != '@') declare(p);
            } else if (at(p).type == Tok::Separator) {
                break;
            }
        }
        return j;
    }

    void segment(std::size_t from, std::size_t to) {
        i_ = from;
        end_ = to;
        while (i_ < end_) step();
        end_statement();
    }

    // --- token tests ---

    const Token& at(std::size_t j) const noexcept { return k_[j]; }
    bool word(std::size_t j, Kw kw) const noexcept { return j < end_ && k_[j].type == Tok::Word && k_[j].kw == kw; }
    bool punct(std::size_t j, char32_t c) const noexcept { return j < end_ && is_punct(k_[j], c); }
    C first_char(std::size_t j) const noexcept { return t_[k_[j].begin]; }
    // A variable: @x or :x, but not a template placeholder @x@.
    bool variable(std::size_t j) const noexcept {
        if (k_[j].type != Tok::Word) return false;
        if (first_char(j) == ':') return true;
        return first_char(j) == '@' && !(k_[j].end - k_[j].begin > 2 && t_[k_[j].end - 1] == '@');
    }
    bool reserved_word(std::size_t j) const noexcept { return k_[j].type == Tok::Word && k_[j].reserved; }
    Kw prev_kw() const noexcept { return i_ > begin_ && k_[i_ - 1].type == Tok::Word ? k_[i_ - 1].kw : Kw::None; }

    // --- events ---

    void add(List list, Name name) { events_.push_back({list, std::move(name), true}); }

    bool is_cte(const Name& key) const { return !ctes_.empty() && cte_count_.count(key) != 0; }

    // Records the table named by tokens [j, e) in `list`; temporary tables
    // go to their own list and CTE names nowhere.  Returns the event index,
    // or -1 when nothing was recorded.
    long add_table(List list, std::size_t j, std::size_t e) {
        const Token& last = k_[e - 1];  // a temporary table: #t or [#t]
        if (t_[last.type == Tok::Quoted && last.end - last.begin > 2 ? last.begin + 1 : last.begin] == '#') {
            add(kTemp, name_text(t_, k_, e - 1, e));
            return -1;
        }
        if (declared(j, e)) return -1;  // a variable of the routine
        Name name = name_text(t_, k_, j, e);
        if (e == j + 1 && !ctes_.empty() && is_cte(name_key(name))) return -1;
        add(list, std::move(name));
        return static_cast<long>(events_.size() - 1);
    }

    // --- steps ---

    void step() {
        Frame& top = frames_.back();
        const bool list_here = top.from_list;
        top.from_list = false;
        const Token& tk = at(i_);
        switch (tk.type) {
            case Tok::Separator:
                end_statement();
                ++i_;
                return;
            case Tok::DollarOpen:
                i_ = foreign_body_end(i_);
                return;
            case Tok::Punct:
                if (tk.ch == U'(') {
                    const bool call = i_ > begin_ && (k_[i_ - 1].type == Tok::Quoted ||
                                                      (k_[i_ - 1].type == Tok::Word && !k_[i_ - 1].reserved));
                    Frame f;
                    f.call = call;
                    frames_.push_back(f);
                    ++i_;
                } else if (tk.ch == U')') {
                    close_frame();
                } else if (tk.ch == U';') {
                    end_statement();
                    ++i_;
                } else if (tk.ch == U',' && list_here) {
                    ++i_;
                    read_table(kReads, true);
                } else {
                    ++i_;
                }
                return;
            case Tok::Word:
                if (tk.kw != Kw::None && keyword(tk.kw)) return;
                if (tk.kw == Kw::Reserved && is_word_text(i_, "perform")) {
                    perform();
                    return;
                }
                if (tk.kw == Kw::None) assignment(i_);
                expression_name();
                return;
            case Tok::Quoted:
                expression_name();
                return;
            default:
                ++i_;
                return;
        }
    }

    // Handles a keyword at i_; false when it is to be taken as a plain word.
    bool keyword(Kw kw) {
        switch (kw) {
            case Kw::Select: case Kw::Insert: case Kw::Update: case Kw::Delete: case Kw::Merge: case Kw::Exec:
            case Kw::Execute: case Kw::Create: case Kw::Alter: case Kw::Drop: case Kw::Truncate: case Kw::Begin:
            case Kw::If: case Kw::While: case Kw::Fetch: case Kw::Call:
                // A new statement at the level of a pending target ends it.
                std::erase_if(pending_, [&](const Pending& p) { return p.depth >= frames_.size(); });
                break;
            default:
                break;
        }
        switch (kw) {
            case Kw::From:
                ++i_;
                if (!frames_.back().call && !login_source()) read_table(kReads, true);
                return true;
            case Kw::Join:
            case Kw::Apply:
                ++i_;
                read_table(kReads, false);
                return true;
            case Kw::Using:
                ++i_;
                if (using_depth_ == frames_.size()) read_table(kReads, false);
                return true;
            case Kw::Into:
                into();
                return true;
            case Kw::Insert:
                insert();
                return true;
            case Kw::Update:
                update_or_delete(true);
                return true;
            case Kw::Delete:
                update_or_delete(false);
                return true;
            case Kw::Merge:
                ++i_;
                if (is_word_text(i_, "range")) return true;  // ALTER PARTITION FUNCTION ... MERGE RANGE (v)
                skip_top();
                if (word(i_, Kw::Into)) ++i_;
                read_target(kWrites, false);
                using_depth_ = frames_.size();
                return true;
            case Kw::Truncate:
                ++i_;
                if (word(i_, Kw::Table)) ++i_;
                read_target(kWrites, false);
                return true;
            case Kw::Bulk:
                ++i_;
                if (word(i_, Kw::Insert)) {
                    ++i_;
                    read_target(kWrites, false);
                }
                return true;
            case Kw::Create:
            case Kw::Alter:
            case Kw::Drop:
                definition(kw);
                return true;
            case Kw::Exec:
            case Kw::Execute:
                exec();
                return true;
            case Kw::Call:
                ++i_;
                if (i_ < end_ && is_name_part(at(i_)) && !reserved_word(i_) && !variable(i_)) {
                    const std::size_t e = name_end(k_, i_, end_);
                    add(kCalls, name_text(t_, k_, i_, e));
                    i_ = e;
                }
                return true;
            case Kw::With:
                ++i_;
                if (word(i_, Kw::Modifier)) {  // WITH RECURSIVE
                    if (cte_head(i_ + 1)) return true;
                }
                // WITH XMLNAMESPACES ('uri' AS ns), cte AS (...)
                if (is_word_text(i_, "xmlnamespaces") && punct(i_ + 1, U'(') && skip_group(i_ + 1, 4096)) {
                    if (punct(i_, U',')) cte_head(i_ + 1);
                    return true;
                }
                cte_head(i_);
                return true;
            case Kw::Fetch:
                fetch();
                return true;
            case Kw::References:
                ++i_;
                read_target(kReads, false);
                return true;
            default:
                return false;
        }
    }

    // FROM ASYMMETRIC KEY k, FROM CERTIFICATE c, FROM FILE = '...', FROM
    // EXECUTABLE FILE, FROM EXTERNAL PROVIDER: the source of a
    // login, user, key or assembly, no table.
    bool login_source() const {
        if (i_ + 1 >= end_) return false;
        return (is_word_text(i_, "asymmetric") && is_word_text(i_ + 1, "key")) ||
               (is_word_text(i_, "certificate") && at(i_ + 1).type == Tok::Word) ||
               (is_word_text(i_, "executable") && is_word_text(i_ + 1, "file")) ||
               (is_word_text(i_, "file") && punct(i_ + 1, U'=')) ||
               (is_word_text(i_, "external") && is_word_text(i_ + 1, "provider"));
    }

    // $PARTITION.f(c): the partition function of a column, no call.
    bool after_dollar(std::size_t j) const noexcept {
        return j > begin_ && is_punct(k_[j - 1], U'$') && k_[j - 1].end == k_[j].begin;
    }

    // A name in an expression: a schema-qualified name followed by "(" is a
    // call of a user function, unless it is a method of a column or variable.
    void expression_name() {
        const std::size_t e = name_end(k_, i_, end_);
        if (e > i_ + 1 && punct(e, U'(') && !variable(i_) && first_char(i_) != '#' && !after_dollar(i_)) {
            Name name = name_text(t_, k_, i_, e);
            if (!is_method(last_part_ascii(name))) add(kCalls, std::move(name));
        }
        i_ = e;
    }

    static bool is_method(const std::string& last) {
        for (std::string_view m : kMethodNames) {
            if (m == last) return true;
        }
        return false;
    }

    static bool is_builtin_table_function(const std::string& name) {
        for (std::string_view m : kBuiltinTableFunctions) {
            if (m == name) return true;
        }
        return false;
    }

    // TOP n | TOP (n), then PERCENT and WITH TIES.
    void skip_top() {
        if (word(i_, Kw::Top)) {
            ++i_;
            if (punct(i_, U'(')) {
                skip_group(i_, 64);
            } else if (i_ < end_) {
                ++i_;
            }
            if (is_word_text(i_, "percent")) ++i_;
            if (word(i_, Kw::With) && is_word_text(i_ + 1, "ties")) i_ += 2;
        }
    }

    // Skips the balanced group opening at j when it closes within `limit`
    // tokens; returns whether it did.
    bool skip_group(std::size_t j, std::size_t limit) {
        std::size_t depth = 0;
        for (std::size_t p = j; p < end_ && p < j + limit; ++p) {
            if (at(p).type == Tok::Separator || punct(p, U';')) return false;
            if (punct(p, U'(')) ++depth;
            if (punct(p, U')') && --depth == 0) {
                i_ = p + 1;
                return true;
            }
        }
        return false;
    }

    // A table source after FROM, JOIN, APPLY or USING.
    void read_table(List list, bool in_list) {
        while (word(i_, Kw::Only) || word(i_, Kw::Lateral)) ++i_;
        if (i_ >= end_) return;
        if (punct(i_, U'(')) {  // a derived table
            Frame f;
            f.alias_after = true;
            f.list_after = in_list;
            f.first_event = events_.size();
            frames_.push_back(f);
            ++i_;
            return;
        }
        if (!is_name_part(at(i_)) || reserved_word(i_)) return;
        const std::size_t e = name_end(k_, i_, end_);
        if (variable(i_)) {  // a table variable
            i_ = e;
            table_tail(in_list, -1);
            return;
        }
        if (punct(e, U'(') && !table_hint(e + 1)) {  // a table function
            Name name = name_text(t_, k_, i_, e);
            const bool builtin = (e == i_ + 1 && is_builtin_table_function(last_part_ascii(name))) ||
                                 (e > i_ + 1 && is_method(last_part_ascii(name)));  // APPLY t.x.nodes('/r')
            if (!builtin && first_char(i_) != '#') add(kCalls, std::move(name));
            Frame f;
            f.call = true;
            f.alias_after = true;
            f.list_after = in_list;
            frames_.push_back(f);
            i_ = e + 1;
            return;
        }
        const long ev = pseudo_table(i_, e) ? -1 : add_table(list, i_, e);
        i_ = e;
        table_tail(in_list, ev);
    }

    // Past the body that opens at j when a LANGUAGE clause near it names a
    // language other than SQL (JAVASCRIPT, PYTHON, ...): that text is not
    // SQL.  Otherwise just past the opener.
    // A body that follows punctuation (a value in a list, an assignment) is
    // a string literal: skipped as well.
    std::size_t foreign_body_end(std::size_t j) const {
        std::size_t close = j + 1;
        while (close < end_ && at(close).type != Tok::DollarClose) ++close;
        if (j > begin_ && at(j - 1).type == Tok::Punct && at(j - 1).ch != U';') return std::min(end_, close + 1);
        const std::size_t from = j - std::min<std::size_t>(j - begin_, kLanguageReach);
        const std::size_t to = std::min(end_, close + 1 + kLanguageReach);
        for (std::size_t p = from; p + 1 < to; ++p) {
            if (p == j) p = close + 1;
            if (p + 1 >= to) break;
            if (foreign_language(p)) return std::min(end_, close + 1);
        }
        return j + 1;
    }

    static constexpr std::size_t kLanguageReach = 32;

    [[gnu::always_inline]] bool is_word_text(std::size_t j, std::string_view lower) const {
        return j < end_ && at(j).type == Tok::Word && at(j).end - at(j).begin == lower.size() &&
               text::equals_folded_ascii(t_, at(j).begin, lower.data(), lower.size());
    }

    // LANGUAGE x at j, with x not a SQL dialect.
    bool foreign_language(std::size_t j) const {
        if (!is_word_text(j, "language") || at(j + 1).type != Tok::Word) return false;
        return !(is_word_text(j + 1, "sql") || is_word_text(j + 1, "plpgsql") || is_word_text(j + 1, "tsql"));
    }

    // A table hint word at j, as in FROM t (NOLOCK).
    bool table_hint(std::size_t j) const {
        if (j >= end_ || at(j).type != Tok::Word) return false;
        const std::size_t len = at(j).end - at(j).begin;
        for (std::string_view h : kTableHints) {
            if (h.size() == len && text::equals_folded_ascii(t_, at(j).begin, h.data(), len)) return true;
        }
        return false;
    }

    // The trigger tables "inserted" and "deleted".
    bool pseudo_table(std::size_t j, std::size_t e) const {
        if (e != j + 1 || at(j).type != Tok::Word) return false;
        const std::size_t len = at(j).end - at(j).begin;
        return (len == 8 && text::equals_folded_ascii(t_, at(j).begin, "inserted", 8)) ||
               (len == 7 && text::equals_folded_ascii(t_, at(j).begin, "deleted", 7));
    }

    // After a table source: its alias and hints; then the FROM list may go on.
    void table_tail(bool in_list, long event) {
        alias(event);
        if (word(i_, Kw::With) && punct(i_ + 1, U'(')) {
            skip_group(i_ + 1, 64);
        } else if (punct(i_, U'(')) {
            skip_group(i_, 64);  // (NOLOCK), or a list of column aliases
        }
        if (in_list) frames_.back().from_list = true;
    }

    // An optional alias at i_ for a source recorded as `event` (-1: none, as
    // for derived tables); resolves a pending UPDATE or DELETE target.
    void alias(long event) {
        std::size_t a = i_;
        if (word(a, Kw::As)) ++a;
        if (a >= end_ || !is_name_part(at(a)) || reserved_word(a) || variable(a)) return;
        if (at(a).type == Tok::Word && at(a).kw == Kw::With) return;
        if (a + 1 < end_ && punct(a + 1, U'.')) return;
        i_ = a + 1;
        if (pending_.empty()) return;
        const Name key = name_key(name_text(t_, k_, a, a + 1));
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (it->key != key) continue;
            Event& target = events_[it->event];
            if (event >= 0) {
                target.name = events_[static_cast<std::size_t>(event)].name;
            } else {
                target.alive = false;
            }
            pending_.erase(it);
            return;
        }
    }

    // The target of INSERT, UPDATE, DELETE, MERGE, TRUNCATE, SELECT INTO,
    // REFERENCES and the like.
    void read_target(List list, bool may_be_alias) {
        if (i_ >= end_ || !is_name_part(at(i_)) || reserved_word(i_)) return;
        const std::size_t e = name_end(k_, i_, end_);
        if (variable(i_)) {
            i_ = e;
            return;
        }
        const long ev = add_table(list, i_, e);
        if (ev >= 0 && may_be_alias && e == i_ + 1) {
            pending_.push_back({static_cast<std::size_t>(ev), name_key(events_.back().name), frames_.size()});
        }
        i_ = e;
    }

    void insert() {
        const Kw before = prev_kw();
        ++i_;
        if (before == Kw::Then || before == Kw::On || before == Kw::For || punct(i_, U'(') || punct(i_, U',')) return;
        skip_top();
        while (word(i_, Kw::Into) || word(i_, Kw::Overwrite) || word(i_, Kw::Table) || word(i_, Kw::Or) ||
               word(i_, Kw::Replace)) {
            ++i_;
        }
        read_target(kWrites, false);
    }

    void update_or_delete(bool update) {
        const Kw before = prev_kw();
        ++i_;
        if (before == Kw::Then || before == Kw::On || before == Kw::For || punct(i_, U'(') || punct(i_, U',')) return;
        if (update && (word(i_, Kw::Set) || word(i_, Kw::Statistics))) return;
        skip_top();
        if (!update) {
            if (word(i_, Kw::From)) ++i_;
            using_depth_ = frames_.size();
        }
        read_target(kWrites, true);
    }

    void into() {
        const Kw before = prev_kw();
        ++i_;
        if (before == Kw::Collect) {  // BULK COLLECT INTO variables
            skip_variables();
            return;
        }
        if (word(i_, Kw::Outfile) || word(i_, Kw::Dumpfile)) return;
        // PL/SQL and MySQL select into variables only.
        if (rules_.dialect == Dialect::Oracle || rules_.dialect == Dialect::MySql) {
            skip_variables();
            return;
        }
        if (!rules_.routines_run_to_batch_end && is_word_text(i_, "strict")) ++i_;
        read_target(kWrites, false);
    }

    void skip_variables() {
        while (i_ < end_ && (at(i_).type == Tok::Word && !at(i_).reserved)) {
            i_ = name_end(k_, i_, end_);
            if (!punct(i_, U',')) return;
            ++i_;
        }
    }

    // FETCH [NEXT | PRIOR | FIRST | LAST | ABSOLUTE n | RELATIVE n] [FROM]
    // cursor [INTO @a, ...]: no table.  In a query, FETCH FIRST n ROWS.
    void fetch() {
        ++i_;
        for (std::size_t j = i_; j < end_ && j < i_ + 4; ++j) {
            if (word(j, Kw::From)) {
                i_ = j + 1;
                if (i_ < end_ && at(i_).type == Tok::Word && !at(i_).reserved) ++i_;  // GLOBAL
                if (i_ < end_ && is_name_part(at(i_)) && !reserved_word(i_)) i_ = name_end(k_, i_, end_);
                break;
            }
            if (word(j, Kw::Into)) {
                i_ = j;
                break;
            }
        }
        if (word(i_, Kw::Into)) {
            ++i_;
            skip_variables();
        }
    }

    void exec() {
        ++i_;
        if (i_ >= end_) return;
        const Token& tk = at(i_);
        if (tk.type == Tok::Punct) {
            if (tk.ch == U'(') {  // EXEC (@sql), EXEC ('...' + @x)
                dynamic_ = true;
                executed_group(i_);
            }
            return;
        }
        if (tk.type == Tok::String) {
            dynamic_ = true;
            executed(i_);
            ++i_;
            return;
        }
        if (tk.type == Tok::Word) {
            if (tk.kw == Kw::As) return;  // EXECUTE AS
            if (tk.kw == Kw::Immediate) {
                dynamic_ = true;
                ++i_;
                if (i_ < end_) executed(i_);
                return;
            }
            if (tk.kw == Kw::Function || tk.kw == Kw::Procedure) ++i_;  // EXECUTE FUNCTION f()
        }
        if (i_ < end_ && variable(i_)) {
            if (!punct(i_ + 1, U'=')) {  // EXEC @proc_name
                dynamic_ = true;
                executed(i_);
                ++i_;
                return;
            }
            i_ += 2;  // EXEC @rc = name
            if (i_ < end_ && (variable(i_) || punct(i_, U'(') || at(i_).type == Tok::String)) {
                dynamic_ = true;
                return;
            }
        }
        if (i_ >= end_ || !is_name_part(at(i_)) || reserved_word(i_)) return;
        const std::size_t e = name_end(k_, i_, end_);
        // PL/pgSQL's EXECUTE runs a string; so does EXECUTE of a variable.
        const bool pg = rules_.dialect == Dialect::PostgreSql || rules_.dialect == Dialect::Redshift;
        if (declared(i_, e) || (pg && !word(i_ - 1, Kw::Function) && !word(i_ - 1, Kw::Procedure))) {
            dynamic_ = true;
            executed(i_);
            if (e == i_ + 1 && punct(e, U'(') && e + 1 < end_) executed(e + 1);  // EXECUTE format('...', ...)
            i_ = e;
            return;
        }
        Name name = name_text(t_, k_, i_, e);
        if (last_part_ascii(name) == "sp_executesql") {
            dynamic_ = true;
            if (e < end_) executed(e);
        } else if (e == i_ + 1 && punct(e, U'(')) {
            dynamic_ = true;  // EXECUTE format(...) builds the statement
            if (e + 1 < end_) executed(e + 1);
        } else if (first_char(i_) != '#') {
            add(kCalls, std::move(name));
        }
        i_ = e;
    }

    // --- executed literals ---

    // Token j is executed: a literal, or a variable whose assigned literals
    // are.
    void executed(std::size_t j) {
        if (at(j).type == Tok::String) {
            executed_literals_.push_back(j);
        } else if (at(j).type == Tok::Word && !at(j).reserved) {
            name_key_into(t_, k_, j, j + 1, key_);
            executed_variables_.insert(key_);
        }
    }

    // The literals and variables of the group opening at j, up to its ")".
    void executed_group(std::size_t j) {
        std::size_t depth = 0;
        for (std::size_t p = j; p < end_; ++p) {
            if (punct(p, U'(')) ++depth;
            if ((punct(p, U')') && --depth == 0) || punct(p, U';') || at(p).type == Tok::Separator) return;
            if (at(p).type == Tok::String || (at(p).type == Tok::Word && variable(p))) executed(p);
        }
    }

    // "v = ..." or "v := ...": the literals of the expression, in case v is
    // executed later.
    void assignment(std::size_t j) {
        std::size_t p = j + 1;
        if (punct(p, U':') && punct(p + 1, U'=') && at(p).end == at(p + 1).begin) ++p;
        if (!punct(p, U'=') || !(variable(j) || declared(j, j + 1))) return;
        const Name key = name_key(name_text(t_, k_, j, j + 1));
        for (std::size_t q = p + 1; q < end_ && q < p + 1 + kAssignmentReach; ++q) {
            const Token& tk = at(q);
            if (tk.type == Tok::Separator || is_punct(tk, U';') ||
                (tk.type == Tok::Word && tk.reserved && tk.kw != Kw::Reserved && tk.kw != Kw::Case &&
                 tk.kw != Kw::End && tk.kw != Kw::Then && tk.kw != Kw::Not && tk.kw != Kw::Is)) {
                return;
            }
            if (tk.type == Tok::String) assigned_literals_.emplace_back(key, q);
        }
    }

    static constexpr std::size_t kAssignmentReach = 256;

    // FROM, JOIN, INTO, UPDATE or EXEC followed by a plain name inside the
    // executed literals, in text order.
    std::vector<Name> dynamic_references() {
        std::vector<std::size_t> literals = executed_literals_;
        for (const auto& [key, j] : assigned_literals_) {
            if (executed_variables_.contains(key)) literals.push_back(j);
        }
        std::sort(literals.begin(), literals.end());
        literals.erase(std::unique(literals.begin(), literals.end()), literals.end());
        std::vector<Name> out;
        std::unordered_set<Name> seen;
        Lexed sub;
        for (const std::size_t j : literals) {
            std::size_t b = at(j).begin;
            while (b < at(j).end && t_[b] != at(j).ch) ++b;  // past a prefix (N'...')
            if (at(j).end - b < 2) continue;
            const text::Text<C> body = t_.subspan(b + 1, at(j).end - b - 2);
            Lexer<C>(body, rules_).run(sub);
            const std::vector<Token>& k = sub.tokens;
            for (std::size_t p = 0; p + 1 < k.size(); ++p) {
                const Kw kw = k[p].type == Tok::Word ? k[p].kw : Kw::None;
                if (kw != Kw::From && kw != Kw::Join && kw != Kw::Into && kw != Kw::Update && kw != Kw::Exec &&
                    kw != Kw::Execute) {
                    continue;
                }
                const Token& n = k[p + 1];
                if (!is_name_part(n) || (n.type == Tok::Word && (n.reserved || body[n.begin] == '@' ||
                                                                  body[n.begin] == ':' || body[n.begin] == '#'))) {
                    continue;
                }
                const std::size_t e = name_end(k, p + 1, k.size());
                Name name = name_text(body, k, p + 1, e);
                if (seen.insert(name_key(name)).second) out.push_back(std::move(name));
            }
        }
        return out;
    }

    // PERFORM f(...): a call, with the name as written.
    void perform() {
        ++i_;
        if (i_ >= end_ || !is_name_part(at(i_)) || reserved_word(i_) || variable(i_)) return;
        const std::size_t e = name_end(k_, i_, end_);
        if (punct(e, U'(')) {
            add(kCalls, name_text(t_, k_, i_, e));
            i_ = e;
        }
    }

    // CREATE, ALTER or DROP at i_.
    void definition(Kw verb) {
        const auto head = parse_head(k_, i_, end_);
        if (!head) {
            // CREATE | ALTER | DROP EVENT SESSION: event, action and target
            // names (package0.event_file) are no objects.
            if (is_word_text(i_ + 1, "event") && is_word_text(i_ + 2, "session")) {
                while (i_ < end_ && !punct(i_, U';') && at(i_).type != Tok::Separator) ++i_;
                return;
            }
            ++i_;
            return;
        }
        i_ = head->next;
        if (head->name_end == head->name_begin) return;
        switch (head->kind) {
            case ObjectKind::Table:
                add_table(kWrites, head->name_begin, head->name_end);
                // DROP TABLE a, b
                while (verb == Kw::Drop && punct(i_, U',') && i_ + 1 < end_ && is_name_part(at(i_ + 1))) {
                    ++i_;
                    const std::size_t e = name_end(k_, i_, end_);
                    add_table(kWrites, i_, e);
                    i_ = e;
                }
                return;
            case ObjectKind::Index:
            case ObjectKind::Trigger:
                if (verb != Kw::Drop && word(i_, Kw::On)) {
                    ++i_;
                    read_target(kReads, false);
                }
                return;
            case ObjectKind::Synonym:
                if (word(i_, Kw::For)) {
                    ++i_;
                    read_target(kReads, false);
                }
                return;
            case ObjectKind::Type:
                if (word(i_, Kw::From) && i_ + 1 < end_) i_ += 2;  // CREATE TYPE t FROM varchar(10)
                return;
            default:
                return;
        }
    }

    // A common table expression head at j: name [(columns)] AS (.  On a
    // match, records the name, opens its body and returns true.
    bool cte_head(std::size_t j) {
        if (j >= end_ || !is_name_part(at(j)) || reserved_word(j)) return false;
        if (punct(j + 1, U'.')) return false;
        std::size_t p = j + 1;
        if (punct(p, U'(')) {
            std::size_t q = p + 1;
            while (q < end_ && q < p + 256 && (is_name_part(at(q)) || punct(q, U','))) ++q;
            if (!punct(q, U')')) return false;
            p = q + 1;
        }
        if (!word(p, Kw::As) || !punct(p + 1, U'(')) return false;
        Name key = name_key(name_text(t_, k_, j, j + 1));
        ++cte_count_[key];
        ctes_.emplace_back(std::move(key), frames_.size());
        Frame f;
        f.cte_body = true;
        frames_.push_back(f);
        i_ = p + 2;
        return true;
    }

    void close_frame() {
        ++i_;
        if (frames_.size() == 1) return;  // unbalanced ")"
        const Frame f = frames_.back();
        frames_.pop_back();
        while (!ctes_.empty() && ctes_.back().second > frames_.size()) drop_last_cte();
        if (f.alias_after) {
            // An UPDATE or DELETE through a derived table on one table
            // writes that table.
            alias(f.call ? -1 : single_read_since(f.first_event));
            if (punct(i_, U'(')) skip_group(i_, 64);  // column aliases
            if (f.list_after) frames_.back().from_list = true;
        } else if (f.cte_body && punct(i_, U',')) {
            cte_head(i_ + 1);
        }
    }

    long single_read_since(std::size_t first) const {
        long found = -1;
        for (std::size_t e = first; e < events_.size(); ++e) {
            if (events_[e].list != kReads || !events_[e].alive) continue;
            if (found >= 0) return -1;
            found = static_cast<long>(e);
        }
        return found;
    }

    void drop_last_cte() {
        auto it = cte_count_.find(ctes_.back().first);
        if (it != cte_count_.end() && --it->second == 0) cte_count_.erase(it);
        ctes_.pop_back();
    }

    void end_statement() {
        frames_.assign(1, Frame{});
        while (!ctes_.empty()) drop_last_cte();
        pending_.clear();
        using_depth_ = 0;
    }

    // Names equal once ASCII letters are lower-cased (as name_key makes them).
    static bool same_key(const Name& a, const Name& b) noexcept {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            char32_t x = a[i], y = b[i];
            if (x >= U'A' && x <= U'Z') x |= 0x20;
            if (y >= U'A' && y <= U'Z') y |= 0x20;
            if (x != y) return false;
        }
        return true;
    }

    // Lists of up to this many events are deduplicated by comparing each
    // name with the names kept so far, without building keys: most units
    // name a handful of tables, and hashing them costs more than the scan.
    static constexpr std::size_t kLinearDedup = 32;

    References collect() {
        References r;
        std::vector<Name>* lists[4] = {&r.reads, &r.writes, &r.calls, &r.temp_tables};
        if (events_.size() <= kLinearDedup) {
            for (Event& e : events_) {
                if (!e.alive) continue;
                std::vector<Name>& list = *lists[e.list];
                if (std::none_of(list.begin(), list.end(), [&](const Name& n) { return same_key(n, e.name); })) {
                    list.push_back(std::move(e.name));
                }
            }
        } else {
            std::unordered_set<Name> seen[4];
            for (Event& e : events_) {
                if (!e.alive) continue;
                if (seen[e.list].insert(name_key(e.name)).second) lists[e.list]->push_back(std::move(e.name));
            }
        }
        r.dynamic_sql = dynamic_;
        if (dynamic_) r.dynamic_references = dynamic_references();
        return r;
    }

    text::Text<C> t_;
    const std::vector<Token>& k_;
    const DialectRules& rules_;
    const bool declaring_;
    std::unique_ptr<Buffers> own_;  // the buffers, when the thread's are taken
    Buffers& b_;
    KeySet& declared_ = b_.declared;  // keys of the names the unit declares, but for those in undeclared_
    std::vector<std::size_t>& undeclared_ = b_.undeclared;  // declared words not yet in declared_
    std::uint64_t declared_bits_ = 0;  // the word_bit of every declared word
    std::vector<std::size_t>& executed_literals_ = b_.executed_literals;
    KeySet& executed_variables_ = b_.executed_variables;
    Name& key_ = b_.key;  // the key being looked up, its buffer reused
    std::vector<std::pair<Name, std::size_t>>& assigned_literals_ = b_.assigned_literals;
    std::size_t i_ = 0, begin_ = 0, end_ = 0;
    std::vector<Frame>& frames_ = b_.frames;
    std::vector<Event>& events_ = b_.events;
    std::vector<Pending>& pending_ = b_.pending;
    std::unordered_map<Name, int>& cte_count_ = b_.cte_count;
    std::vector<std::pair<Name, std::size_t>>& ctes_ = b_.ctes;
    std::size_t using_depth_ = 0;
    bool dynamic_ = false;
};

}  // namespace quorvane::inventory
