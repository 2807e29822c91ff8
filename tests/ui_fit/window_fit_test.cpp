// Every window of the program on a 1366x768 screen (offscreen, with the program's window care
// installed as the program installs it): the window lies on the screen and so does every
// button of it, directly or inside a scroll area the user can scroll. The same table of windows
// makes the pictures of the user guide (with TARVEX_SCREENSHOT_DIR set), and every picture the
// guide shows must come from a window of this table. Rule and settings fields carry tooltips.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QTabWidget>
#include <QTextEdit>
#include <QVBoxLayout>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "app/single_page/single_page.h"
#include "main_window_fixture.h"
#include "platform/sqlite_db.h"
#include "qt_app.h"
#include "support/sandbox_workspace.h"
#include "ui/forms/cookie_capture_dialog.h"
#include "ui/forms/field_editor_dialog.h"
#include "ui/forms/list_settings_dialog.h"
#include "ui/forms/module_editor_dialog.h"
#include "ui/forms/multi_level_dialog.h"
#include "ui/forms/pagination_dialog.h"
#include "ui/forms/site_group_dialog.h"
#include "ui/forms/upload_settings_dialog.h"
#include "ui/main/help_window.h"
#include "ui/qt/window_fit.h"
#include "ui/single_page/visual_editor_dialog.h"

using namespace tarvex;
namespace fs = std::filesystem;

namespace {

// What a desktop leaves of a 1366x768 screen: the offscreen platform cannot show a panel, so
// its screen is given the 1366x728 a 40 px panel leaves. Chosen before the QApplication starts.
constexpr int kPanel = 40;
const bool kSmallScreen = [] {
    const std::string path = (fs::temp_directory_path() / ("tarvex-screen-" + std::to_string(::getpid()) + ".json"));
    std::ofstream(path) << R"({"screens":[{"name":"laptop","x":0,"y":0,"width":1366,"height":728,)"
                           R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})";
    setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + path).c_str(), 1);
    return true;
}();

const std::string kGuideFolder = std::string(TARVEX_SOURCE_DIR) + "/docs/guide";

struct FitTest;

struct WindowCase {
    const char* name;
    const char* picture;  // file under docs/guide/images, "" for none
    bool settings;        // a window of rule or settings fields: every field has a tooltip
    std::function<QWidget*(FitTest&)> open;
    // The part of the window whose fields must carry tooltips (the window when not set).
    std::function<QWidget*(FitTest&, QWidget*)> fieldsOf = {};
};

struct FitTest : test::MainWindowTest {
    std::string folder = test::makeTempFolder("tarvex-fit-");
    std::vector<std::unique_ptr<QWidget>> opened;

    void SetUp() override {
        (void)kSmallScreen;
        test::qtApp();
        fs::copy(std::string(TARVEX_SOURCE_DIR) + "/demo/workspace", folder, fs::copy_options::recursive);
        fillDemoRows();
        ui::setWindowStateFile(QString::fromStdString(folder + "config/windows.ini"));
        ui::WindowCare::install();
        ASSERT_NO_FATAL_FAILURE(openWindow(folder, {.singleInstance = false}));
    }
    void TearDown() override {
        opened.clear();
        closeWindow();
        session.reset();
        ui::setWindowStateFile({});
        test::removeTree(folder);
    }

    // A few collected rows in the first demo task, so the data browser shows what it is for.
    void fillDemoRows() {
        const auto ws = app::Workspace::at(folder);
        platform::SqliteConnection db(ws.taskDbPath(1));
        const char* titles[] = {"全市春季植树活动启动", "青川大桥完成通车前检测", "本周末天气晴好"};
        for (int i = 1; i <= 3; ++i)
            db.exec(
                "insert into content(url,geturl,getc,postc,\"标题\",\"发布时间\",\"来源\",\"内容\") values("
                "'http://127.0.0.1/news/" +
                std::to_string(i) + ".html',1," + std::to_string(i < 3) + "," + std::to_string(i < 2) + ",'" +
                titles[i - 1] + "','2026-03-0" + std::to_string(i) + " 08:00','青川日报','<p>" + titles[i - 1] +
                "。</p>')");
    }

    const app::TaskNode& task() { return *window->catalogue().tree().find(1); }
    nlohmann::json settings() { return nlohmann::json::parse(task().settingsJson); }
    std::vector<std::string> fieldTitles() {
        std::vector<std::string> out;
        for (const auto& f : settings().value("fieldsAll", nlohmann::json::array()))
            out.push_back(nlohmann::json::parse(f.get<std::string>()).value("title", ""));
        return out;
    }
    std::string firstFieldRule() { return settings()["fieldsAll"][0].get<std::string>(); }
    app::Workspace ws() { return session->workspace; }

    template <class W>
    W* keep(W* w) {
        opened.emplace_back(w);
        return w;
    }
};

ui::FieldEditorDialog* fieldEditorOnTab(FitTest& t, int tab) {
    auto* dlg = t.keep(new ui::FieldEditorDialog("字段设置", t.firstFieldRule(), t.task().settingsJson, 0,
                                                 t.ws().programFolder, t.dialogs, t.window.get()));
    dlg->findChild<QTabWidget*>("fieldTabs")->setCurrentIndex(tab);
    return dlg;
}

const std::vector<WindowCase>& windowCases() {
    static const std::vector<WindowCase> cases = {
        {"主窗口", "main_window.png", false, [](FitTest& t) -> QWidget* { return t.window.get(); }},
        {"主窗口（任务设置）", "task_settings.png", true,
         [](FitTest& t) -> QWidget* {
             t.window->openTask(t.window->taskItem(1));
             return t.window.get();
         },
         [](FitTest& t, QWidget*) -> QWidget* { return t.window->settingsArea(); }},
        {"列表设置", "list_settings.png", true,
         [](FitTest& t) -> QWidget* {
             return t.keep(new ui::ListSettingsDialog(t.settings().value("Morepage", ""), t.fieldTitles(),
                                                      t.ws().programFolder, t.dialogs, t.window.get()));
         }},
        {"分页设置", "pagination.png", true,
         [](FitTest& t) -> QWidget* {
             return t.keep(new ui::PaginationDialog(t.settings().value("mulpage", ""), t.dialogs, t.window.get()));
         }},
        {"多页提取", "multi_level.png", true,
         [](FitTest& t) -> QWidget* {
             auto fetch = [](const std::string&, const std::string&) { return std::string("fail:offline"); };
             return t.keep(
                 new ui::MultiLevelDialog(t.settings().value("Morepage2", ""), "", fetch, t.dialogs, t.window.get()));
         }},
        {"字段编辑器", "field_editor.png", true, [](FitTest& t) -> QWidget* { return fieldEditorOnTab(t, 0); }},
        {"字段编辑器（内容处理）", "field_editor_post.png", true,
         [](FitTest& t) -> QWidget* { return fieldEditorOnTab(t, 1); }},
        {"字段编辑器（筛选过滤）", "", true, [](FitTest& t) -> QWidget* { return fieldEditorOnTab(t, 2); }},
        {"字段编辑器（附件下载）", "field_editor_attachments.png", true,
         [](FitTest& t) -> QWidget* { return fieldEditorOnTab(t, 3); }},
        {"字段编辑器（水印和缩略图）", "field_editor_images.png", true,
         [](FitTest& t) -> QWidget* { return fieldEditorOnTab(t, 4); }},
        {"发布规则配置", "module_editor.png", true,
         [](FitTest& t) -> QWidget* {
             return t.keep(new ui::ModuleEditorDialog(t.ws().publishFolder, "wordpress", t.fieldTitles(), t.dialogs,
                                                      t.window.get()));
         }},
        {"附件上传设置", "upload_settings.png", true,
         [](FitTest& t) -> QWidget* {
             return t.keep(new ui::UploadSettingsDialog("", t.ws().programFolder, t.dialogs, t.window.get()));
         }},
        {"多站点发布", "site_group.png", true,
         [](FitTest& t) -> QWidget* {
             const std::string group = R"({"check1":"-1","MorePostAll":["主站,a,wordpress,1,","分站,b,wordpress,3,"]})";
             return t.keep(new ui::SiteGroupDialog(group, t.ws(), t.dialogs, {}, t.window.get()));
         }},
        {"发布站点设置", "site_entry.png", true,
         [](FitTest& t) -> QWidget* {
             return t.keep(new ui::SiteEntryDialog(t.ws(), t.dialogs, {{"主站", "a", "wordpress", "1", ""}}, 0, {},
                                                   t.window.get()));
         }},
        {"计划任务设置", "schedule.png", true, [](FitTest& t) -> QWidget* { return t.window->showScheduleDialog(); }},
        {"添加到任务队列", "add_to_queue.png", true,
         [](FitTest& t) -> QWidget* {
             t.window->taskTree()->setCurrentItem(t.window->taskItem(1));
             return t.window->addSelectedTaskToQueue();
         }},
        {"等待运行的任务", "", false, [](FitTest& t) -> QWidget* { return t.window->showWaitingQueue(); }},
        {"数据库查看器", "data_browser.png", false,
         [](FitTest& t) -> QWidget* {
             t.window->taskTree()->setCurrentItem(t.window->taskItem(1));
             return t.window->openDataBrowser();
         }},
        {"数据导出文本文件", "text_export.png", true,
         [](FitTest& t) -> QWidget* {
             return t.keep(new ui::TextExportDialog(t.ws().taskDbPath(1), t.ws().taskFolder(1) + "/", t.task().name,
                                                    t.fieldTitles(), t.dialogs, ui::BrowserHooks::desktop(),
                                                    t.window.get()));
         }},
        {"登录获取COOKIE", "", true,
         [](FitTest& t) -> QWidget* { return t.keep(new ui::CookieCaptureDialog(t.dialogs, t.window.get())); }},
        {"Tarvex采集编辑器", "", false,
         [](FitTest& t) -> QWidget* {
             const app::FieldValues values{{"标题", "示例标题"}, {"内容", "<p>正文</p>"}, {"作者", "张三"}};
             EXPECT_EQ(app::WriteVisualEditorPage(t.ws(), values), "");
             return t.keep(new ui::VisualEditorDialog(app::VisualEditorPagePath(t.ws()), values, t.window.get()));
         }},
        {"用户指南", "guide_window.png", false, [](FitTest& t) -> QWidget* { return ui::showGuide(t.window.get()); }},
        {"关于", "about.png", false,
         [](FitTest& t) -> QWidget* { return t.keep(new ui::AboutDialog(t.window.get())); }},
    };
    return cases;
}

QRect globalRect(const QWidget* w) {
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

// The outermost scroll area of `w` below `window`: what of `w` the user can reach.
const QAbstractScrollArea* outermostScrollArea(const QWidget* w, const QWidget* window) {
    const QAbstractScrollArea* found = nullptr;
    for (const QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
        if (auto* area = qobject_cast<const QAbstractScrollArea*>(p); area && area->viewport()->isAncestorOf(w))
            found = area;
    return found;
}

std::string text(const QRect& r) {
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
           std::to_string(r.height());
}

QWidget* openCase(FitTest& t, const WindowCase& c) {
    QWidget* w = c.open(t);
    if (!w) return nullptr;
    w->show();
    w->raise();
    test::processEvents(100);
    return w;
}

}  // namespace

TEST_F(FitTest, TheScreenIsWhatA1366x768DesktopLeaves) {
    ASSERT_EQ(QGuiApplication::primaryScreen()->availableGeometry().size(), QSize(1366, 768 - kPanel));
}

TEST_F(FitTest, EveryWindowAndEveryButtonOfItLiesOnTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(screen.size(), QSize(1366, 768 - kPanel));
    for (const auto& c : windowCases()) {
        SCOPED_TRACE(c.name);
        QWidget* w = openCase(*this, c);
        ASSERT_TRUE(w) << c.name << " did not open";
        EXPECT_TRUE(screen.contains(w->frameGeometry())) << c.name << " at " << text(w->frameGeometry());
        const QRect inside = globalRect(w);
        for (auto* b : w->findChildren<QAbstractButton*>()) {
            if (b->window() != w || !b->isVisibleTo(w)) continue;
            QRect r = globalRect(b);
            if (auto* area = outermostScrollArea(b, w)) r = globalRect(area->viewport());
            EXPECT_TRUE(screen.contains(r) && inside.contains(r))
                << c.name << ": button \"" << b->text().toStdString() << "\" at " << text(globalRect(b)) << " (window "
                << text(inside) << ")";
        }
        if (const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR"); dir && *c.picture)
            w->grab().save(QString(dir) + "/" + c.picture);
        if (w != window.get()) w->close();
        test::processEvents(20);
    }
}

TEST_F(FitTest, EveryRuleAndSettingsFieldHasATooltipWithAnExample) {
    for (const auto& c : windowCases()) {
        if (!c.settings) continue;
        SCOPED_TRACE(c.name);
        QWidget* w = openCase(*this, c);
        ASSERT_TRUE(w);
        QWidget* area = c.fieldsOf ? c.fieldsOf(*this, w) : w;
        QStringList missing;
        for (QWidget* f : area->findChildren<QWidget*>()) {
            if (f->isHidden() || f->window() != w) continue;
            const bool field = qobject_cast<QCheckBox*>(f) || qobject_cast<QRadioButton*>(f) ||
                               qobject_cast<QComboBox*>(f) || qobject_cast<QAbstractSpinBox*>(f) ||
                               (qobject_cast<QLineEdit*>(f) && !qobject_cast<QComboBox*>(f->parentWidget()) &&
                                !qobject_cast<QAbstractSpinBox*>(f->parentWidget())) ||
                               (qobject_cast<QPlainTextEdit*>(f) && !static_cast<QPlainTextEdit*>(f)->isReadOnly()) ||
                               (qobject_cast<QTextEdit*>(f) && !static_cast<QTextEdit*>(f)->isReadOnly());
            if (!field) continue;
            // Check boxes that item views draw in their rows are not fields of the window.
            if (auto* view = outermostScrollArea(f, w); view && view->inherits("QAbstractItemView")) continue;
            const QString tip = f->toolTip();
            if (tip.isEmpty() || !tip.contains("例"))
                missing << QString("%1 \"%2\" (%3)")
                               .arg(f->metaObject()->className(), f->objectName(),
                                    qobject_cast<QAbstractButton*>(f) ? qobject_cast<QAbstractButton*>(f)->text()
                                                                      : QString());
        }
        EXPECT_TRUE(missing.isEmpty()) << c.name << ": fields without a tooltip with an example:\n"
                                       << missing.join('\n').toStdString();
        if (w != window.get()) w->close();
        test::processEvents(20);
    }
}

// Every picture the guide shows is made by a window of the table above, and is there.
TEST_F(FitTest, EveryPictureOfTheGuideComesFromAWindowThatExists) {
    std::set<std::string> made;
    for (const auto& c : windowCases())
        if (*c.picture) made.insert(c.picture);
    const QRegularExpression picture(R"(\]\(images/([^)\s]+\.png)\))");
    std::set<std::string> shown;
    for (const auto& entry : fs::directory_iterator(kGuideFolder)) {
        if (entry.path().extension() != ".md") continue;
        std::ifstream in(entry.path());
        const std::string md((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (auto it = picture.globalMatch(QString::fromStdString(md)); it.hasNext();) {
            const std::string file = it.next().captured(1).toStdString();
            shown.insert(file);
            EXPECT_TRUE(made.count(file))
                << entry.path().filename() << " shows images/" << file << ", which no window of the program makes";
            EXPECT_TRUE(fs::exists(kGuideFolder + "/images/" + file))
                << "images/" << file << " is missing: run scripts/guide-pictures";
        }
    }
    for (const auto& file : made) EXPECT_TRUE(shown.count(file)) << file << " is made but the guide does not show it";
}

// Size and place are remembered per window, and a place off the screen is brought back onto it.
TEST_F(FitTest, AWindowComesBackWhereItWasAndStaysOnTheScreen) {
    auto open = [this] {
        auto* dlg = new ui::PaginationDialog("", dialogs, window.get());
        dlg->show();
        test::processEvents(50);
        return std::unique_ptr<ui::PaginationDialog>(dlg);
    };
    auto first = open();
    first->setGeometry(200, 150, 640, 500);
    test::processEvents(20);
    const QRect was = first->geometry();
    first->close();
    first.reset();
    auto second = open();
    EXPECT_EQ(second->geometry(), was);
    second->close();
    second.reset();

    // The file from a larger screen: the window is moved back and shrunk to fit.
    {
        auto* probe = new ui::PaginationDialog("", dialogs, window.get());
        probe->setGeometry(1800, 900, 1600, 1000);
        QSettings store(ui::windowStateFile(), QSettings::IniFormat);
        store.setValue("PaginationDialog/geometry", probe->saveGeometry());
        store.sync();
        delete probe;
    }
    auto third = open();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(third->frameGeometry())) << text(third->frameGeometry());
}

// A dialog taller than the screen: its body scrolls and its button row stays on the screen.
TEST_F(FitTest, ATallDialogScrollsItsBodyAndKeepsItsButtons) {
    QDialog dlg(window.get());
    auto* lay = new QVBoxLayout(&dlg);
    auto* form = new QFormLayout;
    for (int i = 0; i < 40; ++i) form->addRow(QString("第%1项：").arg(i), new QLineEdit);
    lay->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    lay->addWidget(buttons);
    ASSERT_GT(dlg.minimumSizeHint().height(), 768 - kPanel);
    ui::fitWindow(&dlg, "TallDialog");
    dlg.show();
    test::processEvents(50);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(dlg.frameGeometry())) << text(dlg.frameGeometry());
    EXPECT_TRUE(screen.contains(globalRect(buttons))) << text(globalRect(buttons));
    auto* area = dlg.findChild<QScrollArea*>("fittedScrollArea");
    ASSERT_NE(area, nullptr);
    EXPECT_TRUE(area->widget()->isAncestorOf(dlg.findChild<QLineEdit*>()));
    EXPECT_FALSE(area->widget()->isAncestorOf(buttons));
}

TEST(KeptInside, MovesAndShrinksARectOntoTheArea) {
    const QRect area(0, 0, 1366, 768);  // a plain rectangle, not the test's screen
    const std::pair<QRect, QRect> cases[] = {
        {QRect(100, 100, 800, 600), QRect(100, 100, 800, 600)},
        {QRect(1800, 900, 400, 300), QRect(966, 468, 400, 300)},
        {QRect(-500, -40, 400, 300), QRect(0, 0, 400, 300)},
        {QRect(200, 100, 1600, 1000), QRect(0, 0, 1366, 768)},
    };
    for (const auto& [given, expected] : cases) EXPECT_EQ(ui::keptInside(given, area), expected) << text(given);
}
