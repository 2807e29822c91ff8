// The publish module editor "发布规则配置" offscreen: it opens on the task's module with the
// field list and address enabled, adds and deletes rows, appends menu tags, saves through the
// file dialog (replaced here) and test-publishes to the receiving interface script.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "publish/publish_module.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"
#include "ui/forms/module_editor_dialog.h"

using namespace tarvex;

namespace {

struct ModuleEditorUi : ::testing::Test {
    test::SandboxWorkspace sandbox;
    test::ScriptedDialogs dialogs;
    test::PublishReceiver site;
    std::string folder = sandbox.workspace().publishFolder;

    void SetUp() override {
        test::qtApp();
        ASSERT_TRUE(publish::SaveModule(publish::ModulePath(folder, "cms"), site.url(), true,
                                        {{"title", "{采集字段:标题}"}, {"jsuccess", "OK!"}, {"cookie", "sid=1"}}));
        ASSERT_TRUE(publish::SaveModule(publish::ModulePath(folder, "other"), "http://x/", false, {{"a", "b"}}));
    }
    static QStringList column(QTreeWidget* tree, int c) {
        QStringList out;
        for (int i = 0; i < tree->topLevelItemCount(); ++i) out << tree->topLevelItem(i)->text(c);
        return out;
    }
};

}  // namespace

TEST_F(ModuleEditorUi, OpensOnTheTasksModuleEditsSavesAndTestPublishes) {
    ui::ModuleEditorDialog dlg(folder, "cms", {"标题", "内容"}, dialogs);
    dlg.resize(900, 560);
    dlg.show();
    test::processEvents();
    EXPECT_EQ(dlg.windowTitle(), "发布接口配置  cms");
    EXPECT_FALSE(dlg.moduleList()->isEnabled());
    EXPECT_TRUE(dlg.fieldList()->isEnabled());
    EXPECT_EQ(dlg.addressEdit()->text().toStdString(), site.url());
    EXPECT_EQ(dlg.charsetBox()->currentText(), "UTF-8");
    EXPECT_EQ(column(dlg.fieldList(), 1), (QStringList{"title", "jsuccess", "cookie"}));

    dlg.findChild<QPushButton*>("addModuleField")->click();
    dlg.findChild<QPushButton*>("addModuleField")->click();
    EXPECT_EQ(column(dlg.fieldList(), 0), (QStringList{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(column(dlg.fieldList(), 1).mid(3), (QStringList{"NewName4", "NewName5"}));

    // The field-name submenu appends the tag to the selected row.
    dlg.fieldList()->setCurrentItem(dlg.fieldList()->topLevelItem(3));
    QMenu* names = nullptr;
    for (auto* a : dlg.fieldMenu()->actions())
        if (a->text() == "复制内容字段名称") names = a->menu();
    ASSERT_NE(names, nullptr);
    names->actions().at(1)->trigger();
    EXPECT_EQ(dlg.fieldList()->topLevelItem(3)->text(2), "{采集字段:内容}");
    // An edited cell is trimmed.
    dlg.fieldList()->topLevelItem(4)->setText(1, "  extra  ");
    EXPECT_EQ(dlg.form().rows[4].name, "extra");

    // Deleting asks first and renumbers.
    dlg.fieldList()->setCurrentItem(dlg.fieldList()->topLevelItem(0));
    dialogs.queueConfirm(true);
    dlg.findChild<QPushButton*>("deleteModuleField")->click();
    EXPECT_EQ(dialogs.shown().back().text, "确认删除字段吗？");
    EXPECT_EQ(dialogs.shown().back().caption, "删除字段");
    EXPECT_EQ(column(dlg.fieldList(), 0), (QStringList{"1", "2", "3", "4"}));
    EXPECT_EQ(column(dlg.fieldList(), 1).first(), "jsuccess");

    // Test publish: the marker decides; the reply lands in the reply box.
    site.answer("AddInfo", test::Reply::html("succ|but no marker"));
    dlg.findChild<QPushButton*>("testPublish")->click();
    EXPECT_EQ(dialogs.messages().back(), "发布异常，返回:\rsucc|but no marker");
    site.answer("AddInfo", test::Reply::html("OK! saved"));
    dlg.findChild<QPushButton*>("testPublish")->click();
    EXPECT_EQ(dialogs.messages().back(), "发布成功");
    EXPECT_TRUE(dlg.replyBox()->toPlainText().contains("OK! saved"));
    const auto post = site.posts("AddInfo").back();
    EXPECT_EQ(post.header("Cookie"), "sid=1");
    EXPECT_EQ(post.field("cookie"), "sid=1");
    EXPECT_EQ(post.field("NewName4"), "{采集字段:内容}");
    if (const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR")) dlg.grab().save(QString(dir) + "/module_editor.png");

    // Save refuses a non-http address, then writes through the file dialog and leaves editing.
    dlg.addressEdit()->setText("ftp://x/");
    dlg.findChild<QPushButton*>("saveModule")->click();
    EXPECT_EQ(dialogs.messages().back(), "接口网址必须以http开头！");
    dlg.addressEdit()->setText(" http://target/i.php ");
    std::string askedFolder, askedName;
    dlg.chooseSavePath = [&](const std::string& f, const std::string& n) {
        askedFolder = f;
        askedName = n;
        return f + "/saved";
    };
    dlg.findChild<QPushButton*>("saveModule")->click();
    EXPECT_EQ(askedFolder, folder);
    EXPECT_EQ(askedName, "cms");
    auto saved = publish::ReadModuleFile(publish::ModulePath(folder, "saved"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->address(), "http://target/i.php");
    EXPECT_EQ(saved->fields().size(), 4u);
    EXPECT_TRUE(dlg.moduleList()->isEnabled());
    EXPECT_FALSE(dlg.fieldList()->isEnabled());
    EXPECT_EQ(dlg.moduleList()->currentItem()->text(), "saved");
    EXPECT_EQ(dlg.windowTitle(), "发布规则配置");
}

TEST_F(ModuleEditorUi, WithoutAModuleNothingIsEditableAndSaveIsRefused) {
    ui::ModuleEditorDialog dlg(folder, "", {"标题"}, dialogs);
    dlg.show();
    test::processEvents();
    EXPECT_EQ(dlg.moduleList()->count(), 2);
    EXPECT_FALSE(dlg.fieldList()->isEnabled());
    EXPECT_FALSE(dlg.addressEdit()->isEnabled());
    dlg.findChild<QPushButton*>("saveModule")->click();
    EXPECT_EQ(dialogs.messages().back(), "请先选中一个规则 编辑后再保存！");
    // One field only: no field-name submenu.
    for (auto* a : dlg.fieldMenu()->actions()) EXPECT_NE(a->text(), "复制内容字段名称");

    dlg.openModule("other");
    EXPECT_EQ(dlg.charsetBox()->currentText(), "GBK");
    dlg.findChild<QPushButton*>("cancelModule")->click();
    EXPECT_EQ(dlg.fieldList()->topLevelItemCount(), 0);
    EXPECT_TRUE(dlg.moduleList()->isEnabled());
}
