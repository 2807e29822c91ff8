#pragma once
// ui/main: the main window, the run list and the slot pages. May use every other ui/ folder and
// app/; nothing else in ui/ includes it.
//
// The main window shell: the task tree, the settings area, the run list with its buttons,
// the five slot pages and the run log page, and the tray icon. Windows of later work plug
// into it through the accessors.
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTreeWidget>
#include <array>
#include <map>
#include <memory>
#include <optional>

#include "app/run/run_list.h"
#include "app/run/slot_view_model.h"
#include "app/schedule/scheduler.h"
#include "app/tasks/catalogue.h"
#include "app/workspace/startup.h"
#include "platform/ports.h"
#include "ui/data/data_browser_window.h"
#include "ui/main/run_list_widget.h"
#include "ui/main/slot_page.h"
#include "ui/qt/qt_clipboard.h"
#include "ui/qt/qt_ports.h"
#include "ui/schedule/schedule_dialogs.h"
#include "ui/single_page/single_page_panel.h"
#include "ui/tasks/task_settings_widget.h"

namespace tarvex::ui {

class MainWindow : public QMainWindow, public platform::SlotView {
    Q_OBJECT
public:
    // The session must outlive the window. `dialogs`, when given, answers every question of the
    // catalogue and the settings area instead of message boxes (tests); it must outlive the window.
    explicit MainWindow(app::Session& session, QWidget* parent = nullptr, platform::Dialogs* dialogs = nullptr);
    ~MainWindow() override;

    QTreeWidget* taskTree() const { return m_taskTree; }
    QTreeWidgetItem* rootItem() const { return m_root; }
    QTreeWidget* runList() const { return m_runListWidget->tree(); }
    RunListWidget* runListWidget() const { return m_runListWidget; }
    app::RunList& runListModel() { return *m_runListModel; }
    QTabWidget* pageTabs() const { return m_pages; }
    SlotPage* slotPage(int slot) const { return m_slotPages.at(static_cast<std::size_t>(slot)); }
    QPlainTextEdit* runLogPane() const { return m_runLogPane; }
    QWidget* settingsArea() const { return m_settingsArea; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QPushButton* startButton() const { return m_runListWidget->startButton(); }
    QPushButton* pauseButton() const { return m_runListWidget->pauseButton(); }
    QPushButton* stopButton() const { return m_runListWidget->stopButton(); }
    // "添加到启动栏": the selected task joins the run list and takes a slot page.
    bool addSelectedTaskToRunList();
    app::SlotViewModel& slotModel() { return m_slotModel; }
    platform::Dialogs& dialogs() { return m_scripted ? *m_scripted : m_dialogs; }
    app::Session& session() { return m_session; }
    app::Catalogue& catalogue() { return *m_catalogue; }
    TaskSettingsWidget* settingsWidget() const { return m_settings; }
    RunLogPage* runLogPage() const { return m_runLogPage; }
    SinglePageController& singlePage() { return *m_singlePage; }
    app::ClipboardPort& clipboard() { return m_clipboard; }

    // The task tree: rebuilt from the catalogue after every change; the node of the current
    // task id (or `select`) is selected, and drawn bold red on white while a task is open.
    void rebuildTaskTree(std::optional<std::int64_t> select = std::nullopt);
    QTreeWidgetItem* taskItem(std::int64_t taskId) const;
    // The tree's context menu with every catalogue command; entries find their node at run time.
    QMenu* taskMenu() const { return m_taskMenu; }
    QAction* taskAction(const QString& text) const;
    // Where the last mouse press in the tree landed (nullopt = empty space).
    void setPressedNode(std::optional<std::int64_t> taskId) { m_pressed = taskId; }

    // "双击": opens the task's settings; "保存" and "取消" of the settings area.
    bool openTask(QTreeWidgetItem* item);
    // "编辑任务" and Enter in the tree: opens the selected task (refused for none and the root).
    bool editSelectedTask();
    app::SaveOutcome saveTask();
    void cancelEdit();
    bool isEditing() const;
    // State text of the run-list row showing `name`, "" when there is none.
    std::string runListState(const std::string& name) const;

    // "打开任务数据库": the data browser on the selected task, unless it is refused (no task, no
    // database, a task that is running). One browser at a time; nullptr when refused.
    DataBrowserWindow* openDataBrowser();
    DataBrowserWindow* dataBrowser() const { return m_browser; }
    // File choosers and folder opening of the data browser (tests replace them).
    void setBrowserHooks(BrowserHooks hooks) { m_browserHooks = std::move(hooks); }
    // "添加到任务队列": opens the stage dialog for the selected task (nullptr when refused).
    AddToQueueDialog* addSelectedTaskToQueue();
    // The "计划任务" button and the run list's "队列" button.
    ScheduleDialog* showScheduleDialog();
    WaitingQueueWindow* showWaitingQueue();
    QPushButton* queueButton() const { return m_queueButton; }
    QPushButton* scheduleButton() const { return m_scheduleButton; }
    // The scheduler thread started with the window (step 13 of the start).
    app::Scheduler& scheduler() { return *m_scheduler; }

    void showFromTray();
    // "关闭程序": sets the closing flag (runs stop) and ends the event loop; the program then waits
    // a bounded time for its background threads before it destroys the window.
    void exitProgram();
    // Whether the desktop shows a system tray. Without one, closing the window ends the program
    // (after asking while a task runs) instead of hiding it where nobody could find it again.
    bool trayAvailable() const { return m_trayAvailable; }
    void setTrayAvailable(bool available);
    bool isSlotPageVisible(int slot) const;
    void setSlotPageVisible(int slot, bool visible);

    // SlotView: applied on the UI thread in the order the model saw the changes.
    void appendPane(int slot, const std::string& line) override;
    void setLabel(int slot, int which, const std::string& text) override;
    void setProgressRange(int slot, int bar, int min, int max) override;
    void setProgress(int slot, int bar, int value) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildTray();
    // Marks the program as ending: closing flag, tray icon away, event loop told to quit.
    void beginExit();
    void buildTaskMenu();
    // The menu bar's "帮助": the user guide (F1) and the About box.
    void buildHelpMenu();
    void addTaskNodes(QTreeWidgetItem* parent, const app::TaskNode& node);
    void refreshHighlight();
    std::optional<std::int64_t> selectedTaskId() const;
    void openAttachmentFolder();
    void importFieldsToChildren();
    QPlainTextEdit* paneOf(int slot) const;
    void startScheduler();
    void stopScheduler();
    // Shows, hides and names the slot pages as the run list's slots say.
    void syncSlotPages();
    void closePage(int index);

    app::Session& m_session;
    QtDialogs m_dialogs;
    platform::Dialogs* m_scripted = nullptr;
    QtClipboard m_clipboard;
    app::SlotViewModel m_slotModel;
    std::unique_ptr<app::Catalogue> m_catalogue;
    TaskSettingsWidget* m_settings = nullptr;
    QMenu* m_taskMenu = nullptr;
    std::optional<std::int64_t> m_pressed;
    QTreeWidget* m_taskTree = nullptr;
    QTreeWidgetItem* m_root = nullptr;
    QWidget* m_settingsArea = nullptr;
    std::unique_ptr<app::RunList> m_runListModel;
    RunListWidget* m_runListWidget = nullptr;
    QTabWidget* m_pages = nullptr;
    std::array<SlotPage*, 6> m_slotPages{};
    // The failure hint last shown in each pane (UI thread), keyed by slot.
    std::map<int, QString> m_lastPaneHint;
    QPlainTextEdit* m_runLogPane = nullptr;
    RunLogPage* m_runLogPage = nullptr;
    std::unique_ptr<SinglePageController> m_singlePage;
    QSystemTrayIcon* m_tray = nullptr;
    bool m_trayAvailable = false;
    bool m_exiting = false;

    QPushButton* m_queueButton = nullptr;
    QPushButton* m_scheduleButton = nullptr;
    QPointer<DataBrowserWindow> m_browser;
    QPointer<ScheduleDialog> m_scheduleDialog;
    QPointer<WaitingQueueWindow> m_queueWindow;
    BrowserHooks m_browserHooks = BrowserHooks::desktop();
    std::unique_ptr<app::RunListSchedulerPort> m_schedulerPort;
    std::shared_ptr<app::Scheduler> m_scheduler;
    // Set when the window goes: hand-overs the scheduler is still waiting for are abandoned.
    std::shared_ptr<std::atomic<bool>> m_gone = std::make_shared<std::atomic<bool>>(false);
    app::ThreadRegistry m_schedulerThread;
};

// The program's icon, drawn so the executable needs no image files.
QIcon appIcon();

}  // namespace tarvex::ui
