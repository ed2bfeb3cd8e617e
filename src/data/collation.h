// Folding and sort order of the library's text (Windows-1252 bytes), one rule
// for the search, the grids and the lists, on the desktop and the command line.
//
// Case: the rule of the record manager's case-insensitive keys
// (btr::foldCase1252: a letter and its capital are one, accented letters,
// š, œ, ž and ÿ included). The title key, the search and the sort all use it.
//
// Search folding (the "Commence" and "Contient" modes): case folded as the
// keys, then the accents taken off the capitals, and the ligatures written as
// their two letters: "cœur", "CŒUR" and "coeur" all read "COEUR", "Ærø" reads
// "AERO", "Škoda" "SKODA". Ð, Þ and ß have no plainer letter and stay as they are.
//
// Sort order (collation), as French dictionaries order words:
//   1. the letters of the search folding (blanks and punctuation before
//      digits, digits before letters);
//   2. at equal letters, the accents, compared from the end of the text
//      backwards: cote < côte < coté < côté; a plain letter comes before an
//      accented one, a ligature after its two letters (oe < œ);
//   3. at equal letters and accents, case: lower case first (été < Été).
// CollationKey() gives a byte string whose plain byte order is that order, so
// a list is sorted once by key instead of comparing texts again and again.
#pragma once
#include <string>
#include <string_view>

namespace sono::data {

// The record keys' case folding of every byte.
std::string FoldCase(std::string_view cp1252);

// The search folding; `out` is replaced (its storage is reused).
void FoldForSearch(std::string_view cp1252, std::string& out);
std::string FoldForSearch(std::string_view cp1252);

// Sort key of `cp1252`: comparing two keys byte by byte orders their texts.
// Blanks at the end of the text do not count (fixed-width fields compare
// as their words).
std::string CollationKey(std::string_view cp1252);
// The same key added at the end of `out` (a list of keys in one buffer).
void CollationKey(std::string_view cp1252, std::string& out);

// a before b in the sort order.
bool CollatesBefore(std::string_view a, std::string_view b);

}  // namespace sono::data
