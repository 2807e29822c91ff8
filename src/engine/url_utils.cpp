#include "engine/url_utils.h"

namespace tarvex::engine {

std::string AbsoluteUrl(std::string_view, std::string_view) { return {}; }
std::string UrlHost(std::string_view) { return {}; }

}  // namespace tarvex::engine
