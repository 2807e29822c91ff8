#include "app/tasks/settings_document.h"
#include "engine/post_process.h"
#include "engine/rule_json.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "app/tasks/catalogue.h"
#include "app/tasks/column_tree.h"
#include "collect/task_db.h"
#include "platform/json_text.h"
#include "platform/sqlite_db.h"

namespace tarvex::app {

namespace {
std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::optional<long long> parseInteger(const std::string& text) {
    if (text.empty()) return std::nullopt;
    try {
        std::size_t used = 0;
        long long n = std::stoll(text, &used, 10);
        if (used != text.size()) return std::nullopt;
        return n;
    } catch (...) {
        return std::nullopt;
    }
}

SettingsJson ruleObject(const std::string& title, const std::string& nullCheck, const std::string& front,
                        const std::string& back, const std::string& rep1, const std::string& rep2,
                        const std::vector<std::string>& fileSave) {
    SettingsJson r = SettingsJson::object();
    r["title"] = title;
    r["check_null"] = nullCheck;
    r["check_mulpage"] = "0";
    r["check_morepage"] = "0";
    r["check_morepageindex"] = -1;
    r["radio_1"] = "-1";
    r["radio_2"] = "0";
    r["radio_3"] = "0";
    r["radio_1_content"] = SettingsJson::array({front, back});
    r["radio_2_content"] = SettingsJson::array({"", ""});
    r["radio_3_content"] = SettingsJson::array({"0", ""});
    SettingsJson replace = SettingsJson::object();
    replace["type"] = "替换";
    replace["rep1"] = rep1;
    replace["rep2"] = rep2;
    SettingsJson strip = SettingsJson::object();
    strip["type"] = "html过滤";
    strip["html_strip_nums"] = "0,";
    r["txt_strips"] = SettingsJson::array({DumpJson(replace), DumpJson(strip), engine::TrimWhiteSpaceRule()});
    SettingsJson files = SettingsJson::array();
    for (const auto& f : fileSave) files.push_back(f);
    r["file_save"] = files;
    return r;
}

bool hasField(const std::vector<std::string>& fields, const std::string& title) {
    for (const auto& f : fields) {
        auto rule = ParseSettings(f);
        if (rule && SettingText(*rule, "title") == title) return true;
    }
    return false;
}

std::vector<std::string> fieldsOf(const SettingsJson& doc) {
    std::vector<std::string> fields;
    auto it = doc.find("fieldsAll");
    if (it == doc.end() || !it->is_array()) return fields;
    for (const auto& element : *it)
        fields.push_back(element.is_string() ? element.get<std::string>() : DumpJson(element));
    return fields;
}

// Refusals 3–5 of a save and the fixed-column check, on the composed document.
SaveOutcome checkBeforeStore(const Workspace& ws, platform::Dialogs& dialogs, std::int64_t taskId,
                             const SettingsJson& doc) {
    if (!pathExists(ws.taskDbPath(taskId))) {
        dialogs.message("该任务本地数据库已被删除,不能保存！\r(请【复制本任】务,再【粘粘本任务】才能修改使用！)",
                        platform::kAppTitle);
        return SaveOutcome::RefusedEnableTree;
    }
    const std::string savePath = SettingText(doc, "other_savepath");
    if (!savePath.empty() && !isDirectory(savePath)) {
        dialogs.message("附件保存目录<" + savePath + ">不存在！,不能保存", platform::kAppTitle);
        return SaveOutcome::RefusedEnableTree;
    }
    if (SettingFlag(doc, "other_check_rengong") && !hasField(fieldsOf(doc), "人工审核")) {
        dialogs.message("开启人工审核，需添加采集字段“人工审核”", platform::kAppTitle);
        return SaveOutcome::Refused;
    }
    if (auto problem = SettingsDocumentProblem(DumpJson(doc))) {
        dialogs.message(*problem + "，不能保存", platform::kAppTitle);
        return SaveOutcome::Refused;
    }
    return SaveOutcome::Stored;
}

// Columns first, then the document: a save that fails anywhere leaves the stored settings as
// they were (columns are never dropped, so ones added for a save that then fails do no harm).
SaveOutcome addColumnsAndStore(const Workspace& ws, platform::Dialogs& dialogs, std::int64_t taskId,
                               const std::string& document) {
    try {
        collect::AddMissingColumns(ws.taskDbPath(taskId), document);
    } catch (const platform::SqliteError& e) {
        dialogs.message("任务数据库添加字段失败，设置未保存：" + collect::DbErrorText(e.what()), platform::kAppTitle);
        return SaveOutcome::Refused;
    }
    try {
        StoreTaskRules(ws, taskId, document);
    } catch (const platform::SqliteError& e) {
        dialogs.message(collect::DbErrorText(e.what()), platform::kAppTitle);
        return SaveOutcome::Refused;
    }
    return SaveOutcome::Stored;
}

std::string jsonProblem(const std::string& text) {
    return platform::JsonNestingWithinLimit(text) ? "不是有效的JSON对象" : platform::JsonTooDeepMessage();
}

std::string keyName(const std::string& key) {
    return "设置项\"" + key + "\"";
}

// An array whose elements are JSON texts holding objects; `what` names it in messages.
std::optional<std::string> objectTextArrayProblem(const SettingsJson& array, const std::string& what) {
    if (!array.is_array()) return what + "必须是JSON文本的数组";
    std::size_t index = 0;
    for (const auto& element : array) {
        ++index;
        const std::string item = what + "的第" + std::to_string(index) + "项";
        if (!element.is_string()) return item + "必须是JSON文本";
        if (!ParseSettings(element.get_ref<const std::string&>()))
            return item + jsonProblem(element.get_ref<const std::string&>());
    }
    return std::nullopt;
}

const std::vector<std::string>& sectionKeys() {
    static const std::vector<std::string> keys = {"mulpage", "Morepage", "Morepage2", "other_UploadSet",
                                                  "post_morepost"};
    return keys;
}
}  // namespace

std::optional<SettingsJson> ParseSettings(const std::string& text) {
    auto doc = platform::parseJson<SettingsJson>(text);
    if (doc.is_discarded() || !doc.is_object()) return std::nullopt;
    return doc;
}

std::string DumpJson(const SettingsJson& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string SettingText(const SettingsJson& doc, const std::string& key) {
    if (!doc.is_object()) return {};
    auto it = doc.find(key);
    if (it == doc.end() || it->is_null()) return {};
    if (it->is_string()) return it->get<std::string>();
    return DumpJson(*it);
}

bool FlagOf(const std::string& text) {
    return engine::FlagText(text);
}

long long IntOf(const std::string& text) {
    return parseInteger(text).value_or(0);
}

bool SettingFlag(const SettingsJson& doc, const std::string& key) {
    if (doc.is_object()) {
        auto it = doc.find(key);
        if (it != doc.end() && it->is_boolean()) return it->get<bool>();
    }
    return FlagOf(SettingText(doc, key));
}

long long SettingInt(const SettingsJson& doc, const std::string& key) {
    return IntOf(SettingText(doc, key));
}

std::string TrimText(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
    return text.substr(b, e - b);
}

std::vector<std::string> NewTaskFieldRules() {
    return {DumpJson(ruleObject("标题", "-1", "<title>", "</title>", "aaaaa", "bbbbbd", {"0"})),
            DumpJson(ruleObject("内容", "0", "<div class=\"fdsafdsa\">", "</div>", "11111", "22222",
                                {"0", "/d/file/{dd:日期yyyymmdd}/{dd:MD5}.gif"}))};
}

std::string NewTaskDocument() {
    SettingsJson doc = SettingsJson::object();
    SettingsJson fields = SettingsJson::array();
    for (const auto& f : NewTaskFieldRules()) fields.push_back(f);
    doc["fieldsAll"] = fields;
    doc["other_time1"] = "300";
    doc["other_time2"] = "300";
    doc["other_time3"] = "300";
    doc["other_check_title"] = "0";
    doc["other_check_url"] = "0";
    doc["other_ua"] = kDefaultUserAgent;
    doc["other_joinpage"] = "<!--分页符-->";
    doc["other_join_repeat"] = "<!--重复符-->";
    return DumpJson(doc);
}

const std::vector<std::string>& EditorKeys() {
    static const std::vector<std::string> keys = {"fieldsAll",
                                                  "mulpage",
                                                  "Morepage",
                                                  "Morepage2",
                                                  "other_UploadSet",
                                                  "PostRuleName",
                                                  "post_class_tree",
                                                  "post_class_selected",
                                                  "post_morepost",
                                                  "other_time1",
                                                  "other_time2",
                                                  "other_time3",
                                                  "other_check_title",
                                                  "other_check_url",
                                                  "other_cookie",
                                                  "other_ua",
                                                  "other_savepath",
                                                  "other_joinpage",
                                                  "other_testurl",
                                                  "other_join_repeat",
                                                  "other_autoupload",
                                                  "other_minid_get",
                                                  "other_minid_post",
                                                  "other_charset",
                                                  "other_url_max",
                                                  "other_post_max",
                                                  "other_gzip",
                                                  "other_check_rengong",
                                                  "other_open_editform",
                                                  "other_check_classid",
                                                  "other_check_repeatget"};
    return keys;
}

std::vector<std::string> PublishInterfaces(const std::string& publishFolder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(publishFolder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const auto path = it->path();
        if (lower(path.extension().string()) != ".p") continue;
        names.push_back(path.stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void ResetForm(SettingsForm& form, const Workspace& ws, std::int64_t taskId) {
    SettingsForm fresh;
    fresh.testUrl = form.testUrl;
    fresh.savePath = ws.programFolder + "data/" + std::to_string(taskId) + "/";
    fresh.publishInterfaces = PublishInterfaces(ws.publishFolder);
    form = std::move(fresh);
}

bool LoadSettings(const std::string& document, const Workspace& ws, std::int64_t taskId, SettingsForm& form,
                  std::string* error) {
    if (document.empty()) {
        ResetForm(form, ws, taskId);
        return true;
    }
    auto parsed = ParseSettings(document);
    if (!parsed) {
        if (error) *error = "任务设置不是有效的JSON文本，无法打开";
        return false;
    }
    const SettingsJson& doc = *parsed;
    SettingsForm f;
    f.fields = fieldsOf(doc);
    f.mulpage = SettingText(doc, "mulpage");
    f.morepage2 = SettingText(doc, "Morepage2");
    f.morepage = SettingText(doc, "Morepage");
    f.uploadSet = SettingText(doc, "other_UploadSet");
    f.publishInterfaces = PublishInterfaces(ws.publishFolder);
    const std::string rule = SettingText(doc, "PostRuleName");
    if (std::find(f.publishInterfaces.begin(), f.publishInterfaces.end(), rule) != f.publishInterfaces.end())
        f.postRuleName = rule;
    f.postClassTree = SettingText(doc, "post_class_tree");
    if (!f.postClassTree.empty()) {
        std::string wanted = doc.contains("post_class_selected") ? SettingText(doc, "post_class_selected") : "0";
        if (wanted.empty()) wanted = "0";
        if (FindColumn(BuildColumnTree(f.postClassTree), wanted)) f.postClassSelected = wanted;
    }
    f.postMorepost = SettingText(doc, "post_morepost");
    f.testUrl = doc.contains("other_testurl") ? SettingText(doc, "other_testurl") : form.testUrl;
    f.time1 = SettingText(doc, "other_time1");
    f.time2 = SettingText(doc, "other_time2");
    f.time3 = SettingText(doc, "other_time3");
    f.checkTitle = SettingFlag(doc, "other_check_title");
    f.checkUrl = SettingFlag(doc, "other_check_url");
    f.autoUpload = SettingFlag(doc, "other_autoupload");
    f.cookie = SettingText(doc, "other_cookie");
    f.userAgent = SettingText(doc, "other_ua");
    f.savePath = SettingText(doc, "other_savepath");
    f.joinPage = SettingText(doc, "other_joinpage");
    f.joinRepeat = SettingText(doc, "other_join_repeat");
    f.minIdGet = doc.contains("other_minid_get") ? SettingText(doc, "other_minid_get") : "0";
    f.minIdPost = doc.contains("other_minid_post") ? SettingText(doc, "other_minid_post") : "0";
    // "gbk" written by hand means GBK too; only an unknown charset falls back to UTF-8.
    const std::string charset = SettingText(doc, "other_charset");
    f.charset = charset.empty() ? "" : (lower(charset) == "gbk" ? "GBK" : "UTF-8");
    f.urlMax = doc.contains("other_url_max") ? SettingText(doc, "other_url_max") : "0";
    f.postMax = doc.contains("other_post_max") ? SettingText(doc, "other_post_max") : "0";
    f.gzip = SettingFlag(doc, "other_gzip");
    f.manualReview = SettingFlag(doc, "other_check_rengong");
    f.closeEditForm = SettingFlag(doc, "other_open_editform");
    f.noClassNeeded = SettingFlag(doc, "other_check_classid");
    f.collectAgain = SettingFlag(doc, "other_check_repeatget");
    form = std::move(f);
    return true;
}

std::string ComposeSettings(const SettingsForm& form) {
    SettingsJson doc = SettingsJson::object();
    SettingsJson fields = SettingsJson::array();
    for (const auto& f : form.fields) fields.push_back(f);
    doc["fieldsAll"] = fields;
    if (!form.mulpage.empty()) doc["mulpage"] = form.mulpage;
    if (!form.morepage.empty()) doc["Morepage"] = form.morepage;
    if (!form.morepage2.empty()) doc["Morepage2"] = form.morepage2;
    if (!form.uploadSet.empty()) doc["other_UploadSet"] = form.uploadSet;
    if (!form.postRuleName.empty()) doc["PostRuleName"] = form.postRuleName;
    doc["post_class_tree"] = form.postClassTree;
    if (!form.postClassSelected.empty()) doc["post_class_selected"] = form.postClassSelected;
    doc["post_morepost"] = form.postMorepost;
    doc["other_time1"] = form.time1;
    doc["other_time2"] = form.time2;
    doc["other_time3"] = form.time3;
    doc["other_check_title"] = FlagText(form.checkTitle);
    doc["other_check_url"] = FlagText(form.checkUrl);
    doc["other_cookie"] = form.cookie;
    doc["other_ua"] = form.userAgent;
    doc["other_savepath"] = form.savePath;
    doc["other_joinpage"] = form.joinPage;
    doc["other_testurl"] = TrimText(form.testUrl);
    doc["other_join_repeat"] = TrimText(form.joinRepeat);
    doc["other_autoupload"] = FlagText(form.autoUpload);
    doc["other_minid_get"] = form.minIdGet;
    doc["other_minid_post"] = form.minIdPost;
    doc["other_charset"] = form.charset;
    doc["other_url_max"] = form.urlMax;
    doc["other_post_max"] = form.postMax;
    doc["other_gzip"] = FlagText(form.gzip);
    doc["other_check_rengong"] = FlagText(form.manualReview);
    doc["other_open_editform"] = FlagText(form.closeEditForm);
    doc["other_check_classid"] = FlagText(form.noClassNeeded);
    doc["other_check_repeatget"] = FlagText(form.collectAgain);
    return DumpJson(doc);
}

std::optional<std::string> FieldRuleProblem(const std::string& ruleJson) {
    auto rule = ParseSettings(ruleJson);
    if (!rule) return "字段规则" + jsonProblem(ruleJson);
    auto title = rule->find("title");
    if (title == rule->end() || !title->is_string()) return std::string("字段规则缺少\"title\"(字段名称)");
    return FieldNameProblem(title->get<std::string>());
}

std::optional<std::string> SectionTextProblem(const std::string& key, const std::string& text) {
    if (text.empty()) return std::nullopt;
    auto section = ParseSettings(text);
    if (!section) return keyName(key) + jsonProblem(text);
    if (key == "Morepage2" && section->contains("MorePageAll"))
        return objectTextArrayProblem((*section)["MorePageAll"], keyName(key) + "的\"MorePageAll\"");
    if (key == "post_morepost" && section->contains("MorePostAll")) {
        const auto& all = (*section)["MorePostAll"];
        if (!all.is_array()) return keyName(key) + "的\"MorePostAll\"必须是文本的数组";
        for (std::size_t i = 0; i < all.size(); ++i)
            if (!all[i].is_string())
                return keyName(key) + "的\"MorePostAll\"的第" + std::to_string(i + 1) + "项必须是文本";
    }
    return std::nullopt;
}

std::optional<std::string> SettingsDocumentProblem(const std::string& document) {
    auto doc = ParseSettings(document);
    if (!doc) return "任务设置" + jsonProblem(document);
    if (auto fields = doc->find("fieldsAll"); fields != doc->end()) {
        if (!fields->is_array()) return keyName("fieldsAll") + "必须是字段规则文本的数组";
        std::size_t index = 0;
        for (const auto& element : *fields) {
            ++index;
            const std::string item = keyName("fieldsAll") + "的第" + std::to_string(index) + "项";
            if (!element.is_string()) return item + "必须是字段规则的JSON文本";
            if (auto problem = FieldRuleProblem(element.get_ref<const std::string&>())) return item + "：" + *problem;
        }
    }
    for (const auto& key : sectionKeys()) {
        auto it = doc->find(key);
        if (it == doc->end()) continue;
        if (!it->is_string()) return keyName(key) + "必须是JSON文本";
        if (auto problem = SectionTextProblem(key, it->get_ref<const std::string&>())) return problem;
    }
    return FieldColumnsProblem(document);
}

SaveOutcome SaveSettings(const Workspace& ws, platform::Dialogs& dialogs, const SaveRequest& request,
                         const SettingsForm& form) {
    if (request.taskName.empty() || request.taskId == 0) {
        dialogs.message("未选定任务,不能保存", platform::kAppTitle);
        return SaveOutcome::Refused;
    }
    if (request.runListState) {
        const std::string state = request.runListState(request.taskName);
        if (!state.empty() && state != "等待运行" && state != "停止运行" && state != "运行结束") {
            dialogs.message("任务正在进行中,请停止后再保存", platform::kAppTitle);
            return SaveOutcome::Refused;
        }
    }
    const std::string document = ComposeSettings(form);
    auto outcome = checkBeforeStore(ws, dialogs, request.taskId, *ParseSettings(document));
    if (outcome != SaveOutcome::Stored) return outcome;
    return addColumnsAndStore(ws, dialogs, request.taskId, document);
}

SaveOutcome StoreSettingsDocument(const Workspace& ws, platform::Dialogs& dialogs, std::int64_t taskId,
                                  const std::string& document) {
    auto doc = ParseSettings(document);
    if (!doc) {
        dialogs.message("任务设置" + jsonProblem(document) + "，不能保存", platform::kAppTitle);
        return SaveOutcome::Refused;
    }
    bool exists = false;
    try {
        exists = TaskRowExists(ws, taskId);
    } catch (const platform::SqliteError& e) {
        dialogs.message(collect::DbErrorText(e.what()), platform::kAppTitle);
        return SaveOutcome::Refused;
    }
    if (!exists) {
        dialogs.message("未选定任务,不能保存", platform::kAppTitle);
        return SaveOutcome::Refused;
    }
    auto outcome = checkBeforeStore(ws, dialogs, taskId, *doc);
    if (outcome != SaveOutcome::Stored) return outcome;
    return addColumnsAndStore(ws, dialogs, taskId, document);
}

}  // namespace tarvex::app
