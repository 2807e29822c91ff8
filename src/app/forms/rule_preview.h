#pragma once
// What the source pane of the rule windows highlights: the places of a page that the rule being
// typed matches (a field's front/back cut or regular expression, a list area, its links), with
// their count, and the page text prepared for showing (line ends as LF). Ranges come back in
// UTF-16 units, the positions a text widget uses. No Qt; UI thread or any other.
#include <cstddef>
#include <string>
#include <vector>

#include "app/forms/list_settings_form.h"

namespace tarvex::app {

struct TextRange {
    std::size_t begin = 0, end = 0;
    bool operator==(const TextRange&) const = default;
};

struct RulePreview {
    std::vector<TextRange> ranges;  // UTF-16 units into the shown text, in order
    TextRange area;                 // a list area around the ranges; empty (0, 0) for none
    std::size_t count = 0;          // matches (for a list: links found in the area)
    std::string summary;            // e.g. "匹配到3处" or why nothing matched
};

// The page as the pane shows it: CR LF and lone CR turned into LF, so positions line up.
std::string PaneText(const std::string& page);

// Byte ranges of a UTF-8 text as UTF-16 ranges (sorted input; one pass over the text).
std::vector<TextRange> Utf16Ranges(const std::string& text, const std::vector<TextRange>& byteRanges);

// The value a front/back cut takes from `text` (each piece when `repeat`), as extraction cuts it.
RulePreview PreviewFrontBack(const std::string& text, const std::string& front, const std::string& back, bool repeat);
// The matches of a regular-expression field rule ("{参数1}" style or raw), the whole match each.
RulePreview PreviewRegex(const std::string& text, const std::string& pattern, const std::string& output, bool repeat);
// The list area of the form and, inside it, the links the link pattern yields.
RulePreview PreviewListRule(const std::string& text, const ListSettingsForm& form, const std::string& pageAddress);

}  // namespace tarvex::app
