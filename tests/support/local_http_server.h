#pragma once
// An in-process HTTP server on 127.0.0.1 with a port the OS picks, for tests and benchmarks.
// It serves a folder of pages, can be told per path (or path prefix) how to misbehave, plays
// queued replies, and records every request it receives. Thread-safe; every public call may
// be made from any thread while the server runs. The destructor stops it and waits for its
// threads; sleeping handlers (delays, trickled bodies) are woken so it stops at once.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace tarvex::test {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// How a reply body travels. Deflate is the zlib-wrapped stream HTTP names "deflate";
// RawDeflate is the bare stream some servers send under the same name.
enum class Compression { None, Gzip, Deflate, RawDeflate };

// One answer, or the way to answer a path. A reply without a body serves the file at the
// requested path under the root folder (404 when there is none).
struct Reply {
    int status = 200;
    std::optional<std::string> body;
    // Content-Type without the charset; nullopt = guessed from the file name ("text/html" for
    // a body given here). An empty text sends an empty Content-Type header (the server
    // library fills in "text/plain" when the header is missing, so "none" is sent as empty).
    std::optional<std::string> contentType;
    std::string charset;   // appended as "; charset=…" when not empty
    HeaderList headers;    // extra response headers
    std::string location;  // non-empty: redirect there (status 302 unless a 3xx is set)
    Compression compression = Compression::None;
    std::chrono::milliseconds delay{0};  // wait before anything is sent
    // When set, the body goes out in pieces of trickleBytes with this pause before each one.
    std::chrono::milliseconds trickleInterval{0};
    std::size_t trickleBytes = 16;
    bool reset = false;  // close the connection with a TCP reset and send nothing
    // When set, the connection closes after this many body bytes although the whole length
    // was announced: a transfer cut short.
    std::size_t truncateAfter = 0;

    static Reply html(std::string body, std::string charset = {});
    static Reply withStatus(int status, std::string body = {});
    static Reply redirect(std::string location, int status = 302);
    static Reply connectionReset();
    static Reply file();  // the file under the root folder, unchanged
};

struct RecordedFile {
    std::string name;
    std::string filename;
    std::string contentType;
    std::string content;
};

// One part of a multipart body with the headers a publishing client sets on it.
struct RecordedPart {
    std::string name;
    std::string filename;          // "" for a plain field
    std::string contentType;       // as sent, e.g. "text/plain; charset=GBK"
    std::string charset;           // the charset parameter of contentType, "" when none
    std::string transferEncoding;  // Content-Transfer-Encoding, "" when none
    std::string content;           // the bytes
};

struct RecordedRequest {
    std::string method;
    std::string path;    // percent-decoded path
    std::string target;  // the request target as sent, path and query
    std::string query;   // raw text after "?", "" when none
    HeaderList headers;
    std::string body;                 // raw request body
    HeaderList queryParams;           // decoded query fields, in order
    HeaderList formFields;            // url-encoded body fields and multipart fields without a file
    std::vector<RecordedFile> files;  // multipart parts with a file name
    std::vector<RecordedPart> parts;  // every multipart part in order

    bool hasHeader(const std::string& name) const;      // names match without regard to case
    std::string header(const std::string& name) const;  // "" when absent
    std::string field(const std::string& name) const;   // first form field of that name
    std::string param(const std::string& name) const;   // first query field of that name
    const RecordedFile* file(const std::string& name) const;
    const RecordedPart* part(const std::string& name) const;  // first part of that name
};

class LocalHttpServer {
public:
    struct Options {
        std::string root;          // folder served; "" serves nothing but rules and scripts
        std::size_t threads = 16;  // concurrent connections handled
        bool tls = false;          // HTTPS with a throw-away self-signed certificate
        int port = 0;              // 0: a free port the system picks
    };

    LocalHttpServer();
    explicit LocalHttpServer(std::string root);
    explicit LocalHttpServer(Options options);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:PORT" + path (https for a TLS server); path should begin with "/".
    std::string url(const std::string& path = "/") const;

    // Answers `path` this way from now on. A path ending in "*" is a prefix rule; the exact
    // rule wins over prefixes, and the longest prefix over shorter ones.
    void on(const std::string& path, Reply reply);
    void clearRules();
    // Consulted before the rules and scripts for every request once it is recorded; nullopt
    // lets them answer. Called on the server's threads.
    void respond(std::function<std::optional<Reply>(const RecordedRequest&)> responder);
    // Queues replies for `path`: each request takes the next one; when the queue is empty
    // the rules and the folder answer again.
    void script(const std::string& path, Reply reply);
    void script(const std::string& path, std::vector<Reply> replies);

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsTo(const std::string& path) const;
    std::optional<RecordedRequest> lastRequest() const;
    std::size_t requestCount() const;
    void clearRequests();
    // TLS server names (SNI) clients sent, in order; empty entries for handshakes without one.
    std::vector<std::string> serverNames() const;

private:
    void handle(const httplib::Request& req, const std::string& body, httplib::Response& res);
    Reply pickReply(const std::string& path);
    void answer(const httplib::Request& req, httplib::Response& res, const Reply& reply);
    bool sleepUnlessStopping(std::chrono::milliseconds d);
    void resetConnection(const httplib::Request& req);

    Options m_options;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;

    mutable std::mutex m_lock;
    std::map<std::string, Reply> m_rules;
    std::function<std::optional<Reply>(const RecordedRequest&)> m_responder;
    std::map<std::string, std::deque<Reply>> m_scripts;
    std::vector<RecordedRequest> m_requests;
    std::vector<std::string> m_serverNames;

    // Wakes handlers that sleep (delays, trickles) when the server stops.
    std::mutex m_stopLock;
    std::condition_variable m_stopWake;
    bool m_stopping = false;
};

}  // namespace tarvex::test
