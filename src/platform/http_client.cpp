#include "platform/http_client.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace tarvex::platform {
namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_ALL);
        // With CURLOPT_NOSIGNAL (needed for threads) a write to a closed TLS connection can
        // raise SIGPIPE, which would end the whole program; a network program ignores it.
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) std::signal(SIGPIPE, SIG_IGN);
    });
}

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

std::string trimLineEnd(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// "scheme://host:port" of an absolute address, lower case, the default port filled in; "" for a
// relative one.
std::string originOf(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos || url.substr(0, scheme).find_first_of("/?#") != std::string_view::npos)
        return {};
    std::string out;
    for (char c : url.substr(0, scheme)) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string_view rest = url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) rest = rest.substr(at + 1);
    std::string host;
    for (char c : rest) host += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t bracket = host.rfind(']');
    const std::size_t colon = host.rfind(':');
    if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket))
        host += out == "https" ? ":443" : ":80";
    return out + "://" + host;
}

// Whether a Location value stays on the origin of `current`: a relative one always does.
bool sameOrigin(std::string_view current, std::string_view location) {
    if (location.rfind("//", 0) == 0) {
        const std::size_t scheme = current.find("://");
        return originOf(std::string(current.substr(0, scheme + 1)) + std::string(location)) == originOf(current);
    }
    const std::string target = originOf(location);
    return target.empty() || target == originOf(current);
}

struct Transfer {
    const HttpRequest* request = nullptr;
    HttpResponse* response = nullptr;
    CURL* handle = nullptr;
    bool bodyTooLarge = false;
    bool idleTimedOut = false;
    bool totalTimedOut = false;
    bool cancelled = false;
    bool sinkFailed = false;
    bool redirectRefused = false;
    long lastStatus = 0;
    std::string refusedLocation;
    std::size_t bodyBytes = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastActivity = started;
    curl_off_t lastBytes = -1;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    std::size_t n = size * count;
    if (t->bodyBytes + n > t->request->maxBodyBytes) {
        t->bodyTooLarge = true;
        return 0;  // makes libcurl stop with a write error
    }
    t->bodyBytes += n;
    if (t->request->bodySink) {
        if (!t->request->bodySink(std::string_view(data, n))) {
            t->sinkFailed = true;
            return 0;
        }
        return n;
    }
    t->response->body.append(data, n);
    return n;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    std::size_t n = size * count;
    std::string line = trimLineEnd(std::string(data, n));
    if (line.rfind("HTTP/", 0) == 0) {
        // A new response begins (after a redirect or a 100 Continue): keep only the last.
        t->response->statusLine = line;
        t->response->headers.clear();
        const std::size_t sp = line.find(' ');
        t->lastStatus = sp == std::string::npos ? 0 : std::atol(line.c_str() + sp + 1);
    } else if (auto colon = line.find(':'); colon != std::string::npos && colon > 0) {
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        if (t->request->keepPostOnOrigin && t->request->followRedirects &&
            (t->lastStatus == 307 || t->lastStatus == 308) && iequals(line.substr(0, colon), "Location")) {
            char* current = nullptr;
            curl_easy_getinfo(t->handle, CURLINFO_EFFECTIVE_URL, &current);
            if (!sameOrigin(current ? current : "", value)) {
                t->redirectRefused = true;
                t->refusedLocation = value;
                return 0;  // ends the transfer before libcurl follows
            }
        }
        t->response->headers.emplace_back(line.substr(0, colon), value);
    }
    return n;
}

// libcurl's own low-speed limit counts whole seconds and only after the transfer started;
// the idle time-out here is in milliseconds and also covers the wait for the first byte.
int onProgress(void* user, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal, curl_off_t upNow) {
    auto* t = static_cast<Transfer*>(user);
    auto now = std::chrono::steady_clock::now();
    curl_off_t connectUs = 0;
    curl_easy_getinfo(t->handle, CURLINFO_CONNECT_TIME_T, &connectUs);
    curl_off_t bytes = downNow + upNow;
    // Until the connection stands the connect time-out is in charge.
    if (bytes != t->lastBytes || connectUs == 0) {
        t->lastBytes = bytes;
        t->lastActivity = now;
    } else if (t->request->idleTimeoutMs > 0 &&
               now - t->lastActivity > std::chrono::milliseconds(t->request->idleTimeoutMs)) {
        t->idleTimedOut = true;
        return 1;
    }
    if (t->request->totalTimeoutMs > 0 && now - t->started > std::chrono::milliseconds(t->request->totalTimeoutMs)) {
        t->totalTimedOut = true;
        return 1;
    }
    if (t->request->cancelled && t->request->cancelled()) {
        t->cancelled = true;
        return 1;
    }
    if (t->request->progress &&
        !t->request->progress(static_cast<std::uint64_t>(upNow), static_cast<std::uint64_t>(upTotal),
                              static_cast<std::uint64_t>(downNow), static_cast<std::uint64_t>(downTotal))) {
        t->cancelled = true;
        return 1;
    }
    return 0;
}

std::string sizeText(std::size_t bytes) {
    constexpr std::size_t mb = 1024u * 1024u;
    if (bytes % mb == 0) return std::to_string(bytes / mb) + " MB";
    return std::to_string(bytes) + " bytes";
}

// A byte range of a file as the data of a multipart part, read as libcurl sends it.
struct FileRange {
    std::FILE* file = nullptr;
    std::uint64_t offset = 0, length = 0, done = 0;
    ~FileRange() {
        if (file) std::fclose(file);
    }
};

std::size_t readRange(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* r = static_cast<FileRange*>(user);
    const std::uint64_t left = r->length - r->done;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size * count, left));
    if (want == 0) return 0;
    const std::size_t got = std::fread(buffer, 1, want, r->file);
    // A file that shrank while it was sent cannot fill its declared length.
    if (got == 0) return CURL_READFUNC_ABORT;
    r->done += got;
    return got;
}

int seekRange(void* user, curl_off_t offset, int origin) {
    auto* r = static_cast<FileRange*>(user);
    if (origin != SEEK_SET || offset < 0 || static_cast<std::uint64_t>(offset) > r->length) return CURL_SEEKFUNC_FAIL;
    if (fseeko(r->file, static_cast<off_t>(r->offset + static_cast<std::uint64_t>(offset)), SEEK_SET) != 0)
        return CURL_SEEKFUNC_FAIL;
    r->done = static_cast<std::uint64_t>(offset);
    return CURL_SEEKFUNC_OK;
}

struct CurlDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
    void operator()(curl_mime* m) const { curl_mime_free(m); }
};

void classify(CURLcode code, const char* errbuf, Transfer& t) {
    HttpResponse& r = *t.response;
    std::string text = errbuf && *errbuf ? trimLineEnd(errbuf) : curl_easy_strerror(code);
    long osErrno = 0;
    curl_easy_getinfo(t.handle, CURLINFO_OS_ERRNO, &osErrno);
    curl_off_t connectUs = 0;
    curl_easy_getinfo(t.handle, CURLINFO_CONNECT_TIME_T, &connectUs);

    if (t.bodyTooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        r.error = HttpError::BodyTooLarge;
        r.errorText = "Response body exceeds the limit of " + sizeText(t.request->maxBodyBytes);
        return;
    }
    if (t.idleTimedOut) {
        r.error = HttpError::Timeout;
        r.errorText = "Read timed out: no data for " + std::to_string(t.request->idleTimeoutMs) + " ms";
        return;
    }
    if (t.totalTimedOut) {
        r.error = HttpError::Timeout;
        r.errorText = "Request took longer than " + std::to_string(t.request->totalTimeoutMs) + " ms";
        return;
    }
    if (t.sinkFailed) {
        r.error = HttpError::Other;
        r.errorText = "The received body could not be stored";
        return;
    }
    if (t.redirectRefused) {
        r.error = HttpError::RedirectRefused;
        r.errorText = "Redirect to another site refused (" + std::to_string(t.lastStatus) +
                      ", the form is not sent again): " + t.refusedLocation;
        return;
    }
    if (t.cancelled) {
        r.error = HttpError::Cancelled;
        r.errorText = "Transfer cancelled";
        return;
    }
    r.errorText = text;
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            r.error = HttpError::BadAddress;
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            r.error = HttpError::Resolve;
            break;
        case CURLE_COULDNT_CONNECT:
            r.error = HttpError::Connect;
            // libcurl's text names the address but not the socket's own reason; add it.
            if (osErrno != 0) {
                char buf[256];
                std::string reason = strerror_r(static_cast<int>(osErrno), buf, sizeof buf);
                if (r.errorText.find(reason) == std::string::npos) r.errorText += " (" + reason + ")";
            }
            break;
        case CURLE_OPERATION_TIMEDOUT:
            r.error = connectUs == 0 ? HttpError::Connect : HttpError::Timeout;
            break;
        case CURLE_TOO_MANY_REDIRECTS:
            r.error = HttpError::TooManyRedirects;
            break;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_USE_SSL_FAILED:
            r.error = HttpError::Tls;
            break;
        default:
            r.error = HttpError::Other;
            break;
    }
    bool reset = osErrno == ECONNRESET || text.find("reset by peer") != std::string::npos;
    if (reset && (code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR || code == CURLE_SSL_CONNECT_ERROR ||
                  code == CURLE_GOT_NOTHING)) {
        r.error = HttpError::Reset;
        // 10054 is the socket error number by which callers recognise a reset connection.
        if (r.errorText.find("10054") == std::string::npos) r.errorText += " (10054)";
    }
}

}  // namespace

std::string HttpResponse::header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (iequals(n, name)) return v;
    return {};
}

std::string HttpResponse::failureText() const {
    if (error != HttpError::None) return errorText;
    if (ok()) return {};
    return statusLine.empty() ? "HTTP status " + std::to_string(status) : statusLine;
}

std::string formUrlEncode(std::string_view bytes) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '*') {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string wireUrl(std::string_view url) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (unsigned char c : url) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

HttpResponse httpPerform(const HttpRequest& request) {
    initCurlOnce();
    HttpResponse response;
    std::string url = wireUrl(request.url);
    response.effectiveUrl = url;
    if (!startsWithNoCase(url, "http://") && !startsWithNoCase(url, "https://")) {
        response.error = HttpError::BadAddress;
        response.errorText = "Unsupported address, only http:// and https:// can be fetched: " + request.url;
        return response;
    }

    std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
    if (!handle) {
        response.error = HttpError::Other;
        response.errorText = "Cannot create an HTTP client";
        return response;
    }
    CURL* h = handle.get();
    Transfer t;
    t.request = &request;
    t.response = &response;
    t.handle = h;
    char errbuf[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // One connection per call, closed afterwards: nothing carries over between calls.
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(request.maxRedirects));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(0, request.connectTimeoutMs)));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBodyBytes));
    // In-memory cookie engine for this call only, so a site that sets a cookie and then
    // redirects sees it again on the next hop.
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    if (!request.cookie.empty()) curl_easy_setopt(h, CURLOPT_COOKIE, request.cookie.c_str());
    if (!request.userAgent.empty()) curl_easy_setopt(h, CURLOPT_USERAGENT, request.userAgent.c_str());
    if (request.referer && !request.referer->empty()) curl_easy_setopt(h, CURLOPT_REFERER, request.referer->c_str());

    // Decoding is always armed; the Accept-Encoding header is sent only when asked for, so a
    // server that compresses unasked still yields readable text.
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "gzip,deflate");
    curl_slist* headerList = nullptr;
    if (!request.acceptCompressed) headerList = curl_slist_append(headerList, "Accept-Encoding:");
    headerList = curl_slist_append(headerList, "Expect:");
    for (const auto& [name, value] : request.headers)
        headerList = curl_slist_append(headerList, (name + ": " + value).c_str());
    if (!request.contentType.empty())
        headerList = curl_slist_append(headerList, ("Content-Type: " + request.contentType).c_str());
    std::unique_ptr<curl_slist, CurlDeleter> headers(headerList);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList);

    std::unique_ptr<curl_mime, CurlDeleter> mime;
    std::vector<std::unique_ptr<FileRange>> ranges;  // outlive the transfer that reads them
    std::string postData;
    bool hasBody = !request.multipart.empty() || !request.formFields.empty() || !request.body.empty();
    if (!request.multipart.empty()) {
        mime.reset(curl_mime_init(h));
        for (const auto& part : request.multipart) {
            curl_mimepart* p = curl_mime_addpart(mime.get());
            curl_mime_name(p, part.name.c_str());
            if (!part.filePath.empty() && (part.fileOffset > 0 || part.fileLength)) {
                auto range = std::make_unique<FileRange>();
                range->file = std::fopen(part.filePath.c_str(), "rb");
                struct stat st {};
                if (!range->file || fstat(fileno(range->file), &st) != 0 ||
                    static_cast<std::uint64_t>(st.st_size) < part.fileOffset ||
                    fseeko(range->file, static_cast<off_t>(part.fileOffset), SEEK_SET) != 0) {
                    response.error = HttpError::Other;
                    response.errorText = "Cannot read " + part.filePath;
                    return response;
                }
                const std::uint64_t rest = static_cast<std::uint64_t>(st.st_size) - part.fileOffset;
                range->offset = part.fileOffset;
                range->length = part.fileLength ? std::min(*part.fileLength, rest) : rest;
                curl_mime_data_cb(p, static_cast<curl_off_t>(range->length), readRange, seekRange, nullptr,
                                  range.get());
                ranges.push_back(std::move(range));
            } else if (!part.filePath.empty()) {
                curl_mime_filedata(p, part.filePath.c_str());
            } else
                curl_mime_data(p, part.value.data(), part.value.size());
            if (!part.filename.empty()) curl_mime_filename(p, part.filename.c_str());
            if (!part.contentType.empty()) curl_mime_type(p, part.contentType.c_str());
            if (!part.transferEncoding.empty()) curl_mime_encoder(p, part.transferEncoding.c_str());
        }
        curl_easy_setopt(h, CURLOPT_MIMEPOST, mime.get());
    } else if (!request.formFields.empty()) {
        for (const auto& [name, value] : request.formFields) {
            if (!postData.empty()) postData += '&';
            postData += formUrlEncode(name) + "=" + formUrlEncode(value);
        }
    } else {
        postData = request.body;
    }
    if (request.multipart.empty() && (hasBody || request.method == "POST")) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postData.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, postData.c_str());
    }
    if (request.method == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else if (request.method != "GET" && request.method != "POST") {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    } else if (request.method == "GET" && hasBody) {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "GET");
    }

    switch (request.tls.version) {
        case TlsVersion::Default:
            break;
        case TlsVersion::Tls11:
            curl_easy_setopt(
                h, CURLOPT_SSLVERSION,
                static_cast<long>(CURL_SSLVERSION_TLSv1_1) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_1));
            break;
        case TlsVersion::Tls12:
            curl_easy_setopt(
                h, CURLOPT_SSLVERSION,
                static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
            break;
    }
    if (!request.tls.verifyPeer) {
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    }

    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);

    CURLcode code = curl_easy_perform(h);

    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    long redirects = 0;
    curl_easy_getinfo(h, CURLINFO_REDIRECT_COUNT, &redirects);
    response.redirects = static_cast<int>(redirects);
    if (char* effective = nullptr; curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        response.effectiveUrl = effective;
    if (code != CURLE_OK) classify(code, errbuf, t);
    return response;
}

}  // namespace tarvex::platform
