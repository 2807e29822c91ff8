#include "ui/single_page/single_page_panel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "app/workspace/thread_registry.h"
#include "ui/single_page/visual_editor_dialog.h"
#include "ui/tasks/task_settings_widget.h"

namespace tarvex::ui {

RunLogPage::RunLogPage(QWidget* parent) : QWidget(parent) {
    setObjectName("runLogPage");
    m_pane = new QPlainTextEdit;
    m_pane->setObjectName("runLogPane");
    m_pane->setReadOnly(true);
    m_label = new QLabel;
    m_label->setObjectName("runLogLabel");
    m_bar = new QProgressBar;
    m_bar->setObjectName("runLogProgress");
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setMaximumWidth(240);
    m_edit = new QPushButton("点击进入 单篇采集内容编辑界面");
    m_edit->setObjectName("openVisualEditor");
    auto* row = new QHBoxLayout;
    row->addWidget(m_label, 1);
    row->addWidget(m_bar);
    row->addWidget(m_edit);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addLayout(row);
    lay->addWidget(m_pane, 1);
}

SinglePageController::SinglePageController(const app::Workspace& ws, TaskSettingsWidget& settings, RunLogPage& page,
                                           platform::SlotView& view, platform::Dialogs& dialogs,
                                           std::atomic<bool>* closing, QObject* parent)
    : QObject(parent),
      m_ws(ws),
      m_settings(settings),
      m_page(page),
      m_view(view),
      m_dialogs(dialogs),
      m_closing(closing) {
    connect(m_settings.singleCollectButton(), &QPushButton::clicked, this, &SinglePageController::collectOne);
    connect(m_settings.singlePublishButton(), &QPushButton::clicked, this, &SinglePageController::publishOne);
    connect(m_page.editButton(), &QPushButton::clicked, this, &SinglePageController::openVisualEditorChecked);
}

SinglePageController::~SinglePageController() = default;

void SinglePageController::startJob(app::SinglePageJob::Kind kind, const std::string& document) {
    app::SinglePageJob job;
    job.kind = kind;
    job.taskId = m_settings.taskId();
    job.settingsJson = document;
    job.url = m_settings.form().testUrl;
    job.workspace = m_ws;
    job.view = &m_view;
    job.dialogs = &m_dialogs;
    std::atomic<bool>* closing = m_closing;
    job.closing = [closing] { return closing && closing->load(); };
    auto state = m_state;
    auto running = m_running;
    ++*running;
    app::ThreadRegistry::global().spawn("TMyThread2", [job, state, running]() mutable {
        job.state = state.get();
        job.run();
        --*running;
    });
}

void SinglePageController::collectOne() {
    if (m_settings.taskId() <= 0) {
        m_dialogs.message(app::kNoTaskOpenText, platform::kAppTitle);
        return;
    }
    if (busy()) return;
    const app::SettingsForm form = m_settings.form();
    m_view.appendPane(app::kRunLogSlot, "");
    m_view.setLabel(app::kRunLogSlot, 2, "");
    m_view.setProgressRange(app::kRunLogSlot, 1, 0, 100);
    m_view.setProgress(app::kRunLogSlot, 1, 0);
    if (showRunLog) showRunLog();
    // The state turns Running before the thread exists, so the wait below cannot see the
    // status of the collection before.
    m_state->start(m_settings.taskId(), app::TrimText(form.testUrl));
    startJob(app::SinglePageJob::Kind::Collect, app::SinglePageDocument(form, false));
    auto* publishButton = m_settings.singlePublishButton();
    if (form.closeEditForm) {
        publishButton->setEnabled(true);
        return;
    }
    publishButton->setEnabled(false);
    for (int step = 0; step < 600; ++step) {
        if (m_state->status() != app::SinglePageState::Status::Running) break;
        if (m_closing && m_closing->load()) break;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 50) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50 - static_cast<int>(t.elapsed()));
            QThread::msleep(5);
        }
    }
    if (m_state->status() == app::SinglePageState::Status::Collected) openVisualEditor();
    publishButton->setEnabled(true);
}

void SinglePageController::publishOne() {
    const app::SettingsForm form = m_settings.form();
    const std::string refusal = app::SinglePublishRefusal(m_ws, m_settings.taskId(), form, *m_state);
    if (!refusal.empty()) {
        m_dialogs.message(refusal, platform::kAppTitle);
        return;
    }
    if (busy()) return;
    m_view.setProgressRange(app::kRunLogSlot, 1, 0, 100);
    m_view.setProgress(app::kRunLogSlot, 1, 0);
    if (showRunLog) showRunLog();
    startJob(app::SinglePageJob::Kind::Publish, app::SinglePageDocument(form, true));
}

bool SinglePageController::busy() {
    // One job at a time: a second would overwrite the results the first is still writing.
    if (m_running->load() == 0) return false;
    m_dialogs.message(kBusyText, platform::kAppTitle);
    return true;
}

void SinglePageController::openVisualEditorChecked() {
    if (m_state->status() != app::SinglePageState::Status::Collected || m_settings.taskId() <= 0) {
        m_dialogs.message("当前没有采集数据，无法展开编辑界面！", platform::kAppTitle);
        return;
    }
    openVisualEditor();
}

void SinglePageController::openVisualEditor() {
    const app::FieldValues values = m_state->values();
    if (values.empty()) return;
    if (auto error = app::WriteVisualEditorPage(m_ws, values); !error.empty()) {
        m_dialogs.message(error, platform::kAppTitle);
        return;
    }
    VisualEditorDialog dialog(app::VisualEditorPagePath(m_ws), values, m_page.window());
    m_editor = &dialog;
    dialog.exec();
    m_editor = nullptr;
    if (dialog.result()) m_state->setValues(*dialog.result());
}

bool SinglePageController::waitIdle(int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (m_running->load() > 0 && t.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    QCoreApplication::processEvents();
    return m_running->load() == 0;
}

}  // namespace tarvex::ui

namespace tarvex::ui {
bool SinglePageController::waitFinished(int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (m_running->load() > 0 && t.elapsed() < timeoutMs) QThread::msleep(10);
    return m_running->load() == 0;
}
}  // namespace tarvex::ui
