// tarvex-demo-receiver: the receiving end of publishing as a small local service, for the demo
// when no WordPress is installed. It is the tests' publish receiver on a fixed folder: every
// record posted to /tarvex.php is answered "succ|…", uploaded files are stored below the folder
// at their new addresses, and the folder's index.html (served at /) shows what was received.
// received.json holds the same for scripts.
//
//   tarvex-demo-receiver --out DIR [--port N]
//
// Prints "receiver: http://127.0.0.1:PORT/tarvex.php" once it listens (on another free port when
// PORT cannot be had); SIGINT or SIGTERM ends it.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "platform/markup.h"
#include "platform/text_codec.h"
#include "platform/utf8.h"
#include "support/publish_receiver.h"

namespace fs = std::filesystem;
using tarvex::test::PublishReceiver;
using tarvex::test::RecordedRequest;
using tarvex::test::Reply;

namespace {

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) {
    g_stop = 1;
}

// Form values arrive in the module's charset: UTF-8, or GBK for a module with "charset=0".
std::string asUtf8(const std::string& bytes) {
    return tarvex::platform::utf8::isValid(bytes) ? bytes : tarvex::platform::gb18030ToUtf8(bytes);
}

// Where an uploaded file with this new address is kept: below `root`, never outside it.
std::optional<fs::path> storedPath(const fs::path& root, const std::string& newurl) {
    std::string path = newurl;
    if (auto scheme = path.find("://"); scheme != std::string::npos) {
        auto slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? "" : path.substr(slash);
    }
    fs::path rel = fs::path(path).relative_path().lexically_normal();
    if (rel.empty() || rel.begin()->string() == ".." || !rel.has_filename()) return std::nullopt;
    return root / rel;
}

// Pairs the i-th "upload_newurl[]" field with the i-th "upload_file[]" part.
std::vector<std::pair<std::string, std::string>> uploads(const RecordedRequest& r) {
    std::vector<std::string> names;
    std::vector<std::string> files;
    for (const auto& part : r.parts) {
        if (part.name == "upload_newurl[]") names.push_back(part.content);
        if (part.name == "upload_file[]") files.push_back(part.content);
    }
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t i = 0; i < names.size() && i < files.size(); ++i) out.emplace_back(names[i], files[i]);
    return out;
}

class Service {
public:
    Service(fs::path out, int port) : m_out(std::move(out)), m_receiver(options(m_out, port)) {
        m_receiver.answer("GetAllClass", Reply::html("@@@<br/>本地新闻###1###0<br/>Field Notes###2###0<br/>"));
        m_receiver.observe([this](const RecordedRequest& r) { take(r); });
        write();
    }
    std::string url() const { return m_receiver.url("/tarvex.php"); }

private:
    static tarvex::test::LocalHttpServer::Options options(const fs::path& out, int port) {
        fs::create_directories(out);
        tarvex::test::LocalHttpServer::Options o;
        o.root = out.string();
        o.port = port;
        return o;
    }

    void take(const RecordedRequest& r) {
        std::lock_guard<std::mutex> lock(m_lock);
        const std::string op = r.field("tarvex");
        if (op == "AddInfo") {
            nlohmann::ordered_json record = nlohmann::ordered_json::object();
            for (const auto& [name, value] : r.formFields)
                if (name != "tarvex") record[asUtf8(name)] = asUtf8(value);
            m_records.push_back(std::move(record));
        } else if (op == "upsingle" || op == "upall") {
            for (const auto& [newurl, bytes] : uploads(r)) store(newurl, bytes, false);
        } else if (op == "upsingle_part") {
            for (const auto& [newurl, bytes] : uploads(r)) store(newurl, bytes, r.field("part") != "1");
        }
        write();
    }

    void store(const std::string& newurl, const std::string& bytes, bool append) {
        auto path = storedPath(m_out, newurl);
        if (!path) return;
        std::error_code ec;
        fs::create_directories(path->parent_path(), ec);
        std::ofstream(*path, std::ios::binary | (append ? std::ios::app : std::ios::trunc)) << bytes;
        if (!append) m_files.push_back(newurl);
    }

    // index.html and received.json, replaced whole so a reader never sees half a file.
    void write() const {
        nlohmann::ordered_json doc{{"records", m_records}, {"files", m_files}};
        replaceFile(m_out / "received.json", doc.dump(1, ' ', false, nlohmann::json::error_handler_t::replace));

        std::string page =
            "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>演示接收端 · what was published</title>\n"
            "<meta http-equiv=\"refresh\" content=\"5\">\n<style>body{font-family:sans-serif;max-width:900px;margin:0 "
            "auto;padding:0 16px;color:#263238}article{border-top:1px solid #cfd8dc;padding:8px 0}iframe{width:100%;"
            "height:260px;border:1px solid #eceff1}.meta{color:#78909c;font-size:13px}</style></head><body>\n"
            "<h1>演示接收端</h1><p>The demo's publish target: " +
            std::to_string(m_records.size()) + " records and " + std::to_string(m_files.size()) +
            " files received. The content of each record is shown as posted, in a frame that runs no scripts.</p>\n";
        for (auto it = m_records.rbegin(); it != m_records.rend(); ++it) {
            const auto& r = *it;
            auto text = [&](const char* key) { return r.contains(key) ? r[key].get<std::string>() : std::string(); };
            std::string content = text("content");
            // Uploaded files are stored below this folder: site-absolute addresses become relative
            // so the page works both when served and when opened as a file.
            tarvex::platform::utf8::replaceAll(content, "src=\"/", "src=\"");
            page += "<article><h2>" + tarvex::platform::escapeMarkup(text("title")) + "</h2>\n<p class=\"meta\">";
            for (const auto& [key, value] : r.items())
                if (key != "title" && key != "content")
                    page += tarvex::platform::escapeMarkup(key) + ": " +
                            tarvex::platform::escapeMarkup(value.get<std::string>()) + " &nbsp; ";
            page += "</p>\n";
            if (!text("thumb").empty()) {
                std::string thumb = text("thumb");
                if (!thumb.empty() && thumb.front() == '/') thumb.erase(0, 1);
                page += "<p><img src=\"" + tarvex::platform::escapeMarkup(thumb) + "\" alt=\"thumbnail\"></p>\n";
            }
            page += "<iframe sandbox srcdoc=\"" + tarvex::platform::escapeMarkup(content) + "\"></iframe></article>\n";
        }
        page += "</body></html>\n";
        replaceFile(m_out / "index.html", page);
    }

    static void replaceFile(const fs::path& path, const std::string& text) {
        const fs::path temp = path.string() + ".tmp";
        std::ofstream(temp, std::ios::binary | std::ios::trunc) << text;
        std::error_code ec;
        fs::rename(temp, path, ec);
    }

    fs::path m_out;
    PublishReceiver m_receiver;
    mutable std::mutex m_lock;
    std::vector<nlohmann::ordered_json> m_records;
    std::vector<std::string> m_files;
};

}  // namespace

int main(int argc, char** argv) {
    std::string out;
    int port = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--out")
            out = argv[i + 1];
        else if (name == "--port")
            port = std::atoi(argv[i + 1]);
    }
    if (out.empty() || argc % 2 == 0) {
        std::cerr << "usage: tarvex-demo-receiver --out DIR [--port N]\n";
        return 2;
    }
    std::unique_ptr<Service> service;
    try {
        service = std::make_unique<Service>(out, port);
    } catch (const std::exception& e) {
        // A port still closing from an earlier run, or taken: any free one serves the demo as well.
        if (port == 0) {
            std::cerr << "tarvex-demo-receiver: " << e.what() << "\n";
            return 1;
        }
        service = std::make_unique<Service>(out, 0);
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::cout << "receiver: " << service->url() << std::endl;
    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}
