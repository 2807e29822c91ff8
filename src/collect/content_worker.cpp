#include "collect/content_worker.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "collect/attachments.h"
#include "collect/group_commit.h"
#include "collect/http_fetch.h"
#include "collect/multi_level.h"
#include "collect/pagination.h"
#include "collect/task_db.h"
#include "engine/content_filter.h"
#include "engine/post_rules.h"
#include "engine/template_lang.h"
#include "platform/json_text.h"
#include "platform/run_log.h"

namespace tarvex::collect {

using platform::WriteLog;

namespace {

constexpr int kDetail = 1;
constexpr const char* kFetchFailedReason = "抓取网页失败";
constexpr const char* kStoreFailedReason = "更新数据库失败";
constexpr const char* kFilesFailedReason = "附件无法保存";

void setValue(engine::FieldValueList& values, const std::string& name, const std::string& value) {
    for (auto& [n, v] : values)
        if (n == name) {
            v = value;
            return;
        }
    values.emplace_back(name, value);
}

// The run's stop as a transfer's cancel check, remembering whether it ever said stop: a row
// whose pages or files were cut short must not be stored as if complete.
class StopCheck {
public:
    explicit StopCheck(const RunContext& run) : m_run(run) {}
    bool operator()() const {
        if (!m_run.stopRequested() && !m_run.counters->cancelWorkers.load()) return false;
        m_tripped = true;
        return true;
    }
    bool tripped() const { return m_tripped; }
    std::function<bool()> callback() const {
        return [this] { return (*this)(); };
    }

private:
    const RunContext& m_run;
    mutable std::atomic<bool> m_tripped{false};
};

}  // namespace

bool CollectedRecord::finalRejection() const {
    return engine::IsFinalRejection(filter);
}

std::string CollectedRecord::reason() const {
    return engine::IsFilterMessage(filter) ? filter.substr(engine::kFilterPrefix.size()) : filter;
}

CollectedRecord collectRecord(const engine::SettingsJson& settings, const engine::PageList& pages,
                              engine::FieldValueList fieldValues, const RecordSteps& steps) {
    CollectedRecord record;
    engine::FieldRules rules = engine::ReadFieldRules(settings);
    if (rules.error) {
        record.error = *rules.error;
        WriteLog("TGetThread:字段规则读取错误：" + *rules.error, 0);
        return record;
    }
    // The document as text goes only to plug-ins; written out when the first one runs.
    std::optional<std::string> settingsText;
    const engine::Joiners joiners = engine::ReadJoiners(settings);
    engine::PageSource source(pages);
    for (std::size_t k = 0; k < rules.rules.size(); ++k) {
        const engine::FieldRule& rule = rules.rules[k];
        const std::string& title = rule.title;
        engine::FieldOutcome extracted = engine::extractField(title, rule, joiners, fieldValues, source, steps.env);
        if (extracted.error) {
            WriteLog("TGetThread:字段" + title + "提取出错：" + *extracted.error, 0);
            if (record.error.empty()) record.error = "字段[" + title + "]：" + *extracted.error;
        }
        std::string value = engine::MarkersToLines(extracted.value);
        WriteLog(steps.logName + ":GetFieldResult 字段" + title + ",内容的返回结束 ", 0);
        if (steps.applyFilters) value = engine::FieldFilter(rule.json, value);
        if (steps.applyFilters && !engine::IsFilterMessage(value)) {
            WriteLog("TGetThread: check_field_filter,不包含过滤|，准备判断首项为空，或简易过滤空内容" + title, kDetail);
            if (value.empty() && (k == 0 || rule.checkNull)) value = "过滤|字段[" + title + "]为空";
        }
        if (steps.applyFilters && engine::IsFilterMessage(value)) {
            record.values.clear();
            record.filter = value;
            break;
        }
        WriteLog(steps.logName + ": 循环字段，开始下载附件，fname:" + title, kDetail);
        if (!value.empty() && steps.attachments) steps.attachments(rule, value, fieldValues);
        if (steps.onField) steps.onField(title, value);
        record.values.emplace_back(title, value);
        setValue(fieldValues, title, value);
        // Plug-ins change what later fields see; the value stored stays the one before them.
        if (rule.text.find("DLL插件") != std::string::npos || rule.text.find("JavaScipt插件") != std::string::npos) {
            if (!settingsText)
                settingsText = settings.dump(-1, ' ', false, engine::SettingsJson::error_handler_t::replace);
            setValue(fieldValues, title,
                     engine::applyPlugins(steps.taskId, steps.url, title, fieldValues, pages, *settingsText, rule.text,
                                          steps.programFolder));
        }
    }
    return record;
}

engine::PageList contentPageList(const std::string& url, const std::string& page, const std::string& settingsJson,
                                 const std::string& options,
                                 const std::function<std::string(const std::string&, const std::string&)>& fetch,
                                 const std::function<void(int)>& sleep,
                                 const std::function<void(const std::string&)>& show) {
    PageFollow follow;
    follow.fetch = fetch;
    follow.sleep = sleep;
    follow.show = show;
    follow.levels = [&follow](const std::string& address, const std::string& firstPage, const std::string& morepage2,
                              const std::string& opts) {
        return collectLevelPages(address, firstPage, morepage2, opts, follow);
    };
    return engine::PageListFromText(collectContentPages(url, page, settingsJson, options, follow));
}

bool collectContentRow(const ContentJob& job) {
    // The rules write their step-by-step trace as detail lines.
    platform::LogBatch logBatch;
    try {
        const RunContext& run = *job.run;
        const std::string id = std::to_string(job.id);
        const std::string& url = job.url;
        WriteLog("TGetThread:新的线程开始执行，id:" + id + "url:" + url + "Fworkid" + std::to_string(run.taskId), 0);
        RecordFiles files;
        StopCheck stop(run);
        auto fetch = [&stop](const std::string& address, const std::string& options) {
            if (stop()) return std::string("fail:Transfer cancelled");
            return HttpGet(address, options, stop.callback());
        };

        auto settings = platform::parseJson<engine::SettingsJson>(run.settingsJson);
        if (!settings.is_object()) settings = engine::SettingsJson::object();

        // 2.–4. The first page, unless every field is made up without it.
        std::string page;
        bool fetchFailed = false;
        if (engine::AllFixedStrings(engine::ReadFieldRules(settings))) {
            WriteLog("TGetThread:跳过内容页采集，全是固定字符串", 0);
            WriteLog("TGetThread:跳过内容页采集，全是固定字符串,s设置为‘strip_get_content’", 0);
            page = "strip_get_content";
        } else {
            std::string r = fetch(url, run.fetchOptions);
            if (r.compare(0, 5, "succ:") == 0) {
                page = r.substr(5);
                if (page.empty()) {
                    run.pane("抓取网页:" + url + ",返回空字符串");
                    WriteLog("TGetThread:抓取网页:" + url + ",返回空字符串", 0);
                    fetchFailed = true;
                }
            } else {
                const std::string message = r.compare(0, 5, "fail:") == 0 ? r.substr(5) : r;
                run.pane("抓取网页:" + url + ",返回错误：" + message);
                WriteLog("TGetThread:抓取网页:" + url + ",返回错误：" + message, 0);
                fetchFailed = true;
            }
        }
        if (!page.empty()) page = "<tarvex>" + page + "</tarvex>";

        // 5. The row's values and the page list.
        engine::FieldValueList fieldValues = engine::PageListFromText(job.idRow);
        engine::PageList pages =
            contentPageList(url, page, run.settingsJson, run.fetchOptions, fetch, [&run](int ms) { run.sleepFor(ms); });
        WriteLog("TGetThread:GetAllPage 所有字段=内容的conturl.text返回结束 ", 0);

        // 6. The fields.
        AttachmentJob attachments;
        attachments.taskId = run.taskId;
        attachments.rowId = job.id;
        attachments.pageUrl = url;
        attachments.dbPath = run.dbPath;
        attachments.programFolder = run.programFolder;
        attachments.savePath = engine::JsonText(settings, "other_savepath");
        attachments.cookie = FetchOption(run.fetchOptions, "cookie");
        attachments.dbLock = run.slotDbLock;
        attachments.label = [&run](const std::string& text) { run.label(2, text); };
        attachments.cancelled = stop.callback();
        RecordSteps steps;
        steps.taskId = run.taskId;
        steps.url = url;
        steps.programFolder = run.programFolder;
        steps.attachments = [&](const engine::FieldRule& rule, std::string& value,
                                const engine::FieldValueList& values) {
            downloadAttachments(attachments, rule, value, values, files);
        };
        CollectedRecord record = collectRecord(settings, pages, std::move(fieldValues), steps);
        WriteLog("TGetThread: 根据字段提取内容结束，赋值给conturl", kDetail);

        bool stored = false;
        if (stop.tripped()) {
            // Pages or files were cut short by the stop: the next run collects the row whole.
            run.pane("采集内容ID:" + id +
                     (run.counters->cancelWorkers ? "未完成（采集线程超时），下次运行继续采集"
                                                  : "未完成（任务已停止），下次运行继续采集"));
            WriteLog("TGetThread:任务停止，不更新数据库，id:" + id, 0);
            if (run.counters->cancelWorkers) run.counters->rowsUnfinished.fetch_add(1);
        } else if (record.rejected() && !record.finalRejection()) {
            run.pane("采集内容ID:" + id + "失败," + record.reason() + "!网址：" + url);
            WriteLog("TGetThread:前两个字段为空", 0);
            if (run.tally) run.tally->rejected(fetchFailed ? kFetchFailedReason : record.reason());
        } else if (!record.rejected() && !files.writeError.empty()) {
            // A record without all its files would be published with broken images and never
            // repaired: it stays queued until the files can be written.
            run.pane("采集内容ID:" + id + "失败," + kFilesFailedReason + "：" + files.writeError + "!网址：" + url);
            WriteLog("TGetThread:附件无法保存，不更新数据库，id:" + id + "," + files.writeError, 0);
            run.counters->rowsFailed.fetch_add(1);
            if (run.tally) run.tally->rejected(kFilesFailedReason);
        } else if (record.values.empty() && !record.rejected()) {
            // No field to store (none defined, or a field list that cannot be read).
            const std::string reason = record.error.empty() ? std::string("没有可采集的字段") : record.error;
            run.pane("采集内容ID:" + id + "失败," + reason + "!网址：" + url);
            WriteLog("TGetThread:没有字段可以更新，id:" + id, 0);
            if (run.tally) run.tally->rejected(reason);
        } else {
            // 8.–9. The store, three attempts while the database is busy. The record's
            // `download` rows go with it in one transaction: both are stored, or neither.
            // Values are bound, so every character of them (a NUL byte too) is stored as collected.
            std::vector<BoundSql> statements;
            if (!record.rejected()) {
                statements.push_back(sql::StoreRowBound(job.id, record.values));
                statements.insert(statements.end(), files.statements().begin(), files.statements().end());
            }
            const std::string script = record.rejected() ? sql::SkipRow(job.id) : std::string();
            // Workers finishing together share one commit (GroupCommit): one disk sync for all.
            auto& commits = GroupCommit::forDatabase(run.dbPath);
            for (int attempt = 0; attempt < 3 && !stored; ++attempt) {
                WriteLog("TGetThread:最后更新数据库，id:" + id + "," + std::to_string(attempt), 0);
                const auto outcome = commits.run(script, statements, run.slotDbLock);
                if (!outcome.opened) {
                    // Logged, not asked: a message box here would stop the worker until
                    // someone closes it, and nobody may be there to close it.
                    run.pane("TGetThread:  sqlresult:=SqlExec2错误" + outcome.result);
                    WriteLog("TGetThread:  sqlresult:=SqlExec2错误" + outcome.result, 0);
                    continue;
                }
                const std::string& r = outcome.result;
                if (r == "succ|") {
                    std::string line = record.rejected()
                                           ? "采集内容ID:" + id + "," + record.reason() + ",url:" + url
                                           : "采集内容ID:" + id + ",《" + record.values.front().second + "》成功";
                    run.pane(attempt > 0 ? "再次" + line : line);
                    WriteLog("TGetThread:更新数据库成功，id:" + id, 0);
                    stored = true;
                    break;
                }
                const std::string message = r.size() > 5 ? r.substr(5) : r;
                const bool busy = IsBusyFailure(r);
                // The record goes with its files' rows or not at all: a record whose files are
                // not recorded would never have them uploaded.
                run.pane(busy && attempt == 2 ? "更新数据库失败2，id:" + id
                                              : "更新数据库失败，id:" + id + ",错误码" + message);
                WriteLog("TGetThread:更新数据库失败，id:" + id + ",错误码" + message, 0);
                if (!busy) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
            }
            if (!stored) run.counters->rowsFailed.fetch_add(1);
            if (run.tally) {
                if (!stored)
                    run.tally->rejected(kStoreFailedReason);
                else if (record.rejected())
                    run.tally->rejected(record.reason());
                else
                    run.tally->stored(record.values);
            }
        }
        WriteLog("TGetThread:新的线程执行结束，id:" + id, 0);
        return stored;
    } catch (const std::exception& e) {
        WriteLog("TGetThread:内容采集出错，id:" + std::to_string(job.id) + "," + e.what(), 0);
        return false;
    }
}

}  // namespace tarvex::collect
