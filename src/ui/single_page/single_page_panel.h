#pragma once
// ui/single_page: the run log page, the single-page controller, the visual editor and the edit
// page view. Uses ui/tasks (the settings area) and app/single_page.
//
// The single-page mode in the main window: the run log page (pane, status label, progress bar
// and the editor button "点击进入 单篇采集内容编辑界面") and the controller behind "单页采集" and
// "单页发布" of the settings area, which runs app::SinglePageJob on its own thread and opens
// the visual editor "Tarvex采集编辑器" on the result. UI thread only.
#include <QObject>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

#include "app/single_page/single_page.h"
#include "app/workspace/workspace.h"
#include "platform/ports.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tarvex::ui {

class TaskSettingsWidget;

class RunLogPage : public QWidget {
    Q_OBJECT
public:
    explicit RunLogPage(QWidget* parent = nullptr);
    QPlainTextEdit* pane() const { return m_pane; }
    QLabel* label() const { return m_label; }
    QProgressBar* bar() const { return m_bar; }
    QPushButton* editButton() const { return m_edit; }

private:
    QPlainTextEdit* m_pane;
    QLabel* m_label;
    QProgressBar* m_bar;
    QPushButton* m_edit;
};

class SinglePageController : public QObject {
    Q_OBJECT
public:
    // `view` receives the job's reports (slot 0 is the run log page). All must outlive this.
    SinglePageController(const app::Workspace& ws, TaskSettingsWidget& settings, RunLogPage& page,
                         platform::SlotView& view, platform::Dialogs& dialogs, std::atomic<bool>* closing,
                         QObject* parent = nullptr);
    ~SinglePageController() override;

    // "单页采集": starts the job; unless "关闭可视编辑框" is ticked waits (responsive, at most 30 s)
    // for it and opens the editor on success.
    void collectOne();
    // "单页发布".
    void publishOne();
    // The editor button of the run log page.
    void openVisualEditorChecked();
    // Opens "Tarvex采集编辑器" on the results and stores what it gives back.
    void openVisualEditor();

    app::SinglePageState& state() { return *m_state; }
    // Ends with the job still running are waited for by this (tests).
    bool waitIdle(int timeoutMs);
    // The same without processing events (window teardown).
    bool waitFinished(int timeoutMs);
    // The editor dialog while it is open (tests and screenshots).
    QWidget* openEditor() const { return m_editor; }
    // Brings the run log page to the front; set by the main window.
    std::function<void()> showRunLog;

    // Shown when "单页采集" or "单页发布" is pressed while the last one still runs.
    static constexpr const char* kBusyText = "单页采集或发布正在进行，请等它结束后再试";

private:
    bool busy();
    void startJob(app::SinglePageJob::Kind kind, const std::string& document);

    const app::Workspace& m_ws;
    TaskSettingsWidget& m_settings;
    RunLogPage& m_page;
    platform::SlotView& m_view;
    platform::Dialogs& m_dialogs;
    std::atomic<bool>* m_closing;
    std::shared_ptr<app::SinglePageState> m_state = std::make_shared<app::SinglePageState>();
    std::shared_ptr<std::atomic<int>> m_running = std::make_shared<std::atomic<int>>(0);
    QWidget* m_editor = nullptr;
};

}  // namespace tarvex::ui
