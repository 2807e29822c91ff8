#include "support/local_http_server.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <zlib.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tarvex::test {
namespace {

bool iequals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Form and query decoding keeps the raw bytes: publish forms carry GBK values, and tests
// compare them byte for byte.
std::string formDecode(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

HeaderList parseForm(const std::string& text) {
    HeaderList out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto amp = text.find('&', pos);
        if (amp == std::string::npos) amp = text.size();
        std::string pair = text.substr(pos, amp - pos);
        if (!pair.empty()) {
            auto eq = pair.find('=');
            if (eq == std::string::npos)
                out.emplace_back(formDecode(pair), "");
            else
                out.emplace_back(formDecode(pair.substr(0, eq)), formDecode(pair.substr(eq + 1)));
        }
        pos = amp + 1;
    }
    return out;
}

const char* const kOriginalTypeHeader = "X-Tarvex-Original-Content-Type";

std::string trimmed(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// The value of a header parameter such as boundary="x" or name=x; "" when absent.
std::string headerParam(const std::string& header, const std::string& param) {
    std::size_t pos = 0;
    while ((pos = header.find(';', pos)) != std::string::npos) {
        ++pos;
        std::size_t eq = header.find('=', pos);
        if (eq == std::string::npos) break;
        if (!iequals(trimmed(header.substr(pos, eq - pos)), param)) continue;
        std::size_t v = eq + 1;
        if (v < header.size() && header[v] == '"') {
            std::size_t close = header.find('"', v + 1);
            return header.substr(v + 1, close == std::string::npos ? std::string::npos : close - v - 1);
        }
        std::size_t end = header.find(';', v);
        return trimmed(header.substr(v, end == std::string::npos ? std::string::npos : end - v));
    }
    return {};
}

// Splits a multipart/form-data body at its boundary; parts keep their bytes as sent.
std::vector<RecordedPart> parseMultipart(const std::string& contentType, const std::string& body) {
    std::vector<RecordedPart> parts;
    if (contentType.find("multipart/") == std::string::npos) return parts;
    const std::string boundary = headerParam(contentType, "boundary");
    if (boundary.empty()) return parts;
    const std::string delimiter = "--" + boundary;
    std::size_t pos = body.find(delimiter);
    while (pos != std::string::npos) {
        pos += delimiter.size();
        if (body.compare(pos, 2, "--") == 0) break;
        if (body.compare(pos, 2, "\r\n") == 0) pos += 2;
        std::size_t headEnd = body.find("\r\n\r\n", pos);
        if (headEnd == std::string::npos) break;
        RecordedPart part;
        std::istringstream heads(body.substr(pos, headEnd - pos));
        for (std::string line; std::getline(heads, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            std::string name = trimmed(line.substr(0, colon)), value = trimmed(line.substr(colon + 1));
            if (iequals(name, "Content-Disposition")) {
                part.name = headerParam(value, "name");
                part.filename = headerParam(value, "filename");
            } else if (iequals(name, "Content-Type")) {
                part.contentType = value;
                part.charset = headerParam(value, "charset");
            } else if (iequals(name, "Content-Transfer-Encoding")) {
                part.transferEncoding = value;
            }
        }
        std::size_t next = body.find("\r\n" + delimiter, headEnd + 4);
        if (next == std::string::npos) break;
        part.content = body.substr(headEnd + 4, next - headEnd - 4);
        parts.push_back(std::move(part));
        pos = next + 2;
    }
    return parts;
}

std::string guessContentType(const std::string& path) {
    auto dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    static const std::map<std::string, std::string> types = {
        {"html", "text/html"},        {"htm", "text/html"},     {"shtml", "text/html"},
        {"txt", "text/plain"},        {"css", "text/css"},      {"js", "application/javascript"},
        {"json", "application/json"}, {"xml", "text/xml"},      {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},       {"png", "image/png"},     {"gif", "image/gif"},
        {"webp", "image/webp"},       {"svg", "image/svg+xml"}, {"zip", "application/zip"},
        {"pdf", "application/pdf"}};
    auto it = types.find(ext);
    return it == types.end() ? "application/octet-stream" : it->second;
}

std::string compress(const std::string& data, Compression how) {
    if (how == Compression::None) return data;
    // windowBits: 15 + 16 = gzip wrapper, 15 = zlib wrapper, -15 = bare deflate stream.
    int bits = how == Compression::Gzip ? 31 : how == Compression::Deflate ? 15 : -15;
    z_stream zs{};
    if (deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&zs, static_cast<uLong>(data.size())) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&zs, Z_FINISH);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
    out.resize(zs.total_out);
    return out;
}

std::optional<std::string> readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A key and a self-signed certificate for 127.0.0.1 and localhost, made fresh per server.
struct TlsIdentity {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    TlsIdentity() {
        key = EVP_EC_gen("prime256v1");
        cert = X509_new();
        if (!key || !cert) throw std::runtime_error("cannot create a test TLS identity");
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 30);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                                   -1, 0);
        X509_set_issuer_name(cert, name);
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
        if (X509_EXTENSION* ext =
                X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost")) {
            X509_add_ext(cert, ext, -1);
            X509_EXTENSION_free(ext);
        }
        if (X509_sign(cert, key, EVP_sha256()) == 0) throw std::runtime_error("cannot sign the test certificate");
    }
    ~TlsIdentity() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};

// Headers the server library adds to a request itself; not part of what the client sent.
bool isServerAddedHeader(const std::string& name) {
    return iequals(name, "REMOTE_ADDR") || iequals(name, "REMOTE_PORT") || iequals(name, "LOCAL_ADDR") ||
           iequals(name, "LOCAL_PORT");
}

}  // namespace

// ---- Reply builders ----

Reply Reply::html(std::string body, std::string charset) {
    Reply r;
    r.body = std::move(body);
    r.contentType = "text/html";
    r.charset = std::move(charset);
    return r;
}

Reply Reply::withStatus(int status, std::string body) {
    Reply r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

Reply Reply::redirect(std::string location, int status) {
    Reply r;
    r.status = status;
    r.location = std::move(location);
    r.body = "";
    return r;
}

Reply Reply::connectionReset() {
    Reply r;
    r.reset = true;
    return r;
}

Reply Reply::file() {
    return Reply{};
}

// ---- RecordedRequest ----

bool RecordedRequest::hasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return iequals(h.first, name); });
}

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& h : headers)
        if (iequals(h.first, name)) return h.second;
    return {};
}

std::string RecordedRequest::field(const std::string& name) const {
    for (const auto& f : formFields)
        if (f.first == name) return f.second;
    return {};
}

std::string RecordedRequest::param(const std::string& name) const {
    for (const auto& f : queryParams)
        if (f.first == name) return f.second;
    return {};
}

const RecordedPart* RecordedRequest::part(const std::string& name) const {
    for (const auto& p : parts)
        if (p.name == name) return &p;
    return nullptr;
}

const RecordedFile* RecordedRequest::file(const std::string& name) const {
    for (const auto& f : files)
        if (f.name == name) return &f;
    return nullptr;
}

// ---- LocalHttpServer ----

LocalHttpServer::LocalHttpServer() : LocalHttpServer(Options{}) {}

LocalHttpServer::LocalHttpServer(std::string root) : LocalHttpServer(Options{std::move(root)}) {}

LocalHttpServer::LocalHttpServer(Options options) : m_options(std::move(options)) {
    // A client that hangs up mid-answer must not kill the test process with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);

    if (m_options.tls) {
        TlsIdentity id;
        auto server = std::make_unique<httplib::SSLServer>(id.cert, id.key);
        if (!server->is_valid()) throw std::runtime_error("LocalHttpServer: TLS set-up failed");
        SSL_CTX* ctx = server->ssl_context();
        SSL_CTX_set_tlsext_servername_arg(ctx, this);
        SSL_CTX_set_tlsext_servername_callback(
            ctx, +[](SSL* ssl, int*, void* arg) -> int {
                auto* self = static_cast<LocalHttpServer*>(arg);
                const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
                std::lock_guard<std::mutex> lock(self->m_lock);
                self->m_serverNames.emplace_back(name ? name : "");
                return SSL_TLSEXT_ERR_OK;
            });
        m_server = std::move(server);
    } else {
        m_server = std::make_unique<httplib::Server>();
    }

    std::size_t threads = std::max<std::size_t>(2, m_options.threads);
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // Short keep-alive so the destructor never waits long for an idle client connection.
    m_server->set_keep_alive_timeout(1);
    m_server->set_read_timeout(5, 0);
    m_server->set_write_timeout(5, 0);

    // The library would split a multipart body itself and drop the parts' Content-Transfer-
    // Encoding; relabelled before routing, the body arrives whole and is split here instead.
    m_server->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        auto& r = const_cast<httplib::Request&>(req);  // the server's own, non-const request
        auto it = r.headers.find("Content-Type");
        if (it != r.headers.end() && it->second.rfind("multipart/", 0) == 0) {
            std::string original = it->second;
            it->second = "application/octet-stream";
            r.headers.emplace(kOriginalTypeHeader, original);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    auto plain = [this](const httplib::Request& req, httplib::Response& res) { handle(req, req.body, res); };
    // Bodies are read whole through a content reader and multipart bodies are split here, so
    // every part header (charset, transfer encoding) is kept, and the library's 8 KB cap on
    // url-encoded forms does not apply (published articles are larger).
    auto withBody = [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
        std::string body;
        reader([&](const char* data, std::size_t n) {
            body.append(data, n);
            return true;
        });
        handle(req, body, res);
    };
    m_server->Get(".*", plain);
    m_server->Delete(".*", plain);
    m_server->Options(".*", plain);
    m_server->Post(".*", withBody);
    m_server->Put(".*", withBody);
    m_server->Patch(".*", withBody);

    if (m_options.port > 0)
        m_port = m_server->bind_to_port("127.0.0.1", m_options.port) ? m_options.port : -1;
    else
        m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) throw std::runtime_error("LocalHttpServer: cannot bind 127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    for (int i = 0; i < 500 && !m_server->is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

LocalHttpServer::~LocalHttpServer() {
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        m_stopping = true;
    }
    m_stopWake.notify_all();
    // stop() does nothing until the accept loop runs; wait for it so the join cannot hang.
    for (int i = 0; i < 500 && !m_server->is_running() && m_thread.joinable(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_server->stop();
    if (m_thread.joinable()) m_thread.join();
}

std::string LocalHttpServer::url(const std::string& path) const {
    return std::string(m_options.tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + path;
}

void LocalHttpServer::on(const std::string& path, Reply reply) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_rules[path] = std::move(reply);
}

void LocalHttpServer::clearRules() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_rules.clear();
    m_scripts.clear();
}

void LocalHttpServer::respond(std::function<std::optional<Reply>(const RecordedRequest&)> responder) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_responder = std::move(responder);
}

void LocalHttpServer::script(const std::string& path, Reply reply) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_scripts[path].push_back(std::move(reply));
}

void LocalHttpServer::script(const std::string& path, std::vector<Reply> replies) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& r : replies) m_scripts[path].push_back(std::move(r));
}

std::vector<RecordedRequest> LocalHttpServer::requests() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
}

std::vector<RecordedRequest> LocalHttpServer::requestsTo(const std::string& path) const {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<RecordedRequest> out;
    for (const auto& r : m_requests)
        if (r.path == path) out.push_back(r);
    return out;
}

std::optional<RecordedRequest> LocalHttpServer::lastRequest() const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_requests.empty()) return std::nullopt;
    return m_requests.back();
}

std::size_t LocalHttpServer::requestCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests.size();
}

void LocalHttpServer::clearRequests() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_requests.clear();
    m_serverNames.clear();
}

std::vector<std::string> LocalHttpServer::serverNames() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_serverNames;
}

bool LocalHttpServer::sleepUnlessStopping(std::chrono::milliseconds d) {
    std::unique_lock<std::mutex> lock(m_stopLock);
    return !m_stopWake.wait_for(lock, d, [this] { return m_stopping; });
}

Reply LocalHttpServer::pickReply(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto s = m_scripts.find(path);
    if (s != m_scripts.end() && !s->second.empty()) {
        Reply r = std::move(s->second.front());
        s->second.pop_front();
        return r;
    }
    if (auto exact = m_rules.find(path); exact != m_rules.end()) return exact->second;
    const Reply* best = nullptr;
    std::size_t bestLen = 0;
    for (const auto& [key, reply] : m_rules) {
        if (key.empty() || key.back() != '*') continue;
        std::string prefix = key.substr(0, key.size() - 1);
        if (path.compare(0, prefix.size(), prefix) == 0 && (!best || prefix.size() >= bestLen)) {
            best = &reply;
            bestLen = prefix.size();
        }
    }
    return best ? *best : Reply::file();
}

void LocalHttpServer::handle(const httplib::Request& req, const std::string& body, httplib::Response& res) {
    RecordedRequest rec;
    rec.method = req.method;
    rec.path = req.path;
    rec.target = req.target;
    if (auto q = req.target.find('?'); q != std::string::npos) rec.query = req.target.substr(q + 1);
    const std::string originalType = req.get_header_value(kOriginalTypeHeader);
    for (const auto& [name, value] : req.headers) {
        if (isServerAddedHeader(name) || iequals(name, kOriginalTypeHeader)) continue;
        if (!originalType.empty() && iequals(name, "Content-Type"))
            rec.headers.emplace_back(name, originalType);
        else
            rec.headers.emplace_back(name, value);
    }
    rec.body = body;
    rec.queryParams = parseForm(rec.query);
    if (req.get_header_value("Content-Type").find("application/x-www-form-urlencoded") == 0)
        rec.formFields = parseForm(body);
    rec.parts = parseMultipart(originalType, body);
    for (const auto& part : rec.parts) {
        if (part.filename.empty())
            rec.formFields.emplace_back(part.name, part.content);
        else
            rec.files.push_back({part.name, part.filename, part.contentType, part.content});
    }
    std::function<std::optional<Reply>(const RecordedRequest&)> responder;
    std::optional<Reply> scripted;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        responder = m_responder;
    }
    if (responder) scripted = responder(rec);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_requests.push_back(std::move(rec));
    }
    try {
        answer(req, res, scripted ? *scripted : pickReply(req.path));
    } catch (const std::exception& e) {
        res.status = 500;
        res.set_content(std::string("LocalHttpServer: ") + e.what(), "text/plain");
    }
}

void LocalHttpServer::answer(const httplib::Request& req, httplib::Response& res, const Reply& reply) {
    if (reply.delay.count() > 0 && !sleepUnlessStopping(reply.delay)) {
        res.status = 503;
        return;
    }
    if (reply.reset) {
        resetConnection(req);
        res.status = 500;
        return;
    }

    int status = reply.status;
    std::string body;
    std::string type;
    if (reply.body) {
        body = *reply.body;
        type = reply.contentType.value_or("text/html");
    } else {
        namespace fs = std::filesystem;
        std::optional<std::string> content;
        fs::path rel = fs::path(req.path).relative_path();
        bool escapes = std::any_of(rel.begin(), rel.end(), [](const fs::path& seg) { return seg == ".."; });
        if (!m_options.root.empty() && !escapes) {
            fs::path full = fs::path(m_options.root) / rel;
            std::error_code ec;
            if (fs::is_directory(full, ec)) full /= "index.html";
            content = readFile(full);
            type = reply.contentType.value_or(guessContentType(full.string()));
        }
        if (content) {
            body = std::move(*content);
        } else {
            status = 404;
            body = "<html><body><h1>404 Not Found</h1></body></html>";
            type = reply.contentType.value_or("text/html");
        }
    }
    if (!reply.location.empty()) {
        if (status < 300 || status > 399) status = 302;
        res.set_header("Location", reply.location);
    }
    res.status = status;
    for (const auto& [name, value] : reply.headers) res.set_header(name, value);
    if (!type.empty() && !reply.charset.empty()) type += "; charset=" + reply.charset;

    if (reply.compression != Compression::None) {
        body = compress(body, reply.compression);
        res.set_header("Content-Encoding", reply.compression == Compression::Gzip ? "gzip" : "deflate");
    }

    if (body.empty()) {
        res.set_content("", type);
    } else {
        // A sized provider both allows trickling and keeps the library from compressing the
        // body on its own, so what a test configures is exactly what goes on the wire.
        auto shared = std::make_shared<std::string>(std::move(body));
        auto interval = reply.trickleInterval;
        std::size_t piece = interval.count() > 0 ? std::max<std::size_t>(1, reply.trickleBytes) : shared->size();
        const std::size_t cut = reply.truncateAfter;
        res.set_content_provider(
            shared->size(), type,
            [this, shared, interval, piece, cut](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (interval.count() > 0 && !sleepUnlessStopping(interval)) return false;
                std::size_t n = std::min(piece, length);
                if (cut > 0) {
                    if (offset >= cut) return false;
                    n = std::min(n, cut - offset);
                }
                return sink.write(shared->data() + offset, n);
            });
    }
    if (type.empty()) {
        res.headers.erase("Content-Type");
        res.headers.emplace("Content-Type", "");
    }
}

void LocalHttpServer::resetConnection(const httplib::Request& req) {
    // The server library does not hand out the socket of a request, so find it among the
    // process's descriptors by its two ports, arm a zero linger and replace it with a fresh
    // unconnected socket: the original closes with a TCP reset, and the library later closes
    // the stand-in without ever touching a descriptor it no longer owns.
    int localPort = req.local_port > 0 ? req.local_port : m_port;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return;
    int target = -1;
    while (dirent* e = readdir(dir)) {
        char* end = nullptr;
        long fd = std::strtol(e->d_name, &end, 10);
        if (!end || *end != '\0' || fd < 0 || fd == dirfd(dir)) continue;
        sockaddr_in local{}, peer{};
        socklen_t len = sizeof(local);
        if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &len) != 0 ||
            local.sin_family != AF_INET || ntohs(local.sin_port) != localPort)
            continue;
        len = sizeof(peer);
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &len) != 0 ||
            ntohs(peer.sin_port) != req.remote_port)
            continue;
        target = static_cast<int>(fd);
        break;
    }
    closedir(dir);
    if (target < 0) return;
    linger lg{1, 0};
    setsockopt(target, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    int standIn = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (standIn < 0) return;
    dup2(standIn, target);
    close(standIn);
}

}  // namespace tarvex::test
