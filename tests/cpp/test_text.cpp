// Line splitting, trimming, word counting, comment removal and lower-casing.

#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "reference_rules.hpp"
#include "shared/comments.hpp"
#include "shared/scan.hpp"
#include "shared/text.hpp"
#include "shared/unicode.hpp"
#include "shared/utf8.hpp"

using quorvane::text::Text;
namespace text = quorvane::text;

namespace {

std::vector<std::uint32_t> u32(std::u32string_view s) { return {s.begin(), s.end()}; }

template <class C>
std::vector<std::pair<std::size_t, std::size_t>> lines_of(const std::vector<C>& v) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    text::for_each_line(Text<C>(v.data(), v.size()), [&](std::size_t b, std::size_t e) { out.emplace_back(b, e); });
    return out;
}

}  // namespace

TEST(every_line_break_ends_a_line) {
    for (std::uint32_t br : {0x0Au, 0x0Bu, 0x0Cu, 0x0Du, 0x1Cu, 0x1Du, 0x1Eu, 0x85u, 0x2028u, 0x2029u}) {
        const std::vector<std::uint32_t> t = {'a', br, 'b', br};
        const auto lines = lines_of(t);
        CHECK_EQ(lines.size(), 2u);
        CHECK((lines[0] == std::pair<std::size_t, std::size_t>(0, 1)));
    }
    for (std::uint32_t other : {0x1Fu, 0x09u, 0x20u, 0xA0u, 0x200Bu, 0xFEFFu}) {
        const std::vector<std::uint32_t> t = {'a', other, 'b'};
        CHECK_EQ(lines_of(t).size(), 1u);
    }
}

TEST(crlf_is_one_break_and_a_final_break_adds_no_line) {
    CHECK_EQ(lines_of(u32(U"a\r\nb")).size(), 2u);
    CHECK_EQ(lines_of(u32(U"a\n\rb")).size(), 3u);  // LF then CR: two breaks
    CHECK_EQ(lines_of(u32(U"a\r\n")).size(), 1u);
    CHECK_EQ(lines_of(u32(U"\n")).size(), 1u);
    CHECK_EQ(lines_of(u32(U"")).size(), 0u);
    CHECK_EQ(lines_of(u32(U"\n\n")).size(), 2u);
}

TEST(whitespace_set_is_exact) {
    const std::u32string ws =
        U"\t\n\v\f\r\x1c\x1d\x1e\x1f \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009"
        U"\u200a\u2028\u2029\u202f\u205f\u3000";
    std::size_t count = 0;
    for (std::uint32_t c = 0; c < 0x110000; ++c) count += text::is_space(c);
    CHECK_EQ(count, ws.size());
    for (char32_t c : ws) CHECK(text::is_space(c));
    for (std::uint32_t c : {0x200Bu, 0xFEFFu, 0x180Eu, 0x08u, 0x21u}) CHECK(!text::is_space(c));
}

TEST(nonblank_lines_and_words) {
    const auto t = u32(U" a \n\t\n\u3000\r\n\ufeff\n\u200b\x1f\x1c x");
    const Text<std::uint32_t> v(t.data(), t.size());
    CHECK_EQ(text::count_nonblank_lines(v), 4u);  // " a ", U+FEFF, U+200B, " x"
    CHECK_EQ(text::count_words(v), 4u);
    CHECK_EQ(text::count_words(Text<std::uint32_t>()), 0u);
}

TEST(nonblank_lines_match_splitting_and_trimming) {
    std::mt19937 rng(99);
    const std::u32string alphabet = U"a \t\n\r\v\x1c\x1f\x85\xa0\u2028\u3000\u200b";
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::uint32_t> v(rng() % 40);
        for (auto& c : v) c = alphabet[rng() % alphabet.size()];
        const Text<std::uint32_t> t(v.data(), v.size());
        std::size_t expected = 0;
        text::for_each_line(t, [&](std::size_t b, std::size_t e) {
            const auto [tb, te] = text::trim(t, b, e);
            expected += tb != te;
        });
        CHECK_EQ(text::count_nonblank_lines(t), expected);
        std::vector<std::uint16_t> narrow(v.begin(), v.end());
        CHECK_EQ(text::count_nonblank_lines(Text<std::uint16_t>(narrow.data(), narrow.size())), expected);
    }
}

TEST(word_counts_match_a_plain_scan) {
    std::mt19937 rng(5);
    const std::u32string alphabet = U"ab \t\n\x1c\x1f\x85\xa0\u3000\u2028\u200b\u180e";
    for (int round = 0; round < 5000; ++round) {
        std::vector<std::uint32_t> v(rng() % 300);
        for (auto& c : v) c = alphabet[rng() % alphabet.size()];
        std::size_t expected = 0;
        for (std::size_t i = 0; i < v.size(); ++i) expected += !text::is_space(v[i]) && (i == 0 || text::is_space(v[i - 1]));
        CHECK_EQ(text::count_words(Text<std::uint32_t>(v.data(), v.size())), expected);
        std::vector<std::uint16_t> w(v.begin(), v.end());
        CHECK_EQ(text::count_words(Text<std::uint16_t>(w.data(), w.size())), expected);
        std::vector<std::uint8_t> b;
        for (auto c : v) b.push_back(c < 256 ? static_cast<std::uint8_t>(c) : 'x');
        std::size_t expected8 = 0;
        for (std::size_t i = 0; i < b.size(); ++i) expected8 += !text::is_space(b[i]) && (i == 0 || text::is_space(b[i - 1]));
        CHECK_EQ(text::count_words(Text<std::uint8_t>(b.data(), b.size())), expected8);
    }
    std::vector<std::uint8_t> many(100000, 'a');
    for (std::size_t i = 1; i < many.size(); i += 2) many[i] = ' ';
    CHECK_EQ(text::count_words(Text<std::uint8_t>(many.data(), many.size())), 50000u);  // counters flush
}

namespace {

// find_either, find_pair and find_line_break against a plain scan, on
// texts of width C with hits at any lane of a block.
template <class C>
void searches_match_a_plain_scan(std::mt19937& rng) {
    const std::u32string alphabet = U"aaaaaaab*/\n\r\x85";
    std::vector<C> v(rng() % 80);
    for (auto& c : v) c = static_cast<C>(alphabet[rng() % alphabet.size()]);
    const Text<C> t(v.data(), v.size());
    const std::size_t from = rng() % (v.size() + 1);
    std::size_t either = from, pair = from, line = from;
    while (either < v.size() && v[either] != '*' && v[either] != '/') ++either;
    while (pair + 1 < v.size() && !(v[pair] == '*' && v[pair + 1] == '/')) ++pair;
    if (pair + 1 >= v.size()) pair = v.size();
    while (line < v.size() && !text::is_line_break(v[line])) ++line;
    CHECK_EQ(text::find_either(t, from, C('*'), C('/')), either);
    CHECK_EQ(text::find_pair(t, from, C('*'), C('/')), pair);
    CHECK_EQ(text::find_line_break(t, from), line);
}

}  // namespace

TEST(vector_searches_match_a_plain_scan) {
    std::mt19937 rng(11);
    for (int round = 0; round < 5000; ++round) {
        searches_match_a_plain_scan<std::uint8_t>(rng);
        searches_match_a_plain_scan<std::uint16_t>(rng);
        searches_match_a_plain_scan<std::uint32_t>(rng);
    }
}

TEST(comment_removal_examples) {
    auto strip = [](std::u32string_view s) {
        const auto in = u32(s);
        std::vector<std::uint32_t> out;
        if (!text::strip_comments(Text<std::uint32_t>(in.data(), in.size()), out)) return in;
        return out;
    };
    CHECK(strip(U"a/* x */b") == u32(U"ab"));
    CHECK(strip(U"/* note -- x */ MERGE t\nSELECT 1") == u32(U"/* note \nSELECT 1"));
    CHECK(strip(U"/* a -- b */ x\nUPDATE t /* c */ SELECT") == u32(U" SELECT"));
    CHECK(strip(U"/* a /* b */ c */") == u32(U" c */"));
    CHECK(strip(U"x -- c\r\ny") == u32(U"x \ny"));
    CHECK(strip(U"/*/ x */y") == u32(U"y"));
    CHECK(strip(U"a */ b") == u32(U"a */ b"));
    CHECK(strip(U"a /* b") == u32(U"a /* b"));
    CHECK(strip(U"-- /* a\n*/ b") == u32(U"\n*/ b"));
}

TEST(comment_removal_matches_the_two_substitutions) {
    std::mt19937 rng(12345);
    const std::u32string alphabet = U"-/*\n a\r";
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::uint32_t> in(rng() % 24);
        for (auto& c : in) c = alphabet[rng() % alphabet.size()];
        std::vector<std::uint32_t> out;
        const bool changed = text::strip_comments(Text<std::uint32_t>(in.data(), in.size()), out);
        const auto expected = quorvane::reference::strip_comments(Text<std::uint32_t>(in.data(), in.size()));
        CHECK(changed ? out == expected : in == expected);
    }
}

TEST(lower_case_is_the_hosts) {
    auto lower = [](std::u32string_view s) {
        const auto in = u32(s);
        std::u32string out;
        quorvane::unicode::append_lower(Text<std::uint32_t>(in.data(), in.size()), 0, in.size(), out);
        return out;
    };
    CHECK(lower(U"\u0130") == U"i\u0307");
    CHECK(lower(U"\u0391\u03a3") == U"\u03b1\u03c2");
    CHECK(lower(U"\u03a3") == U"\u03c3");
    CHECK(lower(U"\u0391\u03a3\u0391") == U"\u03b1\u03c3\u03b1");
    CHECK(lower(U"\u0391'\u03a3'") == U"\u03b1'\u03c2'");
    CHECK(lower(U"\u0391\u03a3\u0301\u0391") == U"\u03b1\u03c3\u0301\u03b1");
    CHECK(lower(U"\u1e9e\u2126\u212aABC\u00c0") == U"\u00df\u03c9kabc\u00e0");
}

TEST(word_characters_are_letters_and_numbers) {
    using quorvane::unicode::is_word;
    for (std::uint32_t c : {0x61u, 0x5Au, 0x30u, 0x5Fu, 0xE9u, 0x4E00u, 0x0663u, 0x00B2u, 0x2160u, 0x1D7CEu, 0x212Au})
        CHECK(is_word(c));
    for (std::uint32_t c : {0x20u, 0x2Du, 0x23u, 0x0301u, 0x203Fu, 0xD800u, 0x200Bu, 0xFEFFu, 0x110000u})
        CHECK(!is_word(c));
}

TEST(utf8_is_read_as_the_hosts_strict_decoder_reads_it) {
    std::vector<std::uint32_t> out;
    const auto decode = [&](std::string_view bytes) { return text::decode_utf8(bytes, out); };
    CHECK_EQ(decode("a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80"), 0x1F600);
    CHECK(out == u32(U"a\u00e9\u4e2d\U0001f600"));
    CHECK_EQ(decode("\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf"), 0x10FFFF);  // either side of the surrogates, the last
    for (std::string_view bad : {"\x80", "\xc0\xaf", "\xc1\xbf", "\xe0\x9f\xbf", "\xed\xa0\x80", "\xf0\x8f\xbf\xbf",
                                 "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "\xff", "\xc3", "\xe4\xb8", "\xe4\x41\xad"})
        CHECK_EQ(decode(bad), -1);
    CHECK(text::is_ascii("SELECT 1 FROM t WHERE x = 'y'") && !text::is_ascii("SELECT 1 FROM t WHERE x = '\xc3\xa9'"));
}
