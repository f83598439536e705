#include "inventory/inventory.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "inventory/lexed_lease.hpp"
#include "inventory/lexer.hpp"
#include "inventory/names.hpp"
#include "inventory/references.hpp"
#include "shared/thread_scratch.hpp"

namespace quorvane::inventory {
namespace {

// BEGIN opens a block unless it starts a transaction or a dialog.
bool opens_block(const std::vector<Token>& k, std::size_t i) {
    if (i + 1 >= k.size()) return true;
    const Token& n = k[i + 1];
    if (is_punct(n, U';')) return false;
    switch (n.kw) {
        case Kw::Tran: case Kw::Transaction: case Kw::Distributed: case Kw::Dialog: case Kw::Conversation:
        case Kw::Work:
            return false;
        default:
            return true;
    }
}

// END closes a block unless it closes an IF, a loop or a dialog (END IF,
// END LOOP, END CONVERSATION).
bool closes_block(const std::vector<Token>& k, std::size_t i) {
    if (i + 1 >= k.size()) return true;
    switch (k[i + 1].kw) {
        case Kw::If: case Kw::Loop: case Kw::While: case Kw::Repeat: case Kw::Conversation:
            return false;
        default:
            return true;
    }
}

struct Span {
    ObjectKind kind;
    std::size_t name_begin, name_end;
    std::size_t first, last;  // token indices, inclusive
    std::vector<TokenRange> holes;  // objects defined inside this batch's blocks
};

constexpr bool has_declarations(ObjectKind k) noexcept {
    return k == ObjectKind::Procedure || k == ObjectKind::Function || is_body(k);
}

// Cuts the token stream into units.
//
// A CREATE inside a batch's BEGIN ... END (a guarded definition) is an
// object of its own, and the batch keeps the rest of its text: the object
// ends at its ";", at the END of the enclosing block, at a statement that
// cannot belong to it, or where the next object starts.
//
// Where routines do not run to the end of their batch, an object ends at
// the first ";" at depth 0 (outside parentheses and blocks).  A routine's
// IS or AS before its declarations (or a DECLARE before its body) opens the
// block that its BEGIN continues and its END closes, as in PL/SQL.
template <text::CodeUnit C>
class Cutter {
   public:
    Cutter(text::Text<C> t, const std::vector<Token>& k, bool has_go, const DialectRules& rules)
        : t_(t), k_(k), has_go_(has_go), blocks_end_routines_(!rules.routines_run_to_batch_end) {}

    std::vector<Span> run() {
        for (std::size_t i = 0; i < k_.size(); ++i) token(i);
        close(k_.size());
        // A batch is closed after the objects defined inside it.  (Sorting
        // costs a buffer even when nothing moves, as with most scripts.)
        const auto by_first = [](const Span& a, const Span& b) { return a.first < b.first; };
        if (!std::is_sorted(spans_.begin(), spans_.end(), by_first)) {
            std::stable_sort(spans_.begin(), spans_.end(), by_first);
        }
        return std::move(spans_);
    }

   private:
    void close(std::size_t last_plus_one) {
        close_nested(last_plus_one);
        if (cur_ && last_plus_one > cur_->first) {
            cur_->last = last_plus_one - 1;
            spans_.push_back(std::move(*cur_));
        }
        cur_.reset();
        end_at_semicolon_ = false;
        declaring_.clear();
        routine_head_ = false;
    }

    // Ends the object nested in a batch before token `at`; the batch goes on.
    void close_nested(std::size_t at) {
        if (!outer_) return;
        if (at > cur_->first) {
            cur_->last = at - 1;
            outer_->holes.push_back({cur_->first, at});
            spans_.push_back(std::move(*cur_));
        }
        cur_ = std::move(outer_);
        outer_.reset();
    }

    bool word_is(std::size_t j, std::string_view lower) const {
        return j < k_.size() && k_[j].type == Tok::Word && k_[j].end - k_[j].begin == lower.size() &&
               text::equals_folded_ascii(t_, k_[j].begin, lower.data(), lower.size());
    }

    Kw kw_at(std::size_t j) const noexcept { return j < k_.size() && k_[j].type == Tok::Word ? k_[j].kw : Kw::None; }

    // A statement that cannot continue a nested table, index or the like.
    bool ends_nested_definition(std::size_t i) const {
        switch (k_[i].kw) {
            case Kw::Insert: case Kw::Update: case Kw::Delete: case Kw::Merge: case Kw::Exec: case Kw::Execute:
            case Kw::If: case Kw::While: case Kw::Drop: case Kw::Truncate: case Kw::Declare:
                return true;
            case Kw::Alter:
                return kw_at(i - 1) != Kw::Or;
            case Kw::Select:
                return kw_at(i - 1) != Kw::As && !is_punct(k_[i - 1], U'(');
            default:
                return false;
        }
    }

    void start(std::size_t i, const Head& head) {
        const bool in_batch = outer_ || !cur_ || cur_->kind == ObjectKind::Batch;
        if (k_[i].kw == Kw::Create && in_batch && paren_ == 0 && block_ > 0) {
            if (outer_) {
                close_nested(i);
            }
            outer_ = std::move(cur_);
            nested_level_ = block_;
            cur_ = Span{head.kind, head.name_begin, head.name_end, i, i, {}};
            return;
        }
        close(i);
        cur_ = Span{head.kind, head.name_begin, head.name_end, i, i, {}};
        paren_ = block_ = 0;
        routine_head_ = blocks_end_routines_ && has_declarations(head.kind);
    }

    void definition(std::size_t i) {
        const Token& tk = k_[i];
        const auto head = parse_head(k_, i, k_.size());
        if (!head) return;
        const bool routine = is_routine(head->kind);
        const bool temp = head->name_end > head->name_begin && k_[head->name_end - 1].type == Tok::Word &&
                          k_[head->name_end - 1].ch == U'#';
        bool starts = tk.kw == Kw::Create ? !(temp && head->kind == ObjectKind::Table) : (routine && !is_body(head->kind));
        if (starts && !routine) {
            // Tables, indexes and the like at statement level or in a
            // batch's block, and not inside a routine that runs to the end
            // of its batch.
            const bool in_batch = outer_ || !cur_ || cur_->kind == ObjectKind::Batch;
            starts = paren_ == 0 && (block_ == 0 || in_batch) &&
                     !(has_go_ && cur_ && cur_->kind != ObjectKind::Batch && is_routine(cur_->kind));
        }
        if (starts) start(i, *head);
    }

    // IS or AS at i opens a routine's declarations, unless a body of
    // another form follows: a literal, a parenthesis, LANGUAGE, EXTERNAL.
    bool opens_declarations(std::size_t i) const {
        if (i + 1 >= k_.size() || kw_at(i - 1) == Kw::Execute) return false;
        const Token& n = k_[i + 1];
        if (n.type == Tok::String || n.type == Tok::DollarOpen || n.type == Tok::Separator || is_punct(n, U'(') ||
            is_punct(n, U';')) {
            return false;
        }
        return !word_is(i + 1, "language") && !word_is(i + 1, "external");
    }

    void token(std::size_t i) {
        const Token& tk = k_[i];
        if (tk.type == Tok::Separator) {
            close(i);
            paren_ = block_ = 0;
            in_body_ = false;
            return;
        }
        if (!in_body_ && tk.type == Tok::Word &&
            (tk.kw == Kw::Create || (tk.kw == Kw::Alter && !(i > 0 && k_[i - 1].kw == Kw::Or)))) {
            definition(i);
        }
        if (outer_ && i > cur_->first && paren_ == 0 && block_ == nested_level_ && !in_body_ &&
            !is_routine(cur_->kind) && ends_nested_definition(i)) {
            close_nested(i);
        }
        if (!cur_) cur_ = Span{ObjectKind::Batch, 0, 0, i, i, {}};
        switch (tk.type) {
            case Tok::Punct:
                if (tk.ch == U'(') {
                    ++paren_;
                } else if (tk.ch == U')') {
                    if (paren_ > 0) --paren_;
                } else if (tk.ch == U';') {
                    // A macro's statements stand inside its parentheses.
                    if (!(cur_->kind == ObjectKind::Macro && paren_ > 0)) paren_ = 0;
                    routine_head_ = false;
                    if (in_body_ || paren_ > 0) {
                        // A statement of a dollar-quoted body or a macro.
                    } else if (outer_) {
                        if (block_ == nested_level_) close_nested(i + 1);
                    } else if (block_ == 0 && cur_->kind != ObjectKind::Batch &&
                               (end_at_semicolon_ || blocks_end_routines_)) {
                        close(i + 1);
                    }
                }
                break;
            case Tok::Word:
                if (tk.kw != Kw::None) word(i);  // other words change nothing
                break;
            case Tok::DollarOpen:
                in_body_ = true;
                routine_head_ = false;
                break;
            case Tok::DollarClose:
                in_body_ = false;
                if (cur_->kind != ObjectKind::Batch) end_at_semicolon_ = true;
                block_ = 0;
                declaring_.clear();
                break;
            default:
                break;
        }
    }

    void word(std::size_t i) {
        const Token& tk = k_[i];
        if (in_body_ || paren_ > 0) {
            if (tk.kw == Kw::Case) ++block_;
            else if (tk.kw == Kw::End && closes_block(k_, i) && block_ > 0) --block_;
            else if (tk.kw == Kw::Begin && opens_block(k_, i)) ++block_;
            return;
        }
        const bool declares = blocks_end_routines_ && !outer_ && cur_->kind != ObjectKind::Batch;
        switch (tk.kw) {
            case Kw::Begin:
                if (!opens_block(k_, i)) break;
                routine_head_ = false;
                if (!declaring_.empty() && declaring_.back() == block_) {
                    declaring_.pop_back();  // BEGIN continues the block its declarations opened
                } else {
                    ++block_;
                }
                break;
            case Kw::Case:
                ++block_;
                break;
            case Kw::End:
                if (!closes_block(k_, i)) break;
                if (outer_ && block_ == nested_level_) close_nested(i);
                if (block_ > 0) {
                    if (!declaring_.empty() && declaring_.back() == block_) declaring_.pop_back();
                    --block_;
                }
                break;
            case Kw::Is:
            case Kw::As:
                if (declares && routine_head_) {
                    routine_head_ = false;
                    if (opens_declarations(i)) declaring_.push_back(++block_);
                }
                break;
            case Kw::Declare:
                if (declares && block_ == 0 && declaring_.empty() && has_declarations_or_trigger(cur_->kind)) {
                    declaring_.push_back(++block_);
                }
                break;
            case Kw::Procedure:
            case Kw::Function:
                // A routine inside a package or type body.
                if (declares && block_ > 0 && is_body(cur_->kind)) routine_head_ = true;
                break;
            case Kw::Select: case Kw::Insert: case Kw::Update: case Kw::Delete: case Kw::Merge: case Kw::With:
            case Kw::Call:
                routine_head_ = false;
                break;
            default:
                break;
        }
    }

    static constexpr bool has_declarations_or_trigger(ObjectKind k) noexcept {
        return has_declarations(k) || k == ObjectKind::Trigger;
    }

    text::Text<C> t_;
    const std::vector<Token>& k_;
    const bool has_go_;
    const bool blocks_end_routines_;
    std::vector<Span> spans_;
    std::optional<Span> cur_;
    std::optional<Span> outer_;       // the batch around a nested object
    std::size_t nested_level_ = 0;    // block depth at the nested object's CREATE
    std::size_t paren_ = 0, block_ = 0;
    bool in_body_ = false, end_at_semicolon_ = false;
    bool routine_head_ = false;            // between a routine's name and its IS / AS
    std::vector<std::size_t> declaring_;   // block depths opened by IS / AS / DECLARE, awaiting BEGIN
};

// Whether split_objects last found a whole script to be one unit, and the
// generation of that script's tokens: the caller keeps what it made of the
// unit's references under that number (kept_references_number), so that
// references of the same script right after (the usual pair on a file)
// costs no second scan.  Valid while the thread's token buffers hold the
// same generation of tokens.
struct WholeReferences {
    std::uint64_t generation = 0;
    bool valid = false;
};

}  // namespace

template <text::CodeUnit C>
std::vector<SqlObject> split_objects(text::Text<C> sql, const DialectRules& rules) {
    const LexedLease lease(sql, rules, true);
    const Lexed& lexed = lease.get();
    const std::vector<Token>& k = lexed.tokens;
    const std::vector<Span> spans = Cutter<C>(sql, k, lexed.has_go, rules).run();
    std::vector<SqlObject> out;
    out.reserve(spans.size());
    ReferenceScanner<C> scanner(sql, k, rules, lexed.has_declaring);
    for (const Span& s : spans) {
        SqlObject o{s.kind, s.name_end > s.name_begin, {}, lexed.line_of(k[s.first].begin),
                    lexed.line_of(k[s.last].end - 1), {}, {}};
        if (o.has_name) o.name = name_text(sql, k, s.name_begin, s.name_end);
        o.refs = scanner.scan(s.first, s.last + 1, s.holes);
        o.defs = definitions(sql, lexed, s.kind, s.name_end, s.first, s.last + 1);
        out.push_back(std::move(o));
    }
    WholeReferences& whole = thread_scratch<WholeReferences>();
    whole.valid = lease.remembered() && spans.size() == 1 && spans[0].first == 0 && spans[0].last + 1 == k.size() &&
                  spans[0].holes.empty();
    if (whole.valid) whole.generation = lease.generation();
    return out;
}

template <text::CodeUnit C>
References references(text::Text<C> sql, const DialectRules& rules) {
    const LexedLease lease(sql, rules, false);
    const Lexed& lexed = lease.get();
    return ReferenceScanner<C>(sql, lexed.tokens, rules, lexed.has_declaring).scan(0, lexed.tokens.size(), {});
}

std::uint64_t kept_references_number() {
    const WholeReferences& whole = thread_scratch<WholeReferences>();
    return whole.valid ? whole.generation : 0;
}

template <text::CodeUnit C>
std::uint64_t references_number(text::Text<C> sql, const DialectRules& rules) {
    const WholeReferences& whole = thread_scratch<WholeReferences>();
    return whole.valid && LexedLease::holding(sql, rules) == whole.generation ? whole.generation : 0;
}

template std::vector<SqlObject> split_objects(text::Text<std::uint8_t>, const DialectRules&);
template std::vector<SqlObject> split_objects(text::Text<std::uint16_t>, const DialectRules&);
template std::vector<SqlObject> split_objects(text::Text<std::uint32_t>, const DialectRules&);
template References references(text::Text<std::uint8_t>, const DialectRules&);
template References references(text::Text<std::uint16_t>, const DialectRules&);
template References references(text::Text<std::uint32_t>, const DialectRules&);
template std::uint64_t references_number(text::Text<std::uint8_t>, const DialectRules&);
template std::uint64_t references_number(text::Text<std::uint16_t>, const DialectRules&);
template std::uint64_t references_number(text::Text<std::uint32_t>, const DialectRules&);

}  // namespace quorvane::inventory
