// The inventory core alone: tokens, separator lines, the three storage
// widths and the names it reports.

#include <string>
#include <vector>

#include "check.hpp"
#include "inventory/inventory.hpp"
#include "inventory/lexer.hpp"
#include "inventory/names.hpp"

namespace inv = quorvane::inventory;
using quorvane::text::Text;

namespace {

template <class C>
std::vector<C> units(const std::u32string& s) {
    return std::vector<C>(s.begin(), s.end());
}

std::string narrow(const inv::Name& n) {
    std::string out;
    for (char32_t c : n) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::string kinds(const std::u32string& s, const inv::DialectRules& rules = inv::kAnyDialect) {
    const auto v = units<std::uint32_t>(s);
    std::string out;
    for (const inv::Token& t : inv::lex(Text<std::uint32_t>(v.data(), v.size()), rules).tokens) {
        static const char* names = "wqsnp|<>";
        out.push_back(names[static_cast<int>(t.type)]);
    }
    return out;
}

}  // namespace

TEST(inventory_tokens) {
    CHECK_EQ(kinds(U"SELECT [a]]b] 'x''y' N'z' 12 , \"q\" `r`"), std::string("wqssnpqq"));
    // Comments vanish; a "/*" with no end is punctuation.
    CHECK_EQ(kinds(U"a -- b\nc /* d */ e"), std::string("www"));
    CHECK_EQ(kinds(U"a /* b -- */ c"), std::string("wppw"));
    // Quotes with no closer are punctuation, and so are later ones.
    CHECK_EQ(kinds(U"'a [b \"c `d"), std::string("pwpwpwpw"));
    // Dollar bodies open only when closed later.
    CHECK_EQ(kinds(U"$$ a $$ $1 $x$"), std::string("<w>pnpw"));
}

TEST(inventory_dialect_tokens) {
    const inv::DialectRules& pg = *inv::find_dialect("postgresql");
    const inv::DialectRules& bq = *inv::find_dialect("bigquery");
    // Nested comments close where their depth returns to zero; one that
    // never does falls back to the first "*/", and so do later ones.
    CHECK_EQ(kinds(U"a /* b /* c */ d */ e", pg), std::string("ww"));
    CHECK_EQ(kinds(U"a /* b /* c */ d e", pg), std::string("www"));
    std::u32string deep;
    for (int i = 0; i < 100000; ++i) deep += U"/*";
    for (int i = 0; i < 100000; ++i) deep += U"*/";
    CHECK_EQ(kinds(deep + U" a b", pg), std::string("ww"));
    // "#" comments, "..." and backslash-escaped strings, raw and triple-quoted ones.
    CHECK_EQ(kinds(U"a # b\nc \"d\" 'e\\'f' r'g\\' \"\"\"h\"i\"\"\" [j]", bq), std::string("wwsssspwp"));
    CHECK(inv::find_dialect("db2") == nullptr);
}

TEST(inventory_separator_lines) {
    CHECK_EQ(kinds(U"a\nGO\nb\n  go 3 -- again\n/\nGOTO x\n"), std::string("w|w||ww"));
    // A GO line inside a comment or literal separates nothing.
    CHECK_EQ(kinds(U"/*\nGO\n*/ 'x\nGO\n'"), std::string("s"));
    // DELIMITER lines separate, and the delimiter then ends statements.
    CHECK_EQ(kinds(U"DELIMITER //\nEND //\nDELIMITER ;\n;"), std::string("|wp|p"));
}

TEST(inventory_same_result_in_every_width) {
    const std::u32string sql =
        U"CREATE PROCEDURE [s].[p\u00e9\u20ac] AS\nUPDATE a SET x = 1 FROM dbo.T\U0001F600 a\nGO\nSELECT 1";
    const auto a = units<std::uint32_t>(sql);
    const auto objects = inv::split_objects(Text<std::uint32_t>(a.data(), a.size()));
    CHECK_EQ(objects.size(), std::size_t{2});
    CHECK(objects[0].name == U"s.p\u00e9\u20ac");
    CHECK(objects[0].refs.writes == std::vector<inv::Name>{U"dbo.T\U0001F600"});
    CHECK_EQ(objects[1].start_line, std::size_t{4});
    // The same text without characters beyond each width gives the same
    // units.
    const std::u32string plain = U"CREATE PROCEDURE [s].[p] AS\nUPDATE a SET x = 1 FROM dbo.T a\nGO\nSELECT 1";
    const auto b1 = units<std::uint8_t>(plain);
    const auto b2 = units<std::uint16_t>(plain);
    const auto o1 = inv::split_objects(Text<std::uint8_t>(b1.data(), b1.size()));
    const auto o2 = inv::split_objects(Text<std::uint16_t>(b2.data(), b2.size()));
    CHECK_EQ(o1.size(), o2.size());
    for (std::size_t i = 0; i < o1.size() && i < o2.size(); ++i) {
        CHECK(o1[i].name == o2[i].name);
        CHECK(o1[i].refs.writes == o2[i].refs.writes);
        CHECK_EQ(o1[i].end_line, o2[i].end_line);
    }
    CHECK_EQ(narrow(o1[0].refs.writes.at(0)), std::string("dbo.T"));
}

TEST(inventory_keywords_in_any_case_and_width) {
    // Every keyword in mixed case, then words that are none (one letter
    // more, longer than any keyword, a Latin-1 letter inside); the last
    // ones end the text, where fewer than 16 units follow a word.
    std::u32string text;
    std::vector<inv::Kw> expected;
    for (const inv::KeywordRow& row : inv::kKeywords) {
        for (std::size_t i = 0; i < row.word.size(); ++i) {
            const char c = row.word[i];
            text.push_back(static_cast<char32_t>(i % 2 == 1 && c >= 'a' && c <= 'z' ? c - 0x20 : c));
        }
        text += U' ';
        expected.push_back(row.kw);
    }
    for (const char32_t* w : {U"selectx", U"transactionstatus", U"s\u00e9lect", U"SeLeCt", U"INTO"}) {
        text += w;
        text += U' ';
    }
    text += U"x\nfROM";
    expected.insert(expected.end(), {inv::Kw::None, inv::Kw::None, inv::Kw::None, inv::Kw::Select, inv::Kw::Into,
                                     inv::Kw::None, inv::Kw::From});
    const auto bytes = units<std::uint8_t>(text);
    const auto wide = units<std::uint32_t>(text);
    const auto narrow_tokens = inv::lex(Text<std::uint8_t>(bytes.data(), bytes.size())).tokens;
    const auto wide_tokens = inv::lex(Text<std::uint32_t>(wide.data(), wide.size())).tokens;
    CHECK_EQ(narrow_tokens.size(), expected.size());
    CHECK_EQ(wide_tokens.size(), expected.size());
    for (std::size_t i = 0; i < expected.size() && i < narrow_tokens.size() && i < wide_tokens.size(); ++i) {
        CHECK(narrow_tokens[i].kw == expected[i]);
        CHECK(wide_tokens[i].kw == expected[i]);
        CHECK_EQ(narrow_tokens[i].reserved, wide_tokens[i].reserved);
    }
}

TEST(inventory_deep_nesting_is_flat_work) {
    // Nested parentheses and blocks a million deep: no recursion to
    // overflow, one unit.
    const std::string text =
        "SELECT * FROM " + std::string(1'000'000, '(') + "SELECT * FROM t" + std::string(1'000'000, ')');
    const auto objects =
        inv::split_objects(Text<std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    CHECK_EQ(objects.size(), std::size_t{1});
    CHECK(objects.at(0).refs.reads == std::vector<inv::Name>{U"t"});
}

TEST(inventory_key_set_listed_and_indexed) {
    // Past its first keys the set moves to an index: every key stays found
    // once, in both forms, and near misses stay out.
    const auto key_of = [](int i) {
        return U"v" + inv::Name(i % 7 + 1, U'x') + inv::Name(1, U'0' + i % 10) + inv::Name(1, char32_t(0x4E00 + i));
    };
    inv::KeySet set;
    CHECK(set.empty());
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 1000; ++i) set.insert(key_of(i));
    }
    for (int i = 0; i < 1000; ++i) {
        const inv::Name key = key_of(i);
        CHECK(set.contains(key));
        CHECK(!set.contains(key + U"x"));
        CHECK(!set.contains(key.substr(0, key.size() - 1)));
    }
    inv::KeySet few;
    few.insert(U"a");
    few.insert(U"a");
    CHECK(few.contains(U"a"));
    CHECK(!few.contains(U"b"));
    CHECK(!few.contains(U""));
    // Emptied (a scanner reuses its sets unit after unit), a set holds
    // nothing it held, and fills again in either form.
    for (inv::KeySet* s : {&set, &few}) {
        s->clear();
        CHECK(s->empty());
        CHECK(!s->contains(U"a"));
        CHECK(!s->contains(key_of(0)));
    }
    for (int i = 0; i < 20; ++i) set.insert(key_of(2 * i));
    for (int i = 0; i < 40; ++i) CHECK_EQ(set.contains(key_of(i)), i % 2 == 0);
}
