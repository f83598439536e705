// The regex wrapper gives the host's semantics in every storage width.

#include <string>
#include <vector>

#include "check.hpp"
#include "complexity/classifier.hpp"
#include "loresift/loresift.hpp"
#include "shared/regex.hpp"
#include "shared/unicode.hpp"

namespace rx = quorvane::rx;
using quorvane::text::Text;

namespace {

// Runs `check(text)` on the text stored in every width that can hold it.
template <class F>
void in_all_widths(std::u32string_view s, F&& check) {
    std::uint32_t max = 0;
    for (char32_t c : s) max = std::max<std::uint32_t>(max, c);
    if (max < 0x100) {
        std::vector<std::uint8_t> v(s.begin(), s.end());
        check(Text<std::uint8_t>(v.data(), v.size()));
    }
    if (max < 0x10000) {
        std::vector<std::uint16_t> v(s.begin(), s.end());
        check(Text<std::uint16_t>(v.data(), v.size()));
    }
    std::vector<std::uint32_t> v(s.begin(), s.end());
    check(Text<std::uint32_t>(v.data(), v.size()));
}

bool found(const rx::Regex& re, std::u32string_view s) {
    int hits = 0;
    int runs = 0;
    in_all_widths(s, [&](auto t) {
        ++runs;
        hits += re.search(t).has_value();
    });
    if (hits != 0 && hits != runs) qtest::fail(__FILE__, __LINE__, "widths disagree");
    return hits == runs;
}

std::size_t count(const rx::Regex& re, std::u32string_view s) {
    std::vector<std::uint32_t> v(s.begin(), s.end());
    return re.count(Text<std::uint32_t>(v.data(), v.size()));
}

}  // namespace

TEST(word_boundary_uses_letters_and_numbers_only) {
    const rx::Regex merge(R"(\bMERGE\b)", rx::kIgnoreCase);
    CHECK(found(merge, U"x MERGE y"));
    CHECK(!found(merge, U"MERGE\u00e9"));        // a Latin-1 letter continues the word
    CHECK(!found(merge, U"\u00b2MERGE"));        // so does a superscript digit
    CHECK(!found(merge, U"\u0663MERGE"));        // and an Arabic-Indic digit
    CHECK(found(merge, U"MERGE\u0301"));         // a combining mark does not
    CHECK(found(merge, U"MERGE\u203f"));         // nor connector punctuation other than _
    CHECK(!found(merge, U"MERGE_"));
    // Lone surrogates are plain characters.
    const std::vector<std::uint16_t> s16 = {0xD800, 'M', 'E', 'R', 'G', 'E', 0xDC00};
    CHECK(merge.search(Text<std::uint16_t>(s16.data(), s16.size())).has_value());
    const std::vector<std::uint32_t> s32 = {'M', 'E', 'R', 'G', 'E', 0xDFFF};
    CHECK(merge.search(Text<std::uint32_t>(s32.data(), s32.size())).has_value());
    CHECK(found(merge, U"merge"));
}

TEST(space_is_the_whitespace_set) {
    const rx::Regex ws(R"(a\sb)", rx::kNoFlags);
    for (char32_t c : std::u32string(U"\t\n\v\f\r\x1c\x1d\x1e\x1f \x85\xa0\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u3000")) {
        CHECK(found(ws, std::u32string(U"a") + c + U"b"));
    }
    for (char32_t c : std::u32string(U"\u180e\u200b\ufeff\x08")) CHECK(!found(ws, std::u32string(U"a") + c + U"b"));
    const rx::Regex non_ws(R"(a\Sb)", rx::kNoFlags);
    CHECK(found(non_ws, U"a\u180eb"));
    CHECK(!found(non_ws, U"a\x1c" U"b"));
}

TEST(case_folding_is_simple_folding) {
    const rx::Regex sp(R"(\bsp_executesql\b)", rx::kIgnoreCase);
    CHECK(found(sp, U"\u017fp_execute\u017fql"));
    CHECK(found(sp, U"SP_EXECUTESQL"));
    const rx::Regex kill(R"(\bKILL\b)", rx::kIgnoreCase);
    CHECK(found(kill, U"\u212aill"));
    const rx::Regex if_exists(R"(\bIF\s+EXISTS\b)", rx::kIgnoreCase);
    CHECK(found(if_exists, U"if exists"));
    CHECK(!found(if_exists, U"\u0130F EXISTS"));
    CHECK(!found(if_exists, U"\u0131f exists"));
    const rx::Regex plain(R"(MERGE)", rx::kNoFlags);
    CHECK(!found(plain, U"merge"));
}

TEST(dot_and_line_anchors_see_only_lf) {
    const rx::Regex line_comment(R"(--.*$)", rx::kMultiLine);
    std::vector<std::uint32_t> t = {'x', '-', '-', 'a', '\r', 'b', 0x2028, 'c', '\n', 'd'};
    const auto m = line_comment.search(Text<std::uint32_t>(t.data(), t.size()));
    CHECK(m.has_value());
    CHECK_EQ(m->start, 1u);
    CHECK_EQ(m->end, 8u);
    const rx::Regex start(R"(^##)", rx::kMultiLine);
    CHECK(found(start, U"x\n## y"));
    CHECK(!found(start, U"x\r## y"));
    const rx::Regex block(R"(/\*.*?\*/)", rx::kDotAll);
    CHECK(found(block, U"/* a \n b */"));
    const rx::Regex end_only(R"(GO\s*$)", rx::kIgnoreCase);
    CHECK(found(end_only, U"go\n"));
    CHECK(!found(end_only, U"go\nx"));
}

TEST(counting_follows_the_host) {
    CHECK_EQ(count(rx::Regex(R"(x*)", rx::kNoFlags), U"axx"), 3u);  // '', 'xx', ''
    CHECK_EQ(count(rx::Regex(R"(#\w+)", rx::kNoFlags), U"##g #t1 #t1#"), 3u);
    CHECK_EQ(count(rx::Regex(R"(a|)", rx::kNoFlags), U"aa"), 3u);   // 'a', 'a', ''
}

TEST(anchored_match) {
    const rx::Regex header(R"(^CREATE\s+(?:OR\s+ALTER\s+)?(?:PROC|PROCEDURE|FUNCTION)\b)", rx::kIgnoreCase);
    std::vector<std::uint8_t> a = {'x', 'C', 'R', 'E', 'A', 'T', 'E', ' ', 'P', 'R', 'O', 'C'};
    CHECK(!header.match(Text<std::uint8_t>(a.data(), a.size())).has_value());
    CHECK(header.match(Text<std::uint8_t>(a.data() + 1, a.size() - 1)).has_value());
    CHECK(!found(header, U"CREATE PROCEDURES"));
    CHECK(found(header, U"create or alter proc x"));
}

TEST(engine_errors_are_never_no_match) {
    rx::Regex trap(R"((?:a+)+b)", rx::kNoFlags);
    trap.set_match_limit_for_testing(1000);
    std::vector<std::uint8_t> t(40, 'a');
    t.push_back('c');
    t.push_back('b');  // present, so no required-character shortcut applies
    bool threw = false;
    try {
        (void)trap.search(Text<std::uint8_t>(t.data(), t.size()));
    } catch (const rx::EngineError& e) {
        threw = e.code() < 0;
    }
    CHECK(threw);
}

TEST(unsupported_syntax_is_rejected_at_load) {
    for (const char* p : {"(?P<x>a)", "\\1", "a++", "(?i)a", "[\\w-z", "(a", "a)", "\\p{L}", "\u00e9"}) {
        bool threw = false;
        try {
            rx::Regex re(p, rx::kNoFlags);
        } catch (const rx::PatternError&) {
            threw = true;
        }
        CHECK(threw);
    }
}

TEST(every_table_compiles) {
    quorvane::complexity::Classifier classifier;
    quorvane::loresift::CategoryDetector detector;
    std::vector<std::uint8_t> t = {'S', 'E', 'L', 'E', 'C', 'T'};
    CHECK_EQ(detector.detect(Text<std::uint8_t>(t.data(), t.size())), 1u << 13);
}

#include <random>

#include "complexity/tables.hpp"
#include "loresift/tables.hpp"
#include "shared/narrow.hpp"
#include "shared/pattern.hpp"

TEST(narrowed_texts_give_the_same_matches) {
    std::vector<quorvane::text::PatternSpec> rows(quorvane::complexity::kComplexPatterns.begin(),
                                                   quorvane::complexity::kComplexPatterns.end());
    rows.insert(rows.end(), quorvane::complexity::kModeratePatterns.begin(),
                 quorvane::complexity::kModeratePatterns.end());
    rows.push_back(quorvane::complexity::kStoredProcPattern);
    for (const auto& c : quorvane::loresift::kCategoryPatterns) rows.push_back(c.pattern);
    std::vector<quorvane::text::Pattern> patterns;
    for (const auto& s : rows) patterns.emplace_back(s);

    const std::vector<std::u32string> pieces = {
        U"MERGE", U"merge", U"CURSOR", U"cur\u017for", U"WITH x AS (", U"#t", U"@t TABLE", U"CASE WHEN",
        U"sp_executesql", U"\u017fp_execute\u017fql", U"OVER (", U"\u212aILL", U"IF EXISTS", U"\u0130F EXISTS",
        U"SELECT", U"LEFT JOIN", U"GROUP BY(", U"COUNT(", U"DECLARE c CURSOR", U"EXEC(", U"CREATE PROC",
        U" ", U"\n", U"\u2028", U"\u3000", U"\u00a0", U"\u0085", U"\u00e9", U"\u4e2d", U"\u0663", U"\u0301",
        U"\u203f", U"\ud7ff", U"\U0001F600", U"\U00020000", U"(", U")", U"_", U"x"};
    std::mt19937 rng(2024);
    for (int round = 0; round < 4000; ++round) {
        std::u32string s;
        for (int i = static_cast<int>(rng() % 12); i > 0; --i) s += pieces[rng() % pieces.size()];
        if (rng() % 4 == 0) s.insert(s.begin() + static_cast<std::ptrdiff_t>(rng() % (s.size() + 1)), char32_t(0xD800 + rng() % 0x800));
        std::vector<std::uint32_t> wide(s.begin(), s.end());
        std::vector<std::uint8_t> narrow;
        quorvane::text::append_narrowed(Text<std::uint32_t>(wide.data(), wide.size()), 0, wide.size(), narrow);
        const Text<std::uint32_t> w(wide.data(), wide.size());
        const Text<std::uint8_t> n(narrow.data(), narrow.size());
        for (const auto& p : patterns) {
            CHECK(p.narrowable());
            CHECK_EQ(p.count(w), p.count(n));
        }
        CHECK_EQ(quorvane::text::count_nonblank_lines(w), quorvane::text::count_nonblank_lines(n));
    }
}

TEST(narrowability_is_detected) {
    CHECK(!rx::Regex(R"(\d+)", rx::kNoFlags).narrowable());
    CHECK(!rx::Regex(R"(risk)", rx::kNoFlags).narrowable());
    CHECK(!rx::Regex(R"([a-z])", rx::kNoFlags).narrowable());
    CHECK(rx::Regex(R"(risk)", rx::kIgnoreCase).narrowable());
    CHECK(rx::Regex(R"(#\w+)", rx::kNoFlags).narrowable());
}

TEST(engine_word_class_matches_the_hosts_for_every_character) {
    // The planner matches wide texts with PCRE2's own Unicode tables; they
    // must agree with the host's (the generated table) on every character.
    const rx::Regex proc(R"(PROC\b)", rx::kIgnoreCase);
    std::vector<std::uint32_t> t = {'P', 'R', 'O', 'C', 0};
    std::size_t disagreements = 0;
    for (std::uint32_t c = 0; c < 0x110000; ++c) {
        t[4] = c;
        const bool boundary = proc.search(Text<std::uint32_t>(t.data(), t.size())).has_value();
        disagreements += boundary == quorvane::unicode::is_word(c);
        if (c < 0x10000) {
            const std::vector<std::uint16_t> n(t.begin(), t.end());
            disagreements += proc.search(Text<std::uint16_t>(n.data(), n.size())).has_value() == boundary ? 0 : 1;
        }
    }
    CHECK_EQ(disagreements, 0u);
}

TEST(presence_alternatives_distribute_the_sequence) {
    using V = std::vector<std::string>;
    CHECK((rx::presence_alternatives(R"(\bCURSOR\b)") == V{R"(\bCURSOR\b)"}));
    CHECK((rx::presence_alternatives(R"(\b(?:A|B\s+C)\s*\()") == V{R"(\b(?:A)\s*\()", R"(\b(?:B\s+C)\s*\()"}));
    CHECK((rx::presence_alternatives(R"(#\w+|@\w+\s+TABLE)") == V{R"(#\w+|@\w+\s+TABLE)"}));
    CHECK((rx::presence_alternatives(R"(\bEXEC(?:UTE)?\s*\()") == V{R"(\bEXEC(?:UTE)?\s*\()"}));
    CHECK((rx::presence_alternatives(R"(\b(?:X(?:Y|Z)|W)\b)") == V{R"(\b(?:X(?:Y|Z))\b)", R"(\b(?:W)\b)"}));
}

TEST(searches_can_bound_where_a_match_starts) {
    const rx::Regex word(R"(\bAB\w*)", rx::kNoFlags, rx::Regex::Starts::Bounded);
    std::vector<std::uint8_t> t = {'x', ' ', 'A', 'B', 'C', 'D', ' ', 'A', 'B'};
    const Text<std::uint8_t> v(t.data(), t.size());
    CHECK(!word.search_starting_by(v, 0, 1).has_value());
    const auto m = word.search_starting_by(v, 0, 2);
    CHECK(m.has_value() && m->end == 6);  // the match runs past the bound
    CHECK(!word.search_starting_by(v, 3, 6).has_value());  // \b still sees the 'A' before
    CHECK(word.search_starting_by(v, 3, 7).has_value());
}

TEST(presence_and_first_start_through_alternatives_equal_the_patterns) {
    std::vector<quorvane::text::PatternSpec> rows(quorvane::complexity::kComplexPatterns.begin(),
                                                   quorvane::complexity::kComplexPatterns.end());
    for (const auto& c : quorvane::loresift::kCategoryPatterns) rows.push_back(c.pattern);
    std::vector<quorvane::text::Pattern> patterns;
    std::vector<rx::Regex> whole;
    for (const auto& s : rows) {
        patterns.emplace_back(s);
        whole.emplace_back(s.text, s.flags);
    }
    const std::vector<std::u32string> pieces = {
        U"LIKE", U"LEFT", U"li\u212ae", U"\u017ftuff", U"STUFFY", U"xLIKE", U"CAST", U"TRY_CAST", U"SELECT",
        U"FOR JSON", U"FOR\nJSON", U"JSON_VALUE", U"IS NULL", U"IS  NOT\tNULL", U"ISNULL", U"RANK (", U"LAG(",
        U"GROUP BY (", U"COUNT(", U"INNER JOIN", U"FULL OUTER JOIN", U"CREATE OR ALTER PROC", U"EXEC",
        U"\u0130", U" ", U"\n", U"(", U"_", U"\u00e9", U"\u0301", U"x"};
    std::mt19937 rng(77);
    for (int round = 0; round < 10000; ++round) {
        std::u32string s;
        for (int i = static_cast<int>(rng() % 8); i > 0; --i) s += pieces[rng() % pieces.size()];
        // Now and then long enough to cross the search windows.
        if (round % 100 == 0) s = std::u32string(40000 + rng() % 100000, U' ') + s;
        // and now and then with matches of several parts in one window.
        if (round % 100 == 50) s += std::u32string(rng() % 40000, U' ') + s;
        std::vector<std::uint32_t> v(s.begin(), s.end());
        const Text<std::uint32_t> t(v.data(), v.size());
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            const auto m = whole[i].search(t);
            CHECK_EQ(patterns[i].found_in(t), m.has_value());
            const auto start = patterns[i].first_start(t);
            CHECK_EQ(start.has_value(), m.has_value());
            if (start && m) CHECK_EQ(*start, m->start);
        }
    }
}
