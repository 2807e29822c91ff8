#include "platform/ftp_client.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <mutex>

namespace tarvex::platform {
namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

// Path segments go into the address %-encoded byte by byte, so any name (GBK included)
// reaches the server as the same bytes.
std::string encodeSegment(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

struct Progress {
    const FtpSettings* settings = nullptr;
    bool cancelled = false;
    bool idle = false;
    curl_off_t lastBytes = -1;
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
};

int onProgress(void* user, curl_off_t, curl_off_t downNow, curl_off_t, curl_off_t upNow) {
    auto* p = static_cast<Progress*>(user);
    auto now = std::chrono::steady_clock::now();
    if (downNow + upNow != p->lastBytes) {
        p->lastBytes = downNow + upNow;
        p->last = now;
    } else if (p->settings->idleTimeoutMs > 0 &&
               now - p->last > std::chrono::milliseconds(p->settings->idleTimeoutMs)) {
        p->idle = true;
        return 1;
    }
    if (p->settings->cancelled && p->settings->cancelled()) {
        p->cancelled = true;
        return 1;
    }
    return 0;
}

std::size_t onData(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

std::size_t ignoreData(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

std::size_t readFile(char* buffer, std::size_t size, std::size_t count, void* user) {
    return std::fread(buffer, size, count, static_cast<std::FILE*>(user));
}

std::string trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

}  // namespace

FtpClient::FtpClient(FtpSettings settings) : m_settings(std::move(settings)) {
    initCurlOnce();
    m_curl = curl_easy_init();
}

FtpClient::~FtpClient() {
    if (m_curl) curl_easy_cleanup(static_cast<CURL*>(m_curl));
}

std::string FtpClient::currentPath() const {
    std::string s;
    for (const auto& seg : m_path) s += (s.empty() ? "" : "/") + seg;
    return s;
}

std::string FtpClient::urlFor(const std::string& path, bool directory) const {
    // ftp://host:port/a/b/ names a/b relative to the sign-in folder.
    std::string url = "ftp://" + m_settings.host + ":" + std::to_string(m_settings.port) + "/";
    for (const auto& seg : m_path) url += encodeSegment(seg) + "/";
    if (!path.empty()) url += encodeSegment(path) + (directory ? "/" : "");
    return url;
}

FtpResult FtpClient::perform(const std::string& path, bool directory, const std::function<void(void*)>& setup) {
    FtpResult result;
    auto* h = static_cast<CURL*>(m_curl);
    if (!h) {
        result.error = "Cannot create an FTP client";
        return result;
    }
    curl_easy_reset(h);
    char errbuf[CURL_ERROR_SIZE] = {};
    const std::string url = urlFor(path, directory);
    Progress progress;
    progress.settings = &m_settings;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(h, CURLOPT_USERNAME, m_settings.user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, m_settings.password.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_settings.connectTimeoutMs));
    curl_easy_setopt(h, CURLOPT_FTP_RESPONSE_TIMEOUT, static_cast<long>(std::max(1, m_settings.idleTimeoutMs / 1000)));
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);
    if (m_settings.passive) {
        curl_easy_setopt(h, CURLOPT_FTPPORT, nullptr);
    } else {
        // Active: the server connects back to the address of the control connection.
        curl_easy_setopt(h, CURLOPT_FTPPORT, "-");
    }
    // Each folder is entered on its own, as a server without path support expects.
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &progress);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, ignoreData);
    setup(h);
    CURLcode code = curl_easy_perform(h);
    if (code == CURLE_OK) {
        result.ok = true;
    } else if (progress.cancelled) {
        result.error = "Transfer cancelled";
    } else if (progress.idle) {
        result.error = "FTP timed out: no data for " + std::to_string(m_settings.idleTimeoutMs) + " ms";
    } else {
        result.error = *errbuf ? trim(errbuf) : curl_easy_strerror(code);
    }
    return result;
}

FtpResult FtpClient::connect() {
    return perform({}, true, [](void* h) { curl_easy_setopt(static_cast<CURL*>(h), CURLOPT_NOBODY, 1L); });
}

FtpResult FtpClient::listCurrent() {
    std::string text;
    auto r = perform({}, true, [&text](void* h) {
        curl_easy_setopt(static_cast<CURL*>(h), CURLOPT_CUSTOMREQUEST, "MLSD");
        curl_easy_setopt(static_cast<CURL*>(h), CURLOPT_WRITEFUNCTION, onData);
        curl_easy_setopt(static_cast<CURL*>(h), CURLOPT_WRITEDATA, &text);
    });
    r.text = std::move(text);
    return r;
}

FtpResult FtpClient::makeDir(const std::string& name) {
    // The command runs after the client has entered the current folder.
    const std::string command = "MKD " + name;
    curl_slist* commands = curl_slist_append(nullptr, command.c_str());
    auto r = perform({}, true, [commands](void* h) {
        curl_easy_setopt(static_cast<CURL*>(h), CURLOPT_NOBODY, 1L);
        curl_easy_setopt(static_cast<CURL*>(h), CURLOPT_POSTQUOTE, commands);
    });
    curl_slist_free_all(commands);
    return r;
}

FtpResult FtpClient::changeDir(const std::string& name) {
    // Entering the folder is the whole request: it fails when the server refuses the CWD.
    auto r = perform(name, true, [](void* h) { curl_easy_setopt(static_cast<CURL*>(h), CURLOPT_NOBODY, 1L); });
    if (r.ok) m_path.push_back(name);
    return r;
}

FtpResult FtpClient::store(const std::string& localPath, const std::string& name) {
    FtpResult r;
    std::FILE* f = std::fopen(localPath.c_str(), "rb");
    if (!f) {
        r.error = "Cannot open " + localPath;
        return r;
    }
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    r = perform(name, false, [f, size](void* h) {
        auto* c = static_cast<CURL*>(h);
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_READFUNCTION, readFile);
        curl_easy_setopt(c, CURLOPT_READDATA, f);
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    });
    std::fclose(f);
    return r;
}

std::vector<std::string> MlsdNames(const std::string& listing) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find_first_of("\r\n", start);
        if (end == std::string::npos) end = listing.size();
        std::string line = listing.substr(start, end - start);
        auto semi = line.rfind(';');
        std::string name = trim(semi == std::string::npos ? line : line.substr(semi + 1));
        if (!name.empty()) names.push_back(name);
        start = end + 1;
    }
    return names;
}

}  // namespace tarvex::platform
