// The publishing windows driven like a person, offscreen: the upload settings with their FTP
// test buttons against the loopback FTP server, the site group and its entry window with the
// column tree from the loopback receiving double, and "加载栏目" of the settings area.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "publish/publish_module.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/ftp_fixture.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"
#include "ui/forms/site_group_dialog.h"
#include "ui/forms/upload_settings_dialog.h"
#include "ui/tasks/task_settings_widget.h"

using namespace tarvex;

namespace {

void screenshot(QWidget& w, const char* name) {
    if (const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR")) {
        w.show();
        test::processEvents(100);
        w.grab().save(QString(dir) + "/" + name);
    }
}

}  // namespace

TEST(UploadSettingsDialog, TestsTheFtpServerAndSavesEveryKey) {
    test::qtApp();
    test::SandboxWorkspace sandbox;
    test::LocalFtpServer ftp(sandbox.path("ftproot"));
    test::ScriptedDialogs dialogs;
    ui::UploadSettingsDialog dlg("", sandbox.folder(), dialogs);
    // A task without upload settings shows the defaults: web on, attachments with the article.
    auto shown = dlg.settings();
    EXPECT_TRUE(shown.webCheck);
    EXPECT_TRUE(shown.webCheck1);
    EXPECT_FALSE(shown.ftpCheck);
    EXPECT_EQ(shown.ftpPort, "21");
    EXPECT_TRUE(shown.ftpPassive);

    publish::UploadSettings v = shown;
    v.ftpCheck = true;
    v.ftpIp = " 127.0.0.1 ";
    v.ftpPort = std::to_string(ftp.port());
    v.ftpUser = ftp.user();
    v.ftpPass = ftp.password();
    v.ftpDir = "\\up\\";
    dlg.setSettings(v);
    dlg.save();
    EXPECT_EQ(dialogs.messages().back(), "web上传与FTP上传不能同时选择");
    EXPECT_EQ(dlg.result(), QDialog::Rejected);

    dlg.webGroup()->setChecked(false);
    dlg.testConnection();
    EXPECT_EQ(dialogs.messages().back(), "连接成功！");
    dlg.testUpload();
    EXPECT_EQ(dialogs.messages().back(), "上传成功！");
    EXPECT_NE(dlg.testLog()->toPlainText().indexOf("tarvex_ftp.txt"), -1);
    EXPECT_EQ(test::readWholeFile(ftp.root() + "/up/tarvex_ftp.txt"), sandbox.readFile("tarvex_ftp.txt"));
    screenshot(dlg, "upload_settings.png");

    dlg.save();
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    auto o = nlohmann::json::parse(dlg.json());
    EXPECT_EQ(o.size(), 14u);
    EXPECT_EQ(o["web_check"], "0");
    EXPECT_EQ(o["ftp_check"], "-1");
    EXPECT_EQ(o["ftp_ip"], "127.0.0.1");
    EXPECT_EQ(o["ftp_dir"], "\\up\\");

    // Reopened on what it saved, it shows the same; "清空" gives the empty text.
    ui::UploadSettingsDialog again(dlg.json(), sandbox.folder(), dialogs);
    EXPECT_EQ(publish::ComposeUploadSettings(again.settings()), dlg.json());
    again.clearBox()->setChecked(true);
    again.save();
    EXPECT_EQ(again.result(), QDialog::Accepted);
    EXPECT_EQ(again.json(), "");
}

TEST(UploadSettingsDialog, PiecesFollowTheOneByOneChoice) {
    test::qtApp();
    test::ScriptedDialogs dialogs;
    ui::UploadSettingsDialog dlg(R"({"web_check":"-1","web_check2":"-1","web_checkpart":"-1","web_partsize":"64"})",
                                 "/tmp/", dialogs);
    auto v = dlg.settings();
    EXPECT_TRUE(v.webCheck2);
    EXPECT_FALSE(v.webCheck1);
    EXPECT_TRUE(v.webCheckPart);
    EXPECT_EQ(v.webPartSize, "64");
    // A batch upload sends whole files: the piece boxes are off with it.
    v.webCheck2 = false;
    v.webCheck3 = true;
    dlg.setSettings(v);
    auto* pieces = dlg.findChild<QCheckBox*>("web_checkpart");
    ASSERT_NE(pieces, nullptr);
    EXPECT_FALSE(pieces->isEnabled());
}

struct SiteGroupUi : ::testing::Test {
    test::SandboxWorkspace sandbox;
    app::Workspace ws = app::Workspace::at(sandbox.folder());
    test::PublishReceiver site;
    test::ScriptedDialogs dialogs;

    void SetUp() override {
        test::qtApp();
        for (const char* name : {"wordpress", "dede"})
            ASSERT_TRUE(publish::SaveModule(publish::ModulePath(ws.publishFolder, name), site.url(), true, {}));
    }
    // Fills the entry window and presses "保存"; the entry when it closed, else nullopt.
    static std::optional<publish::SiteEntry> fill(ui::SiteEntryDialog& e, const publish::SiteEntry& v) {
        e.nameEdit()->setText(QString::fromStdString(v.name));
        e.markEdit()->setText(QString::fromStdString(v.mark));
        e.moduleBox()->setCurrentText(QString::fromStdString(v.module));
        e.columnEdit()->setText(QString::fromStdString(v.columnId));
        e.remarkEdit()->setText(QString::fromStdString(v.remark));
        e.save();
        if (e.result() != QDialog::Accepted) return std::nullopt;
        return e.entry();
    }
};

TEST_F(SiteGroupUi, AddEditDeleteAndSaveTheList) {
    ui::SiteGroupDialog dlg("", ws, dialogs);
    std::vector<publish::SiteEntry> script;
    dlg.setEntryRunner([&](ui::SiteEntryDialog& e) {
        auto v = script.front();
        script.erase(script.begin());
        return fill(e, v);
    });
    script = {{"站点一", "1", "wordpress", "31", "主力"}, {"站点二", "1", "dede", "0", ""}};
    dlg.addSite();
    dlg.addSite();
    EXPECT_EQ(dialogs.messages().back(), "标记不能重复！");
    script = {{"站点二", "b", "dede", "0", ""}};
    dlg.addSite();
    ASSERT_EQ(dlg.table()->rowCount(), 2);
    EXPECT_EQ(dlg.table()->item(1, 0)->text(), "2");
    EXPECT_EQ(dlg.table()->item(1, 3)->text(), "dede");

    // Editing may keep its own mark but not take the other site's.
    dlg.table()->selectRow(1);
    script = {{"站点二", "1", "dede", "0", ""}, {"站点二", "B2", "dede", "7", "备注"}};
    dlg.editSite();
    EXPECT_EQ(dialogs.messages().back(), "标记不能重复！");
    dlg.editSite();
    EXPECT_EQ(dlg.table()->item(1, 2)->text(), "B2");
    screenshot(dlg, "site_group.png");

    dlg.table()->selectRow(0);
    dlg.deleteSite();
    ASSERT_EQ(dlg.table()->rowCount(), 1);
    EXPECT_EQ(dlg.table()->item(0, 0)->text(), "1");  // renumbered
    dlg.enabledBox()->setChecked(true);
    dlg.save();
    EXPECT_EQ(dlg.json(), R"({"check1":"-1","MorePostAll":["站点二,B2,dede,7,备注"]})");

    // Deleting the only site and saving stores nothing.
    ui::SiteGroupDialog again(dlg.json(), ws, dialogs);
    ASSERT_EQ(again.table()->rowCount(), 1);
    EXPECT_TRUE(again.enabledBox()->isChecked());
    again.table()->selectRow(0);
    again.deleteSite();
    again.save();
    EXPECT_EQ(again.json(), "");
}

TEST_F(SiteGroupUi, EntryWindowLoadsTheModulesColumnsAndAClickTakesAnId) {
    ui::SiteEntryDialog entry(ws, dialogs, {}, -1);
    EXPECT_EQ(entry.nameEdit()->text(), "站点名称");
    EXPECT_EQ(entry.markEdit()->text(), "1");
    EXPECT_EQ(entry.columnEdit()->text(), "0");
    ASSERT_EQ(entry.moduleBox()->count(), 2);
    entry.moduleBox()->setCurrentText("wordpress");
    entry.loadColumns();
    auto* tree = entry.columnTree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "[1]新闻");
    ASSERT_EQ(tree->topLevelItem(0)->childCount(), 1);
    QTreeWidgetItem* child = tree->topLevelItem(0)->child(0);
    EXPECT_EQ(child->text(0), "[2]国内");
    emit tree->itemClicked(child, 0);
    EXPECT_EQ(entry.columnEdit()->text(), "2");
    screenshot(entry, "site_entry.png");

    // A module whose file is gone is refused with its path.
    entry.nameEdit()->setText("x");
    std::filesystem::remove(publish::ModulePath(ws.publishFolder, "wordpress"));
    entry.save();
    EXPECT_EQ(dialogs.messages().back(),
              "发布规则文件不存在！文件路径:" + publish::ModulePath(ws.publishFolder, "wordpress"));
    EXPECT_NE(entry.result(), QDialog::Accepted);
}

TEST_F(SiteGroupUi, LoadColumnsButtonOfTheSettingsAreaFillsTheTree) {
    app::MemoryClipboard clipboard;
    ui::TaskSettingsWidget widget(ws, dialogs, clipboard);
    app::SettingsForm f = widget.form();
    f.publishInterfaces = publish::ListModules(ws.publishFolder);
    f.postRuleName = "wordpress";
    // Without a chosen column the task opens on column 0 when its list has one.
    f.postClassTree = "@@@<br/>未分类###0###-1<br/>旧###9###0<br/>";
    f.postClassSelected = "";
    widget.setForm(f);
    EXPECT_EQ(widget.selectedColumn(), "0");
    f.postClassSelected = "9";
    widget.setForm(f);
    EXPECT_EQ(widget.selectedColumn(), "9");
    site.answer("GetAllClass", test::Reply::html("@@@<br/>新闻###1###0<br/>体育###3###0<br/>"));
    widget.findChild<QPushButton*>("loadColumns")->click();
    ASSERT_EQ(widget.columnTree()->topLevelItemCount(), 2);
    EXPECT_EQ(widget.columnTree()->topLevelItem(1)->text(0), "[3]体育");
    EXPECT_EQ(widget.form().postClassTree, "@@@<br/>新闻###1###0<br/>体育###3###0<br/>");

    // A failed request keeps the tree the task had.
    site.answer("GetAllClass", test::Reply::withStatus(404, "not found"));
    widget.findChild<QPushButton*>("loadColumns")->click();
    EXPECT_EQ(widget.columnTree()->topLevelItemCount(), 2);
    EXPECT_EQ(dialogs.messages().back(), "返回错误，请检查接口文件:");
}
