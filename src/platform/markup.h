#pragma once
// Text placed into markup: HTML and XML text or quoted attribute values, Pango markup.
#include <string>
#include <string_view>

namespace tarvex::platform {

// `text` with & < > " ' written as entities, so it reads as text wherever it is put.
std::string escapeMarkup(std::string_view text);

}  // namespace tarvex::platform
