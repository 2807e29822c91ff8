// The data browser window "数据库查看器" opened from the tree menu, and its edit page
// Plugin/kindeditor/report.html in real Qt WebEngine: values survive the page unchanged when
// they are not edited, edits come back, and the window pages, saves, marks, exports and imports.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMenu>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/tasks/catalogue.h"
#include "app/tasks/stored_rules.h"
#include "collect/task_db.h"
#include "main_window_fixture.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"
#include "support/stop_runs.h"
#include "ui/main/main_window.h"

using namespace tarvex;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kEditorFolder = std::string(TARVEX_SOURCE_DIR) + "/demo/workspace/Plugin/kindeditor";

std::optional<std::string> textOf(ui::EditPageView& page) {
    std::optional<std::string> got;
    bool answered = false;
    page.requestText([&](std::optional<std::string> t) {
        got = std::move(t);
        answered = true;
    });
    if (!test::pump([&] { return answered; })) return std::nullopt;
    return got;
}

struct EditPage : ::testing::Test {
    std::unique_ptr<ui::EditPageView> page;
    void SetUp() override {
        test::qtApp();
        page = std::make_unique<ui::EditPageView>(kEditorFolder + "/report.html");
        page->resize(700, 400);
        page->show();
        ASSERT_TRUE(page->pageAvailable());
        ASSERT_TRUE(test::pump([&] { return page->isReady(); })) << "report.html did not load";
    }
};

TEST_F(EditPage, ValuesThatAreNotEditedComeBackByteForByte) {
    const std::string values[] = {
        "",
        "普通标题",
        "第一行\r\n第二行\r\n\r\n第四行",
        "only\nLF\n",
        "引号 \"双\" 和 '单' 与 \\ 反斜杠",
        "A &amp; B &lt;tag&gt; &nbsp; &#39; && &",
        "<p class=\"x\">段落</p>\r\n<div style=\"color:red\"><table><tr><td>格</td></tr></table></div>",
        "<script>alert('x')</script></textarea><!-- 注释 -->",
        "行分隔\u2028段分隔\u2029结束",
        std::string("broken \xff\xfe utf-8"),
    };
    for (const auto& v : values) {
        page->setText(v);
        EXPECT_EQ(textOf(*page), v) << v;
        EXPECT_FALSE(page->edited());
    }
}

TEST_F(EditPage, EditsInTheEditorAndInTheSourceViewComeBack) {
    // Plain text keeps its CR LF line ends when it is edited.
    page->setText("第一行\r\n第二行");
    test::runJs(page->webView(), "editor.quill.insertText(0, '新', 'user');");
    EXPECT_EQ(textOf(*page), "新第一行\r\n第二行");
    ASSERT_TRUE(test::pump([&] { return page->edited(); }));

    // HTML is edited as rich text and comes back as HTML.
    page->setText("<p>旧的<b>粗体</b></p>");
    EXPECT_FALSE(page->edited());
    test::runJs(page->webView(), "editor.quill.insertText(0, '改', 'user');");
    const auto html = textOf(*page);
    ASSERT_TRUE(html);
    EXPECT_EQ(html->rfind("<p>改旧的", 0), 0u) << *html;
    EXPECT_NE(html->find("<strong>粗体</strong>"), std::string::npos) << *html;

    // The source view edits the raw text itself.
    page->setText("<div class=\"keep\">原文</div>");
    test::runJs(page->webView(),
                "editor.setSourceMode(true);"
                "var s = document.querySelector('.tarvex-editor-source');"
                "s.value = s.value.replace('原文', '改过');"
                "s.dispatchEvent(new Event('input'));");
    EXPECT_EQ(textOf(*page), "<div class=\"keep\">改过</div>");
}

TEST(EditPageMissing, APlainTextBoxTakesThePagesPlace) {
    test::qtApp();
    ui::EditPageView page("/nonexistent/Plugin/kindeditor/report.html");
    EXPECT_FALSE(page.pageAvailable());
    EXPECT_TRUE(page.isReady());
    page.setText("a\r\nb");
    EXPECT_EQ(textOf(page), "a\r\nb");
    page.plainEditor()->setPlainText("c\nd");
    EXPECT_TRUE(page.edited());
    EXPECT_EQ(textOf(page), "c\r\nd");
}

// ---- the window ----

struct BrowserUi : test::MainWindowTest {
    test::SandboxWorkspace sandbox;
    std::int64_t taskId = 0;
    std::vector<QString> opened;
    QString chosenFile;

    void SetUp() override {
        test::qtApp();
        fs::create_directories(sandbox.path("Plugin/kindeditor"));
        fs::copy(kEditorFolder, sandbox.path("Plugin/kindeditor"), fs::copy_options::recursive);
        nlohmann::json fields =
            nlohmann::json::array({nlohmann::json{{"title", "标题"}}.dump(), nlohmann::json{{"title", "内容"}}.dump(),
                                   nlohmann::json{{"title", "人工审核"}}.dump()});
        const nlohmann::json doc{{"fieldsAll", fields}, {"other_time1", "0"}, {"other_time2", "0"}};
        auto ws = sandbox.workspace();
        taskId = app::InsertTaskRow(ws, 0, "浏览任务", app::StoreRules(doc.dump()));
        ASSERT_TRUE(collect::CreateTaskDb(ws.taskDbPath(taskId), dialogs));
        collect::CreateContentTables(ws.taskDbPath(taskId), doc.dump());
        std::string sql = "BEGIN;";
        for (int i = 1; i <= 45; ++i)
            sql += "insert into content(url,geturl,getc,postc,标题,内容) values ('http://h/" + std::to_string(i) +
                   "',1,1,0,'标题" + std::to_string(i) + "','第一行' || char(13,10) || '第二行 \"引\"');";
        collect::execScript(db(), sql + "COMMIT;");

        ui::BrowserHooks hooks;
        hooks.chooseFile = [this](QWidget*, ui::BrowserHooks::FileKind, const QString&) { return chosenFile; };
        hooks.openFolder = [this](const QString& f) { opened.push_back(f); };
        ASSERT_NO_FATAL_FAILURE(
            openWindow(sandbox.folder(), {}, {}, [&hooks](ui::MainWindow& w) { w.setBrowserHooks(hooks); }));
    }
    void TearDown() override {
        if (session) test::stopAllRuns(*session->state, app::ThreadRegistry::global());
        window.reset();
        test::processEvents();
    }
    std::string db() const { return sandbox.workspace().taskDbPath(taskId); }
    std::string value(const std::string& column, int rowId) const {
        return collect::query(db(), "select \"" + column + "\" as v from content where id=" + std::to_string(rowId))
            .text(0, "v");
    }
    ui::DataBrowserWindow* openBrowser() {
        window->taskTree()->setCurrentItem(window->taskItem(taskId));
        window->taskAction("打开任务数据库")->trigger();
        test::processEvents();
        return window->dataBrowser();
    }
    QStringList column(ui::DataBrowserWindow* b, int c) {
        QStringList out;
        for (int r = 0; r < b->grid()->rowCount(); ++r) out << b->grid()->item(r, c)->text();
        return out;
    }
    bool save(ui::DataBrowserWindow* b) {
        std::optional<bool> stored;
        auto c = QObject::connect(b, &ui::DataBrowserWindow::cellSaved, [&](bool s) { stored = s; });
        b->button("保存")->click();
        test::pump([&] { return stored.has_value(); });
        QObject::disconnect(c);
        return stored.value_or(false);
    }
};

TEST_F(BrowserUi, TheTreeMenuOpensTheBrowserAndRefusesWhatCannotBeOpened) {
    // Nothing selected, the root, and a task whose database is gone.
    window->taskTree()->clearSelection();
    EXPECT_TRUE(window->taskAction("打开任务数据库")->isEnabled());
    EXPECT_TRUE(window->taskAction("添加到任务队列")->isEnabled());
    window->taskAction("打开任务数据库")->trigger();
    window->taskTree()->setCurrentItem(window->rootItem());
    window->taskAction("打开任务数据库")->trigger();
    EXPECT_EQ(dialogs.messages(), (std::vector<std::string>{"请先选择一个任务！", "请先选择一个任务！"}));
    EXPECT_EQ(window->dataBrowser(), nullptr);

    auto* b = openBrowser();
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->isVisible());
    EXPECT_EQ(b->windowTitle(), "数据库查看器(浏览任务," + QString::number(taskId) + ".db3)");
    QStringList headers;
    for (int c = 0; c < b->grid()->columnCount(); ++c) headers << b->grid()->horizontalHeaderItem(c)->text();
    EXPECT_EQ(headers, (QStringList{"ID", "已采", "已发", "网址", "标题", "内容", "人工审核"}));
}

TEST_F(BrowserUi, PagingButtonsAndThePageBox) {
    auto* b = openBrowser();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->countLabel()->text(), "总数：45 页数:3");
    EXPECT_EQ(b->grid()->rowCount(), 20);
    b->button("末页")->click();
    EXPECT_EQ(column(b, 0), (QStringList{"41", "42", "43", "44", "45"}));
    EXPECT_EQ(b->pageBox()->text(), "3");
    b->button("下页")->click();
    EXPECT_EQ(b->pageBox()->text(), "3");
    for (const char* ignored : {"4", "0", "abc"}) {
        b->pageBox()->setText(ignored);
        emit b->pageBox()->editingFinished();
        EXPECT_EQ(b->pageBox()->text(), "3") << ignored;
        EXPECT_EQ(b->grid()->item(0, 0)->text(), "41") << ignored;
    }
    b->pageBox()->setText("2");
    emit b->pageBox()->editingFinished();
    EXPECT_EQ(b->grid()->item(0, 0)->text(), "21");
    b->button("上页")->click();
    b->button("上页")->click();
    EXPECT_EQ(b->grid()->item(0, 0)->text(), "1");

    b->filterBox()->setCurrentIndex(3);  // 已采集未发布
    emit b->filterBox()->activated(3);
    EXPECT_EQ(b->countLabel()->text(), "总数：45 页数:3");
    b->filterBox()->setCurrentIndex(4);  // 已采集已发布
    emit b->filterBox()->activated(4);
    EXPECT_EQ(b->countLabel()->text(), "总数：0 页数:0");
    EXPECT_EQ(b->grid()->rowCount(), 0);
    b->conditionBox()->setText("id>43");
    b->button("查询")->click();
    EXPECT_EQ(column(b, 0), (QStringList{"44", "45"}));
}

TEST_F(BrowserUi, ASelectedCellGoesThroughTheEditPageAndIsSaved) {
    auto* b = openBrowser();
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(b->editPage()->pageAvailable());
    ASSERT_TRUE(test::pump([&] { return b->editPage()->isReady(); }));
    // Saving a cell that was not edited stores the same text.
    b->selectCell(1, 5);
    ASSERT_TRUE(save(b));
    EXPECT_EQ(value("内容", 2), "第一行\r\n第二行 \"引\"");

    // The arrow keys move the selection and the page follows.
    b->grid()->setFocus();
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(b->grid(), &down);
    EXPECT_EQ(b->selectedCell(), std::make_pair(2, 5));
    test::runJs(b->editPage()->webView(), "editor.quill.insertText(0, '改:', 'user');");
    ASSERT_TRUE(save(b));
    EXPECT_EQ(value("内容", 3), "改:第一行\r\n第二行 \"引\"");
    EXPECT_EQ(b->grid()->item(2, 5)->text(), "改:第一行  第二行 \"引\"");

    // The ID column cannot be changed.
    dialogs.clear();
    b->selectCell(0, 0);
    EXPECT_FALSE(save(b));
    b->button("已采已发")->click();
    EXPECT_EQ(dialogs.messages(), (std::vector<std::string>{"该项不支持修改", "该项不支持修改"}));
}

TEST_F(BrowserUi, MarkCommandsAndApproveChangeTheRowAndItsCells) {
    auto* b = openBrowser();
    ASSERT_NE(b, nullptr);
    b->selectCell(4, 3);
    b->button("已采已发")->click();
    EXPECT_EQ(value("getc", 5) + value("postc", 5), "11");
    EXPECT_EQ(b->grid()->item(4, 1)->text() + b->grid()->item(4, 2)->text(), "11");
    b->button("未采未发")->click();
    EXPECT_EQ(value("getc", 5) + value("postc", 5), "00");
    EXPECT_EQ(b->grid()->item(4, 2)->text(), "0");
    b->button("通过审核")->click();
    EXPECT_EQ(value("人工审核", 5), "1");
    EXPECT_EQ(b->grid()->item(4, 6)->text(), "1");

    // The statement list fills the condition box; a statement runs only after confirmation.
    b->selectCell(0, 4);
    b->statementBox()->setCurrentIndex(3);
    emit b->statementBox()->activated(3);
    EXPECT_EQ(b->conditionBox()->text(), "标题 like '%关键词%' ");
    b->conditionBox()->setText("update content set 标题='全部' where id<3");
    dialogs.queueConfirm(false);
    b->button("执行SQL语句")->click();
    EXPECT_EQ(value("标题", 1), "标题1");
    dialogs.queueConfirm(true);
    b->button("执行SQL语句")->click();
    EXPECT_EQ(value("标题", 1), "全部");
    EXPECT_EQ(b->grid()->item(1, 4)->text(), "全部");
}

TEST_F(BrowserUi, ExportsAndImportGoThroughTheirWindows) {
    auto* b = openBrowser();
    ASSERT_NE(b, nullptr);
    chosenFile = QString::fromStdString(sandbox.path("导出.csv"));
    b->exportCsv();
    const std::string csv = test::readWholeFile(sandbox.path("导出.csv"));
    EXPECT_EQ(csv.rfind("\xEF\xBB\xBFID,已采集,已发布,网址,标题,内容,人工审核\r\n1,1,0,http://h/1,\"标题1\"", 0), 0u);
    EXPECT_EQ(dialogs.messages().back(), "导出完成：" + sandbox.path("导出.csv"));

    b->exportText();
    auto* t = b->textExport();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->windowTitle(), "Tarvex采集器 数据导出文本文件(浏览任务)");
    EXPECT_EQ(t->nameTemplate()->text(), "{采集字段:标题}");
    t->conditionBox()->setText("id>44");
    t->nameTemplate()->setText("{采集字段:id}-{采集字段:标题}");
    t->startExport();
    EXPECT_EQ(dialogs.messages().back(), "恭喜您，导出完成！");
    const std::string folder = sandbox.workspace().taskFolder(taskId) + "/";
    EXPECT_EQ(test::readWholeFile(folder + "45-标题45.txt"),
              "标题45\r\n" + std::string(36, '=') + "\r\n第一行\r\n第二行 \"引\"");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(t->windowTitle(), t->baseTitle());

    chosenFile = TARVEX_TEST_DATA_DIR "/spreadsheets/without-url.xls";
    b->importSpreadsheet();
    EXPECT_EQ(dialogs.messages().back(), "从EXCEL导入完成！导入2行。关掉本数据库窗口后，再次打开即可！");
    EXPECT_EQ(b->countLabel()->text(), "总数：47 页数:3");
}

TEST_F(BrowserUi, ARunningTaskIsRefused) {
    // A task whose list stage takes a while: its addresses go in slowly.
    std::vector<std::string> urls;
    for (int i = 0; i < 500; ++i) urls.push_back("http://127.0.0.1:9/p/" + std::to_string(i));
    const nlohmann::json doc{
        {"Morepage", nlohmann::json{{"More_urls", urls}}.dump()}, {"other_time1", "200"}, {"other_time2", "0"}};
    collect::execScript(session->workspace.configDb, "update vorn_task set rules=\"" + app::StoreRules(doc.dump()) +
                                                         "\" where id=" + std::to_string(taskId));
    window->rebuildTaskTree();
    window->taskTree()->setCurrentItem(window->taskItem(taskId));
    ASSERT_TRUE(window->addSelectedTaskToRunList());
    window->runListWidget()->selectRow(0);
    window->startButton()->click();
    ASSERT_TRUE(test::pump([&] { return window->runListState("浏览任务") == app::kStateRunning; }, 10s));
    window->taskTree()->setCurrentItem(window->taskItem(taskId));
    window->taskAction("打开任务数据库")->trigger();
    EXPECT_TRUE(dialogs.sawMessage("当前任务正在使用中,请移除任务队列后再使用！"));
    EXPECT_EQ(window->dataBrowser(), nullptr);
}

// With TARVEX_SCREENSHOT_DIR set, saves pictures of the browser and the export window.
TEST_F(BrowserUi, ScreenshotOnRequest) {
    const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "set TARVEX_SCREENSHOT_DIR to save screenshots";
    collect::execScript(db(), "update content set 内容='<p>这是<b>一段</b>正文。</p><p>第二段</p>' where id=3");
    auto* b = openBrowser();
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(test::pump([&] { return b->editPage()->isReady(); }));
    b->selectCell(2, 5);
    test::processEvents(1500);
    EXPECT_TRUE(b->grab().save(QString(dir) + "/data_browser.png"));
    b->exportText();
    test::processEvents(200);
    EXPECT_TRUE(b->textExport()->grab().save(QString(dir) + "/text_export.png"));
}

}  // namespace
