#include "platform/plugin_loader.h"

#include <dlfcn.h>

#include <cstring>
#include <mutex>

#include "platform/tarvex_plugin.h"

namespace tarvex::platform {
namespace {

// The host side of tarvex_plugin_result: the text lives here, and set() copies into it, so no
// memory the plug-in owns is referenced after the call.
struct ResultBox {
    tarvex_plugin_result abi{};
    std::string text;

    void publish() {
        abi.text = text.c_str();
        abi.length = text.size();
    }
};

extern "C" void hostSetResult(tarvex_plugin_result* self, const char* text, size_t length) {
    if (!self || !self->host) return;
    auto* box = static_cast<ResultBox*>(self->host);
    if (!text) {
        box->text.clear();
    } else {
        box->text.assign(text, length == TARVEX_PLUGIN_NUL_TERMINATED ? std::strlen(text) : length);
    }
    box->publish();
}

// Loading and unloading go through one lock. The dynamic loader serialises them itself, but
// with a lock the thread sanitizer cannot see, so concurrent loads of a plug-in would read as
// races; the lock costs nothing next to a load. The plug-in call itself runs unlocked.
std::mutex gLoaderLock;

// Unloads the library when the call ends, however it ends.
struct LibraryHandle {
    void* handle = nullptr;
    ~LibraryHandle() {
        if (!handle) return;
        std::lock_guard lock(gLoaderLock);
        ::dlclose(handle);
    }
};

std::string lastDlError() {
    const char* e = ::dlerror();
    return e ? e : "";
}

}  // namespace

PluginCall CallPluginFunction(const std::string& libraryPath, const std::string& function, std::string_view current,
                              const std::string& url, const std::string& page, const std::string& field,
                              const std::string& value) {
    PluginCall out;
    out.text = std::string(current);
    // A name without "/" would make dlopen search the system's library folders.
    std::string path = libraryPath.find('/') == std::string::npos ? "./" + libraryPath : libraryPath;
    LibraryHandle lib;
    void* sym = nullptr;
    {
        std::lock_guard lock(gLoaderLock);
        lib.handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!lib.handle) {
            out.status = PluginCallStatus::LoadFailed;
            out.error = lastDlError();
            return out;
        }
        ::dlerror();
        sym = ::dlsym(lib.handle, function.c_str());
        if (!sym) {
            out.status = PluginCallStatus::FunctionMissing;
            out.error = lastDlError();
            return out;
        }
    }
    auto fn = reinterpret_cast<tarvex_plugin_fn>(sym);
    ResultBox box;
    box.text = std::string(current);
    box.abi.set = &hostSetResult;
    box.abi.host = &box;
    box.publish();
    int rc = 0;
    try {
        rc = fn(&box.abi, url.c_str(), page.c_str(), field.c_str(), value.c_str());
    } catch (const std::exception& e) {
        out.status = PluginCallStatus::Failed;
        out.error = std::string("exception: ") + e.what();
        return out;
    } catch (...) {
        out.status = PluginCallStatus::Failed;
        out.error = "exception";
        return out;
    }
    if (rc != 0) {
        out.status = PluginCallStatus::Failed;
        out.error = "returned " + std::to_string(rc);
        return out;
    }
    out.status = PluginCallStatus::Called;
    out.text = std::move(box.text);
    return out;
}

}  // namespace tarvex::platform
