#pragma once
// A small FTP client over libcurl for uploading attachments: sign-in by user and password,
// passive or active data connections, binary transfers, "MLSD" listings, make folder, change
// folder and store. One object is one session; its control connection is kept between calls
// and closed when the object goes. Names are bytes as the server should see them (callers
// encode them, for example in GBK). Not shared between threads; never throws.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvex::platform {

struct FtpSettings {
    std::string host;
    int port = 21;
    std::string user;
    std::string password;
    bool passive = true;
    int connectTimeoutMs = 20000;
    int idleTimeoutMs = 30000;  // longest wait for progress on a transfer
    // Polled during every call; true ends it with "Transfer cancelled".
    std::function<bool()> cancelled;
};

struct FtpResult {
    bool ok = false;
    std::string error;  // the server's or the transport's message when !ok
    std::string text;   // a listing's raw bytes
};

class FtpClient {
public:
    explicit FtpClient(FtpSettings settings);
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // Connects and signs in.
    FtpResult connect();
    // "MLSD" of the current folder: the listing's raw bytes.
    FtpResult listCurrent();
    // Creates a folder inside the current one.
    FtpResult makeDir(const std::string& name);
    // Enters a folder inside the current one (checked on the server).
    FtpResult changeDir(const std::string& name);
    // Stores a local file in the current folder under `name` (binary).
    FtpResult store(const std::string& localPath, const std::string& name);

    // The current folder relative to the sign-in folder, segments joined by "/".
    std::string currentPath() const;

private:
    FtpResult perform(const std::string& path, bool directory, const std::function<void(void*)>& setup);
    std::string urlFor(const std::string& path, bool directory) const;

    FtpSettings m_settings;
    void* m_curl = nullptr;
    std::vector<std::string> m_path;
};

// Names in an MLSD listing: per line the text after the last ";", trimmed (a line without ";"
// counts whole); empty lines are skipped.
std::vector<std::string> MlsdNames(const std::string& listing);

}  // namespace tarvex::platform
