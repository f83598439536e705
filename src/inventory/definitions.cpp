#include "inventory/definitions.hpp"

#include <algorithm>
#include <array>
#include <optional>

#include "inventory/inventory.hpp"
#include "inventory/lexer.hpp"
#include "inventory/names.hpp"
#include "shared/thread_scratch.hpp"

namespace quorvane::inventory {
namespace {

// --- word tables -------------------------------------------------------------

// A table of lower-case words (of up to 16 characters), packed and sorted
// when the program is compiled, so that looking a token up compares
// integers and builds no string.
template <std::size_t N>
constexpr std::array<PackedWord, N> packed_table(const std::array<std::string_view, N>& words) {
    std::array<PackedWord, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = packed(words[i]);
    std::sort(out.begin(), out.end());
    return out;
}

// Words that end a column's type in a table's column list.
constexpr auto kColumnTypeEnds = packed_table(std::to_array<std::string_view>({
    "after", "as", "auto_increment", "autoincrement", "casespecific", "character", "charset", "check", "collate",
    "column_format", "comment", "compress", "compression", "constraint", "default", "disable", "distkey",
    "enable", "encode", "encrypted", "filestream", "first", "foreign", "format", "generated", "hidden", "identity", "index",
    "inline_length", "invisible", "key", "masked", "not", "null", "on", "options", "persisted", "primary",
    "references", "rowguidcol", "sortkey", "sparse", "storage", "tag", "title", "unique", "uppercase",
    "visible", "with",
}));

// Words that end a parameter's type.
constexpr auto kParameterTypeEnds = packed_table(std::to_array<std::string_view>({
    "as", "comment", "default", "not", "null", "out", "output", "readonly",
}));

// Words that end a function's return type.
constexpr auto kReturnTypeEnds = packed_table(std::to_array<std::string_view>({
    "aggregate", "as", "authid", "begin", "called", "charset", "collate", "comment", "contains", "cost",
    "deterministic", "execute", "external", "immutable", "is", "language", "leakproof", "modifies", "no",
    "not", "null", "options", "parallel", "parallel_enable", "pipelined", "reads", "result_cache", "return",
    "returns", "rows", "security", "set", "sql", "stable", "strict", "support", "transform", "volatile",
    "window", "with",
}));

// After a one-word RETURN (not RETURNS) a type is declared only when one of
// these follows it.
constexpr auto kReturnClauseEnds = packed_table(std::to_array<std::string_view>({
    "aggregate", "as", "authid", "deterministic", "is", "parallel_enable", "pipelined", "result_cache",
}));

// Words that open a table constraint, index or other element of a column
// list that is not a column.
constexpr auto kElementStarts = packed_table(std::to_array<std::string_view>({
    "check", "constraint", "exclude", "foreign", "fulltext", "index", "key", "like", "period", "primary",
    "spatial", "unique",
}));

// Element starts that may also be a column's name.
constexpr auto kMaybeColumn = packed_table(std::to_array<std::string_view>({"fulltext", "index", "key", "spatial"}));
constexpr auto kIndexWords = packed_table(std::to_array<std::string_view>({"index", "key"}));
// Words after an index's name.
constexpr auto kIndexOptions = packed_table(std::to_array<std::string_view>({
    "clustered", "columnstore", "hash", "nonclustered", "unique", "using",
}));

// Words after a CREATE TABLE's name that say no column list follows.
constexpr auto kNoColumnList = packed_table(std::to_array<std::string_view>({
    "as", "clone", "like", "location", "of", "options", "partition", "partitioned", "row",
    "select", "stored", "tblproperties", "using", "with",
}));

// Reserved words that open a statement, besides those the lexer names.
constexpr auto kStatementWords =
    packed_table(std::to_array<std::string_view>({"declare", "go", "grant", "print", "return", "use"}));

// Modifiers that make a CREATE TABLE inside a unit a temporary table.
constexpr auto kTemporary = packed_table(std::to_array<std::string_view>({"temp", "temporary", "volatile"}));

template <std::size_t N>
bool in(const std::array<PackedWord, N>& table, const PackedWord& w) {
    return w.size != 0 && std::binary_search(table.begin(), table.end(), w);
}

// --- tokens --------------------------------------------------------------------

constexpr std::size_t kTableOptionTokens = 64;
constexpr std::size_t kReservedColumns = 1024;

// The buffers of a unit's parenthesis pairs (Reader::inner_end), kept by
// the calling thread from unit to unit (one Reader at a time): allocating
// them for every unit costs more than matching a small unit's pairs.
struct Pairs {
    std::vector<std::size_t> match;  // per token of the unit: the ")" closing a "(" there, or none
    std::vector<std::size_t> open;   // the "(" not yet closed
};
constexpr std::size_t kKeptPairs = std::size_t{1} << 16;

template <text::CodeUnit C>
class Reader {
   public:
    Reader(text::Text<C> t, const std::vector<Token>& k, std::size_t first, std::size_t last, Pairs& pairs)
        : t_(t), k_(k), first_(first), last_(last), pairs_(pairs) {}

    // A word packed in lower case (ASCII letters, and the long s and the
    // Kelvin sign, which fold onto s and k), or the empty packing (size 0)
    // for any other token and for words longer than any the tables hold.
    PackedWord word(std::size_t i) const {
        const Token& tk = k_[i];
        if (tk.type != Tok::Word) return PackedWord{};
        return detail::packed_word(t_, tk.begin, tk.end);
    }

    bool is_word(std::size_t i, const PackedWord& w) const { return word(i) == w; }

    bool punct(std::size_t i, char32_t c) const { return is_punct(k_[i], c); }

    // The ")" that closes the "(" at i, or `end` when none does before it.
    // The pairs are matched once per unit, on first use, so that unclosed
    // groups cost no rescans.
    std::size_t inner_end(std::size_t i, std::size_t end) const {
        if (!matched_) match();
        const std::size_t m = match_[i - first_];
        return m < end ? m : end;
    }

    // One past the group that opens with the "(" at i, or `end`.
    std::size_t group_end(std::size_t i, std::size_t end) const {
        const std::size_t c = inner_end(i, end);
        return c < end ? c + 1 : end;
    }

    // Calls f(eb, ee) for each element [eb, ee) of a list [b, e), in order:
    // the list cut at commas outside parentheses and angle brackets
    // (ARRAY<STRUCT<a INT, b INT>>).  No list of them is built.
    template <class F>
    void for_each_element(std::size_t b, std::size_t e, F&& f) const {
        std::size_t angle = 0, from = b;
        for (std::size_t j = b; j < e;) {
            if (punct(j, U'(')) {
                j = group_end(j, e);
                continue;
            }
            if (opens_angle(j)) {
                ++angle;
            } else if (angle > 0 && punct(j, U'>')) {
                --angle;
            } else if (angle == 0 && punct(j, U',')) {
                if (j > from) f(from, j);
                from = j + 1;
            }
            ++j;
        }
        if (e > from) f(from, e);
    }

    // A "<" right after a word opens a type's parameters.
    bool opens_angle(std::size_t j) const {
        return punct(j, U'<') && j > 0 && k_[j - 1].type == Tok::Word && k_[j - 1].end == k_[j].begin;
    }

    // One past the last token of a type starting at b: the tokens up to
    // the first word of `ends` outside parentheses and angle brackets
    // (WITH TIME ZONE, WITH LOCAL TIME ZONE and CHARACTER VARYING stay in
    // the type), "=", ":=", ";", a literal or a dollar body.
    template <std::size_t N>
    std::size_t type_end(std::size_t b, std::size_t e, const std::array<PackedWord, N>& ends) const {
        std::size_t angle = 0;
        for (std::size_t j = b; j < e;) {
            const Token& tk = k_[j];
            if (punct(j, U'(')) {
                j = group_end(j, e);
                continue;
            }
            if (opens_angle(j)) {
                ++angle;
            } else if (angle > 0) {
                if (punct(j, U'>')) --angle;
            } else if (tk.type == Tok::Word) {
                const PackedWord w = word(j);
                if (j > b && in(ends, w)) {
                    const PackedWord next = j + 1 < e ? word(j + 1) : PackedWord{};
                    const bool kept = (w == "with"_w && (next == "time"_w || next == "local"_w)) ||
                                      (w == "character"_w && next != "set"_w);
                    if (!kept) return j;
                }
            } else if (tk.type == Tok::String || tk.type == Tok::DollarOpen || tk.type == Tok::DollarClose ||
                       tk.type == Tok::Separator || punct(j, U'=') || punct(j, U';') ||
                       (punct(j, U':') && j + 1 < e && punct(j + 1, U'='))) {
                return j;
            }
            ++j;
        }
        return e;
    }

    // The text of tokens [b, e): each as written, one space where the
    // script has anything between two tokens; quoted names without their
    // quotes, except a bracket pair holding nothing or a number (int[],
    // int[3]).
    std::u32string collapsed(std::size_t b, std::size_t e) const {
        std::u32string out;
        if (b < e) out.reserve(k_[e - 1].end - k_[b].begin);  // the text's length, at most
        for (std::size_t j = b; j < e; ++j) {
            const Token& tk = k_[j];
            if (j > b && tk.begin > k_[j - 1].end) out.push_back(U' ');
            if (tk.type == Tok::Quoted && !(tk.ch == U'[' && bracket_is_subscript(tk))) {
                append_name_text(t_, k_, j, j + 1, out);
            } else {
                append_units(t_, tk.begin, tk.end, out);
            }
        }
        return out;
    }

    bool bracket_is_subscript(const Token& tk) const {
        for (std::size_t p = tk.begin + 1; p + 1 < tk.end; ++p) {
            if (t_[p] < '0' || t_[p] > '9') return false;
        }
        return true;
    }

    std::u32string one_name(std::size_t i) const { return name_text(t_, k_, i, i + 1); }

    // --- column lists ----------------------------------------------------------

    // The columns of a column list [b, e) (inside its parentheses):
    // constraints and indexes left out; a computed column ("c AS expr") has
    // no type.
    std::vector<Column> columns(std::size_t b, std::size_t e) {
        std::vector<Column> out;
        // Room for every element (each a token or more, and a comma), so
        // that a long column list moves no column while it grows.
        out.reserve(std::min<std::size_t>((e - b + 1) / 2, kReservedColumns));
        for_each_element(b, e, [&](std::size_t eb, std::size_t ee) {
            if (!is_name_part(k_[eb])) return;
            const PackedWord w = word(eb);
            if (in(kElementStarts, w) && !(in(kMaybeColumn, w) && !is_index(eb + 1, ee))) return;
            Column& c = out.emplace_back(Column{one_name(eb), {}});
            if (eb + 1 < ee && !is_word(eb + 1, "as"_w)) {
                c.type = collapsed(eb + 1, type_end(eb + 1, ee, kColumnTypeEnds));
            }
        });
        return out;
    }

    // After KEY, INDEX, FULLTEXT or SPATIAL at the start of an element: an
    // index ("KEY (a)", "INDEX ix NONCLUSTERED (a)", "FULLTEXT KEY k (a)")
    // rather than a column of that name ("key VARCHAR(10)", "fulltext
    // tsvector NOT NULL").
    bool is_index(std::size_t j, std::size_t e) const {
        if (j >= e) return false;
        if (punct(j, U'(') || in(kIndexWords, word(j))) return true;
        if (is_sized_type(j, e)) return false;
        return j + 1 < e && (punct(j + 1, U'(') || in(kIndexOptions, word(j + 1)));
    }

    // "word (number ...": a type with its size.
    bool is_sized_type(std::size_t j, std::size_t e) const {
        return j + 2 < e && k_[j].type == Tok::Word && punct(j + 1, U'(') && k_[j + 2].type == Tok::Number;
    }

    // A view's column names, or the columns of a table's column list, when
    // the list opens at `at`.
    std::vector<Column> names_only(std::size_t b, std::size_t e) const {
        std::vector<Column> out;
        for_each_element(b, e, [&](std::size_t eb, std::size_t) {
            if (is_name_part(k_[eb])) out.push_back({one_name(eb), {}});
        });
        return out;
    }

    // The column list of CREATE TABLE whose name ends before `from`: the
    // first parenthesised group before any word that starts something else,
    // within a few dozen tokens (table options come first in some dialects).
    std::vector<Column> table_columns(std::size_t from, std::size_t e) {
        for (std::size_t j = from; j < e && j < from + kTableOptionTokens; ++j) {
            if (punct(j, U'(')) return columns(j + 1, inner_end(j, e));
            if (punct(j, U';') || k_[j].type == Tok::Separator || in(kNoColumnList, word(j))) break;
        }
        return {};
    }

    // --- routines --------------------------------------------------------------

    std::vector<Parameter> parameters(std::size_t b, std::size_t e) {
        std::vector<Parameter> out;
        for_each_element(b, e, [&](std::size_t eb, std::size_t ee) { out.push_back(parameter(eb, ee)); });
        return out;
    }

    Parameter parameter(std::size_t b, std::size_t e) {
        Parameter p;
        std::size_t j = b;
        // A mode before the name: IN, OUT, INOUT, VARIADIC.
        const PackedWord lead = word(j);
        if (j + 1 < e && (lead == "in"_w || lead == "out"_w || lead == "inout"_w || lead == "variadic"_w)) {
            p.mode = lead == "out"_w ? ParameterMode::Out : lead == "inout"_w ? ParameterMode::InOut : ParameterMode::In;
            ++j;
        }
        if (j >= e) return p;
        // A lone type (an unnamed parameter): nothing but a size, a
        // subscript or a qualified name after its first word.
        const bool named = is_name_part(k_[j]) &&
                           (k_[j].ch == U'@' || (j + 1 < e && !punct(j + 1, U'(') && !punct(j + 1, U'.') &&
                                                 !(k_[j + 1].type == Tok::Quoted && k_[j + 1].ch == U'[')));
        if (named) {
            p.name = one_name(j++);
            if (j < e && is_word(j, "as"_w)) ++j;
            // A mode after the name: IN, OUT, IN OUT, INOUT, then NOCOPY.
            const PackedWord m = j + 1 < e ? word(j) : PackedWord{};
            if (m == "in"_w || m == "out"_w || m == "inout"_w) {
                ++j;
                p.mode = m == "out"_w ? ParameterMode::Out : m == "inout"_w ? ParameterMode::InOut : ParameterMode::In;
                if (m == "in"_w && j + 1 < e && is_word(j, "out"_w)) {
                    p.mode = ParameterMode::InOut;
                    ++j;
                }
                if (j + 1 < e && is_word(j, "nocopy"_w)) ++j;
            }
        }
        const std::size_t te = type_end(j, e, kParameterTypeEnds);
        p.type = collapsed(j, te);
        j = te;
        if (j < e && (punct(j, U'=') || is_word(j, "default"_w) || (punct(j, U':') && j + 1 < e && punct(j + 1, U'=')))) {
            j += punct(j, U':') ? 2 : 1;
            std::size_t d = j;
            while (d < e) {
                if (punct(d, U'(')) {
                    d = group_end(d, e);
                    continue;
                }
                const PackedWord w = word(d);
                if (w == "output"_w || w == "out"_w || w == "readonly"_w || w == "comment"_w) break;
                ++d;
            }
            p.has_default = true;
            p.default_value = collapsed(j, d);
            j = d;
        }
        for (; j < e; ++j) {
            const PackedWord w = word(j);
            if (w == "output"_w || w == "out"_w) p.mode = ParameterMode::Out;
            if (w == "readonly"_w) p.mode = ParameterMode::ReadOnly;
        }
        return p;
    }

    // Parameters, return type and declared columns of a procedure or
    // function whose name ends before `from`.
    void routine(Definitions& d, ObjectKind kind, std::size_t from, std::size_t e) {
        std::size_t j = from;
        if (j < e && punct(j, U'(')) {
            d.parameters = parameters(j + 1, inner_end(j, e));
            j = group_end(j, e);
        } else if (kind == ObjectKind::Procedure && j < e && k_[j].type == Tok::Word && k_[j].ch == U'@') {
            // Unparenthesised parameters run to AS, WITH or FOR.
            std::size_t p = j;
            while (p < e && !punct(p, U';') && k_[p].type != Tok::Separator) {
                if (punct(p, U'(')) {
                    p = group_end(p, e);
                    continue;
                }
                // AS ends the list, unless it follows a parameter's name (@p AS INT).
                const PackedWord w = word(p);
                const bool typed_as = w == "as"_w && k_[p - 1].type == Tok::Word && k_[p - 1].ch == U'@';
                if ((w == "as"_w && !typed_as) || w == "with"_w || w == "for"_w || w == "begin"_w || w == "is"_w) break;
                ++p;
            }
            d.parameters = parameters(j, p);
            j = p;
        }
        if (kind != ObjectKind::Function || j >= e) return;
        const PackedWord w = word(j);
        if (w != "returns"_w && w != "return"_w) return;
        const std::size_t te = type_end(j + 1, e, kReturnTypeEnds);
        if (te == j + 1 || is_word(j + 1, "select"_w) || (w == "return"_w && (te >= e || !in(kReturnClauseEnds, word(te))))) return;
        d.has_returns = true;
        d.returns = collapsed(j + 1, te);
        for (std::size_t p = j + 1; p + 1 < te; ++p) {
            if (is_word(p, "table"_w) && punct(p + 1, U'(')) {
                d.columns = columns(p + 2, inner_end(p + 1, te));
                break;
            }
        }
    }

    // --- temporary tables and table variables -------------------------------

    // The output names of a select list [b, e).
    std::vector<Column> output_names(std::size_t b, std::size_t e) {
        // DISTINCT, ALL, TOP n | TOP (n) [PERCENT] [WITH TIES]
        while (b < e) {
            const PackedWord w = word(b);
            if (w == "distinct"_w || w == "all"_w) {
                ++b;
            } else if (w == "top"_w && b + 1 < e) {
                b = punct(b + 1, U'(') ? group_end(b + 1, e) : b + 2;
                if (b < e && is_word(b, "percent"_w)) ++b;
                if (b + 1 < e && is_word(b, "with"_w) && is_word(b + 1, "ties"_w)) b += 2;
            } else {
                break;
            }
        }
        std::vector<Column> out;
        for_each_element(b, e, [&](std::size_t ib, std::size_t ie) {
            const Token& last = k_[ie - 1];
            if (ie - ib >= 3 && is_name_part(k_[ib]) && punct(ib + 1, U'=')) {
                out.push_back({one_name(ib), {}});  // alias = expression
            } else if (punct(ie - 1, U'*')) {
                out.push_back({collapsed(ib, ie), {}});
            } else if (is_name_part(last) && !(last.type == Tok::Word && last.reserved)) {
                if (ie - ib == 1 || punct(ie - 2, U'.') || is_word(ie - 2, "as"_w) || is_alias_before(ie - 2)) {
                    out.push_back({one_name(ie - 1), {}});
                }
            }
        });
        return out;
    }

    // A token an alias can follow without AS: the end of an expression.
    bool is_alias_before(std::size_t j) const {
        const Token& tk = k_[j];
        return tk.type == Tok::Word || tk.type == Tok::Quoted || tk.type == Tok::Number || tk.type == Tok::String ||
               punct(j, U')');
    }

    // #t, ##t, and TEMP | TEMPORARY [TABLE] t after INTO.
    std::optional<std::pair<std::size_t, std::size_t>> into_target(std::size_t j, std::size_t e) {
        if (j < e && k_[j].type == Tok::Word && k_[j].ch == U'#') return std::pair{j, name_end(k_, j, e)};
        if (j < e && in(kTemporary, word(j))) {
            ++j;
            if (j < e && is_word(j, "table"_w)) ++j;
            if (j < e && is_name_part(k_[j])) return std::pair{j, name_end(k_, j, e)};
        }
        return std::nullopt;
    }

    void local_tables(Definitions& d, ObjectKind kind, std::size_t first, std::size_t e) {
        // The last SELECT at each depth of parentheses whose list may still
        // run to an INTO.
        std::vector<std::size_t> select_at(1, kNone);
        std::size_t depth = 0;
        for (std::size_t j = first; j < e; ++j) {
            const Token& tk = k_[j];
            if (tk.type == Tok::Punct) {
                if (tk.ch == U'(') {
                    ++depth;
                    if (select_at.size() <= depth) select_at.resize(depth + 1, kNone);
                    select_at[depth] = kNone;
                } else if (tk.ch == U')') {
                    if (depth > 0) --depth;
                } else if (tk.ch == U';') {
                    select_at[depth] = kNone;
                }
                continue;
            }
            if (tk.type == Tok::Separator) {
                std::fill(select_at.begin(), select_at.end(), kNone);
                depth = 0;
                continue;
            }
            if (tk.type != Tok::Word) continue;
            switch (tk.kw) {
                case Kw::Select:
                    select_at[depth] = j;
                    continue;
                case Kw::From: case Kw::Insert: case Kw::Update: case Kw::Delete: case Kw::Merge:
                case Kw::Exec: case Kw::Execute:
                    select_at[depth] = kNone;
                    continue;
                case Kw::Into:
                    if (select_at[depth] != kNone) {
                        if (const auto target = into_target(j + 1, e)) {
                            d.local_tables.push_back({name_text(t_, k_, target->first, target->second),
                                                      output_names(select_at[depth] + 1, j), target->first});
                        }
                        select_at[depth] = kNone;
                    }
                    continue;
                case Kw::Create:
                    if (!(j == first && kind == ObjectKind::Table)) create_local(d, j, e);
                    continue;
                case Kw::Alter:
                    alter_add(d, j, e);
                    continue;
                default:
                    break;
            }
            // DECLARE @t [AS] TABLE (...), also after a comma in a DECLARE.
            if (tk.ch == U'@' && j > first && (punct(j - 1, U',') || is_word(j - 1, "declare"_w))) {
                std::size_t p = j + 1;
                if (p < e && is_word(p, "as"_w)) ++p;
                if (p + 1 < e && is_word(p, "table"_w) && punct(p + 1, U'(')) {
                    d.local_tables.push_back({one_name(j), columns(p + 2, inner_end(p + 1, e)), j});
                }
            }
        }
    }

    // ALTER TABLE [ONLY | IF EXISTS] t ADD [COLUMN] [IF NOT EXISTS] c type
    // [, [ADD [COLUMN]] c type]... or ADD (c type, ...), at k[j]: the
    // columns added, up to the end of the statement.
    void alter_add(Definitions& d, std::size_t j, std::size_t e) {
        std::size_t p = j + 1;
        if (!(p < e && is_word(p, "table"_w))) return;
        ++p;
        if (p < e && is_word(p, "only"_w)) ++p;
        if (p + 1 < e && is_word(p, "if"_w) && is_word(p + 1, "exists"_w)) p += 2;
        if (!(p < e && is_name_part(k_[p]))) return;
        const std::size_t name_begin = p, name_stop = name_end(k_, p, e);
        if (!(name_stop < e && is_word(name_stop, "add"_w))) return;
        // The statement ends at ";", a separator or the next statement.
        std::size_t stop = name_stop + 1;
        while (stop < e && !punct(stop, U';') && k_[stop].type != Tok::Separator &&
               !(starts_statement(stop) && !(stop + 1 < e && is_word(stop, "if"_w) && is_word(stop + 1, "not"_w)))) {
            stop = punct(stop, U'(') ? group_end(stop, e) : stop + 1;
        }
        std::vector<Column> added;
        for_each_element(name_stop, stop, [&](std::size_t pb, std::size_t pe) {
            if (pb < pe && is_word(pb, "add"_w)) ++pb;
            if (pb < pe && is_word(pb, "column"_w)) ++pb;
            if (pb + 2 < pe && is_word(pb, "if"_w) && is_word(pb + 1, "not"_w) && is_word(pb + 2, "exists"_w)) pb += 3;
            if (pb >= pe || (k_[pb].type == Tok::Word && k_[pb].reserved)) return;
            std::vector<Column> found = punct(pb, U'(') ? columns(pb + 1, inner_end(pb, pe)) : columns(pb, pe);
            added.insert(added.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
        });
        if (!added.empty()) d.added_columns.push_back({name_text(t_, k_, name_begin, name_stop), std::move(added), name_begin});
    }

    // A word that opens a statement of its own.
    bool starts_statement(std::size_t j) const {
        switch (k_[j].kw) {
            case Kw::Alter: case Kw::Create: case Kw::Drop: case Kw::Insert: case Kw::Update: case Kw::Delete:
            case Kw::Merge: case Kw::Select: case Kw::Exec: case Kw::Execute: case Kw::Truncate: case Kw::If:
            case Kw::While: case Kw::Begin: case Kw::End:
                return true;
            default:
                return in(kStatementWords, word(j));
        }
    }

    // CREATE TABLE #t (...) or CREATE TEMP | TEMPORARY | VOLATILE TABLE t
    // (...) at k[j].
    void create_local(Definitions& d, std::size_t j, std::size_t e) {
        const std::optional<Head> head = parse_head(k_, j, e);
        if (!head || head->kind != ObjectKind::Table || head->name_end == head->name_begin) return;
        bool temporary = k_[head->name_end - 1].type == Tok::Word && k_[head->name_end - 1].ch == U'#';
        for (std::size_t p = j + 1; p < head->name_begin && !temporary; ++p) temporary = in(kTemporary, word(p));
        if (!temporary) return;
        d.local_tables.push_back({name_text(t_, k_, head->name_begin, head->name_end),
                                  table_columns(head->name_end, e), head->name_begin});
    }

    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

   private:
    void match() const {
        match_.assign(last_ - first_, kNone);
        std::vector<std::size_t>& open = pairs_.open;
        open.clear();
        for (std::size_t j = first_; j < last_; ++j) {
            if (punct(j, U'(')) {
                open.push_back(j);
            } else if (punct(j, U')') && !open.empty()) {
                match_[open.back() - first_] = j;
                open.pop_back();
            }
        }
        matched_ = true;
    }

    text::Text<C> t_;
    const std::vector<Token>& k_;
    std::size_t first_, last_;
    Pairs& pairs_;
    mutable bool matched_ = false;
    std::vector<std::size_t>& match_ = pairs_.match;
};

}  // namespace

template <text::CodeUnit C>
Definitions definitions(text::Text<C> sql, const Lexed& lexed, ObjectKind kind, std::size_t name_end,
                        std::size_t first, std::size_t last) {
    const std::vector<Token>& k = lexed.tokens;
    Definitions d;
    Pairs& pairs = thread_scratch<Pairs>();
    const struct Trim {  // the buffers given back when a unit made them large
        Pairs& p;
        ~Trim() {
            shrink_past(p.match, kKeptPairs);
            shrink_past(p.open, kKeptPairs);
        }
    } trim{pairs};
    Reader<C> r(sql, k, first, last, pairs);
    switch (kind) {
        case ObjectKind::Table:
            if (name_end > first) d.columns = r.table_columns(name_end, last);
            break;
        case ObjectKind::View:
            if (name_end > first && name_end < last && r.punct(name_end, U'(')) {
                d.columns = r.names_only(name_end + 1, r.inner_end(name_end, last));
            }
            break;
        case ObjectKind::Type:
            // A table type (AS TABLE (...)) or a composite type (AS (...)).
            if (name_end > first && name_end + 1 < last && r.is_word(name_end, "as"_w)) {
                const std::size_t open = r.is_word(name_end + 1, "table"_w) ? name_end + 2 : name_end + 1;
                if (open < last && r.punct(open, U'(')) d.columns = r.columns(open + 1, r.inner_end(open, last));
            }
            break;
        case ObjectKind::Procedure:
        case ObjectKind::Function:
            if (name_end > first) r.routine(d, kind, name_end, last);
            break;
        default:
            break;
    }
    r.local_tables(d, kind, first, last);
    // Until here a local table's line holds the index of its name's token.
    for (LocalTable& t : d.local_tables) t.line = lexed.line_of(k[t.line].begin);
    for (LocalTable& t : d.added_columns) t.line = lexed.line_of(k[t.line].begin);
    return d;
}

template Definitions definitions(text::Text<std::uint8_t>, const Lexed&, ObjectKind, std::size_t,
                                 std::size_t, std::size_t);
template Definitions definitions(text::Text<std::uint16_t>, const Lexed&, ObjectKind, std::size_t,
                                 std::size_t, std::size_t);
template Definitions definitions(text::Text<std::uint32_t>, const Lexed&, ObjectKind, std::size_t,
                                 std::size_t, std::size_t);

}  // namespace quorvane::inventory
