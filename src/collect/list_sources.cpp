#include "collect/list_sources.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unordered_set>

#include "collect/task_db.h"
#include "platform/json_text.h"
#include "platform/run_log.h"
#include "platform/utf8.h"

namespace tarvex::collect {

namespace {
nlohmann::json parseObject(const std::string& text) {
    if (text.empty()) return nlohmann::json::object();
    auto j = platform::parseJson<nlohmann::json>(text);
    return j.is_object() ? j : nlohmann::json::object();
}

std::string textOf(const nlohmann::json& obj, const char* key) {
    if (!obj.contains(key)) return {};
    const auto& v = obj[key];
    if (v.is_string()) return v.get<std::string>();
    if (v.is_null()) return {};
    return v.dump();
}

bool startsWith(const std::string& s, const std::string& p) {
    return s.compare(0, p.size(), p) == 0;
}

using platform::utf8::replaceAll;

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

bool parseInt(const std::string& s, long long& out) {
    try {
        std::size_t used = 0;
        out = std::stoll(s, &used);
        return used == s.size();
    } catch (...) {
        return false;
    }
}

void compose(const std::string& entry, std::vector<std::string>& out, std::vector<std::string>* warnings) {
    static const std::string head = "列表合成=";
    std::size_t sep = entry.find("[,]");
    if (sep == std::string::npos || sep < head.size()) {
        if (warnings) warnings->push_back("列表合成格式错误：" + entry);
        return;
    }
    const std::string tmpl = entry.substr(head.size(), sep - head.size());
    auto pieces = split(entry, ',');
    if (pieces.size() < 3) return;
    std::string firstText = pieces[pieces.size() - 3];
    replaceAll(firstText, "]", "");
    long long first = 0, last = 0, step = 0;
    if (!parseInt(firstText, first) || !parseInt(pieces[pieces.size() - 2], last) || !parseInt(pieces.back(), step)) {
        if (warnings) warnings->push_back("列表合成数值错误：" + entry);
        return;
    }
    if (step <= 0) {
        // A step of 0 or less would never reach the end of the range.
        if (warnings) warnings->push_back("列表合成间隔必须大于0，按1处理：" + entry);
        step = 1;
    }
    auto emit = [&](long long v) {
        std::string url = tmpl;
        replaceAll(url, "{参数}", std::to_string(v));
        out.push_back(std::move(url));
    };
    long long produced = 0;
    auto capped = [&] {
        if (++produced < kMaxComposedAddresses) return false;
        if (warnings)
            warnings->push_back("列表合成网址超过" + std::to_string(kMaxComposedAddresses) + "个，只取前" +
                                std::to_string(kMaxComposedAddresses) + "个：" + entry);
        return true;
    };
    if (last < first) {
        for (long long v = first;; v -= step) {
            emit(v);
            if (v - step < last || capped()) break;
        }
    } else {
        for (long long v = first;; v += step) {
            emit(v);
            if (v + step > last || capped()) break;
        }
    }
}

void importFile(const std::string& entry, const std::string& programFolder, std::vector<std::string>& out) {
    std::string path(platform::utf8::substr(entry, 5));
    if (path.empty()) return;
    if (path[0] != '/') path = programFolder + path;
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = platform::utf8::repair(platform::utf8::stripBom(ss.str()));
    for (auto line : split(text, '\n')) {
        line.erase(std::remove(line.begin(), line.end(), '\t'), line.end());
        auto b = line.find_first_not_of(" \r");
        if (b == std::string::npos) continue;
        auto e = line.find_last_not_of(" \r");
        out.push_back(line.substr(b, e - b + 1));
    }
}
}  // namespace

std::string ListSources(const std::string& listSettingsJson, const std::string& programFolder,
                        std::vector<std::string>* warnings) {
    auto settings = parseObject(listSettingsJson);
    if (!settings.contains("More_urls") || !settings["More_urls"].is_array()) return {};
    std::vector<std::string> all;
    for (const auto& e : settings["More_urls"]) {
        if (!e.is_string()) continue;
        const std::string entry = e.get<std::string>();
        if (startsWith(entry, "http"))
            all.push_back(entry);
        else if (startsWith(entry, "列表合成="))
            compose(entry, all, warnings);
        else if (startsWith(entry, "文本导入="))
            importFile(entry, programFolder, all);
    }
    std::unordered_set<std::string> seen;
    std::string joined;
    for (const auto& a : all) {
        if (!seen.insert(a).second) continue;
        if (!joined.empty()) joined += "\r\n";
        joined += a;
    }
    return joined;
}

bool IsDirectMode(const std::string& listSettingsJson) {
    if (listSettingsJson.empty()) return true;
    auto settings = parseObject(listSettingsJson);
    return textOf(settings, "More_begin").empty() || textOf(settings, "More_end").empty();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> out;
    for (auto line : split(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) out.push_back(std::move(line));
    }
    return out;
}

std::size_t LoadKnownUrls(RunContext& run) {
    // Streamed row by row: a task with millions of rows never holds a copy of the table.
    platform::SqliteConnection db(run.dbPath, platform::SqliteConnection::Mode::ReadWrite);
    platform::SqliteStatement st(db, sql::SelectUrls());
    std::size_t rows = 0;
    while (st.step()) {
        run.known.add(st.columnText(0));
        ++rows;
    }
    return rows;
}

int InsertDirectAddresses(RunContext& run, const std::vector<std::string>& addresses, int intervalMs) {
    const std::size_t total = addresses.size();
    std::size_t current = 0;
    int inserted = 0;
    auto status = [&] {
        run.label(1, "运行状态:网址总数/当前/成功：" + std::to_string(total) + "/" + std::to_string(current) + "/" +
                         std::to_string(inserted));
        run.progress(1, static_cast<int>(current));
    };
    run.progressRange(1, 0, static_cast<int>(total));
    status();
    while (current < total) {
        if (!run.sleepFor(intervalMs) || !run.pauseCheck("TMyThread:列表采集|线程内已暂停:")) {
            platform::WriteLog("TMyThread:列表采集|线程内 外部强制停止", 0);
            return inserted;
        }
        const std::size_t end = std::min(total, current + 1000);
        std::string script;
        for (std::size_t i = current; i < end; ++i) {
            if (!run.known.add(addresses[i])) continue;
            ++inserted;
            script += sql::InsertDirectAddress(addresses[i]);
        }
        current = end;
        run.pane("采集列表进度：(" + std::to_string(current) + "/" + std::to_string(total) + "),成功采集网址数" +
                 std::to_string(inserted));
        if (!script.empty()) {
            std::string result;
            {
                std::unique_lock<std::mutex> lock;
                if (run.slotDbLock) lock = std::unique_lock<std::mutex>(*run.slotDbLock);
                try {
                    result = tryExecScript(run.dbPath, "BEGIN;" + script + "COMMIT;");
                    // A failed script leaves its transaction open; closing the connection rolls it back.
                } catch (const std::exception& e) {
                    result = std::string("fail|") + e.what();
                }
            }
            if (result == "succ|") {
                platform::WriteLog("TMyThread: 列表采集|直接内容页，插入diysql1成功", 0);
            } else {
                const std::string msg = result.substr(5);
                run.pane(DbErrorText(msg));
                platform::WriteLog("TMyThread: 列表采集|插入diysql1失败：" + msg, 0);
            }
        }
        status();
    }
    status();
    platform::WriteLog("TMyThread: 列表采集|直接内容页 全部网址写入数据库完成===========\r\r", 0);
    return inserted;
}

}  // namespace tarvex::collect
