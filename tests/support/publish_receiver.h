#pragma once
// The receiving end of publishing for tests and benchmarks: a loopback interface script that
// records every request (operation, fields with their charsets, files, pieces) and answers per
// operation ("AddInfo", "upall", "upsingle", "upsingle_part", "GetAllClass") as scripted.
// Pieces of "upsingle_part" are put back together per newurl. Thread-safe.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/local_http_server.h"

namespace tarvex::test {

class PublishReceiver {
public:
    PublishReceiver();
    // A receiver on a server with these options. A GET without a "tarvex" field is left to
    // the server's folder and rules (a page showing what was received, files uploaded).
    explicit PublishReceiver(LocalHttpServer::Options options);

    // The interface address: "http://127.0.0.1:PORT" + path.
    std::string url(const std::string& path = "/tarvex.php") const { return m_server.url(path); }
    LocalHttpServer& server() { return m_server; }

    // Every request whose field "tarvex" is `op` gets this reply from now on.
    void answer(const std::string& op, Reply reply);
    // Queued replies for `op`, one per request, before the standing answer applies again.
    void script(const std::string& op, std::vector<Reply> replies);

    // Called with every request before it is answered, on the server's threads.
    void observe(std::function<void(const RecordedRequest&)> observer);

    // Recorded requests, all or those of one operation, in arrival order.
    std::vector<RecordedRequest> posts(const std::string& op = {}) const;
    std::size_t count(const std::string& op) const { return posts(op).size(); }
    // The bytes of each attachment sent in pieces, by newurl, pieces joined in part order.
    std::map<std::string, std::string> assembled() const;
    void clear();

    // Standing answers: "succ|" + a short text for the publishing and upload operations, and a
    // three-column list for "GetAllClass".
    static Reply success() { return Reply::html("succ|ok"); }

private:
    LocalHttpServer m_server;
    mutable std::mutex m_lock;
    std::map<std::string, Reply> m_answers;
    std::map<std::string, std::vector<Reply>> m_scripts;
    std::function<void(const RecordedRequest&)> m_observer;
};

}  // namespace tarvex::test
