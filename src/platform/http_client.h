#pragma once
// A small HTTP/1.1 client over libcurl: one request per call on a fresh connection (no
// reuse, no shared cookies or TLS state), redirects, gzip/deflate bodies, url-encoded and
// multipart forms, TLS version choice, a connect time-out separate from an idle time-out
// between received bytes, and a cap on the decompressed body. Safe from any thread; calls
// share nothing. Never throws: every failure comes back in the response.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvex::platform {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

enum class TlsVersion {
    Default,  // what the TLS library negotiates by default
    Tls11,    // exactly TLS 1.1
    Tls12,    // exactly TLS 1.2
};

struct TlsSettings {
    TlsVersion version = TlsVersion::Default;
    // Check the server's certificate chain and name. Collecting public pages turns it off:
    // many sites serve incomplete chains and their pages are public anyway.
    bool verifyPeer = true;
};

// One part of a multipart form: a plain field when `filename` is empty, else a file whose
// content is `value` (or the file at `filePath` when that is set, read while sending).
struct FormPart {
    std::string name;
    std::string value;
    std::string filename;
    std::string contentType;  // may carry "; charset=…"
    std::string filePath;
    // Sent as the part's Content-Transfer-Encoding ("8bit", "binary"); the bytes are not changed.
    std::string transferEncoding;
    // With `filePath`: only `fileLength` bytes from `fileOffset` are sent, read from disk while
    // sending (a piece of a large file never sits in memory). No length: to the end of the file.
    std::uint64_t fileOffset = 0;
    std::optional<std::uint64_t> fileLength;
};

inline constexpr std::size_t kMaxBodyBytes = 50u * 1024u * 1024u;

struct HttpRequest {
    std::string method = "GET";
    std::string url;        // http:// or https:// only; spaces and bytes >= 0x7F are %-encoded
    HttpHeaders headers;    // extra headers, sent as given
    std::string userAgent;  // "" sends none
    std::optional<std::string> referer;
    std::string cookie;  // sent verbatim as the Cookie header when not empty
    // Sends "Accept-Encoding: gzip,deflate". Compressed answers are decoded either way.
    bool acceptCompressed = false;

    // Body, at most one of the three kinds: raw bytes with their type, url-encoded fields
    // (names and values are bytes, %-encoded here), or multipart parts.
    std::string body;
    std::string contentType;
    HttpHeaders formFields;
    std::vector<FormPart> multipart;

    int connectTimeoutMs = 20000;
    int idleTimeoutMs = 20000;  // longest wait for the next byte in either direction
    bool followRedirects = true;
    int maxRedirects = 10;
    // A 307 or 308 answer re-sends the body to its new address: with this set, one that points
    // to another scheme, host or port ends the request with HttpError::RedirectRefused instead.
    bool keepPostOnOrigin = false;
    TlsSettings tls;
    std::size_t maxBodyBytes = kMaxBodyBytes;  // decompressed
    // Longest time the whole request may take, redirects included; 0 = no limit. A server that
    // trickles bytes slower than the idle time-out notices still ends here.
    int totalTimeoutMs = 0;
    // Called while the transfer runs, on the calling thread; false cancels it.
    std::function<bool(std::uint64_t sent, std::uint64_t sendTotal, std::uint64_t received, std::uint64_t receiveTotal)>
        progress;
    // Polled while the transfer runs (at least once a second, also while connecting); true
    // cancels it with HttpError::Cancelled. Used to pass a run's stop to its transfers.
    std::function<bool()> cancelled;
    // When set, the body's bytes go here as they arrive instead of into HttpResponse::body
    // (maxBodyBytes still applies); false ends the transfer as failed. A download of any size
    // can so be written to a file without being held in memory.
    std::function<bool(std::string_view bytes)> bodySink;
};

enum class HttpError {
    None,
    BadAddress,  // not http/https, or malformed
    Resolve,     // host name not found
    Connect,     // refused, unreachable, connect time-out
    Timeout,     // no byte for idleTimeoutMs, or the whole request beyond totalTimeoutMs
    Reset,       // connection reset by the peer
    Tls,         // handshake or certificate failure
    TooManyRedirects,
    BodyTooLarge,
    Cancelled,        // the progress callback said stop
    RedirectRefused,  // a 307/308 to another origin while keepPostOnOrigin is set
    Other,
};

struct HttpResponse {
    HttpError error = HttpError::None;
    std::string errorText;   // the transport's message; a reset always carries "10054"
    long status = 0;         // of the last response received
    std::string statusLine;  // e.g. "HTTP/1.1 404 Not Found"
    HttpHeaders headers;     // of the last response
    std::string body;        // decompressed
    std::string effectiveUrl;
    int redirects = 0;

    // A response arrived (any status).
    bool transportOk() const { return error == HttpError::None; }
    // A response arrived with a 2xx status.
    bool ok() const { return transportOk() && status >= 200 && status < 300; }
    // First header of that name (case-insensitive), "" when absent.
    std::string header(std::string_view name) const;
    // Why the request did not succeed: the transport's message, or the status line for a
    // non-2xx answer. "" when ok().
    std::string failureText() const;
};

// Performs one request on the calling thread and blocks until it ends.
[[nodiscard]] HttpResponse httpPerform(const HttpRequest& request);

// application/x-www-form-urlencoded form of raw bytes: letters, digits and "-_.*" stay,
// space becomes "+", everything else "%XX".
std::string formUrlEncode(std::string_view bytes);

// The address as it goes on the wire: control bytes, space, and bytes >= 0x7F are written as
// "%XX" (upper-case hex); everything else, including "%", is kept.
std::string wireUrl(std::string_view url);

}  // namespace tarvex::platform
