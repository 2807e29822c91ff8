#pragma once
// Small text operations the extraction engine and the collection stages share: markup
// removal by filter numbers, escape decoding, simplified/traditional conversion, entity
// protection, comma word lists, affixes, line reordering and random or hexadecimal names.
// All are pure functions of their arguments (the random ones draw from the given source)
// and may run on any thread. Lengths count code points; text is UTF-8.
#include <string>
#include <string_view>
#include <vector>

#include "engine/random_source.h"

namespace tarvex::engine {

// Applies the markup removals named by the comma-separated filter numbers 0–23, in list
// order (a number listed twice runs twice; other pieces remove nothing).
std::string HtmlFilter(std::string_view numbers, std::string_view text);

// Decodes every "\uXXXX" (or "\UXXXX") escape; an escaped surrogate pair becomes one
// character, a lone surrogate becomes U+FFFD. Anything else is copied unchanged.
std::string UnicodeUnescape(std::string_view text);

// Character-by-character Chinese conversion; the result has as many code points as the text.
std::string ToSimplified(std::string_view text);
std::string ToTraditional(std::string_view text);

// "&lt;" "&gt;" "&amp;" "&quot;" "&nbsp;" <-> "@lt;" "@gt;" "@amp;" "@quot;" "@nbsp;", so that
// an HTML editing page does not decode the entities of a value.
std::string ProtectEntities(std::string_view text);
std::string RestoreEntities(std::string_view text);

// Comma word lists, case-sensitive. Both are true for an empty list. An empty piece between
// two commas never occurs (ContainsAll is then false) and is ignored by ContainsNone; a
// trailing comma adds no piece.
bool ContainsAll(std::string_view words, std::string_view text);
bool ContainsNone(std::string_view words, std::string_view text);

// Removes a non-empty affix once when the text starts (ends) with it; otherwise returns
// the text unchanged.
std::string RemovePrefix(std::string_view prefix, std::string_view text);
std::string RemoveSuffix(std::string_view suffix, std::string_view text);

// Reorders the lines in place: reversed, or drawn one by one uniformly at random.
void ReverseLines(std::vector<std::string>& lines);
template <class Line>
void ShuffleLines(std::vector<Line>& lines, RandomSource& random = DefaultRandom()) {
    if (lines.size() < 2) return;
    // Draws one of the remaining lines at a time; the drawn line's place is refilled from the
    // end of the remaining range, so each draw costs O(1) even for long word lists.
    std::vector<Line> remaining = std::move(lines);
    lines.clear();
    lines.reserve(remaining.size());
    while (!remaining.empty()) {
        auto k = static_cast<std::size_t>(random.uniform(0, static_cast<std::int64_t>(remaining.size()) - 1));
        lines.push_back(std::move(remaining[k]));
        if (k + 1 != remaining.size()) remaining[k] = std::move(remaining.back());
        remaining.pop_back();
    }
}

// `count` characters drawn uniformly from A–Z, a–z and 0–9 ("" for count <= 0).
std::string RandomAlnum(int count, RandomSource& random = DefaultRandom());

// Each UTF-16 unit of the text as four upper-case hexadecimal digits: "作者" -> "4F5C8005".
std::string TextToHex(std::string_view text);

}  // namespace tarvex::engine
