#pragma once
// Turning links found in pages into absolute addresses and taking the host out of an
// address. Pure functions over UTF-8 text; safe on any thread.
#include <string>
#include <string_view>

namespace tarvex::engine {

// Resolves `link` against the page address `base`. Returns the absolute address ("&amp;"
// decoded), or "" when the link cannot be resolved (no usable base, a protocol-relative
// link to another host, more "../" than the base has folders). Keeps the base's ":port";
// a protocol-relative "//" link takes the base's scheme.
std::string AbsoluteUrl(std::string_view link, std::string_view base);

// The host of an address with its ":port" when it has one ("www.h.com:8080"), or "".
// The scheme is removed only when written in lower case ("HTTPS://h/" gives "HTTPS://h").
std::string UrlHost(std::string_view address);

}  // namespace tarvex::engine
