#include "loresift/loresift.hpp"

#include <algorithm>
#include <cmath>

#include "shared/narrow.hpp"
#include "shared/scan.hpp"
#include "shared/regex.hpp"
#include "shared/unicode.hpp"

namespace quorvane::loresift {
namespace {

// Whether `needle` occurs in `hay`, in time linear in both sizes.
bool contains(std::u32string_view hay, std::u32string_view needle) {
    if (needle.size() > hay.size()) return false;
    if (needle.size() <= 32) return hay.find(needle) != std::u32string_view::npos;
    // Knuth-Morris-Pratt for long needles.
    std::vector<std::size_t> border(needle.size(), 0);
    for (std::size_t i = 1, k = 0; i < needle.size(); ++i) {
        while (k > 0 && needle[i] != needle[k]) k = border[k - 1];
        if (needle[i] == needle[k]) ++k;
        border[i] = k;
    }
    for (std::size_t i = 0, k = 0; i < hay.size(); ++i) {
        while (k > 0 && hay[i] != needle[k]) k = border[k - 1];
        if (hay[i] == needle[k]) ++k;
        if (k == needle.size()) return true;
    }
    return false;
}

std::vector<std::string_view> titles_for(const std::vector<std::string_view>& keys,
                                         std::span<const std::string_view> always,
                                         std::span<const TitleRow> table) {
    std::vector<std::string_view> titles(always.begin(), always.end());
    auto add = [&](std::string_view t) {
        if (std::find(titles.begin(), titles.end(), t) == titles.end()) titles.push_back(t);
    };
    for (std::string_view key : keys) {
        for (const TitleRow& row : table) {
            if (row.key != key) continue;
            for (std::string_view t : row.list()) add(t);
        }
    }
    return titles;
}

// Position of the next LF at or after `from` that a "## " follows, or the
// size of the document.
template <text::CodeUnit C>
std::size_t next_heading(text::Text<C> doc, std::size_t from) {
    const std::size_t n = doc.size();
    for (std::size_t i = text::find_pair(doc, from, C('\n'), C('#')); i + 3 < n;
         i = text::find_pair(doc, i + 1, C('\n'), C('#'))) {
        if (doc[i + 2] == '#' && doc[i + 3] == ' ') return i;
    }
    return n;
}

}  // namespace

CategoryDetector::CategoryDetector() {
    patterns_.reserve(kCategoryPatterns.size());
    for (const CategoryPattern& c : kCategoryPatterns) {
        patterns_.emplace_back(c.pattern);
        // Every search runs on the narrowed comment-free text.
        if (!patterns_.back().narrowable()) {
            throw rx::PatternError("pattern depends on more than character classes: " + std::string(c.pattern.text));
        }
    }
}

template <text::CodeUnit C>
CategorySet CategoryDetector::detect(text::Text<C> sql) const {
    text::ScratchLease scratch;
    const text::Text<std::uint8_t> stripped = text::comment_free_narrow(sql, scratch.buffer());
    CategorySet found = 0;
    for (std::size_t i = 0; i < patterns_.size(); ++i) {
        if (patterns_[i].found_in(stripped)) found |= CategorySet{1} << i;
    }
    return found;
}

template <text::CodeUnit C>
std::vector<text::Location> CategoryDetector::locate(text::Text<C> sql) const {
    return text::locate_first_matches(sql, [&](auto&& visit) {
        for (std::size_t i = 0; i < patterns_.size(); ++i) visit(patterns_[i], kCategoryKind, kCategoryPatterns[i].key);
    });
}

template <text::CodeUnit C>
SectionSelection extract_sections(text::Text<C> doc, const std::vector<std::u32string>& lowered_titles) {
    SectionSelection selection;
    const std::size_t n = doc.size();
    if (lowered_titles.empty() || n == 0) return selection;

    // Titles that are ASCII are also kept as bytes: most headings are ASCII,
    // and byte searches are the fastest.
    std::vector<std::string> ascii_titles(lowered_titles.size());
    std::vector<bool> is_ascii(lowered_titles.size());
    for (std::size_t k = 0; k < lowered_titles.size(); ++k) {
        const std::u32string& t = lowered_titles[k];
        is_ascii[k] = std::all_of(t.begin(), t.end(), [](char32_t c) { return c < 0x80; });
        if (is_ascii[k]) ascii_titles[k].assign(t.begin(), t.end());
    }

    std::u32string header;
    std::string ascii_header;
    auto matches = [&](std::size_t hb, std::size_t he) {
        const bool ascii = std::all_of(doc.begin() + static_cast<std::ptrdiff_t>(hb),
                                       doc.begin() + static_cast<std::ptrdiff_t>(he), [](C c) { return c < 0x80; });
        bool wide_ready = false;
        if (ascii) {
            ascii_header.resize(he - hb);
            for (std::size_t i = hb; i < he; ++i) {
                const auto c = static_cast<char>(doc[i]);
                ascii_header[i - hb] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
            }
        }
        for (std::size_t k = 0; k < lowered_titles.size(); ++k) {
            if (!(ascii && is_ascii[k]) && !wide_ready) {
                header.clear();
                unicode::append_lower(doc, hb, he, header);
                wide_ready = true;
            }
            if (ascii && is_ascii[k]) {
                const std::string_view h(ascii_header);
                const std::string_view t(ascii_titles[k]);
                if (h.find(t) != std::string_view::npos || t.find(h) != std::string_view::npos) return true;
            } else if (contains(header, lowered_titles[k]) || contains(lowered_titles[k], header)) {
                return true;
            }
        }
        return false;
    };
    auto consider = [&](std::size_t begin, std::size_t end) {
        const auto [tb, te] = text::trim(doc, begin, end);
        if (tb == te) return;
        const std::size_t line_end = std::min(text::find_unit(doc, tb, C('\n')), te);
        std::size_t h = tb;
        while (h < line_end && doc[h] == '#') ++h;
        const auto [hb, he] = text::trim(doc, h, line_end);
        if (matches(hb, he)) {
            selection.sections.emplace_back(tb, te);
            selection.words += text::count_words(doc.subspan(tb, te - tb));
        }
    };

    // Pieces end just before every "## " that follows an LF.  (A "## " at
    // the very start would only cut off an empty first piece.)
    std::size_t piece = 0;
    for (std::size_t i = next_heading(doc, 0); i < n; i = next_heading(doc, i + 1)) {
        consider(piece, i + 1);
        piece = i + 1;
    }
    consider(piece, n);
    return selection;
}

template SectionSelection extract_sections(text::Text<std::uint8_t>, const std::vector<std::u32string>&);
template SectionSelection extract_sections(text::Text<std::uint16_t>, const std::vector<std::u32string>&);
template SectionSelection extract_sections(text::Text<std::uint32_t>, const std::vector<std::u32string>&);
template CategorySet CategoryDetector::detect(text::Text<std::uint8_t>) const;
template CategorySet CategoryDetector::detect(text::Text<std::uint16_t>) const;
template CategorySet CategoryDetector::detect(text::Text<std::uint32_t>) const;
template std::vector<text::Location> CategoryDetector::locate(text::Text<std::uint8_t>) const;
template std::vector<text::Location> CategoryDetector::locate(text::Text<std::uint16_t>) const;
template std::vector<text::Location> CategoryDetector::locate(text::Text<std::uint32_t>) const;

std::vector<std::string_view> mapping_titles_for(const std::vector<std::string_view>& keys) {
    return titles_for(keys, kAlwaysIncludeMapping, kMappingSections);
}

std::vector<std::string_view> gotcha_titles_for(const std::vector<std::string_view>& keys) {
    return titles_for(keys, kAlwaysIncludeGotchas, kGotchaSections);
}

long long reduction_pct(std::size_t selected_words, std::size_t full_words) {
    const double quotient =
        static_cast<double>(selected_words) / static_cast<double>(std::max<std::size_t>(full_words, 1));
    const double x = (1.0 - quotient) * 100.0;
    // Round half to even, as the host rounds a float.
    double r = std::round(x);
    if (std::fabs(x - r) == 0.5) r = 2.0 * std::round(x / 2.0);
    return static_cast<long long>(r);
}

}  // namespace quorvane::loresift
