// The publish module editor's form: opening keeps nameless lines out (and so does saving), the
// address must begin with "http" and is stored trimmed, new rows are numbered on, rows delete
// and tags append, and a saved module opens again as it was.
#include "app/forms/module_editor_form.h"

#include <gtest/gtest.h>

#include "publish/publish_module.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;

namespace {
struct ModuleEditor : ::testing::Test {
    test::SandboxWorkspace sandbox;
    std::string folder = sandbox.workspace().publishFolder;
    app::ModuleEditorForm form{folder};
    void SetUp() override {
        ASSERT_TRUE(
            publish::SaveModule(publish::ModulePath(folder, "cms"), "http://site/i.php", true,
                                {{"title", "{采集字段:标题}"}, {"", "orphan"}, {"body", "x=y"}, {"cookie", "c"}}));
    }
};

TEST_F(ModuleEditor, OpenSaveRoundTripKeepsNamelessLinesOut) {
    EXPECT_EQ(form.modules(), std::vector<std::string>{"cms"});
    ASSERT_EQ(form.open("cms"), "");
    EXPECT_EQ(form.caption(), "发布接口配置  cms");
    EXPECT_EQ(form.address, "http://site/i.php");
    EXPECT_TRUE(form.utf8);
    ASSERT_EQ(form.rows.size(), 3u);
    EXPECT_EQ(form.rows[1].name, "body");
    EXPECT_EQ(form.rows[1].content, "x=y");  // split at the first "="

    form.address = "  http://site/new.php ";
    form.utf8 = false;
    ASSERT_TRUE(form.setCell(0, 2, "  {采集字段:标题}-改  "));
    ASSERT_EQ(form.saveTo(publish::ModulePath(folder, "copy")), "");
    EXPECT_FALSE(form.editing());
    EXPECT_TRUE(form.rows.empty());

    auto saved = publish::ReadModuleFile(publish::ModulePath(folder, "copy"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->lines, (std::vector<std::string>{"posturl=http://site/new.php", "charset=0",
                                                      "title={采集字段:标题}-改", "body=x=y", "cookie=c"}));
}

TEST_F(ModuleEditor, SaveIsRefusedWithoutAModuleOrAnHttpAddress) {
    EXPECT_EQ(form.saveRefusal(), "请先选中一个规则 编辑后再保存！");
    ASSERT_EQ(form.open("cms"), "");
    for (const auto& [address, refusal] :
         std::vector<std::pair<std::string, std::string>>{{"ftp://site/i.php", "接口网址必须以http开头！"},
                                                          {"", "接口网址必须以http开头！"},
                                                          {"  https://site/i.php", ""},
                                                          {"http://site/i.php", ""}}) {
        form.address = address;
        EXPECT_EQ(form.saveRefusal(), refusal) << address;
    }
    form.address = "ftp://x";
    EXPECT_EQ(form.saveTo(publish::ModulePath(folder, "bad")), "接口网址必须以http开头！");
    EXPECT_FALSE(publish::ReadModuleFile(publish::ModulePath(folder, "bad")));
}

TEST_F(ModuleEditor, RowsAddDeleteAndTakeTags) {
    ASSERT_EQ(form.open("cms"), "");
    form.addField();
    form.addField();
    ASSERT_EQ(form.rows.size(), 5u);
    EXPECT_EQ(form.rows[3].name, "NewName4");
    EXPECT_EQ(form.rows[4].name, "NewName5");
    EXPECT_TRUE(form.rows[4].content.empty());

    EXPECT_FALSE(form.deleteField(5));
    ASSERT_TRUE(form.deleteField(0));
    EXPECT_EQ(form.rows[0].name, "body");
    form.addField();
    EXPECT_EQ(form.rows.back().name, "NewName5");  // numbered after the rows there are

    ASSERT_TRUE(form.appendTag(0, "{dd:网址}"));
    ASSERT_TRUE(form.appendTag(0, app::FieldNameTag("作者")));
    EXPECT_EQ(form.rows[0].content, "x=y{dd:网址}{采集字段:作者}");
    EXPECT_FALSE(form.appendTag(-1, "{dd:网址}"));
    EXPECT_FALSE(form.setCell(0, 0, "7"));  // the number column is not editable

    form.cancel();
    EXPECT_FALSE(form.editing());
    EXPECT_EQ(form.saveRefusal(), "请先选中一个规则 编辑后再保存！");
}
}  // namespace
