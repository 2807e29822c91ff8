#include "app/single_page/single_page.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "collect/attachments.h"
#include "collect/content_worker.h"
#include "collect/http_fetch.h"
#include "engine/content_filter.h"
#include "engine/field_explain.h"
#include "engine/field_extract.h"
#include "engine/keyword_dictionary.h"
#include "engine/rule_json.h"
#include "platform/markup.h"
#include "platform/run_log.h"
#include "platform/utf8.h"
#include "publish/publish_module.h"
#include "publish/publisher.h"

namespace tarvex::app {

using platform::WriteLog;

namespace {

constexpr int kDetail = 1;

// Line ends as a text area gives them back: LF only, a leading line break dropped.
std::string asTextArea(const std::string& text) {
    std::string out = text;
    platform::utf8::replaceAll(out, "\r\n", "\n");
    platform::utf8::replaceAll(out, "\r", "\n");
    if (!out.empty() && out.front() == '\n') out.erase(0, 1);
    return out;
}

std::size_t codePoints(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace

std::string SinglePageDocument(const SettingsForm& form, bool publish) {
    SettingsJson doc = SettingsJson::object();
    doc["fieldsAll"] = form.fields;
    auto put = [&doc](const char* key, const std::string& value) { doc[key] = value; };
    auto putNotEmpty = [&](const char* key, const std::string& value) {
        if (publish || !value.empty()) put(key, value);
    };
    putNotEmpty("mulpage", form.mulpage);
    if (!publish) putNotEmpty("Morepage2", form.morepage2);
    putNotEmpty("Morepage", form.morepage);
    putNotEmpty("PostRuleName", form.postRuleName);
    put("other_time1", form.time1);
    put("other_time2", form.time2);
    put("other_time3", form.time3);
    put("other_check_title", FlagText(form.checkTitle));
    put("other_check_url", FlagText(form.checkUrl));
    put("other_cookie", form.cookie);
    put("other_ua", form.userAgent);
    put("other_savepath", form.savePath);
    put("other_joinpage", form.joinPage);
    put("other_testurl", TrimText(form.testUrl));
    put("other_join_repeat", publish ? form.joinRepeat : TrimText(form.joinRepeat));
    put("other_autoupload", FlagText(form.autoUpload));
    if (publish) {
        put("other_UploadSet", TrimText(form.uploadSet));
        if (!form.postClassSelected.empty()) put("post_class_selected", form.postClassSelected);
        put("post_morepost", TrimText(form.postMorepost));
    } else {
        put("is_onepage", "-1");
        put("other_charset", form.charset);
        put("other_gzip", FlagText(form.gzip));
    }
    return DumpJson(doc);
}

// ---- state

void SinglePageState::start(std::int64_t taskId, const std::string& url) {
    std::lock_guard<std::mutex> g(m_lock);
    m_values.clear();
    m_files = {};
    m_taskId = taskId;
    m_url = url;
    m_status = Status::Running;
}

void SinglePageState::finish(Status status, FieldValues values) {
    std::lock_guard<std::mutex> g(m_lock);
    m_values = std::move(values);
    m_status = status;
}

void SinglePageState::setValues(FieldValues values) {
    std::lock_guard<std::mutex> g(m_lock);
    m_values = std::move(values);
}

FieldValues SinglePageState::values() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_values;
}

std::int64_t SinglePageState::taskId() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_taskId;
}

void SinglePageState::setFiles(SinglePageFiles files) {
    std::lock_guard<std::mutex> g(m_lock);
    m_files = std::move(files);
}

SinglePageFiles SinglePageState::files() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_files;
}

std::string SinglePageState::url() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_url;
}

std::string SinglePageState::publishRefusal(std::int64_t taskId, const std::string& url) const {
    std::lock_guard<std::mutex> g(m_lock);
    // Only a finished collection of this task's current address may go out: values from
    // another task, another address or a failed fetch would publish the wrong record.
    if (m_status != Status::Collected || m_taskId != taskId || m_url != TrimText(url) || m_values.empty())
        return kNotCollectedHereText;
    return {};
}

std::string SinglePublishRefusal(const Workspace& ws, std::int64_t taskId, const SettingsForm& form,
                                 const SinglePageState& state) {
    if (taskId <= 0) return kNoTaskOpenText;
    if (!form.noClassNeeded && form.postClassSelected.empty()) return "手动发布模式,左边任务区域需指定栏目";
    if (form.postRuleName.empty()) return "发布规则没有设置！";
    std::error_code ec;
    if (!std::filesystem::is_regular_file(publish::ModulePath(ws.publishFolder, form.postRuleName), ec))
        return publish::MissingModuleText(form.postRuleName);
    return state.publishRefusal(taskId, form.testUrl);
}

// ---- collecting

SinglePageCollect CollectSinglePage(const Workspace& ws, std::int64_t taskId, const std::string& settingsJson,
                                    const std::string& url, const std::function<void(const std::string&)>& show,
                                    bool downloadAttachments, SinglePageFiles* files) {
    SinglePageCollect out;
    auto say = [&show](const std::string& text) {
        if (show) show(text);
    };
    const std::string options = collect::BuildFetchOptions(settingsJson);
    say("正在采集内容页：" + url);
    if (auto problem = engine::PrepareKeywordDictionary(settingsJson, ws.programFolder))
        WriteLog("TMyThread2:" + *problem, 0);

    std::string body = "strip_get_content";
    if (!engine::AllFixedStrings(settingsJson)) {
        const std::string r = collect::HttpGet(url, options);
        if (r.compare(0, 5, "fail:") == 0) {
            say("抓取网页:" + url + ",返回错误：" + r.substr(5));
            return out;
        }
        if (r.compare(0, 5, "succ:") != 0) {
            WriteLog("TMyThread2:抓取一级url:" + url + ",不是SUCC和FAIL！而是\r" + r, 0);
            say("抓取网页:" + url + ",返回异常");
            return out;
        }
        body = r.substr(5);
        if (body.empty()) {
            say("抓取网页:" + url + ",返回空字符串");
            return out;
        }
        WriteLog("TMyThread2:抓取一级url:" + url + ",s:" + body, 0);
        platform::WriteAccessLog("单篇采集访问链接: " + url +
                                 " ,返回信息如下:\r\n========================我是分割线==========================\r\n" +
                                 body);
    }

    const engine::PageList pages = collect::contentPageList(
        url, "<tarvex>" + body + "</tarvex>", settingsJson, options,
        [](const std::string& a, const std::string& o) { return collect::HttpGet(a, o); }, {}, show);
    WriteLog("TMyThread2:GetAllPage 所有字段=内容的conturl.text返回结束 ", 0);

    auto settings = engine::SettingsJson::parse(settingsJson, nullptr, false);
    if (!settings.is_object()) settings = engine::SettingsJson::object();
    const std::string downloadKeys = engine::DownloadFieldNames(settingsJson);

    collect::RecordFiles had;
    collect::AttachmentJob attachments;
    attachments.taskId = taskId;
    attachments.pageUrl = url;
    attachments.dbPath = ws.taskDbPath(taskId);
    attachments.programFolder = ws.programFolder;
    attachments.savePath = engine::JsonText(settings, "other_savepath");
    attachments.cookie = collect::FetchOption(options, "cookie");

    collect::RecordSteps steps;
    steps.taskId = taskId;
    steps.url = url;
    steps.programFolder = ws.programFolder;
    steps.applyFilters = false;
    steps.logName = "TMyThread2";
    if (downloadAttachments)
        steps.attachments = [&](const engine::FieldRule& rule, std::string& value,
                                const engine::FieldValueList& values) {
            if (downloadKeys.find("," + rule.title + ",") == std::string::npos) return;
            WriteLog("TMyThread2: 循环LISTVIEW1所有字段，开始下载附件，fname:" + rule.title, kDetail);
            collect::downloadAttachments(attachments, rule, value, values, had);
        };
    steps.onField = [&](const std::string& title, const std::string& value) {
        say("{采集字段:" + title + "}：" + value);
        if (title == "内容") WriteLog("TMyThread2: fname内容临时测试" + value, kDetail);
    };
    collect::CollectedRecord record = collect::collectRecord(settings, pages, {{"url", url}}, steps);
    if (record.values.empty() && !record.error.empty()) {
        say(record.error);
        return out;
    }
    out.ok = true;
    out.values = std::move(record.values);
    out.checks = CheckFieldValues(settings, pages, url, out.values);
    for (const auto& c : out.checks) {
        if (!c.reason.empty()) say("字段[" + c.name + "]为空：" + c.reason);
        if (!c.filter.empty()) say("字段[" + c.name + "]" + c.filter);
    }
    if (files) {
        for (const auto& f : had.files()) {
            if (f.thumbnail)
                files->thumbnail = f.newUrl;
            else
                files->attachments.push_back({f.localPath, f.newUrl});
        }
    }
    return out;
}

std::vector<FieldCheck> CheckFieldValues(const engine::SettingsJson& settings, const engine::PageList& pages,
                                         const std::string& url, const FieldValues& values) {
    std::vector<FieldCheck> out;
    const engine::FieldRules rules = engine::ReadFieldRules(settings);
    engine::PageSource source(pages);
    engine::FieldValueList known{{"url", url}};
    for (const auto& rule : rules.rules) {
        FieldCheck check;
        check.name = rule.title;
        for (const auto& [title, value] : values)
            if (title == rule.title) check.value = value;
        if (engine::TrimText(check.value).empty()) check.reason = engine::ExplainEmptyField(rule, source, known);
        // A filter would keep the whole record out of a run's database.
        const std::string filtered = engine::FieldFilter(rule.json, check.value);
        if (engine::IsFilterMessage(filtered))
            check.filter = "会被筛选过滤拒绝，整条内容不入库：" + filtered.substr(engine::kFilterPrefix.size());
        known.emplace_back(rule.title, check.value);
        out.push_back(std::move(check));
    }
    return out;
}

// ---- the job

void SinglePageJob::line(const std::string& text) const {
    if (view) view->appendPane(kRunLogSlot, text);
}

void SinglePageJob::run() {
    try {
        if (kind == Kind::Publish)
            publish();
        else
            collect();
    } catch (const std::exception& e) {
        WriteLog(std::string("TMyThread2:异常：") + e.what(), 0);
        line(std::string("单页采集出错：") + e.what());
        if (kind == Kind::Collect && state) state->finish(SinglePageState::Status::Failed);
    }
}

void SinglePageJob::collect() {
    const std::string address = TrimText(url);
    if (state) state->start(taskId, address);
    SinglePageFiles files;
    SinglePageCollect result = CollectSinglePage(
        workspace, taskId, settingsJson, address, [this](const std::string& text) { line(text); }, true, &files);
    if (!result.ok) {
        if (state) state->finish(SinglePageState::Status::Failed);
        return;
    }
    if (view) {
        view->setLabel(kRunLogSlot, 2, "采集结束");
        view->setProgress(kRunLogSlot, 1, 100);
    }
    if (state) {
        state->setFiles(std::move(files));
        state->finish(SinglePageState::Status::Collected, std::move(result.values));
    }
}

void SinglePageJob::publish() {
    const FieldValues values = state ? state->values() : FieldValues{};
    const SinglePageFiles files = state ? state->files() : SinglePageFiles{};
    PublishSinglePage(workspace, taskId, settingsJson, state ? state->url() : TrimText(url), values, view, dialogs,
                      closing, files);
}

bool PublishSinglePage(const Workspace& ws, std::int64_t taskId, const std::string& settingsJson,
                       const std::string& url, const FieldValues& values, platform::SlotView* view,
                       platform::Dialogs* dialogs, const std::function<bool()>& closing, const SinglePageFiles& files) {
    collect::RunContext run;
    run.taskId = taskId;
    run.slot = kRunLogSlot;
    run.settingsJson = settingsJson;
    run.fetchOptions = collect::BuildFetchOptions(settingsJson);
    run.dbPath = ws.taskDbPath(taskId);
    run.programFolder = ws.programFolder;
    run.slotDbLock = &run.ownDbLock;
    run.view = view;
    run.dialogs = dialogs;
    run.processClosing = closing;
    run.pane("==================开始发布内容==================");
    auto doc = engine::ParseRuleJson(settingsJson).value_or(engine::RuleJson::object());
    publish::SingleRecord record;
    record.values = values;
    record.url = url;
    record.columnId = engine::RuleText(doc, "post_class_selected");
    record.files = files.attachments;
    record.thumbnail = files.thumbnail;
    return publish::publishSingleRecord(run, record);
}

// ---- the visual editor page

std::string VisualEditorElement(const std::string& name, const std::string& value) {
    int width = 650, height = 80;
    if (name == "内容") {
        width = 750;
        height = 400;
    } else {
        const std::size_t n = codePoints(value);
        if (n < 51)
            height = 20;
        else if (n < 101)
            height = 40;
        else if (n < 201)
            height = 60;
    }
    // Names and values are written as markup text, so the page gives them back exactly.
    const std::string attr = platform::escapeMarkup(name);
    return "<li><span class=\"lititle1\">" + attr + "：</span><textarea name=\"" + attr + "\" id=\"" + attr +
           "\" style=\"width:" + std::to_string(width) + "px;height:" + std::to_string(height) + "px;\">" +
           platform::escapeMarkup(value) + "</textarea></li>";
}

std::string VisualEditorPage(const std::string& indexHtml, const FieldValues& values) {
    std::string elements;
    for (const auto& [name, value] : values) elements += VisualEditorElement(name, value) + "\r\r\r";
    std::string page = indexHtml;
    platform::utf8::replaceAll(page, "{dd:内容}", elements);
    return page;
}

std::string ValueFromEditor(const std::string& given, const std::string& fromPage) {
    // The page holds valid text only: broken bytes of the value come back replaced.
    if (asTextArea(fromPage) == asTextArea(platform::utf8::repair(given))) return given;
    if (given.find("\r\n") == std::string::npos) return fromPage;
    std::string text = fromPage;
    platform::utf8::replaceAll(text, "\r\n", "\n");
    platform::utf8::replaceAll(text, "\n", "\r\n");
    return text;
}

std::string VisualEditorTemplatePath(const Workspace& ws) {
    return ws.pluginFolder + "/kindeditor/index.html";
}

std::string VisualEditorPagePath(const Workspace& ws) {
    return ws.pluginFolder + "/kindeditor/index2.html";
}

std::string WriteVisualEditorPage(const Workspace& ws, const FieldValues& values) {
    std::ifstream in(VisualEditorTemplatePath(ws), std::ios::binary);
    if (!in) return "可视编辑页面不存在：" + VisualEditorTemplatePath(ws);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string page(platform::utf8::stripBom(buffer.str()));
    std::ofstream out(VisualEditorPagePath(ws), std::ios::binary | std::ios::trunc);
    out << VisualEditorPage(page, values);
    out.close();
    if (!out) return "无法写入可视编辑页面：" + VisualEditorPagePath(ws);
    return {};
}

}  // namespace tarvex::app
