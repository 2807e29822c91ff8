#pragma once
// Calling a function of a plug-in shared library (the C ABI of platform/tarvex_plugin.h): the
// library is loaded for the call and unloaded right after it, also when the call fails. Safe
// from any thread; concurrent calls of one library share nothing but the loader's own count.
#include <string>
#include <string_view>

namespace tarvex::platform {

enum class PluginCallStatus {
    Called,           // the function ran and returned 0; `text` is its result
    LoadFailed,       // the library could not be loaded (missing, not a library, …)
    FunctionMissing,  // the library has no such exported function
    Failed,           // the function returned non-zero or threw; `text` is the text it was given
};

struct [[nodiscard]] PluginCall {
    PluginCallStatus status = PluginCallStatus::LoadFailed;
    std::string text;   // the result text: the function's, or `current` unchanged
    std::string error;  // dlerror() text or the reason of a failure
};

// Loads `libraryPath` (a path, never searched for in the system's library folders), looks up
// `function` and calls it with (result = current, url, page, field, value); unloads the library.
PluginCall CallPluginFunction(const std::string& libraryPath, const std::string& function, std::string_view current,
                              const std::string& url, const std::string& page, const std::string& field,
                              const std::string& value);

}  // namespace tarvex::platform
