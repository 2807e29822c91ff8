// The "多页提取" window driven like a person: a level refused, saved, a second level under it,
// a refused delete, "测试提取" over a loopback page, and "保存返回".
#include <gtest/gtest.h>

#include <QPushButton>
#include <nlohmann/json.hpp>

#include "collect/http_fetch.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "ui/forms/multi_level_dialog.h"

using namespace tarvex;

TEST(MultiLevelDialog, BuildsLevelsTestsThemAndStoresThem) {
    test::qtApp();
    test::LocalHttpServer server;
    server.on("/a/1.html", test::Reply::html(R"(<a class="down" href="/down/1.html">下载</a>)"));
    server.on("/down/1.html", test::Reply::html("<p>下载页的内容</p>"));
    test::ScriptedDialogs dialogs;
    auto fetch = [](const std::string& url, const std::string& options) { return collect::HttpGet(url, options); };
    ui::MultiLevelDialog dlg("", "", fetch, dialogs);
    EXPECT_EQ(dlg.current(), -1);

    dlg.accept();
    EXPECT_TRUE(dialogs.sawMessage("没有新建或修改多页，无需保存！"));
    dlg.saveLevel();
    EXPECT_TRUE(dialogs.sawMessage("标题不能为空"));

    dlg.titleEdit()->setText("下载页");
    dlg.beginEdit()->setPlainText("<a class=\"down\" href=\"");
    dlg.endEdit()->setPlainText("\"");
    auto level = dlg.level();
    level.testUrl = server.url("/a/1.html");
    dlg.setLevel(level);
    dlg.testLevel();
    EXPECT_NE(dlg.testOutput()->toPlainText().toStdString().find("网址：" + server.url("/down/1.html")),
              std::string::npos)
        << dlg.testOutput()->toPlainText().toStdString();
    EXPECT_NE(dlg.testOutput()->toPlainText().toStdString().find("下载页的内容"), std::string::npos);
    dlg.saveLevel();
    ASSERT_EQ(dlg.model().levels().size(), 1u);
    EXPECT_EQ(dlg.levelList()->count(), 1);

    dlg.newLevel();
    dlg.titleEdit()->setText("评论页");
    EXPECT_EQ(dlg.parentBox()->count(), 2);
    dlg.parentBox()->setCurrentIndex(dlg.parentBox()->findText("下载页"));
    dlg.beginEdit()->setPlainText("<p>");
    dlg.endEdit()->setPlainText("</p>");
    dlg.saveLevel();
    ASSERT_EQ(dlg.model().levels().size(), 2u);
    EXPECT_EQ(dlg.model().levels()[1].parent, "下载页");

    dlg.select(0);
    dlg.deleteLevel();
    EXPECT_TRUE(dialogs.sawMessage("当前删除的类目下有子页面<评论页>，无法删除！"));
    if (const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR")) dlg.grab().save(QString(dir) + "/multi_level.png");

    dlg.accept();
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    auto stored = nlohmann::json::parse(dlg.json());
    ASSERT_EQ(stored["MorePageAll"].size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(stored["MorePageAll"][0].get<std::string>())["testurl"], server.url("/a/1.html"));
}
