// The task tree and the settings area of the main window, offscreen on a sandbox workspace:
// opening a task fills every control from its document, saving stores the controls, and the
// next task shows its own values only.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/forms/cookie_capture.h"
#include "app/tasks/catalogue.h"
#include "app/tasks/settings_document.h"
#include "app/tasks/stored_rules.h"
#include "collect/task_db.h"
#include "main_window_fixture.h"
#include "platform/sqlite_db.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"
#include "ui/forms/site_group_dialog.h"
#include "ui/main/main_window.h"
#include "ui/tasks/task_tree_widget.h"

using namespace tarvex;

namespace {

struct TaskSettingsUi : test::MainWindowTest {
    test::SandboxWorkspace sandbox;
    app::Workspace ws = sandbox.workspace();
    std::int64_t taskA = 0, taskB = 0;

    void SetUp() override {
        test::qtApp();
        sandbox.writeFile("发布规则/dede.p", "m");
        sandbox.writeFile("发布规则/Empire.P", "m");
        sandbox.makeDir("files");
        app::SettingsJson a = *app::ParseSettings(app::NewTaskDocument());
        a["other_gzip"] = "-1";
        a["other_minid_get"] = "5";
        a["other_cookie"] = "a=b";
        a["other_charset"] = "GBK";
        a["other_savepath"] = sandbox.path("files/");
        a["PostRuleName"] = "Empire";
        a["post_class_tree"] = "@@@<br/>a###1###0<br/>b###2###1<br/>c###3###0<br/>";
        a["post_class_selected"] = "2";
        taskA = *app::CreateTaskWithSettings(ws, dialogs, 0, "任务A", app::DumpJson(a));
        taskB = *app::CreateTaskWithSettings(ws, dialogs, taskA, "任务B", app::NewTaskDocument());

        ASSERT_NO_FATAL_FAILURE(openWindow(sandbox.folder(), {.singleInstance = false}));
    }

    ui::TaskSettingsWidget* settings() { return window->settingsWidget(); }
    template <class T>
    T* control(const char* name) {
        auto* w = settings()->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString text(const char* key) { return control<QLineEdit>(key)->text(); }
    bool ticked(const char* key) { return control<QCheckBox>(key)->isChecked(); }
    app::SettingsJson stored(std::int64_t id) {
        platform::SqliteConnection db(ws.configDb);
        auto rules =
            platform::queryAll(db, "select rules from vorn_task where id=" + std::to_string(id)).text(0, "rules");
        return *app::ParseSettings(*app::ReadStoredRules(rules));
    }
    void open(std::int64_t id) {
        auto* item = window->taskItem(id);
        ASSERT_NE(item, nullptr);
        for (auto* p = item->parent(); p; p = p->parent()) p->setExpanded(true);
        window->taskTree()->scrollToItem(item);
        test::processEvents();
        const QRect rect = window->taskTree()->visualItemRect(item);
        // A click first: the view takes a double click only on the node its last press selected.
        QTest::mouseClick(window->taskTree()->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(window->taskTree()->viewport(), Qt::LeftButton, {}, rect.center());
        test::processEvents();
        ASSERT_TRUE(window->isEditing());
    }
    std::vector<QString> menuTexts(QMenu* menu) {
        std::vector<QString> out;
        for (auto* a : menu->actions())
            if (!a->isSeparator()) out.push_back(a->text());
        return out;
    }
};

}  // namespace

TEST_F(TaskSettingsUi, EditSaveAndOpenAnotherTaskWithoutLeftovers) {
    open(taskA);
    EXPECT_EQ(session->state->currentTaskId.load(), taskA);
    EXPECT_FALSE(window->taskTree()->isEnabled());
    EXPECT_EQ(settings()->tabs()->currentIndex(), 0);
    EXPECT_EQ(settings()->taskName(), "任务A");
    auto* itemA = window->taskItem(taskA);
    EXPECT_TRUE(itemA->font(0).bold());
    EXPECT_EQ(itemA->foreground(0).color(), QColor(Qt::red));

    EXPECT_TRUE(ticked("other_gzip"));
    EXPECT_EQ(text("other_minid_get"), "5");
    EXPECT_EQ(text("other_cookie"), "a=b");
    EXPECT_EQ(control<QComboBox>("other_charset")->currentText(), "GBK");
    EXPECT_EQ(control<QComboBox>("PostRuleName")->currentText(), "Empire");
    EXPECT_EQ(settings()->fieldList()->topLevelItemCount(), 2);
    EXPECT_EQ(settings()->fieldList()->topLevelItem(1)->text(1), "内容");

    control<QCheckBox>("other_check_repeatget")->click();
    control<QLineEdit>("other_cookie")->setText("x=1");
    control<QLineEdit>("other_join_repeat")->setText("  <br/>  ");
    settings()->saveButton()->click();
    test::processEvents();
    ASSERT_TRUE(dialogs.messages().empty()) << dialogs.messages()[0];
    EXPECT_FALSE(window->isEditing());
    EXPECT_TRUE(window->taskTree()->isEnabled());
    EXPECT_EQ(session->state->currentTaskId.load(), 0);
    EXPECT_FALSE(window->taskItem(taskA)->font(0).bold());

    auto doc = stored(taskA);
    EXPECT_EQ(doc["other_check_repeatget"], "-1");
    EXPECT_EQ(doc["other_cookie"], "x=1");
    EXPECT_EQ(doc["other_join_repeat"], "<br/>");
    EXPECT_EQ(doc["other_gzip"], "-1");
    EXPECT_EQ(doc["other_minid_get"], "5");
    EXPECT_EQ(doc["PostRuleName"], "Empire");
    EXPECT_EQ(doc["post_class_selected"], "2");
    EXPECT_EQ(doc["other_charset"], "GBK");

    open(taskB);
    EXPECT_EQ(settings()->taskName(), "任务B");
    for (const char* key : {"other_check_repeatget", "other_gzip", "other_autoupload", "other_check_rengong",
                            "other_open_editform", "other_check_classid"})
        EXPECT_FALSE(ticked(key)) << key;
    EXPECT_EQ(text("other_cookie"), "");
    EXPECT_EQ(text("other_minid_get"), "0");
    EXPECT_EQ(text("other_savepath"), "");
    EXPECT_EQ(control<QComboBox>("other_charset")->currentText(), "");
    EXPECT_EQ(control<QComboBox>("PostRuleName")->currentIndex(), -1);
    EXPECT_EQ(settings()->columnTree()->topLevelItemCount(), 0);
    EXPECT_EQ(text("other_join_repeat"), "<!--重复符-->");

    settings()->cancelButton()->click();
    test::processEvents();
    EXPECT_FALSE(window->isEditing());
    EXPECT_EQ(session->state->currentTaskId.load(), 0);
    EXPECT_EQ(settings()->taskName(), "");

    open(taskA);
    EXPECT_TRUE(ticked("other_check_repeatget"));
    EXPECT_EQ(text("other_cookie"), "x=1");
}

TEST_F(TaskSettingsUi, EveryControlOfTheSettingsCarriesItsCaption) {
    open(taskA);
    QStringList tabs;
    for (int i = 0; i < settings()->tabs()->count(); ++i) tabs << settings()->tabs()->tabText(i);
    EXPECT_EQ(tabs, (QStringList{"采集内容", "发布内容", "高级设置"}));
    QStringList captions;
    for (auto* b : settings()->findChildren<QPushButton*>()) captions << b->text();
    for (auto* c : settings()->findChildren<QCheckBox*>()) captions << c->text();
    for (auto* t : settings()->findChildren<QToolButton*>()) captions << t->toolTip();
    for (auto* l : settings()->findChildren<QLabel*>()) captions << l->text();
    for (const char* caption : {"保存",
                                "取消",
                                "单页采集",
                                "单页发布",
                                "加载栏目",
                                "添加字段",
                                "编辑",
                                "↑",
                                "↓",
                                "删除",
                                "导入规则",
                                "导出规则",
                                "列表设置",
                                "分页设置",
                                "多页提取",
                                "站群发布",
                                "获取",
                                "选择",
                                "高级",
                                "增加栏目节点",
                                "删除栏目节点",
                                "清空栏目节点",
                                "发布栏目为空",
                                "发布内容自动上传附件",
                                "开启人工审核",
                                "Gzip压缩",
                                "关闭可视编辑框",
                                "内容页重复采集",
                                "标题不得重复",
                                "网址不得重复",
                                "输入网址：",
                                "发布接口：",
                                "列表采集",
                                "内容采集",
                                "内容发布",
                                "Cookie设置：",
                                "浏览器UA：",
                                "附件保存路径：",
                                "分页连接符：",
                                "重复连接符：",
                                "采集内容ID起始值：",
                                "强制编码：",
                                "列表获取内容页数量：",
                                "单次发布数量：",
                                "发布内容ID起始值："})
        EXPECT_TRUE(captions.contains(caption)) << caption;
    // The two duplicate checks are kept but not offered.
    EXPECT_TRUE(control<QCheckBox>("other_check_title")->isHidden());
    QStringList interfaces;
    for (int i = 0; i < control<QComboBox>("PostRuleName")->count(); ++i)
        interfaces << control<QComboBox>("PostRuleName")->itemText(i);
    EXPECT_EQ(interfaces, (QStringList{"Empire", "dede"}));
}

TEST_F(TaskSettingsUi, TreeMenuOffersEveryCatalogueCommand) {
    auto* menu = window->taskMenu();
    auto texts = menuTexts(menu);
    ASSERT_GE(texts.size(), 13u);
    EXPECT_EQ(
        std::vector<QString>(texts.begin(), texts.begin() + 10),
        (std::vector<QString>{"编辑任务", "新建任务", "重命名", "复制任务", "粘贴任务（单个）", "粘贴任务（多个）",
                              "批量导入字段规则到子栏目", "删除任务", "批量设置", "打开附件目录"}));
    for (const char* entry : {"打开任务数据库", "添加到启动栏", "添加到任务队列"})
        EXPECT_NE(window->taskAction(entry), nullptr) << entry;
    auto* bulk = window->taskAction("批量设置")->menu();
    ASSERT_NE(bulk, nullptr);
    EXPECT_EQ(menuTexts(bulk), (std::vector<QString>{"清空已采网址库", "设置全部内容为未采集", "设置全部内容为未发布",
                                                     "清空数据库所有内容", "设置全部内容为已采集",
                                                     "设置全部内容为已发布", "仅已采集批量设置为已发布"}));

    // The tree: root image, a folder for the task with a sub-task, a leaf for the other.
    EXPECT_EQ(window->rootItem()->child(0)->text(0), "任务A");
    EXPECT_EQ(window->rootItem()->child(0)->child(0)->text(0), "任务B");
    EXPECT_FALSE(window->rootItem()->icon(0).isNull());

    // Copy B and paste it under the root from the menu.
    window->taskTree()->setCurrentItem(window->taskItem(taskB));
    window->taskAction("复制任务")->trigger();
    window->setPressedNode(-2);
    window->taskAction("粘贴任务（单个）")->trigger();
    test::processEvents();
    ASSERT_EQ(window->rootItem()->childCount(), 2);
    auto* pasted = window->rootItem()->child(1);
    EXPECT_EQ(pasted->text(0), "任务B2");
    EXPECT_EQ(window->taskTree()->currentItem(), pasted);

    // A bulk command on the selection asks first.
    window->taskAction("设置全部内容为已发布")->trigger();
    EXPECT_EQ(dialogs.shown().back().kind, "message");
    EXPECT_EQ(dialogs.shown().back().text, "执行完成");

    // Deleting: confirmed through the scripted dialogs.
    window->taskAction("删除任务")->trigger();
    test::processEvents();
    EXPECT_EQ(window->rootItem()->childCount(), 1);
}

// The window tells the catalogue which tasks run in its slots: their databases are not deleted
// or cleared under the run.
TEST_F(TaskSettingsUi, ARunningTaskIsNeitherDeletedNorCleared) {
    session->state->SetSlotField(1, 0, std::to_string(taskB));
    session->state->SetSlotField(1, 2, "1");
    session->state->SetSlotField(1, 4, "1");
    window->taskTree()->setCurrentItem(window->taskItem(taskB));
    dialogs.clear();
    window->taskAction("删除任务")->trigger();
    window->taskAction("清空数据库所有内容")->trigger();
    test::processEvents();
    EXPECT_EQ(dialogs.messages(), std::vector<std::string>(2, "当前任务正在使用中,请移除任务队列后再使用！"));
    EXPECT_NE(window->taskItem(taskB), nullptr);
    EXPECT_TRUE(app::pathExists(ws.taskDbPath(taskB)));

    session->state->SetSlotField(1, 4, "0");  // the run has ended
    window->taskTree()->setCurrentItem(window->taskItem(taskB));
    window->taskAction("删除任务")->trigger();
    test::processEvents();
    EXPECT_EQ(window->taskItem(taskB), nullptr);
    EXPECT_FALSE(app::pathExists(ws.taskDbPath(taskB)));
}

TEST_F(TaskSettingsUi, DraggingATaskCarriesItsIdAndName) {
    auto* tree = static_cast<QTreeWidget*>(window->taskTree());
    auto* model = tree->model();
    auto index = tree->indexFromItem(window->taskItem(taskB));
    std::unique_ptr<QMimeData> mime(model->mimeData({index}));
    ASSERT_NE(mime, nullptr);
    EXPECT_EQ(QString::fromUtf8(mime->data(ui::kTaskMimeType)), QString::number(taskB) + "|任务B");
    EXPECT_EQ(mime->text(), "任务B");
    EXPECT_FALSE(window->rootItem()->flags().testFlag(Qt::ItemIsDragEnabled));
}

TEST_F(TaskSettingsUi, FieldListAndColumnTreeCommandsChangeOnlyTheFormUntilSaved) {
    open(taskA);
    settings()->selectField(0);
    settings()->copyFieldToClipboard();
    EXPECT_TRUE(dialogs.sawMessage("复制单字段完成！"));
    settings()->pasteField(true);
    ASSERT_EQ(settings()->fieldList()->topLevelItemCount(), 3);
    EXPECT_EQ(settings()->fieldList()->topLevelItem(2)->text(0), "3");
    EXPECT_EQ(settings()->fieldList()->topLevelItem(2)->text(1), "标题2");
    settings()->moveField(-1);
    EXPECT_EQ(settings()->fieldList()->topLevelItem(1)->text(1), "标题2");
    EXPECT_EQ(settings()->selectedField(), 1);

    // The column tree: [1]a with [2]b below it, [3]c; [2]b selected from the document.
    auto* columns = settings()->columnTree();
    ASSERT_EQ(columns->topLevelItemCount(), 2);
    EXPECT_EQ(columns->topLevelItem(0)->text(0), "[1]a");
    EXPECT_EQ(columns->topLevelItem(0)->child(0)->text(0), "[2]b");
    EXPECT_EQ(settings()->selectedColumn(), "2");
    dialogs.queueAnswer("5,新栏目");
    settings()->findChild<QToolButton*>("addColumnNode")->click();
    EXPECT_EQ(settings()->selectedColumn(), "5");
    EXPECT_EQ(stored(taskA)["fieldsAll"].size(), 2u);  // nothing stored yet

    settings()->saveButton()->click();
    test::processEvents();
    auto doc = stored(taskA);
    ASSERT_EQ(doc["fieldsAll"].size(), 3u);
    EXPECT_EQ(app::SettingText(*app::ParseSettings(doc["fieldsAll"][1].get<std::string>()), "title"), "标题2");
    EXPECT_EQ(doc["post_class_selected"], "5");
    EXPECT_EQ(doc["post_class_tree"], "@@@<br/>a###1###0<br/>b###2###1<br/>c###3###0<br/>新栏目###5###0###0<br/>");
    auto cols = collect::TableColumns(ws.taskDbPath(taskA), "content", dialogs);
    EXPECT_NE(std::find(cols.begin(), cols.end(), "标题2"), cols.end());

    // A clipboard holding anything else changes nothing.
    open(taskA);
    window->clipboard().setText("随便什么");
    settings()->pasteField(false);
    EXPECT_TRUE(dialogs.sawMessage("剪贴板里存在的字段 格式有误！"));
    EXPECT_EQ(settings()->fieldList()->topLevelItemCount(), 3);
}

TEST_F(TaskSettingsUi, ARefusedSaveKeepsTheAreaOpenAndStoresNothing) {
    open(taskB);
    const auto before = stored(taskB);
    control<QCheckBox>("other_check_rengong")->click();
    settings()->saveButton()->click();
    test::processEvents();
    EXPECT_TRUE(dialogs.sawMessage("开启人工审核，需添加采集字段“人工审核”"));
    EXPECT_TRUE(window->isEditing());
    EXPECT_EQ(session->state->currentTaskId.load(), taskB);
    EXPECT_EQ(stored(taskB), before);

    control<QCheckBox>("other_check_rengong")->click();
    control<QLineEdit>("other_savepath")->setText(QString::fromStdString(sandbox.path("missing/")));
    settings()->saveButton()->click();
    test::processEvents();
    EXPECT_TRUE(window->isEditing());
    EXPECT_TRUE(window->taskTree()->isEnabled());  // the tree is usable again
    EXPECT_EQ(stored(taskB), before);
}

TEST_F(TaskSettingsUi, UnreadableSettingsAreNotOpened) {
    platform::SqliteConnection(ws.configDb)
        .exec("update vorn_task set rules='" + std::string(30, 'Q') + "not-hex' where id=" + std::to_string(taskB));
    window->rebuildTaskTree();
    dialogs.clear();
    EXPECT_FALSE(window->openTask(window->taskItem(taskB)));
    EXPECT_FALSE(window->isEditing());
    EXPECT_EQ(dialogs.messages().size(), 1u);
}

TEST_F(TaskSettingsUi, TheSiteEntryWindowOpensTheModuleEditorOnItsModule) {
    open(taskA);
    QString caption;
    QTimer::singleShot(50, [&] {
        auto* group = qobject_cast<ui::SiteGroupDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(group, nullptr);
        QTimer::singleShot(50, [&] {
            auto* entry = qobject_cast<ui::SiteEntryDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(entry, nullptr);
            entry->moduleBox()->setCurrentText("dede");
            QPushButton* edit = nullptr;
            for (auto* b : entry->findChildren<QPushButton*>())
                if (b->text() == "编辑") edit = b;
            ASSERT_NE(edit, nullptr);
            EXPECT_TRUE(edit->isEnabled());
            QTimer::singleShot(50, [&] {
                auto* editor = QApplication::activeModalWidget();
                ASSERT_NE(editor, nullptr);
                caption = editor->windowTitle();
                qobject_cast<QDialog*>(editor)->reject();
            });
            edit->click();
            entry->reject();
        });
        group->addSite();
        group->reject();
    });
    settings()->findChild<QPushButton*>("siteGroup")->click();
    EXPECT_EQ(caption, "发布接口配置  dede");
}

TEST_F(TaskSettingsUi, SectionButtonsOpenTheirWindows) {
    open(taskA);
    struct Case {
        const char* button;
        const char* window;
    };
    for (const auto& c : std::vector<Case>{{"listSettings", "tarvex::ui::ListSettingsDialog"},
                                           {"pageSettings", "tarvex::ui::PaginationDialog"},
                                           {"multiPage", "tarvex::ui::MultiLevelDialog"},
                                           {"uploadSettings", "tarvex::ui::UploadSettingsDialog"},
                                           {"siteGroup", "tarvex::ui::SiteGroupDialog"},
                                           {"editModule", "tarvex::ui::ModuleEditorDialog"}}) {
        QString seen;
        QTimer::singleShot(50, [&] {
            if (auto* w = QApplication::activeModalWidget()) {
                seen = w->metaObject()->className();
                qobject_cast<QDialog*>(w)->reject();
            }
        });
        settings()->findChild<QPushButton*>(c.button)->click();
        EXPECT_EQ(seen, c.window) << c.button;
    }

    // "站群发布": a site added in its entry window and the list saved; a save of the task
    // stores the group and gives the site its flag column.
    QTimer::singleShot(50, [&] {
        auto* group = qobject_cast<ui::SiteGroupDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(group, nullptr);
        group->enabledBox()->setChecked(true);
        QTimer::singleShot(50, [&] {
            auto* entry = qobject_cast<ui::SiteEntryDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(entry, nullptr);
            entry->nameEdit()->setText("site");
            entry->markEdit()->setText("k7");
            entry->moduleBox()->setCurrentText("dede");
            entry->save();
        });
        group->addSite();
        group->save();
    });
    settings()->findChild<QPushButton*>("siteGroup")->click();
    settings()->saveButton()->click();
    test::processEvents();
    EXPECT_EQ(stored(taskA)["post_morepost"], R"({"check1":"-1","MorePostAll":["site,k7,dede,0,"]})");
    auto cols = collect::TableColumns(ws.taskDbPath(taskA), "content", dialogs);
    EXPECT_EQ(cols.back(), "postc_k7");
}

// A section text of the wrong shape is refused in its dialog, naming the key, and the section
// keeps its text.
TEST_F(TaskSettingsUi, FieldEditorAndCookieWindowFillTheForm) {
    open(taskA);
    // "添加字段" opens the field editor on the task's unsaved fields; its rule is appended.
    QString seen;
    QTimer::singleShot(50, [&] {
        auto* w = QApplication::activeModalWidget();
        ASSERT_NE(w, nullptr);
        seen = w->metaObject()->className();
        w->findChild<QLineEdit*>("title")->setText("内容");
        qobject_cast<QDialog*>(w)->accept();  // refused: the task already has "内容"
        w->findChild<QLineEdit*>("title")->setText("作者");
        w->findChild<QPlainTextEdit*>("front")->setPlainText("<span class=\"author\">");
        w->findChild<QPlainTextEdit*>("back")->setPlainText("</span>");
        qobject_cast<QDialog*>(w)->accept();
    });
    settings()->addField();
    EXPECT_EQ(seen, "tarvex::ui::FieldEditorDialog");
    EXPECT_TRUE(dialogs.sawMessage("新建字段名称不能重复"));
    ASSERT_EQ(settings()->fieldList()->topLevelItemCount(), 3);
    EXPECT_EQ(settings()->fieldList()->topLevelItem(2)->text(1), "作者");

    // Editing keeps the field's own name and replaces the rule in place.
    settings()->selectField(0);
    QTimer::singleShot(50, [&] {
        auto* w = QApplication::activeModalWidget();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->findChild<QLineEdit*>("title")->text(), "标题");
        w->findChild<QCheckBox*>("pic_smallpic_check")->setChecked(true);
        qobject_cast<QDialog*>(w)->accept();
    });
    settings()->editField();

    // "获取" opens the cookie window; a saved cookie and agent land in their boxes.
    const std::string agent = app::kUserAgentChoices[1];
    QTimer::singleShot(50, [&] {
        auto* w = QApplication::activeModalWidget();
        ASSERT_NE(w, nullptr);
        seen = w->metaObject()->className();
        w->findChild<QPlainTextEdit*>("cookieText")->setPlainText("sid=9");
        w->findChild<QComboBox*>("userAgent")->setEditText(QString::fromStdString(agent));
        qobject_cast<QDialog*>(w)->accept();
    });
    settings()->findChild<QPushButton*>("captureCookie")->click();
    EXPECT_EQ(seen, "tarvex::ui::CookieCaptureDialog");
    EXPECT_EQ(text("other_cookie"), "sid=9");
    EXPECT_EQ(text("other_ua"), QString::fromStdString(agent));

    settings()->saveButton()->click();
    test::processEvents();
    auto doc = stored(taskA);
    ASSERT_EQ(doc["fieldsAll"].size(), 3u);
    auto first = *app::ParseSettings(doc["fieldsAll"][0].get<std::string>());
    EXPECT_EQ(first["title"], "标题");
    EXPECT_EQ(first["pic_smallpic_check"], "-1");
    EXPECT_EQ(first["radio_1_content"], (app::SettingsJson{"<title>", "</title>"}));
    auto added = *app::ParseSettings(doc["fieldsAll"][2].get<std::string>());
    EXPECT_EQ(added["radio_1_content"], (app::SettingsJson{"<span class=\"author\">", "</span>"}));
    EXPECT_EQ(doc["other_cookie"], "sid=9");
    EXPECT_EQ(doc["other_ua"], agent);
    auto cols = collect::TableColumns(ws.taskDbPath(taskA), "content", dialogs);
    EXPECT_NE(std::find(cols.begin(), cols.end(), "作者"), cols.end());
}

// With TARVEX_SCREENSHOT_DIR set, saves pictures of the settings tabs for a person to look at.
TEST_F(TaskSettingsUi, ScreenshotOnRequest) {
    const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "set TARVEX_SCREENSHOT_DIR to save screenshots";
    window->resize(1280, 860);
    open(taskA);
    for (int i = 0; i < 3; ++i) {
        settings()->tabs()->setCurrentIndex(i);
        test::processEvents(150);
        EXPECT_TRUE(window->grab().save(QString(dir) + QString("/settings_%1.png").arg(i)));
    }
}
