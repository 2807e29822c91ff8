#include "collect/list_sources.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "collect/task_db.h"
#include "platform/file_read.h"
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
    // The next value is computed only when it neither passes the last one nor leaves the
    // range of 64-bit numbers.
    if (last < first) {
        for (long long v = first;; v -= step) {
            emit(v);
            long long next = 0;
            if (__builtin_sub_overflow(v, step, &next) || next < last || capped()) break;
        }
    } else {
        for (long long v = first;; v += step) {
            emit(v);
            long long next = 0;
            if (__builtin_add_overflow(v, step, &next) || next > last || capped()) break;
        }
    }
}

void importFile(const std::string& entry, const std::string& programFolder, std::vector<std::string>& out,
                std::vector<std::string>* warnings) {
    std::string path(platform::utf8::substr(entry, 5));
    if (path.empty()) return;
    if (path[0] != '/') path = programFolder + path;
    auto text = ReadListFile(path);
    if (!text) {
        if (!text.error().empty() && warnings) warnings->push_back(text.error());
        return;
    }
    for (auto line : split(platform::utf8::repair(platform::utf8::stripBom(*text)), '\n')) {
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
            importFile(entry, programFolder, all, warnings);
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

ListFileText ReadListFile(const std::string& path, std::size_t maxBytes) {
    auto file = platform::readRegularFile(path, maxBytes);
    switch (file.error) {
        case platform::FileReadError::None:
            return ListFileText::ok(std::move(*file.bytes));
        case platform::FileReadError::Missing:
            // A missing file contributes nothing, as a file deleted after it was chosen.
            return ListFileText::failed("");
        case platform::FileReadError::NotRegular:
            return ListFileText::failed("文本导入不是普通文件，已跳过：" + path);
        case platform::FileReadError::TooLarge:
            return ListFileText::failed("文本导入文件超过" +
                                        (maxBytes % (1024 * 1024) == 0 ? std::to_string(maxBytes / (1024 * 1024)) + "MB"
                                                                       : std::to_string(maxBytes) + "字节") +
                                        "，已跳过：" + path);
        case platform::FileReadError::Unreadable:
            break;
    }
    return ListFileText::failed("文本导入文件无法读取：" + path + "," + file.reason);
}

std::size_t LoadKnownUrls(RunContext& run) {
    // Streamed row by row: only a hash and the row id of each address are kept.
    run.known.clear();
    platform::SqliteConnection db(run.dbPath, platform::SqliteConnection::Mode::ReadWrite);
    {
        platform::SqliteStatement count(db, "select count(*) from content");
        if (count.step()) run.known.reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, count.columnInt(0))));
    }
    platform::SqliteStatement st(db, "select id,url from content where url is not null");
    std::size_t rows = 0;
    while (st.step()) {
        run.known.addStored(st.columnView(1), st.columnInt(0));
        ++rows;
    }
    return rows;
}

std::optional<std::string> StoredUrlReader::operator()(std::int64_t rowId) {
    try {
        if (!m_db)
            m_db = std::make_unique<platform::SqliteConnection>(m_path, platform::SqliteConnection::Mode::ReadWrite);
        if (!m_select)
            m_select = std::make_unique<platform::SqliteStatement>(*m_db, "select url from content where id=?");
        m_select->bind(1, rowId);
        // A row deleted meanwhile holds no address.
        std::string url;
        if (m_select->step()) url = m_select->columnText(0);
        m_select->reset();
        return url;
    } catch (const platform::SqliteError&) {
        if (m_select) m_select->reset();
        return std::nullopt;
    }
}

StoredUrlReader::StoredUrlReader(std::string path) : m_path(std::move(path)) {}
StoredUrlReader::~StoredUrlReader() = default;

KnownUrls::RowReader StoredUrlReader::reader() {
    return [this](std::int64_t rowId) { return (*this)(rowId); };
}

InsertOutcome InsertAddresses(RunContext& run, const std::vector<PendingRow>& rows,
                              const std::vector<std::string>& columns) {
    InsertOutcome out;
    if (rows.empty()) return out;
    std::string sql = "insert into content(id,url,geturl,getc,postc";
    for (const auto& c : columns) sql += "," + platform::quoteIdentifier(c);
    sql += ") values (null,?,1,0,0";
    for (std::size_t i = 0; i < columns.size(); ++i) sql += ",?";
    sql += ")";
    std::vector<std::pair<std::size_t, std::string>> refused;
    std::vector<std::int64_t> rowIds;
    try {
        RetryWhileBusy(
            [&] {
                refused.clear();
                rowIds.assign(rows.size(), 0);
                std::unique_lock<std::mutex> lock;
                if (run.slotDbLock) lock = std::unique_lock<std::mutex>(*run.slotDbLock);
                platform::SqliteConnection db(run.dbPath, platform::SqliteConnection::Mode::ReadWrite);
                RelaxCommitSync(db);
                platform::SqliteTransaction tx(db);
                platform::SqliteStatement insert(db, sql);
                for (std::size_t r = 0; r < rows.size(); ++r) {
                    insert.bind(1, rows[r].url);
                    for (std::size_t i = 0; i < columns.size(); ++i)
                        insert.bind(static_cast<int>(i) + 2,
                                    i < rows[r].values.size() ? rows[r].values[i] : std::string());
                    try {
                        insert.run();
                        rowIds[r] = db.lastInsertRowId();
                    } catch (const platform::SqliteError& e) {
                        // A busy database fails the whole attempt, which starts again.
                        if (e.isBusy()) throw;
                        refused.emplace_back(r, e.what());
                    }
                    insert.reset();
                }
                tx.commit();
            },
            [&run] { return run.stopRequested(); }, run.busyRetryTime);
    } catch (const std::exception& e) {
        // Nothing of these rows reached the file.
        out.pageError = e.what();
        out.failed = static_cast<int>(rows.size());
        for (const auto& row : rows) run.known.addUnstored(row.url);
        return out;
    }
    std::size_t next = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (next < refused.size() && refused[next].first == r) {
            out.errors.push_back(refused[next].second);
            run.known.addUnstored(rows[r].url);
            ++next;
            ++out.failed;
        } else {
            run.known.addStored(rows[r].url, rowIds[r]);
            ++out.inserted;
        }
    }
    return out;
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
    StoredUrlReader stored(run.dbPath);
    const auto read = stored.reader();
    while (current < total) {
        if (!run.sleepFor(intervalMs) || !run.pauseCheck("TMyThread:列表采集|线程内已暂停:")) {
            platform::WriteLog("TMyThread:列表采集|线程内 外部强制停止", 0);
            return inserted;
        }
        const std::size_t end = std::min(total, current + 1000);
        std::vector<PendingRow> batch;
        std::unordered_set<std::string_view> inBatch;
        for (std::size_t i = current; i < end; ++i) {
            const std::string& address = addresses[i];
            if (inBatch.count(address) || run.known.contains(address, read)) continue;
            inBatch.insert(address);
            batch.push_back(PendingRow{address, {}});
        }
        current = end;
        if (!batch.empty()) {
            InsertOutcome r = InsertAddresses(run, batch, {});
            inserted += r.inserted;
            run.counters->listInserted += r.inserted;
            run.counters->listFailed += r.failed;
            if (r.failed == 0) {
                platform::WriteLog("TMyThread: 列表采集|直接内容页，插入diysql1成功", 0);
            } else {
                const std::string msg = !r.pageError.empty() ? r.pageError : r.errors.front();
                run.pane(DbErrorText(msg));
                platform::WriteLog("TMyThread: 列表采集|插入diysql1失败：" + msg, 0);
            }
        }
        run.pane("采集列表进度：(" + std::to_string(current) + "/" + std::to_string(total) + "),成功采集网址数" +
                 std::to_string(inserted));
        status();
    }
    status();
    platform::WriteLog("TMyThread: 列表采集|直接内容页 全部网址写入数据库完成===========\r\r", 0);
    return inserted;
}

}  // namespace tarvex::collect
