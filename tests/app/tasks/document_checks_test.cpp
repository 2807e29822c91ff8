// The checks a settings document, a section text or a field rule passes before it is stored:
// its shape (message naming the key), the nesting limit, and field names that the content table
// can hold (double quotes, control characters, fixed columns, repeats ignoring letter case).
#include <gtest/gtest.h>

#include <filesystem>

#include "app/tasks/catalogue.h"
#include "app/tasks/field_list.h"
#include "app/tasks/field_names.h"
#include "app/tasks/rules_file.h"
#include "app/tasks/settings_document.h"
#include "app/tasks/stored_rules.h"
#include "collect/task_db.h"
#include "platform/sqlite_db.h"
#include "publish/text_cipher.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using app::SettingsJson;

namespace {

std::string fieldRule(const std::string& title) {
    SettingsJson rule = SettingsJson::object();
    rule["title"] = title;
    return app::DumpJson(rule);
}

// A document with these field titles and, when given, a list page whose link template names
// the list-page fields.
std::string documentWith(const std::vector<std::string>& titles, const std::vector<std::string>& listFields = {}) {
    SettingsJson doc = SettingsJson::object();
    doc["fieldsAll"] = SettingsJson::array();
    for (const auto& t : titles) doc["fieldsAll"].push_back(fieldRule(t));
    if (!listFields.empty()) {
        std::string link = "<a href=\"{*}\">";
        for (const auto& f : listFields) link += "{DD:字段=" + f + "}";
        SettingsJson list = SettingsJson::object();
        list["More_url_regex"] = link + "</a>";
        doc["Morepage"] = app::DumpJson(list);
    }
    return app::DumpJson(doc);
}

std::string deepArray(int depth) {
    return std::string(static_cast<std::size_t>(depth), '[') + std::string(static_cast<std::size_t>(depth), ']');
}

}  // namespace

TEST(DocumentChecks, WronglyShapedDocumentsAreRefusedNamingTheKey) {
    struct Case {
        std::string document;
        std::string named;  // a part of the message
    };
    const std::vector<Case> cases = {
        {R"({"fieldsAll": [1, 2, {"x": []}], "Morepage": 5})", "\"fieldsAll\"的第1项"},
        {R"({"fieldsAll": "标题"})", "\"fieldsAll\""},
        {R"({"fieldsAll": ["{\"title\":\"a\"}", {"title": "b"}]})", "\"fieldsAll\"的第2项"},
        {R"({"fieldsAll": ["not json"]})", "\"fieldsAll\"的第1项"},
        {R"({"fieldsAll": ["{\"x\":\"1\"}"]})", "title"},
        {R"({"fieldsAll": ["{\"title\":\"\"}"]})", "不能为空"},
        {R"({"Morepage": 5})", "\"Morepage\""},
        {R"({"Morepage": {"More_begin": "<ul>"}})", "\"Morepage\""},
        {R"({"mulpage": "[1]"})", "\"mulpage\""},
        {R"({"other_UploadSet": "ftp"})", "\"other_UploadSet\""},
        {R"({"post_morepost": 7})", "\"post_morepost\""},
        {R"({"post_morepost": "{\"MorePostAll\": [3]}"})", "\"MorePostAll\"的第1项"},
        {R"({"Morepage2": "{\"MorePageAll\": \"x\"}"})", "\"MorePageAll\""},
        {R"({"Morepage2": "{\"MorePageAll\": [\"{}\", \"[1]\"]}"})", "\"MorePageAll\"的第2项"},
        {R"({"Morepage": ")" + deepArray(300000) + R"("})", "\"Morepage\"JSON嵌套超过64层"},
        {"{\"a\":" + deepArray(100000) + "}", "JSON嵌套超过64层"},
        {"[]", "不是有效的JSON对象"},
    };
    for (const auto& c : cases) {
        auto problem = app::SettingsDocumentProblem(c.document);
        ASSERT_TRUE(problem.has_value()) << c.document.substr(0, 100);
        EXPECT_NE(problem->find(c.named), std::string::npos) << *problem;
    }
}

TEST(DocumentChecks, WellFormedDocumentsPassWithUnknownKeysAndLooseValues) {
    for (const std::string& doc : {
             app::NewTaskDocument(),
             std::string(R"({})"),
             std::string(R"({"fieldsAll": []})"),
             // Unknown keys stay allowed whatever they hold; other values are read leniently.
             std::string(R"({"my_key": {"nested": [1, 2]}, "other_time1": 300, "gettnum": "2"})"),
             std::string(R"({"Morepage": "", "mulpage": "", "post_morepost": ""})"),
             std::string(R"({"Morepage2": "{\"MorePageAll\": [\"{\\\"title\\\":\\\"p\\\"}\"]}"})"),
             std::string(R"({"post_morepost": "{\"check1\":\"-1\",\"MorePostAll\":[\"s,k,z\"]}"})"),
             // A list-page field may name a content field exactly: they share one column.
             documentWith({"标题", "列表标题"}, {"列表标题"}),
         })
        EXPECT_EQ(app::SettingsDocumentProblem(doc), std::nullopt) << doc;
}

TEST(DocumentChecks, FieldNamesTheContentTableCannotHoldAreRefused) {
    struct Case {
        std::string document;
        std::string named;
    };
    const std::vector<Case> cases = {
        {documentWith({"标题", "标题"}), "<标题>重复"},
        {documentWith({"Title", "内容", "title"}), "<title>与<Title>"},
        {documentWith({"ti\"tle"}), "<ti\"tle>不能包含双引号"},
        {documentWith({std::string("a\0b", 3)}), "<a\\u0000b>不能包含控制字符"},
        {documentWith({"a\nb"}), "<a\\u000Ab>"},
        {documentWith({"a\tb"}), "控制字符"},
        {documentWith({"a\xC2\x85"
                       "b"}),
         "控制字符"},  // U+0085, a C1 control
        {documentWith({"URL"}), "<URL>与数据库固定字段重名"},
        {documentWith({"postc_site"}), "<postc_site>"},
        // List-page fields: the same rules, and no near miss of a content field.
        {documentWith({"标题"}, {"ti\"tle"}), "列表页字段名称<ti\"tle>"},
        {documentWith({"标题"}, {"getc"}), "列表页字段名称<getc>"},
        {documentWith({"title"}, {"Title"}), "列表页字段名称<Title>与<title>"},
        {documentWith({"标题"}, {"Ab", "aB"}), "<aB>与<Ab>"},
    };
    for (const auto& c : cases) {
        auto problem = app::SettingsDocumentProblem(c.document);
        ASSERT_TRUE(problem.has_value()) << c.document;
        EXPECT_NE(problem->find(c.named), std::string::npos) << *problem;
    }
    // The same name check serves a single field rule (the field editor's save, a pasted field).
    EXPECT_EQ(app::FieldRuleProblem(fieldRule("作者")), std::nullopt);
    EXPECT_TRUE(app::FieldRuleProblem(fieldRule("a\"b")).has_value());
    EXPECT_TRUE(app::FieldRuleProblem(R"({"title": 5})").has_value());
    EXPECT_EQ(app::FieldRuleProblem("[" + deepArray(100) + "]"), "字段规则JSON嵌套超过64层");
}

namespace {
struct StoreChecks : ::testing::Test {
    test::SandboxWorkspace sandbox;
    app::Workspace ws = sandbox.workspace();
    test::ScriptedDialogs dialogs;

    std::int64_t newTask() { return *app::CreateTaskWithSettings(ws, dialogs, 0, "T", app::NewTaskDocument()); }
    std::string rawRules(std::int64_t id) {
        platform::SqliteConnection db(ws.configDb);
        return platform::queryAll(db, "select rules from vorn_task where id=" + std::to_string(id)).text(0, "rules");
    }
};
}  // namespace

// A document refused on entry is stored nowhere and adds no column, whichever way it came.
TEST_F(StoreChecks, RefusedDocumentsChangeNeitherTheCatalogueNorTheDatabase) {
    const auto id = newTask();
    const std::string before = rawRules(id);
    const auto columns = collect::TableColumns(ws.taskDbPath(id), "content", dialogs);
    for (const std::string& doc : {
             std::string(R"({"fieldsAll": [1, 2, {"x": []}], "Morepage": 5})"),
             documentWith({"作者", "ti\"tle"}),
             documentWith({"作者", std::string("x\0", 2)}),
             documentWith({"作者", "作者"}),
             documentWith({"作者"}, {"ti\"tle"}),
         }) {
        dialogs.clear();
        EXPECT_EQ(app::StoreSettingsDocument(ws, dialogs, id, doc), app::SaveOutcome::Refused) << doc;
        ASSERT_EQ(dialogs.messages().size(), 1u);
        EXPECT_NE(dialogs.messages()[0].find("不能保存"), std::string::npos) << dialogs.messages()[0];
        EXPECT_EQ(rawRules(id), before);
        EXPECT_EQ(collect::TableColumns(ws.taskDbPath(id), "content", dialogs), columns);
    }
    // Saving a sound document twice with a list-page field works both times.
    const std::string good = documentWith({"标题", "作者"}, {"作者", "日期"});
    ASSERT_EQ(app::StoreSettingsDocument(ws, dialogs, id, good), app::SaveOutcome::Stored);
    ASSERT_EQ(app::StoreSettingsDocument(ws, dialogs, id, good), app::SaveOutcome::Stored);
    EXPECT_EQ(collect::TableColumns(ws.taskDbPath(id), "content", dialogs),
              (std::vector<std::string>{"id", "url", "geturl", "getc", "postc", "标题", "内容", "作者", "日期"}));
}

TEST_F(StoreChecks, ATaskIsNeverLeftWithoutItsTables) {
    // Duplicate titles are refused before a row exists.
    dialogs.clear();
    EXPECT_FALSE(app::CreateTaskWithSettings(ws, dialogs, 0, "dup", documentWith({"标题", "标题"})));
    EXPECT_NE(dialogs.messages().at(0).find("<标题>重复"), std::string::npos);
    // A document that passes the checks but whose table cannot be made: the row is taken back.
    std::vector<std::string> many;
    for (int i = 0; i < 2000; ++i) many.push_back("f" + std::to_string(i));
    dialogs.clear();
    EXPECT_FALSE(app::CreateTaskWithSettings(ws, dialogs, 0, "wide", documentWith(many)));
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_NE(dialogs.messages()[0].find("too many columns"), std::string::npos) << dialogs.messages()[0];
    EXPECT_TRUE(app::ReadTaskRows(ws).empty());
    for (const auto& entry : std::filesystem::directory_iterator(ws.dataFolder))
        ADD_FAILURE() << "left behind: " << entry.path();
}

// Texts that arrive through the clipboard and rules files get the same checks, with the reason.
TEST(DocumentChecks, ClipboardAndRulesFilesSayWhyTheyAreRefused) {
    test::ScriptedDialogs dialogs;
    app::MemoryClipboard clipboard;
    std::vector<std::string> fields = {fieldRule("标题")};
    struct Case {
        std::string rule;
        std::string reason;
    };
    for (const auto& c : std::vector<Case>{{"{\"title\":\"t\",\"x\":" + deepArray(100) + "}", "JSON嵌套超过64层"},
                                           {fieldRule("ti\"tle"), "不能包含双引号"},
                                           {fieldRule("getc"), "固定字段"}}) {
        clipboard.setText("Tarvex复制单字段|" + publish::enCryptText(c.rule, publish::kProgramKey));
        dialogs.clear();
        EXPECT_FALSE(app::PasteFieldAsNew(fields, clipboard, dialogs));
        ASSERT_EQ(dialogs.messages().size(), 1u);
        EXPECT_EQ(dialogs.messages()[0].rfind("剪贴板里存在的字段 格式有误！", 0), 0u);
        EXPECT_NE(dialogs.messages()[0].find(c.reason), std::string::npos) << dialogs.messages()[0];
    }
    EXPECT_EQ(fields.size(), 1u);

    struct FileCase {
        std::string document;
        std::string reason;
    };
    for (const auto& c : std::vector<FileCase>{
             {"{\"fieldsAll\":[],\"Morepage\":" + deepArray(100) + "}", "JSON嵌套超过64层"},
             {R"({"fieldsAll":[],"Morepage":"[1]"})", "\"Morepage\""},
             {documentWith({"a", "A"}), "<A>与<a>"},
         }) {
        app::RulesFileContent content;
        std::string problem;
        EXPECT_EQ(app::ParseRulesFileText(publish::enCryptText(c.document, publish::kProgramKey), content, &problem),
                  app::RulesFileStatus::Invalid);
        EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
    }
}
