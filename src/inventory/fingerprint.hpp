// Statement fingerprints: the shape of a statement with its literals, its
// spacing, its comments and the letter case of its words taken out, and a
// 64-bit hash of that shape.  Statements that differ only in those respects
// (the same query run with other values, reformatted, or against a temporary
// table named after its run) get the same fingerprint.
//
// The template, built from the inventory's tokens in one pass:
// - comments dropped; tokens joined by one space, except none before
//   ",", ";", ")" and ".", none after "(" and ".", none between a name and
//   the "(" of its call, and none between operator characters that touch in
//   the text ("<=" stays "<=", "< =" stays "< =");
// - words (keywords and unquoted names) in lower case as the host's
//   str.lower(); quoted names as written;
// - string literals (with their N/E/X/B prefix) and numbers ("12", "1.5",
//   ".5", "1e-3", "0x1F") become "?";
// - "IN (...)" whose items are all literals or parameters (@p, ?, :p, $1,
//   NULL, with an optional sign) becomes "in (?)"; after VALUES, a run of
//   rows of such items with the same number of items becomes its first row,
//   each item "?";
// - in any name, a GUID (8-4-4-4-12 hex digits), a run of 8 or more hex
//   digits holding a digit, and a run of 8 or more digits become "?"; in a
//   temporary name ("#t", "##t"), so does a run of 3 or more digits;
// - a GO line becomes "go", a "/" line "/", a DELIMITER line "delimiter x".
//
// The hash is XXH3-64 of the template's UTF-8 bytes (a lone surrogate as
// its three-byte form), with seed 0: stable across runs, machines and
// builds that keep kFingerprintVersion.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "inventory/dialects.hpp"
#include "shared/text.hpp"

namespace quorvane::inventory {

// Raised whenever a rule above changes what template a text gets.
inline constexpr int kFingerprintVersion = 1;

struct Fingerprint {
    std::uint64_t hash;
    std::string template_utf8;
    // The text ends inside a string literal, quoted name or block comment
    // (an opener with no closer): it was probably cut short.
    bool unterminated;
};

// `rules` are the dialect's comments, strings and quoted names, as the
// inventory reads them.
template <text::CodeUnit C>
Fingerprint fingerprint(text::Text<C> sql, const DialectRules& rules = kAnyDialect);

// XXH3-64 (seed 0) of UTF-8 bytes.
std::uint64_t template_hash(std::string_view utf8) noexcept;

}  // namespace quorvane::inventory
