// The task settings document: accessors, the new-task document, the form model's load and save
// with every key, the refusals of a save, the columns a save adds, the column tree of the
// publishing tab and the field list commands.
#include "app/tasks/settings_document.h"

#include <gtest/gtest.h>

#include "app/tasks/catalogue.h"
#include "app/tasks/column_tree.h"
#include "app/tasks/field_list.h"
#include "app/tasks/rules_file.h"
#include "app/tasks/stored_rules.h"
#include "collect/task_db.h"
#include "platform/sqlite_db.h"
#include "publish/text_cipher.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using app::SettingsJson;

namespace {

std::vector<std::string> keysOf(const SettingsJson& doc) {
    std::vector<std::string> keys;
    for (auto it = doc.begin(); it != doc.end(); ++it) keys.push_back(it.key());
    return keys;
}

struct SettingsTest : ::testing::Test {
    test::SandboxWorkspace sandbox;
    app::Workspace ws = sandbox.workspace();
    test::ScriptedDialogs dialogs;
    app::MemoryClipboard clipboard;
    std::atomic<std::int64_t> currentId{0};

    // A task made the way the catalogue makes one: row, database, folder.
    std::int64_t newTask(const std::string& name = "T") {
        app::Catalogue cat(ws, dialogs, clipboard, currentId);
        dialogs.queueAnswer(name);
        return *cat.CreateTask(std::nullopt);
    }
    std::string rawRules(std::int64_t id) {
        platform::SqliteConnection db(ws.configDb);
        return platform::queryAll(db, "select rules from vorn_task where id=" + std::to_string(id)).text(0, "rules");
    }
    std::string stored(std::int64_t id) { return app::ReadStoredRules(rawRules(id)).value_or("<unreadable>"); }
    app::SaveRequest request(std::int64_t id) { return {id, "T", nullptr}; }
    app::SettingsForm loaded(const std::string& doc, std::int64_t id = 1) {
        app::SettingsForm form;
        std::string error;
        EXPECT_TRUE(app::LoadSettings(doc, ws, id, form, &error)) << error;
        return form;
    }
};

// A document with every key the editor writes, values away from the defaults, booleans in the
// other spellings readers accept, and a key the editor does not know.
std::string fullDocument(const std::string& savePath) {
    SettingsJson doc = SettingsJson::object();
    doc["gettnum"] = "2";
    doc["fieldsAll"] = SettingsJson::array({R"({"title":"标题","check_null":"-1"})", R"({"title":"人工审核"})"});
    doc["mulpage"] = R"({"Mul_max":"5"})";
    doc["Morepage"] = R"({"More_begin":"<ul>","More_url_regex":"<a href=\"{*}\">{DD:字段=列表标题}</a>"})";
    doc["Morepage2"] = R"({"MorePageAll":[]})";
    doc["other_UploadSet"] = R"({"ftp":"0"})";
    doc["PostRuleName"] = "dede";
    doc["post_class_tree"] = "@@@<br/>a###1###0<br/>b###2###1<br/>";
    doc["post_class_selected"] = "2";
    doc["post_morepost"] = R"({"check1":"-1","MorePostAll":["site,k1,z"]})";
    doc["other_time1"] = "100";
    doc["other_time2"] = "200";
    doc["other_time3"] = "400";
    doc["other_check_title"] = "1";
    doc["other_check_url"] = "true";
    doc["other_cookie"] = "a=b; c=d";
    doc["other_ua"] = "UA/1";
    doc["other_savepath"] = savePath;
    doc["other_joinpage"] = "<hr>";
    doc["other_testurl"] = "  http://127.0.0.1/a.html \r\n";
    doc["other_join_repeat"] = " <br> ";
    doc["other_autoupload"] = "TRUE";
    doc["other_minid_get"] = "5";
    doc["other_minid_post"] = "6";
    doc["other_charset"] = "GBK";
    doc["other_url_max"] = "7";
    doc["other_post_max"] = "8";
    doc["other_gzip"] = "-1";
    doc["other_check_rengong"] = "1";
    doc["other_open_editform"] = "true";
    doc["other_check_classid"] = "-1";
    doc["other_check_repeatget"] = "1";
    return app::DumpJson(doc);
}

}  // namespace

TEST(SettingsAccessors, FollowTheValueConventions) {
    auto doc = *app::ParseSettings(
        R"({"s":"text","n":5,"z":null,"o":{"a":1},"t":"TRUE","one":"1","neg":"-1","zero":"0","f":"false",)"
        R"("e":"","x":"abc","real":"1.5","b":true,"int":"42","minus":"-3"})");
    EXPECT_EQ(app::SettingText(doc, "s"), "text");
    EXPECT_EQ(app::SettingText(doc, "n"), "5");
    EXPECT_EQ(app::SettingText(doc, "o"), R"({"a":1})");
    EXPECT_EQ(app::SettingText(doc, "z"), "");
    EXPECT_EQ(app::SettingText(doc, "absent"), "");
    for (const char* on : {"t", "one", "neg", "n", "b"}) EXPECT_TRUE(app::SettingFlag(doc, on)) << on;
    for (const char* off : {"zero", "f", "e", "x", "real", "absent", "z"})
        EXPECT_FALSE(app::SettingFlag(doc, off)) << off;
    EXPECT_EQ(app::SettingInt(doc, "int"), 42);
    EXPECT_EQ(app::SettingInt(doc, "minus"), -3);
    for (const char* zero : {"e", "x", "real", "absent"}) EXPECT_EQ(app::SettingInt(doc, zero), 0) << zero;
    EXPECT_FALSE(app::ParseSettings("[1,2]"));
    EXPECT_FALSE(app::ParseSettings("{not json"));
}

TEST(SettingsDefaults, NewTaskDocumentIsExactlyAsTabled) {
    auto doc = *app::ParseSettings(app::NewTaskDocument());
    EXPECT_EQ(keysOf(doc),
              (std::vector<std::string>{"fieldsAll", "other_time1", "other_time2", "other_time3", "other_check_title",
                                        "other_check_url", "other_ua", "other_joinpage", "other_join_repeat"}));
    EXPECT_EQ(doc["other_time1"], "300");
    EXPECT_EQ(doc["other_time2"], "300");
    EXPECT_EQ(doc["other_time3"], "300");
    EXPECT_EQ(doc["other_check_title"], "0");
    EXPECT_EQ(doc["other_check_url"], "0");
    EXPECT_EQ(doc["other_ua"], "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 5.1; SV1; Maxthon; .NET CLR 1.1.4322");
    EXPECT_EQ(doc["other_joinpage"], "<!--分页符-->");
    EXPECT_EQ(doc["other_join_repeat"], "<!--重复符-->");
    ASSERT_EQ(doc["fieldsAll"].size(), 2u);
    EXPECT_EQ(
        doc["fieldsAll"][0],
        R"({"title":"标题","check_null":"-1","check_mulpage":"0","check_morepage":"0","check_morepageindex":-1,)"
        R"("radio_1":"-1","radio_2":"0","radio_3":"0","radio_1_content":["<title>","</title>"],)"
        R"("radio_2_content":["",""],"radio_3_content":["0",""],)"
        R"("txt_strips":["{\"type\":\"替换\",\"rep1\":\"aaaaa\",\"rep2\":\"bbbbbd\"}",)"
        R"("{\"type\":\"html过滤\",\"html_strip_nums\":\"0,\"}","{\"type\":\"html过滤\",\"html_strip_nums\":\"21,\"}"],)"
        R"("file_save":["0"]})");
    EXPECT_EQ(
        doc["fieldsAll"][1],
        R"({"title":"内容","check_null":"0","check_mulpage":"0","check_morepage":"0","check_morepageindex":-1,)"
        R"("radio_1":"-1","radio_2":"0","radio_3":"0","radio_1_content":["<div class=\"fdsafdsa\">","</div>"],)"
        R"("radio_2_content":["",""],"radio_3_content":["0",""],)"
        R"("txt_strips":["{\"type\":\"替换\",\"rep1\":\"11111\",\"rep2\":\"22222\"}",)"
        R"("{\"type\":\"html过滤\",\"html_strip_nums\":\"0,\"}","{\"type\":\"html过滤\",\"html_strip_nums\":\"21,\"}"],)"
        R"("file_save":["0","/d/file/{dd:日期yyyymmdd}/{dd:MD5}.gif"]})");
}

TEST_F(SettingsTest, LoadThenComposeWritesEveryKeyInTableOrder) {
    sandbox.writeFile("发布规则/dede.P", "module");
    sandbox.writeFile("发布规则/other.p", "module");
    sandbox.writeFile("发布规则/readme.txt", "x");
    sandbox.makeDir("files");
    auto form = loaded(fullDocument(sandbox.path("files")));
    EXPECT_EQ(form.publishInterfaces, (std::vector<std::string>{"dede", "other"}));

    auto out = *app::ParseSettings(app::ComposeSettings(form));
    EXPECT_EQ(keysOf(out), app::EditorKeys());
    // What the editor writes back: the same values, flags as "-1", two texts trimmed, and the key
    // it does not know dropped.
    auto expected = *app::ParseSettings(fullDocument(sandbox.path("files")));
    expected.erase("gettnum");
    for (const char* flag :
         {"other_check_title", "other_check_url", "other_autoupload", "other_gzip", "other_check_rengong",
          "other_open_editform", "other_check_classid", "other_check_repeatget"})
        expected[flag] = "-1";
    expected["other_testurl"] = "http://127.0.0.1/a.html";
    expected["other_join_repeat"] = "<br>";
    for (const auto& key : app::EditorKeys()) EXPECT_EQ(out[key], expected[key]) << key;
    EXPECT_FALSE(out.contains("gettnum"));
}

TEST_F(SettingsTest, OffFlagsAndEmptySectionsAreWrittenAsTheEditorDoes) {
    auto form = loaded(R"({"fieldsAll":[],"other_gzip":"false","other_check_title":"","other_check_url":"0",)"
                       R"("PostRuleName":"missing","post_class_tree":"","mulpage":""})");
    auto out = *app::ParseSettings(app::ComposeSettings(form));
    EXPECT_EQ(out["fieldsAll"], SettingsJson::array());
    for (const char* key :
         {"mulpage", "Morepage", "Morepage2", "other_UploadSet", "PostRuleName", "post_class_selected"})
        EXPECT_FALSE(out.contains(key)) << key;
    for (const char* key : {"post_class_tree", "post_morepost", "other_cookie"}) EXPECT_EQ(out[key], "") << key;
    for (const char* key : {"other_gzip", "other_check_title", "other_check_url", "other_autoupload"})
        EXPECT_EQ(out[key], "0") << key;
    for (const char* key : {"other_minid_get", "other_minid_post", "other_url_max", "other_post_max"})
        EXPECT_EQ(out[key], "0") << key;
}

TEST_F(SettingsTest, CharsetLoadsAsOneOfTheThreeChoices) {
    struct Case {
        const char* stored;
        const char* shown;
    };
    for (const auto& c : std::vector<Case>{
             {"", ""}, {"GBK", "GBK"}, {"gbk", "GBK"}, {"utf-8", "UTF-8"}, {"UTF-8", "UTF-8"}, {"big5", "UTF-8"}})
        EXPECT_EQ(loaded(std::string(R"({"other_charset":")") + c.stored + "\"}").charset, c.shown) << c.stored;
}

TEST_F(SettingsTest, EmptyDocumentResetsTheFormAndKeepsTheAddress) {
    app::SettingsForm form = loaded(fullDocument("/tmp"));
    form.testUrl = "http://typed/";
    ASSERT_TRUE(app::LoadSettings("", ws, 42, form));
    EXPECT_TRUE(form.fields.empty());
    EXPECT_EQ(form.savePath, ws.programFolder + "data/42/");
    EXPECT_EQ(form.joinRepeat, "<!--重复连接符-->");
    EXPECT_EQ(form.joinPage, "<!--分页符-->");
    EXPECT_EQ(form.userAgent, app::kDefaultUserAgent);
    EXPECT_EQ(form.time1, "300");
    EXPECT_EQ(form.minIdGet, "0");
    EXPECT_FALSE(form.gzip);
    EXPECT_FALSE(form.manualReview);
    EXPECT_EQ(form.postClassTree, "");
    EXPECT_EQ(form.testUrl, "http://typed/");
}

TEST_F(SettingsTest, LoadingAnotherTaskLeavesNothingBehind) {
    app::SettingsForm form = loaded(fullDocument("/tmp"));
    ASSERT_TRUE(form.gzip);
    ASSERT_TRUE(app::LoadSettings(app::NewTaskDocument(), ws, 2, form));
    EXPECT_FALSE(form.gzip || form.manualReview || form.checkTitle || form.checkUrl || form.autoUpload ||
                 form.closeEditForm || form.noClassNeeded || form.collectAgain);
    EXPECT_EQ(form.minIdGet, "0");
    EXPECT_EQ(form.minIdPost, "0");
    EXPECT_EQ(form.cookie, "");
    EXPECT_EQ(form.postClassTree, "");
    EXPECT_EQ(form.postClassSelected, "");
    EXPECT_EQ(form.mulpage, "");
    // The address box keeps its text when the document has no address.
    EXPECT_EQ(form.testUrl, "  http://127.0.0.1/a.html \r\n");
}

TEST_F(SettingsTest, ADocumentThatIsNotJsonIsRefusedAndTheFormKept) {
    app::SettingsForm form = loaded(fullDocument("/tmp"));
    std::string error;
    EXPECT_FALSE(app::LoadSettings("{\"fieldsAll\": [", ws, 1, form, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(form.minIdGet, "5");
}

TEST_F(SettingsTest, ColumnSelectionFollowsTheStoredId) {
    const std::string tree = "@@@<br/>zero###0###0<br/>a###1###0<br/>";
    EXPECT_EQ(loaded(R"({"post_class_tree":")" + tree + R"(","post_class_selected":"1"})").postClassSelected, "1");
    EXPECT_EQ(loaded(R"({"post_class_tree":")" + tree + R"("})").postClassSelected, "0");
    EXPECT_EQ(loaded(R"({"post_class_tree":")" + tree + R"(","post_class_selected":"9"})").postClassSelected, "");
}

TEST_F(SettingsTest, NewTaskSavedUnchangedGainsEveryKeyWithItsDefaults) {
    auto id = newTask();
    auto form = loaded(stored(id), id);
    ASSERT_EQ(app::SaveSettings(ws, dialogs, request(id), form), app::SaveOutcome::Stored) << dialogs.messages().size();
    auto doc = *app::ParseSettings(stored(id));
    std::vector<std::string> expected;
    for (const auto& k : app::EditorKeys())
        if (k != "mulpage" && k != "Morepage" && k != "Morepage2" && k != "other_UploadSet" && k != "PostRuleName" &&
            k != "post_class_selected")
            expected.push_back(k);
    EXPECT_EQ(keysOf(doc), expected);
    EXPECT_EQ(doc["other_minid_get"], "0");
    EXPECT_EQ(doc["other_join_repeat"], "<!--重复符-->");
    EXPECT_EQ(doc["fieldsAll"], (*app::ParseSettings(app::NewTaskDocument()))["fieldsAll"]);
}

TEST_F(SettingsTest, SaveStoresWithAFreshPrefixAndAddsTheColumnsItNeeds) {
    auto id = newTask();
    sandbox.makeDir("files");
    const std::string before = rawRules(id);
    auto form = loaded(fullDocument(sandbox.path("files")), id);
    ASSERT_EQ(app::SaveSettings(ws, dialogs, request(id), form), app::SaveOutcome::Stored);
    EXPECT_NE(rawRules(id), before);
    EXPECT_EQ(stored(id), app::ComposeSettings(form));
    EXPECT_EQ(collect::TableColumns(ws.taskDbPath(id), "content", dialogs),
              (std::vector<std::string>{"id", "url", "geturl", "getc", "postc", "标题", "内容", "列表标题", "postc_k1",
                                        "人工审核"}));
    // Saving again adds nothing and stores a different text for the same document.
    const std::string first = rawRules(id);
    ASSERT_EQ(app::SaveSettings(ws, dialogs, request(id), form), app::SaveOutcome::Stored);
    EXPECT_NE(rawRules(id), first);
    EXPECT_EQ(stored(id), app::ComposeSettings(form));
    EXPECT_EQ(collect::TableColumns(ws.taskDbPath(id), "content", dialogs).size(), 10u);
}

TEST_F(SettingsTest, SaveRefusalsStoreNothing) {
    auto id = newTask();
    sandbox.makeDir("files");
    auto good = loaded(app::NewTaskDocument(), id);
    good.savePath = sandbox.path("files");
    auto withField = [&](const std::string& title) {
        auto f = good;
        f.fields.push_back(R"({"title":")" + title + R"("})");
        return f;
    };
    struct Case {
        std::string name;
        app::SaveRequest request;
        app::SettingsForm form;
        app::SaveOutcome outcome;
        std::string message;  // "" = check that the message names `name`
    };
    auto running = [](const std::string& name) { return name == "T" ? std::string("正在运行") : std::string(); };
    auto noReview = good;
    noReview.manualReview = true;
    auto missingFolder = good;
    missingFolder.savePath = sandbox.path("nowhere");
    auto listRef = good;
    listRef.morepage = R"({"More_url_regex":"{DD:字段=postc_x}"})";
    std::vector<Case> cases = {
        {"no name", {id, "", nullptr}, good, app::SaveOutcome::Refused, "未选定任务,不能保存"},
        {"no id", {0, "T", nullptr}, good, app::SaveOutcome::Refused, "未选定任务,不能保存"},
        {"running", {id, "T", running}, good, app::SaveOutcome::Refused, "任务正在进行中,请停止后再保存"},
        {"folder", request(id), missingFolder, app::SaveOutcome::RefusedEnableTree,
         "附件保存目录<" + sandbox.path("nowhere") + ">不存在！,不能保存"},
        {"review", request(id), noReview, app::SaveOutcome::Refused, "开启人工审核，需添加采集字段“人工审核”"},
        {"id", request(id), withField("id"), app::SaveOutcome::Refused, ""},
        {"URL", request(id), withField("URL"), app::SaveOutcome::Refused, ""},
        {"getc", request(id), withField("getc"), app::SaveOutcome::Refused, ""},
        {"postc_site", request(id), withField("postc_site"), app::SaveOutcome::Refused, ""},
        {"postc_x", request(id), listRef, app::SaveOutcome::Refused, ""},
        // Names the content table cannot hold: a second "标题", a double quote.
        {"标题", request(id), withField("标题"), app::SaveOutcome::Refused, ""},
        {"ti\"tle", request(id), withField("ti\\\"tle"), app::SaveOutcome::Refused, ""},
    };
    const std::string before = rawRules(id);
    for (const auto& c : cases) {
        dialogs.clear();
        EXPECT_EQ(app::SaveSettings(ws, dialogs, c.request, c.form), c.outcome) << c.name;
        ASSERT_EQ(dialogs.messages().size(), 1u) << c.name;
        if (c.message.empty())
            EXPECT_NE(dialogs.messages()[0].find("<" + c.name + ">"), std::string::npos) << dialogs.messages()[0];
        else
            EXPECT_EQ(dialogs.messages()[0], c.message) << c.name;
        EXPECT_EQ(rawRules(id), before) << c.name;
    }

    // A finished or waiting run does not block the save.
    for (const char* state : {"等待运行", "停止运行", "运行结束"}) {
        app::SaveRequest r{id, "T", [&](const std::string&) { return std::string(state); }};
        EXPECT_EQ(app::SaveSettings(ws, dialogs, r, good), app::SaveOutcome::Stored) << state;
    }
    // Manual review with its field is stored as "-1".
    auto review = withField("人工审核");
    review.manualReview = true;
    ASSERT_EQ(app::SaveSettings(ws, dialogs, request(id), review), app::SaveOutcome::Stored);
    EXPECT_EQ((*app::ParseSettings(stored(id)))["other_check_rengong"], "-1");

    // The database deleted behind the task's back.
    const std::string last = rawRules(id);
    std::remove(ws.taskDbPath(id).c_str());
    dialogs.clear();
    EXPECT_EQ(app::SaveSettings(ws, dialogs, request(id), good), app::SaveOutcome::RefusedEnableTree);
    EXPECT_EQ(dialogs.messages(),
              std::vector<std::string>{
                  "该任务本地数据库已被删除,不能保存！\r(请【复制本任】务,再【粘粘本任务】才能修改使用！)"});
    EXPECT_EQ(rawRules(id), last);
}

TEST_F(SettingsTest, AFailedSaveLeavesTheTaskAsItWas) {
    auto id = newTask();
    auto base = loaded(app::NewTaskDocument(), id);
    base.savePath.clear();
    // More fields than a table may have columns: the ALTERs fail part way.
    auto tooMany = base;
    for (int i = 0; i < 2000; ++i) tooMany.fields.push_back(R"({"title":"f)" + std::to_string(i) + R"("})");
    const std::string before = rawRules(id);
    const auto columnsBefore = collect::TableColumns(ws.taskDbPath(id), "content", dialogs);
    EXPECT_EQ(app::SaveSettings(ws, dialogs, request(id), tooMany), app::SaveOutcome::Refused);
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_NE(dialogs.messages()[0].find("too many columns"), std::string::npos) << dialogs.messages()[0];
    EXPECT_EQ(rawRules(id), before);
    // No column of the failed save is left behind.
    EXPECT_EQ(collect::TableColumns(ws.taskDbPath(id), "content", dialogs), columnsBefore);

    // The task database held by another program: nothing is stored either.
    auto oneMore = base;
    oneMore.fields.push_back(R"({"title":"作者"})");
    {
        platform::SqliteConnection holder(ws.taskDbPath(id));
        holder.exec("BEGIN EXCLUSIVE");
        dialogs.clear();
        EXPECT_EQ(app::SaveSettings(ws, dialogs, request(id), oneMore), app::SaveOutcome::Refused);
        EXPECT_TRUE(dialogs.sawMessage("任务数据库添加字段失败，设置未保存：数据库被锁定"));
        EXPECT_EQ(rawRules(id), before);
    }
    ASSERT_EQ(app::SaveSettings(ws, dialogs, request(id), oneMore), app::SaveOutcome::Stored);
    EXPECT_EQ(stored(id), app::ComposeSettings(oneMore));
}

TEST_F(SettingsTest, AFieldRenamedOnlyInLetterCaseKeepsItsColumn) {
    auto id = newTask();
    collect::execScript(ws.taskDbPath(id), "ALTER table content ADD 'Author' TEXT");
    auto form = loaded(app::NewTaskDocument(), id);
    form.savePath.clear();
    form.fields.push_back(R"({"title":"author"})");  // SQLite names ignore letter case
    ASSERT_EQ(app::SaveSettings(ws, dialogs, request(id), form), app::SaveOutcome::Stored) << dialogs.messages().size();
    EXPECT_EQ(stored(id), app::ComposeSettings(form));
    EXPECT_EQ(collect::TableColumns(ws.taskDbPath(id), "content", dialogs).back(), "Author");
}

TEST_F(SettingsTest, StoreSettingsDocumentKeepsTheDocumentAsGiven) {
    auto id = newTask();
    const std::string doc = R"({"fieldsAll":["{\"title\":\"作者\"}"],"gettnum":"2","other_time1":"100"})";
    ASSERT_EQ(app::StoreSettingsDocument(ws, dialogs, id, doc), app::SaveOutcome::Stored);
    EXPECT_EQ(stored(id), doc);
    EXPECT_EQ(collect::TableColumns(ws.taskDbPath(id), "content", dialogs).back(), "作者");

    const std::string before = rawRules(id);
    EXPECT_EQ(app::StoreSettingsDocument(ws, dialogs, id, "not json"), app::SaveOutcome::Refused);
    EXPECT_EQ(app::StoreSettingsDocument(ws, dialogs, id + 100, doc), app::SaveOutcome::Refused);
    EXPECT_EQ(app::StoreSettingsDocument(ws, dialogs, id, R"({"fieldsAll":["{\"title\":\"id\"}"]})"),
              app::SaveOutcome::Refused);
    EXPECT_EQ(rawRules(id), before);
}

TEST(ColumnTree, BuildsLevelsByParentText) {
    auto tree = app::BuildColumnTree("@@@<br/>a###1###0<br/>b###2###1<br/>c###3###0<br/>");
    ASSERT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree[0].caption(), "[1]a");
    EXPECT_EQ(tree[1].caption(), "[3]c");
    ASSERT_EQ(tree[0].children.size(), 1u);
    EXPECT_EQ(tree[0].children[0].caption(), "[2]b");

    EXPECT_TRUE(app::BuildColumnTree("a###1###0<br/>b###2###0<br/>").empty());  // no "@@@"
    EXPECT_EQ(app::BuildColumnTree("@@@<br/>a###1###0<br/>tail###9###0").size(), 1u);
    // A parent written with a leading zero never matches.
    EXPECT_TRUE(app::BuildColumnTree("@@@<br/>a###1###0<br/>b###2###01<br/>")[0].children.empty());
    // A negative top-level parent id.
    EXPECT_EQ(app::BuildColumnTree("@@@<br/>a###1###-1<br/>b###2###1<br/>")[0].children.size(), 1u);
    // A column that is its own parent is shown once; the build ends.
    auto loop = app::BuildColumnTree("@@@<br/>z###0###0<br/>");
    ASSERT_EQ(loop.size(), 1u);
    EXPECT_TRUE(loop[0].children.empty());
    EXPECT_EQ(app::ColumnIdOfCaption("[12]新闻[x]"), "12");
}

namespace {
// A tree as text: captions in order, children in parentheses.
std::string render(const std::vector<app::ColumnNode>& nodes) {
    std::string out;
    for (const auto& n : nodes) {
        if (!out.empty()) out += " ";
        out += n.caption();
        if (!n.children.empty()) out += "(" + render(n.children) + ")";
    }
    return out;
}
}  // namespace

// The top level is the smallest parent id of the list: a site whose top columns all hang below
// a column 1 it does not list shows them; lists using 0 or -1 for the top keep it.
TEST(ColumnTree, TheTopLevelIsTheSmallestParentIdOfTheList) {
    struct Case {
        std::string list, tree;
    };
    for (const auto& c : std::vector<Case>{
             {"@@@<br/>新闻###2###1<br/>体育###3###1<br/>国内###4###2<br/>", "[2]新闻([4]国内) [3]体育"},
             {"@@@<br/>a###1###0<br/>b###2###5<br/>", "[1]a"},
             {"@@@<br/>a###1###-1<br/>b###2###0<br/>c###3###-1<br/>", "[1]a [3]c"},
         })
        EXPECT_EQ(render(app::BuildColumnTree(c.list)), c.tree) << c.list;
}

TEST(ColumnTree, HandEditsOfTheColumnList) {
    test::ScriptedDialogs dialogs;
    std::string text;
    dialogs.queueAnswer("5,x");
    EXPECT_EQ(app::AddColumnNode(text, dialogs), "5");
    EXPECT_EQ(text, "@@@<br/>x###5###0###0<br/>");
    EXPECT_EQ(dialogs.shown()[0].caption, "手动添加栏目节点");
    EXPECT_EQ(dialogs.shown()[0].text, "栏目格式:(栏目id,栏目标题)：");

    dialogs.queueAnswer("no comma");
    EXPECT_FALSE(app::AddColumnNode(text, dialogs));
    EXPECT_TRUE(dialogs.sawMessage("输入内容格式不对，必须包含英文逗号\",\""));
    dialogs.queueAnswer("x7,y");
    EXPECT_FALSE(app::AddColumnNode(text, dialogs));
    EXPECT_EQ(text, "@@@<br/>x###5###0###0<br/>");

    text = "@@@<br/>a###1###0###7<br/>b###2###1<br/>c###3###0<br/>";
    dialogs.clear();
    EXPECT_FALSE(app::DeleteColumnNode(text, "", dialogs));
    EXPECT_FALSE(app::DeleteColumnNode(text, "1", dialogs));
    EXPECT_EQ(dialogs.messages(),
              (std::vector<std::string>{"请先选择一个节点后再删除！", "该节点下有子栏目，请先删除子栏目"}));
    EXPECT_TRUE(app::DeleteColumnNode(text, "3", dialogs));
    EXPECT_EQ(text, "@@@<br/>a###1###0###7<br/>b###2###1<br/>");

    dialogs.queueConfirm(false);
    EXPECT_FALSE(app::ClearColumnNodes(text, dialogs));
    EXPECT_FALSE(text.empty());
    EXPECT_TRUE(app::ClearColumnNodes(text, dialogs));
    EXPECT_EQ(text, "");
    EXPECT_EQ(dialogs.shown().back().text, "确认清空全部栏目节点吗？");
    EXPECT_EQ(dialogs.shown().back().caption, "删除节点");
}

TEST(FieldList, ClipboardCopyAndPaste) {
    test::ScriptedDialogs dialogs;
    app::MemoryClipboard clipboard;
    std::vector<std::string> fields = {R"({"title":"标题","x":"1"})", R"({"title":"内容"})"};

    EXPECT_FALSE(app::CopyFieldToClipboard(fields, -1, clipboard, dialogs));
    EXPECT_TRUE(dialogs.sawMessage("请选择一个字段再复制"));
    ASSERT_TRUE(app::CopyFieldToClipboard(fields, 0, clipboard, dialogs));
    EXPECT_TRUE(dialogs.sawMessage("复制单字段完成！"));
    EXPECT_EQ(clipboard.text(), "Tarvex复制单字段|" + publish::enCryptText(fields[0], "brovak"));

    EXPECT_EQ(app::PasteFieldAsNew(fields, clipboard, dialogs), 2);
    EXPECT_EQ(app::FieldTitle(fields[2]), "标题2");
    EXPECT_EQ(app::SettingText(*app::ParseSettings(fields[2]), "x"), "1");

    std::vector<std::string> other = {R"({"title":"内容"})", R"({"title":"标题","x":"old"})"};
    EXPECT_EQ(app::PasteFieldOverwrite(other, clipboard, dialogs), 1);
    EXPECT_EQ(other[1], fields[0]);
    std::vector<std::string> none;
    EXPECT_EQ(app::PasteFieldOverwrite(none, clipboard, dialogs), 0);

    for (const std::string clip :
         std::vector<std::string>{"", "just text", "Tarvex复制单字段|zz", "Tarvex复制任务|3",
                                  "Tarvex复制单字段|" + publish::enCryptText("[1]", "brovak")}) {
        dialogs.clear();
        clipboard.setText(clip);
        const auto before = other;
        EXPECT_FALSE(app::PasteFieldOverwrite(other, clipboard, dialogs)) << clip;
        EXPECT_FALSE(app::PasteFieldAsNew(other, clipboard, dialogs)) << clip;
        EXPECT_EQ(dialogs.messages(), std::vector<std::string>(2, "剪贴板里存在的字段 格式有误！"));
        EXPECT_EQ(other, before);
    }
}

TEST(FieldList, MoveAndDelete) {
    test::ScriptedDialogs dialogs;
    std::vector<std::string> f = {R"({"title":"a"})", R"({"title":"b"})", R"({"title":"c"})"};
    EXPECT_FALSE(app::MoveField(f, -1, 1, dialogs));
    EXPECT_TRUE(dialogs.sawMessage("请先选择一个字段，再使用上移下移功能！"));
    EXPECT_EQ(app::MoveField(f, 0, -1, dialogs), 0);
    EXPECT_EQ(app::MoveField(f, 2, 1, dialogs), 2);
    EXPECT_EQ(app::MoveField(f, 0, 1, dialogs), 1);
    EXPECT_EQ(app::FieldTitle(f[0]) + app::FieldTitle(f[1]) + app::FieldTitle(f[2]), "bac");

    dialogs.queueConfirm(false);
    EXPECT_FALSE(app::DeleteField(f, 1, dialogs));
    EXPECT_EQ(f.size(), 3u);
    EXPECT_TRUE(app::DeleteField(f, 1, dialogs));
    EXPECT_EQ(app::FieldTitle(f[0]) + app::FieldTitle(f[1]), "bc");
    EXPECT_EQ(dialogs.shown().back().text, "确认删除字段吗？");
    EXPECT_EQ(dialogs.shown().back().caption, "删除字段");
}

TEST_F(SettingsTest, RulesFilesRoundTripTheFieldsAndPageSections) {
    app::SettingsForm form;
    form.fields = {R"({"title":"标题"})", R"({"title":"正文𠀀"})"};  // a character outside GBK survives
    form.morepage = R"({"More_begin":"<ul>"})";
    form.mulpage = "";
    form.morepage2 = R"({"a":"b"})";
    const std::string path = sandbox.path("rules/r.g");
    sandbox.makeDir("rules");
    ASSERT_TRUE(app::ExportRulesFrom(form, path, dialogs));
    const std::string file = sandbox.readFile("rules/r.g");
    EXPECT_EQ(file.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(file.find('\n'), std::string::npos);
    auto plain = *app::ParseSettings(publish::deCryptText(file.substr(3), "brovak"));
    EXPECT_EQ(keysOf(plain), (std::vector<std::string>{"fieldsAll", "Morepage", "Morepage2"}));

    app::SettingsForm target;
    target.mulpage = "old";
    target.fields = {R"({"title":"x"})"};
    sandbox.writeFile("rules/r2.g",
                      file.substr(0, 3) + "  \r\n" + file.substr(3) + "\r\n");  // surrounding blanks are trimmed
    ASSERT_TRUE(app::ImportRulesInto(target, sandbox.path("rules/r2.g"), dialogs));
    EXPECT_EQ(target.fields, form.fields);
    EXPECT_EQ(target.mulpage, "");
    EXPECT_EQ(target.morepage, form.morepage);
    EXPECT_EQ(target.morepage2, form.morepage2);

    for (const std::string garbage :
         std::vector<std::string>{"", "\xEF\xBB\xBFhello", "ABCDEF0123", publish::enCryptText("[1,2]", "brovak")}) {
        sandbox.writeFile("rules/bad.g", garbage);
        auto before = target;
        dialogs.clear();
        EXPECT_FALSE(app::ImportRulesInto(target, sandbox.path("rules/bad.g"), dialogs));
        EXPECT_EQ(target.fields, before.fields);
        EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"规则文件内容有误，无法导入！"});
    }
    dialogs.clear();
    EXPECT_FALSE(app::ImportRulesInto(target, sandbox.path("rules/none.g"), dialogs));
    EXPECT_EQ(dialogs.messages().size(), 1u);
}
