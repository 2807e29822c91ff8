#include "support/publish_receiver.h"

#include <algorithm>

namespace tarvex::test {

PublishReceiver::PublishReceiver() : PublishReceiver(LocalHttpServer::Options{}) {}

PublishReceiver::PublishReceiver(LocalHttpServer::Options options) : m_server(std::move(options)) {
    m_answers["AddInfo"] = success();
    m_answers["upall"] = success();
    m_answers["upsingle"] = success();
    m_answers["upsingle_part"] = success();
    m_answers["GetAllClass"] = Reply::html("@@@<br/>新闻###1###0<br/>国内###2###1<br/>体育###3###0<br/>");
    m_server.respond([this](const RecordedRequest& r) -> std::optional<Reply> {
        const std::string op = r.field("tarvex");
        if (op.empty() && r.method == "GET") return std::nullopt;
        std::function<void(const RecordedRequest&)> observer;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            observer = m_observer;
        }
        if (observer) observer(r);
        std::lock_guard<std::mutex> lock(m_lock);
        if (auto s = m_scripts.find(op); s != m_scripts.end() && !s->second.empty()) {
            Reply reply = s->second.front();
            s->second.erase(s->second.begin());
            return reply;
        }
        if (auto a = m_answers.find(op); a != m_answers.end()) return a->second;
        return Reply::withStatus(400, "unknown operation");
    });
}

void PublishReceiver::observe(std::function<void(const RecordedRequest&)> observer) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_observer = std::move(observer);
}

void PublishReceiver::answer(const std::string& op, Reply reply) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_answers[op] = std::move(reply);
}

void PublishReceiver::script(const std::string& op, std::vector<Reply> replies) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto& q = m_scripts[op];
    q.insert(q.end(), replies.begin(), replies.end());
}

std::vector<RecordedRequest> PublishReceiver::posts(const std::string& op) const {
    std::vector<RecordedRequest> out;
    for (auto& r : m_server.requests())
        if (op.empty() || r.field("tarvex") == op) out.push_back(std::move(r));
    return out;
}

std::map<std::string, std::string> PublishReceiver::assembled() const {
    std::map<std::string, std::vector<std::pair<int, std::string>>> pieces;
    for (const auto& r : posts("upsingle_part")) {
        const auto* file = r.part("upload_file[]");
        pieces[r.field("upload_newurl[]")].emplace_back(std::stoi("0" + r.field("part")), file ? file->content : "");
    }
    std::map<std::string, std::string> out;
    for (auto& [url, list] : pieces) {
        std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [k, bytes] : list) out[url] += bytes;
    }
    return out;
}

void PublishReceiver::clear() {
    m_server.clearRequests();
}

}  // namespace tarvex::test
