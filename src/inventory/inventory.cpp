#include "inventory/inventory.hpp"

#include <optional>

#include "inventory/lexer.hpp"
#include "inventory/names.hpp"
#include "inventory/references.hpp"

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
};

// Cuts the token stream into units.
std::vector<Span> cut(const std::vector<Token>& k, bool has_go) {
    std::vector<Span> spans;
    std::optional<Span> cur;
    std::size_t paren = 0, block = 0;
    bool in_body = false, end_at_semicolon = false;
    auto close = [&](std::size_t last_plus_one) {
        if (cur && last_plus_one > cur->first) {
            cur->last = last_plus_one - 1;
            spans.push_back(*cur);
        }
        cur.reset();
        end_at_semicolon = false;
    };
    for (std::size_t i = 0; i < k.size(); ++i) {
        const Token& tk = k[i];
        if (tk.type == Tok::Separator) {
            close(i);
            paren = block = 0;
            in_body = false;
            continue;
        }
        if (!in_body && tk.type == Tok::Word &&
            (tk.kw == Kw::Create || (tk.kw == Kw::Alter && !(i > 0 && k[i - 1].kw == Kw::Or)))) {
            if (const auto head = parse_head(k, i, k.size())) {
                const bool routine = is_routine(head->kind);
                const bool temp = head->name_end > head->name_begin && k[head->name_end - 1].type == Tok::Word &&
                                  k[head->name_end - 1].ch == U'#';
                bool starts = tk.kw == Kw::Create ? !(temp && head->kind == ObjectKind::Table)
                                                  : (routine && head->kind != ObjectKind::Package &&
                                                     head->kind != ObjectKind::PackageBody);
                if (starts && !routine) {
                    // Tables, indexes and the like only at statement level,
                    // and not inside a routine that runs to the end of its
                    // batch.
                    starts = paren == 0 && block == 0 &&
                             !(has_go && cur && cur->kind != ObjectKind::Batch && is_routine(cur->kind));
                }
                if (starts) {
                    close(i);
                    cur = Span{head->kind, head->name_begin, head->name_end, i, i};
                    paren = block = 0;
                }
            }
        }
        if (!cur) cur = Span{ObjectKind::Batch, 0, 0, i, i};
        switch (tk.type) {
            case Tok::Punct:
                if (tk.ch == U'(') {
                    ++paren;
                } else if (tk.ch == U')') {
                    if (paren > 0) --paren;
                } else if (tk.ch == U';') {
                    paren = 0;
                    if (end_at_semicolon && block == 0) close(i + 1);
                }
                break;
            case Tok::Word:
                if (tk.kw == Kw::Begin && opens_block(k, i)) {
                    ++block;
                } else if (tk.kw == Kw::Case) {
                    ++block;
                } else if (tk.kw == Kw::End && closes_block(k, i)) {
                    if (block > 0) --block;
                }
                break;
            case Tok::DollarOpen:
                in_body = true;
                break;
            case Tok::DollarClose:
                in_body = false;
                if (cur->kind != ObjectKind::Batch) end_at_semicolon = true;
                block = 0;
                break;
            default:
                break;
        }
    }
    close(k.size());
    return spans;
}

}  // namespace

template <text::CodeUnit C>
std::vector<SqlObject> split_objects(text::Text<C> sql) {
    const LexedLease lease(sql);
    const Lexed& lexed = lease.get();
    const std::vector<Token>& k = lexed.tokens;
    bool has_go = false;
    for (const Token& tk : k) {
        if (tk.type == Tok::Separator && tk.ch == U'g') {
            has_go = true;
            break;
        }
    }
    const std::vector<Span> spans = cut(k, has_go);
    std::vector<SqlObject> out;
    out.reserve(spans.size());
    for (const Span& s : spans) {
        SqlObject o{s.kind, s.name_end > s.name_begin, {}, lexed.line_of(k[s.first].begin),
                    lexed.line_of(k[s.last].end - 1), {}, {}};
        if (o.has_name) o.name = name_text(sql, k, s.name_begin, s.name_end);
        o.refs = ReferenceScanner<C>(sql, k).scan(s.first, s.last + 1);
        o.defs = definitions(sql, lexed, s.kind, s.name_end, s.first, s.last + 1);
        out.push_back(std::move(o));
    }
    return out;
}

template <text::CodeUnit C>
References references(text::Text<C> sql) {
    const LexedLease lease(sql);
    return ReferenceScanner<C>(sql, lease.get().tokens).scan(0, lease.get().tokens.size());
}

template std::vector<SqlObject> split_objects(text::Text<std::uint8_t>);
template std::vector<SqlObject> split_objects(text::Text<std::uint16_t>);
template std::vector<SqlObject> split_objects(text::Text<std::uint32_t>);
template References references(text::Text<std::uint8_t>);
template References references(text::Text<std::uint16_t>);
template References references(text::Text<std::uint32_t>);

}  // namespace quorvane::inventory
