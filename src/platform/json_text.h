#pragma once
// Reading JSON text safely. Every JSON text the program reads — settings documents, their
// nested sections, field and post-processing rules, rules files, the clipboard, files given to
// tarvex-cli — goes through parseJson, which refuses texts whose arrays and objects nest deeper
// than kMaxJsonNesting: such values could exhaust the stack when they are later copied, written
// out or compared. Pure; any thread.
#include <string>
#include <string_view>

namespace tarvex::platform {

inline constexpr int kMaxJsonNesting = 64;

// Whether the arrays and objects of a JSON text nest at most kMaxJsonNesting levels deep.
// Brackets inside strings do not count. Linear in the text and without recursion; it says
// nothing about whether the text is otherwise valid JSON.
bool JsonNestingWithinLimit(std::string_view text);

// The message for a text that nests too deeply, e.g. "JSON嵌套超过64层".
std::string JsonTooDeepMessage();

// Parses a JSON text into any nlohmann basic_json type without throwing: malformed text and
// text nested deeper than the limit both come back as a discarded value.
template <class Json>
Json parseJson(std::string_view text) {
    if (!JsonNestingWithinLimit(text)) return Json(Json::value_t::discarded);
    return Json::parse(text.begin(), text.end(), nullptr, false);
}

}  // namespace tarvex::platform
