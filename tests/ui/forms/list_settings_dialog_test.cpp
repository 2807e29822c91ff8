// The list settings and pagination windows driven like a person: sources added and refused,
// fields filled, OK refusing what the list stage could not use, the stored JSON.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QPushButton>
#include <nlohmann/json.hpp>

#include "qt_app.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"
#include "ui/forms/list_settings_dialog.h"
#include "ui/forms/pagination_dialog.h"

using namespace tarvex;

TEST(ListSettingsDialog, BuildsSourcesAndStoresTheForm) {
    test::qtApp();
    test::SandboxWorkspace ws;
    ws.writeFile("列表网址.txt", "http://h/a\n");
    test::ScriptedDialogs dialogs;
    ui::ListSettingsDialog dlg("", {"标题", "内容"}, ws.folder(), dialogs);
    auto* buttons = dlg.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Ok)->text(), "确定");
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), "取消");
    dlg.templateEdit()->setText("http://h/list_{参数}.html");
    dlg.stepEdit()->setText("0");
    dlg.addComposition();
    EXPECT_TRUE(dialogs.sawMessage("间隔必须大于0"));
    dlg.stepEdit()->setText("2");
    dlg.addComposition();
    dlg.addComposition();  // the same entry is not added twice
    dlg.templateEdit()->setText("http://h/list.html");
    dlg.addComposition();
    EXPECT_TRUE(dialogs.sawMessage("未设置可变  {参数} "));
    dlg.addImport();  // the offered default file name
    dlg.addressEdit()->setText("www.no-scheme.test");
    dlg.addAddress();
    EXPECT_TRUE(dialogs.sawMessage("网址应以HTTP开始"));
    ASSERT_EQ(dlg.sourceList()->count(), 2);

    dlg.beginEdit()->setText("<ul class=\"list\">");
    dlg.endEdit()->setText("</ul>");
    dlg.patternEdit()->setPlainText("<a href=\"{DD:采集网址}\">{DD:字段=标题}</a>");
    dlg.accept();
    EXPECT_TRUE(dialogs.sawMessage("列表采集的内容字段{DD:字段=标题}不能与内容页采集字段重复"));
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    dlg.patternEdit()->setPlainText("<a href=\"{DD:采集网址}\">{DD:字段=列表标题}</a>");
    dlg.accept();
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    auto j = nlohmann::json::parse(dlg.json());
    EXPECT_EQ(j["More_urls"],
              (nlohmann::json{"列表合成=http://h/list_{参数}.html[,]1,100,2", "文本导入=列表网址.txt"}));
    EXPECT_EQ(j["More_include"], "html");
    EXPECT_EQ(j["More_readtimeout"], "20");
    EXPECT_EQ(j["More_sort"], "0");

    if (const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR")) dlg.grab().save(QString(dir) + "/list_settings.png");
}

TEST(PaginationDialog, RefusesAnEmptyPagerArea) {
    test::qtApp();
    test::ScriptedDialogs dialogs;
    ui::PaginationDialog dlg(R"({"Mul_begin":"<div class=pages>","Mul_end":"","Mul_max":3,"Mul_radio_3":"-1"})",
                             dialogs);
    dlg.accept();
    EXPECT_TRUE(dialogs.sawMessage("分页区间开始与结束不能为空"));
    auto f = dlg.form();
    EXPECT_EQ(f.mode, 3);
    EXPECT_EQ(f.maxPages, 3);
    f.end = "</div>";
    dlg.setForm(f);
    dlg.accept();
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(nlohmann::json::parse(dlg.json())["Mul_max"], 3);
    if (const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR")) dlg.grab().save(QString(dir) + "/pagination.png");
}
