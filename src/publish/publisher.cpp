#include "publish/publisher.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "collect/http_fetch.h"
#include "collect/task_db.h"
#include "engine/field_rule.h"
#include "engine/rule_json.h"
#include "platform/run_log.h"
#include "platform/sqlite_db.h"
#include "platform/utf8.h"
#include "publish/attachment_upload.h"
#include "publish/ftp_upload.h"
#include "publish/publish_module.h"
#include "publish/record_delivery.h"
#include "publish/site_group.h"
#include "publish/upload_settings.h"

namespace tarvex::publish {
namespace {

using collect::RunState;
using platform::WriteLog;

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string readBack(std::string s) {
    for (std::size_t p = s.find("&&"); p != std::string::npos; p = s.find("&&", p + 1)) s.replace(p, 2, "&");
    return s;
}

std::string notAnInteger(const std::string& text) {
    return "'" + text + "' is not a valid integer value";
}

// Bar 2 follows the bytes sent of each request: a request that starts (its total changes or
// its count goes back) sets the range and position 0; then the bar moves in steps of a percent.
class SendBar {
public:
    explicit SendBar(const collect::RunContext& run) : m_run(run) {}
    void operator()(std::uint64_t sent, std::uint64_t total) {
        if (total == 0) return;
        if (total != m_total || sent < m_last) {
            m_total = total;
            m_last = 0;
            m_run.progressRange(2, 0, clamp(total));
            m_run.progress(2, 0);
        }
        if (sent == m_last || ((sent - m_last) * 100 < total && sent != total)) return;
        m_last = sent;
        m_run.progress(2, clamp(sent));
    }

private:
    static int clamp(std::uint64_t v) { return static_cast<int>(std::min<std::uint64_t>(v, INT32_MAX)); }
    const collect::RunContext& m_run;
    std::uint64_t m_total = 0, m_last = 0;
};

// The flag update, under the slot's database lock, retried while the database is busy.
bool markPublished(const collect::RunContext& run, const std::string& flag, std::int64_t id, std::string& error) {
    for (int attempt = 1; attempt <= 5; ++attempt) {
        std::string r;
        {
            std::unique_lock<std::mutex> lock;
            if (run.slotDbLock) lock = std::unique_lock<std::mutex>(*run.slotDbLock);
            try {
                r = collect::tryExecScript(run.dbPath, collect::sql::MarkPublished(flag, id));
            } catch (const std::exception& e) {
                r = std::string("fail|") + e.what();
            }
        }
        if (r == "succ|") return true;
        error = r.size() > 5 ? r.substr(5) : r;
        if (!collect::IsBusyFailure(r)) return false;
        sleepMs(200);
    }
    return false;
}

bool columnIn(const std::vector<std::string>& columns, const std::string& name) {
    const std::string n = platform::utf8::lowerAscii(name);
    return std::any_of(columns.begin(), columns.end(),
                       [&](const std::string& c) { return platform::utf8::lowerAscii(c) == n; });
}

struct Settings {
    long long intervalMs = 1;
    long long maxSuccess = 999999;
    long long minId = 0;
    bool review = false;
    bool autoUpload = false;
    UploadMode mode = UploadMode::Inline;
    UploadSettings upload;
    std::string postRuleName;
};

// The settings every publication reads: attachments, the upload settings and the publish module.
void readPostSettings(const engine::RuleJson& doc, Settings& s) {
    s.autoUpload = engine::RuleFlag(doc, "other_autoupload");
    const std::string uploadSet = engine::RuleText(doc, "other_UploadSet");
    s.mode = SelectUploadMode(s.autoUpload, uploadSet);
    s.upload = ReadUploadSettings(uploadSet);
    s.postRuleName = engine::RuleText(doc, "PostRuleName");
}

// How long a stop waits for the reply to a record that is already being sent.
constexpr std::chrono::milliseconds kStopGraceForRecord{2000};

struct PostOutcome {
    bool passed = false;
    bool cancelled = false;  // the run's stop ended the uploads or the request
    std::string reply;       // the interface's reply (with the status line of an error status)
    // Files that did not reach the site: the record was not sent, so it stays queued.
    std::vector<std::string> missingFiles;
    // Files the uploads before the request put on the site (web and FTP modes).
    std::vector<Attachment> uploaded;
};

// Fills the module for one record, sends its attachments as `mode` says and posts it with its
// key. A record whose attachments did not all arrive (or would not be allowed to leave) is not
// posted. A "jsslversion" line sets `sslVersion` for the rest of the run.
PostOutcome postRecord(collect::RunContext& run, const PublishModule& module, const RecordFill& fill,
                       const std::string& recordKey, const std::vector<Attachment>& files, UploadMode mode,
                       const Settings& settings, std::string& sslVersion) {
    PostOutcome out;
    const std::string charset = module.charsetName();
    std::string cookie, userAgent = kPublishUserAgent, successMarker;
    std::vector<platform::FormPart> parts{TextPart("tarvex", "AddInfo", charset)};
    std::string logged = "tarvex=AddInfo";
    for (const auto& [name, content] : module.fields()) {
        std::string value = FillFieldContent(name, content, fill);
        const std::string n = platform::utf8::lowerAscii(name);
        if (n == "cookie" || n == "jcookie") {
            cookie = value;
        } else if (n == "juseragent") {
            userAgent = value;
        } else if (n == "jsuccess") {
            successMarker = value;
        } else if (n == "jsslversion") {
            sslVersion = value;
        } else if (n == "sslverify") {
        } else {
            parts.push_back(TextPart(name, value, charset));
            logged += "\r\n" + name + "=" + value;
        }
    }
    // The same key on every retry lets the interface recognise a record it already stored.
    parts.push_back(TextPart(kRecordKeyField, recordKey, charset));
    const bool verifyTls = ModuleVerifiesTls(module.fields());

    WriteLog("TMyThread:WEB和FTP上传判断check_type_up:" + std::to_string(static_cast<int>(mode)), 0);
    SendBar bar(run);
    UploadReport report(files.size());
    if (!files.empty() && mode == UploadMode::Web) {
        WebUpload upload{files,      module.address(), charset,
                         sslVersion, verifyTls,        [&bar](std::uint64_t s, std::uint64_t t) { bar(s, t); }};
        report = uploadAttachmentsWeb(run, upload, settings.upload);
    } else if (!files.empty() && mode == UploadMode::Ftp) {
        report = uploadAttachmentsFtp(run, files, settings.upload);
    } else if (!files.empty() && settings.autoUpload) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (const std::string why = RefusedAttachment(files[i]); !why.empty()) {
                run.pane(why);
                WriteLog("TMyThread:" + why, 0);
                report.problems.push_back(why);
            } else {
                report.uploaded[i] = true;  // travels inside the request below
            }
        }
    } else {
        report = UploadReport();
    }
    if (mode == UploadMode::Web || mode == UploadMode::Ftp)
        for (std::size_t i = 0; i < files.size() && i < report.uploaded.size(); ++i)
            if (report.uploaded[i]) out.uploaded.push_back(files[i]);
    if (run.stopRequested() || report.cancelled) {
        out.cancelled = true;
        return out;
    }
    if (!report.complete()) {
        out.missingFiles = report.problems;
        if (out.missingFiles.empty()) out.missingFiles.push_back("附件上传未完成");
        return out;
    }

    // A stop lets a record already on its way finish for a moment: a site that stored it gets it
    // marked, instead of receiving it again from the next run. A site that holds the request
    // longer is cut off; closing the program cuts it at once.
    std::optional<std::chrono::steady_clock::time_point> stopSeen;
    auto request = FormPost(module.address(), userAgent, 20000, sslVersion, verifyTls, [&run, &stopSeen] {
        if (run.closing()) return true;
        if (!run.stopRequested()) return false;
        const auto now = std::chrono::steady_clock::now();
        if (!stopSeen) stopSeen = now;
        return now - *stopSeen > kStopGraceForRecord;
    });
    request.cookie = cookie;
    request.multipart = std::move(parts);
    if (mode == UploadMode::Inline && settings.autoUpload) {
        for (const auto& f : files) {
            if (!std::filesystem::exists(f.localPath)) continue;
            AppendAttachmentParts(request.multipart, f, charset);
            sleepMs(10);
        }
    }
    if (!files.empty())
        request.progress = [&bar](std::uint64_t sent, std::uint64_t total, std::uint64_t, std::uint64_t) {
            bar(sent, total);
            return true;
        };
    WriteLog("TMyThread:IDHTTP:配置完毕,postlist2:" + RedactForLog(logged), 0);
    SetOverallDeadline(request);
    platform::HttpResponse response = platform::httpPerform(request);
    std::string reply;
    if (!response.transportOk()) {
        if (response.error == platform::HttpError::Cancelled) {
            out.cancelled = true;
            return out;
        }
        run.pane(TransportErrorText(response, verifyTls));
    } else {
        reply = collect::DecodePage(response.body, response.header("Content-Type"), "");
    }
    // An error status is a failure whatever the body says: "succ|" in a 500 page is no success.
    out.passed = ReplyArrived(response) &&
                 reply.find(successMarker.empty() ? std::string("succ|") : successMarker) != std::string::npos;
    if (!out.passed && response.transportOk() && !ReplyArrived(response)) reply = response.statusLine + "\r" + reply;
    out.reply = std::move(reply);
    return out;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += (out.empty() ? "" : "；") + l;
    return out;
}

class Publisher {
public:
    Publisher(collect::RunContext& run, const std::vector<std::string>& columns)
        : m_run(run), m_columns(columns), m_cache(run.programFolder + "发布规则") {}

    void run();

private:
    bool readSettings();
    // Writes the flags of the successes a former run could not mark; those still failing stay
    // in the file and are skipped by this run.
    void applyPendingSuccesses();
    // false ends the stage
    bool publishTarget(std::size_t index, std::size_t extraSites, const PublishTarget& target);
    collect::SqlTable nextRecord(std::int64_t afterId);
    // A query that waits for a database another connection holds, up to the run's busy wait.
    collect::SqlTable read(const std::string& sql) const;
    // Shows and logs a failed read and marks the run as ended early.
    void readFailed(const std::exception& e);
    bool waitInterval();
    bool pauseWhilePaused();
    void publishOne(const PublishTarget& target, bool mainSite, const PublishModule& module,
                    const collect::SqlTable& row, bool& succeeded, bool& stopPass);

    collect::RunContext& m_run;
    const std::vector<std::string>& m_columns;
    ModuleCache m_cache;
    Settings m_s;
    std::string m_sslVersion;  // from the last "jsslversion" line; kept for the whole run
    bool m_random = false;
    std::string m_flag, m_prefix;
    std::set<std::string> m_usedFlags;  // flag columns of the targets so far, lower case
    std::vector<std::int64_t> m_shuffled;
    std::size_t m_nextShuffled = 0;
    // Successes whose flag could not be written yet (flag column, id): never posted again.
    std::set<std::pair<std::string, std::int64_t>> m_pendingSuccesses;
    bool m_skipped = false;  // the last record was left out without being tried
};

bool Publisher::readSettings() {
    auto doc = engine::ParseRuleJson(m_run.settingsJson).value_or(engine::RuleJson::object());
    const std::string time3 = engine::RuleText(doc, "other_time3");
    auto interval = engine::ParseInteger(time3);
    if (!interval) {
        m_run.pane(notAnInteger(time3));
        WriteLog("TMyThread:发布内容|other_time3:" + notAnInteger(time3), 0);
        return false;
    }
    m_s.intervalMs = std::max(1LL, *interval);
    const std::string minId = engine::RuleText(doc, "other_minid_post");
    if (!minId.empty()) {
        auto v = engine::ParseInteger(minId);
        if (!v) {
            m_run.pane(notAnInteger(minId));
            WriteLog("TMyThread:发布内容|other_minid_post:" + notAnInteger(minId), 0);
            return false;
        }
        m_s.minId = *v;
    }
    auto max = engine::ParseInteger(engine::RuleText(doc, "other_post_max"));
    m_s.maxSuccess = max && *max > 0 ? *max : 999999;
    m_s.review = engine::RuleFlag(doc, "other_check_rengong");
    readPostSettings(doc, m_s);
    return true;
}

void Publisher::run() {
    m_run.pane("==================开始发布内容==================");
    if (!readSettings()) return;
    WriteLog("TMyThread:post_max:" + std::to_string(m_s.maxSuccess), 0);
    WriteLog("TMyThread:check_type_up:" + std::to_string(static_cast<int>(m_s.mode)), 0);
    if (m_s.postRuleName.empty()) {
        m_run.pane("发布规则没有设置！");
        return;
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(ModulePath(m_run.programFolder + "发布规则", m_s.postRuleName), ec)) {
        m_run.pane(MissingModuleText(m_s.postRuleName));
        return;
    }
    m_run.label(2, "附件状态：");
    applyPendingSuccesses();
    const auto targets = PublishTargets(m_run.settingsJson);
    WriteLog("TMyThread.DoPost:PostRulesst.count：" + std::to_string(targets.size()), 0);
    m_random = std::filesystem::exists(m_run.programFolder + "乱序发布.txt", ec);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (m_run.stopRequested()) {
            WriteLog("TMyThread:发布内容|线程内 外部强制停止PostRulesst循环跳出", 0);
            return;
        }
        WriteLog("TMyThread.DoPost|PostRulesst[pi]:" + std::to_string(i) + "," + targets[i].entryText(), 0);
        if (!publishTarget(i, targets.size() - 1, targets[i])) return;
    }
}

void Publisher::applyPendingSuccesses() {
    auto settle = [this](const std::string& flag, std::int64_t id, const std::string& key) {
        const std::string idText = std::to_string(id);
        try {
            // The record must still be the one that was published (same address, same site).
            auto row = read("select url from content where id=" + idText);
            const std::string mark = flag.size() > 6 ? flag.substr(6) : std::string();
            if (row.empty() || RecordKey(m_run.taskId, readBack(row.text(0, "url")), mark) != key) {
                WriteLog("TMyThread:发布内容|待写发布标记已无对应内容，丢弃:" + flag + "," + idText, 0);
                return true;
            }
        } catch (const std::exception& e) {
            WriteLog("TMyThread:发布内容|补写发布标记失败:" + flag + "," + idText + "," + e.what(), 0);
            return false;
        }
        std::string error;
        if (markPublished(m_run, flag, id, error)) {
            WriteLog("TMyThread:发布内容|补写发布标记:" + flag + "," + idText, 0);
            return true;
        }
        WriteLog("TMyThread:发布内容|补写发布标记失败:" + flag + "," + idText + "," + error, 0);
        return false;
    };
    m_pendingSuccesses = ApplyPendingSuccesses(m_run.dbPath, settle);
    if (!m_pendingSuccesses.empty())
        m_run.pane("有" + std::to_string(m_pendingSuccesses.size()) +
                   "条已发布内容的发布标记仍无法写入，这些内容不会重复发布");
}

collect::SqlTable Publisher::read(const std::string& sql) const {
    // Read as a writer: a record is sent only when its published mark can be written after.
    return collect::RetryWhileBusy([&] { return collect::queryForUpdate(m_run.dbPath, sql); },
                                   [this] { return m_run.stopRequested(); }, m_run.busyRetryTime);
}

void Publisher::readFailed(const std::exception& e) {
    const std::string message = m_prefix + "查询数据出错：" + collect::DbErrorText(e.what());
    m_run.pane(message);
    WriteLog("TMyThread:发布内容|查询数据出错" + std::string(e.what()), 0);
    m_run.counters->fail("内容发布未完成，" + message);
}

collect::SqlTable Publisher::nextRecord(std::int64_t afterId) {
    if (!m_random) return read(collect::sql::NextPublish(m_flag, afterId, m_s.review, false));
    // Random order draws from the ids that were unpublished when the target started, each once,
    // so the pass ends when every one has been drawn.
    while (m_nextShuffled < m_shuffled.size()) {
        const std::int64_t id = m_shuffled[m_nextShuffled++];
        auto row = read("select * from content where getc=1 and " + platform::quoteIdentifier(m_flag) +
                        "=0 and id=" + std::to_string(id) + (m_s.review ? " and 人工审核 = '1' " : ""));
        if (!row.empty()) return row;
    }
    return {};
}

bool Publisher::publishTarget(std::size_t index, std::size_t extraSites, const PublishTarget& target) {
    m_prefix = index == 0
                   ? std::string()
                   : "[" + target.siteName + "(" + std::to_string(index) + "/" + std::to_string(extraSites) + ")]";
    std::string error;
    const PublishModule* module = m_cache.get(target.module, &error);
    if (!module) {
        m_run.pane(m_prefix + error);
        return false;
    }
    WriteLog("TMyThread.DoPost:提取发布规则文件postlist.Text：" + RedactForLog(module->text()), 0);
    if (module->lines.size() < 2) {
        m_run.pane(m_prefix + "名称为：" + target.module + ".p，的发布模块内容无法读取");
        return false;
    }
    if (index > 0 && !collect::IsValidSiteMark(target.mark)) {
        m_run.pane(m_prefix + "站点标记不合法，跳过此站点：" + target.mark);
        return true;
    }
    // Two sites with one mark would share one flag column: the second would find every record
    // marked by the first and never get them.
    if (!m_usedFlags.insert(platform::utf8::lowerAscii(target.flagColumn())).second) {
        m_run.pane(m_prefix + "站点标记重复，跳过此站点：" + target.mark);
        return true;
    }
    m_flag = target.flagColumn();
    const bool review = m_s.review;
    long long total = 0;
    collect::SqlTable row;
    try {
        if (index > 0 && !columnIn(m_columns, m_flag)) {
            // A site added to an enabled group after the last save: give it its flag column.
            std::lock_guard<std::mutex> lock(*m_run.slotDbLock);
            collect::execScript(m_run.dbPath, "ALTER table content ADD " + platform::quoteIdentifier(m_flag) +
                                                  " TINYINT(1)  DEFAULT '0'");
        }
        total = engine::ParseInteger(read(collect::sql::CountPublish(m_flag, m_s.minId, review)).text(0, "total"))
                    .value_or(0);
        WriteLog("TMyThread.SqlQueryt:提取发布规则文件deCrypt：" +
                     collect::sql::NextPublish(m_flag, m_s.minId, review, false),
                 0);
        if (m_random) {
            // Only the ids are held (8 bytes a record), read straight from the statement.
            collect::RetryWhileBusy(
                [&] {
                    platform::SqliteConnection c(m_run.dbPath, platform::SqliteConnection::Mode::ReadOnly);
                    platform::SqliteStatement ids(c, "select id from content where getc=1 and " +
                                                         platform::quoteIdentifier(m_flag) + "=0 " +
                                                         (review ? " and 人工审核 = '1' " : ""));
                    m_shuffled.clear();
                    while (ids.step()) m_shuffled.push_back(ids.columnInt(0));
                    return true;
                },
                [this] { return m_run.stopRequested(); }, m_run.busyRetryTime);
            std::shuffle(m_shuffled.begin(), m_shuffled.end(), std::mt19937_64(std::random_device{}()));
            m_nextShuffled = 0;
        }
        row = nextRecord(m_s.minId);
    } catch (const std::exception& e) {
        readFailed(e);
        return false;
    }
    const std::string totalText = std::to_string(total);
    auto label = [&](long long current, long long successes) {
        m_run.label(1, m_prefix + "发布内容:当前/内容总数/成功：" + std::to_string(current) + "/" + totalText + "/" +
                           std::to_string(successes));
    };
    label(0, 0);
    m_run.progressRange(1, 0, static_cast<int>(total));
    m_run.progress(1, 0);
    if (row.empty()) {
        m_run.pane(m_prefix + (m_s.minId > 0 ? "(发布id>" + std::to_string(m_s.minId) + ")" : "") +
                   "没有内容需要发布，跳过[内容发布]步骤");
        return true;
    }
    WriteLog("TMyThread:提取minid:" + row.text(0, "id"), 0);

    long long current = 0, successes = 0;
    while (!row.empty()) {
        const std::int64_t id = engine::ParseInteger(row.text(0, "id")).value_or(0);
        if (id <= 0) break;
        WriteLog("TMyThread:循环minid:" + std::to_string(id), 0);
        m_run.label(2, "附件状态：");
        m_run.progressRange(2, 0, 100);
        waitInterval();
        if (!pauseWhilePaused() || m_run.stopRequested()) {
            WriteLog("TMyThread:发布内容|线程内 外部强制停止", 0);
            return false;
        }
        if (successes >= m_s.maxSuccess) {
            m_run.pane(m_prefix + "发布成功数量已超过本任务设定的最大值：" + std::to_string(m_s.maxSuccess));
            return true;
        }
        ++current;
        label(current, successes);
        m_run.progress(1, static_cast<int>(current));

        bool ok = false, stopPass = false;
        m_skipped = false;
        publishOne(target, index == 0, *module, row, ok, stopPass);
        if (ok)
            ++m_run.counters->published;
        else if (!m_run.stopRequested() && !m_skipped)
            ++m_run.counters->publishFailed;
        if (ok) {
            ++successes;
            label(current, successes);
            m_run.progress(1, static_cast<int>(current));
        }
        if (stopPass) return !m_run.stopRequested();
        try {
            row = nextRecord(id);
        } catch (const std::exception& e) {
            readFailed(e);
            return false;
        }
        if (row.empty()) {
            m_run.pane(m_prefix + "内容已发布完成");
            label(current, successes);
            m_run.progress(1, static_cast<int>(current));
        }
    }
    return true;
}

bool Publisher::waitInterval() {
    const int steps = IntervalSteps(m_s.intervalMs);
    for (int step = 1; step <= steps; ++step) {
        sleepMs(10);
        if (step >= 51 && step % 50 == 1) {
            RunState s = m_run.runState();
            if (s == RunState::Paused || s == RunState::Stopping) return false;
        }
    }
    return true;
}

bool Publisher::pauseWhilePaused() {
    bool noted = false;
    for (;;) {
        RunState s = m_run.runState();
        if (s == RunState::Stopping) return false;
        if (s != RunState::Paused) return true;
        if (!noted) {
            WriteLog("TMyThread:发布内容|线程内已暂停:", 0);
            m_run.pane(collect::paneTime() + "任务暂停");
            noted = true;
        }
        sleepMs(100);
    }
}

void Publisher::publishOne(const PublishTarget& target, bool mainSite, const PublishModule& module,
                           const collect::SqlTable& row, bool& succeeded, bool& stopPass) {
    const std::int64_t id = engine::ParseInteger(row.text(0, "id")).value_or(0);
    const std::string idText = std::to_string(id);
    const std::string title = m_columns.size() > 5 ? row.text(0, m_columns[5]) : std::string();
    WriteLog("TMyThread:发布 开始配置postlist2，minid:" + idText, 0);
    WriteLog("TMyThread:发布 开始配置postlist2初始化", 0);

    RecordFill fill;
    fill.columnId = target.columnId;
    fill.recordUrl = readBack(row.text(0, "url"));
    fill.thumbnail = [&]() -> std::string {
        try {
            return readBack(collect::query(m_run.dbPath, collect::sql::Thumbnail(id)).text(0, "newurl"));
        } catch (const std::exception& e) {
            WriteLog(std::string("TMyThread:查询download表 smallpic异常：") + e.what(), 0);
            return {};
        }
    };
    fill.column = [&](const std::string& name) -> std::optional<std::string> {
        if (!columnIn(m_columns, name)) return std::nullopt;
        const std::string n = platform::utf8::lowerAscii(name);
        for (std::size_t c = 0; c < row.columns.size(); ++c)
            if (platform::utf8::lowerAscii(row.columns[c]) == n) return row.rows[0][c].asText();
        WriteLog("TMyThread:找到字段s:" + name + "异常：no such column", 0);
        return "{采集字段:" + name + "}";
    };

    if (m_pendingSuccesses.count({m_flag, id})) {
        // On the site already; only its flag is still to be written (see applyPendingSuccesses).
        m_run.pane(m_prefix + "id:" + idText + ",已发布成功，发布标记待写入，不再重复发布");
        m_skipped = true;
        return;
    }
    const UploadMode mode = mainSite ? m_s.mode : UploadMode::Inline;
    // Files a former run uploaded before publishing are not uploaded again; inline files
    // travel with each site's own request.
    std::vector<Attachment> files;
    if (m_s.autoUpload) files = RecordAttachments(m_run.dbPath, id, mode == UploadMode::Web || mode == UploadMode::Ftp);
    const std::string key = RecordKey(m_run.taskId, fill.recordUrl, target.mark);
    const PostOutcome posted = postRecord(m_run, module, fill, key, files, mode, m_s, m_sslVersion);
    if (const std::string error = MarkUploaded(m_run.dbPath, m_run.slotDbLock, id, posted.uploaded); !error.empty())
        WriteLog("TMyThread:更新download表isupload出错：" + error, 0);
    if (posted.cancelled) {
        stopPass = true;
        return;
    }
    if (!posted.missingFiles.empty()) {
        m_run.pane(m_prefix + "id:" + idText + ",附件未能全部上传，本条内容暂不发布，下次运行时重试：" +
                   joinLines(posted.missingFiles));
        WriteLog("TMyThread:发布内容ID:" + idText + ",附件未能全部上传：" + joinLines(posted.missingFiles), 0);
        ++m_run.counters->attachmentsMissing;
        return;
    }
    if (!posted.passed) {
        m_run.pane(m_prefix + "id:" + idText + ",发布失败,接口响应内容：\r" + posted.reply);
        return;
    }
    std::string dbError;
    if (!markPublished(m_run, m_flag, id, dbError)) {
        // The record is on the site but not marked: the success is kept beside the database and
        // written before the next pass, so the record is not sent again. Going on would fail the
        // same way for every later record, so the pass for this target ends here.
        m_run.pane(m_prefix + "发布成功,更新表异常：" + collect::DbErrorText(dbError));
        std::string fileError;
        if (RememberPendingSuccess(m_run.dbPath, m_flag, id, key, fileError)) {
            m_pendingSuccesses.emplace(m_flag, id);
            WriteLog(
                "TMyThread:发布内容ID:" + idText + ",发布成功但未能更新表，已记入" + PendingSuccessPath(m_run.dbPath),
                0);
        } else {
            m_run.pane(m_prefix + "id:" + idText + ",发布成功记录也无法保存：" + fileError);
        }
        m_run.counters->fail(m_prefix + "发布成功,更新表异常：" + collect::DbErrorText(dbError));
        stopPass = true;
        return;
    }
    WriteLog("TMyThread:发布内容ID:" + idText + ",{DD:《" + title + "》}成功", 0);
    succeeded = true;
    sleepMs(10);
    m_run.pane(m_prefix + "发布内容ID:" + idText + ",《" + title + "》成功");
}

}  // namespace

int IntervalSteps(long long intervalMs) {
    return static_cast<int>(std::nearbyint(static_cast<double>(intervalMs) / 10.0));
}

void publishRecords(collect::RunContext& run, const std::vector<std::string>& columns, bool publishTicked) {
    if (!publishTicked || run.stopRequested()) return;
    try {
        Publisher(run, columns).run();
    } catch (const std::exception& e) {
        run.pane(std::string("发布内容出错：") + e.what());
        WriteLog(std::string("TMyThread:发布内容|异常：") + e.what(), 0);
    }
}

bool publishSingleRecord(collect::RunContext& run, const SingleRecord& record) {
    try {
        auto doc = engine::ParseRuleJson(run.settingsJson).value_or(engine::RuleJson::object());
        Settings settings;
        readPostSettings(doc, settings);
        const std::string& name = settings.postRuleName;
        if (name.empty()) {
            run.pane("发布规则没有设置！");
            return false;
        }
        ModuleCache cache(run.programFolder + "发布规则");
        std::string error;
        const PublishModule* module = cache.get(name, &error);
        if (!module) {
            run.pane(error);
            return false;
        }
        WriteLog("TMyThread2:提取发布规则文件postlist.Text：" + RedactForLog(module->text()), 0);
        if (module->lines.size() < 2) {
            run.pane("名称为：" + name + ".p，的发布模块内容无法读取");
            return false;
        }
        RecordFill fill;
        fill.columnId = record.columnId;
        fill.recordUrl = record.url;
        fill.thumbnail = [&record] { return record.thumbnail; };
        fill.column = [&record](const std::string& column) -> std::optional<std::string> {
            const std::string n = platform::utf8::lowerAscii(column);
            for (const auto& [title, value] : record.values)
                if (platform::utf8::lowerAscii(title) == n) return value;
            if (n == "url") return record.url;
            return std::nullopt;
        };
        std::string sslVersion;
        const std::vector<Attachment> files = settings.autoUpload ? record.files : std::vector<Attachment>{};
        const PostOutcome posted = postRecord(run, *module, fill, RecordKey(run.taskId, record.url, ""), files,
                                              settings.mode, settings, sslVersion);
        if (posted.cancelled) {
            run.pane("发布已取消");
            return false;
        }
        if (!posted.missingFiles.empty()) {
            run.pane("附件未能全部上传，内容未发布：" + joinLines(posted.missingFiles));
            return false;
        }
        if (!posted.passed) {
            run.pane("发布失败,接口响应内容：\r" + posted.reply);
            return false;
        }
        run.pane("发布成功");
        return true;
    } catch (const std::exception& e) {
        run.pane(std::string("发布内容出错：") + e.what());
        WriteLog(std::string("TMyThread2:发布内容|异常：") + e.what(), 0);
        return false;
    }
}

}  // namespace tarvex::publish
