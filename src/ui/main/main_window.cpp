#include "ui/main/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QSplitter>
#include <QUrl>
#include <QVBoxLayout>

#include "app/tasks/settings_document.h"
#include "platform/error_hints.h"
#include "ui/main/help_window.h"
#include "ui/qt/task_icons.h"
#include "ui/tasks/task_tree_widget.h"

namespace tarvex::ui {

// The installed hicolor icon "tarvex"; a drawn stand-in when the program runs uninstalled.
QIcon appIcon() {
    const QIcon installed = QIcon::fromTheme("tarvex");
    if (!installed.isNull()) return installed;
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1f, 0x6f, 0xb5));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(2, 2, 60, 60, 12, 12);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(40);
    p.setFont(f);
    p.drawText(pm.rect(), Qt::AlignCenter, "T");
    return QIcon(pm);
}

MainWindow::MainWindow(app::Session& session, QWidget* parent, platform::Dialogs* dialogs)
    : QMainWindow(parent), m_session(session), m_dialogs(this), m_scripted(dialogs) {
    setWindowTitle("Tarvex采集器");
    setWindowIcon(appIcon());
    resize(1100, 720);

    m_taskTree = new TaskTreeWidget;
    m_taskTree->setObjectName("taskTree");
    m_taskTree->setHeaderHidden(true);
    m_root = new QTreeWidgetItem(m_taskTree, QStringList{"本地任务"});
    m_root->setData(0, kTaskIdRole, -2);
    m_root->setData(0, kParentIdRole, -2);
    m_root->setIcon(0, rootIcon());
    m_root->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    m_root->setExpanded(true);
    m_taskTree->viewport()->installEventFilter(this);
    m_taskTree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_taskTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        auto* item = m_taskTree->itemAt(pos);
        if (item) m_taskTree->setCurrentItem(item);
        m_taskMenu->popup(m_taskTree->viewport()->mapToGlobal(pos));
    });
    connect(m_taskTree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item && item->data(0, kTaskIdRole).toLongLong() > 0) openTask(item);
    });
    m_taskTree->installEventFilter(this);

    m_settingsArea = new QWidget;
    m_settingsArea->setObjectName("settingsArea");
    m_settingsArea->setVisible(false);
    m_settings = new TaskSettingsWidget(m_session.workspace, this->dialogs(), m_clipboard);
    auto* settingsLay = new QVBoxLayout(m_settingsArea);
    settingsLay->setContentsMargins(0, 0, 0, 0);
    // On a small screen the settings scroll instead of pushing the run list off the window.
    auto* settingsScroll = new QScrollArea;
    settingsScroll->setObjectName("settingsScroll");
    settingsScroll->setWidgetResizable(true);
    settingsScroll->setFrameShape(QFrame::NoFrame);
    settingsScroll->setWidget(m_settings);
    settingsLay->addWidget(settingsScroll);
    connect(m_settings, &TaskSettingsWidget::saveRequested, this, [this] { saveTask(); });
    connect(m_settings, &TaskSettingsWidget::cancelRequested, this, &MainWindow::cancelEdit);

    app::RunnerServices services;
    services.workspace = m_session.workspace;
    services.state = m_session.state.get();
    services.view = &m_slotModel;
    services.dialogs = &this->dialogs();
    services.threads = &app::ThreadRegistry::global();
    services.hooks = app::defaultStageHooks();
    m_runListModel = std::make_unique<app::RunList>(services, m_slotModel, app::catalogueLookup(m_session.workspace));
    m_runListWidget = new RunListWidget(*m_runListModel);
    m_queueButton = new QPushButton("队列");
    m_queueButton->setVisible(false);
    connect(m_queueButton, &QPushButton::clicked, this, &MainWindow::showWaitingQueue);
    m_runListWidget->buttonBar()->layout()->addWidget(m_queueButton);
    m_scheduleButton = new QPushButton("计划任务");
    connect(m_scheduleButton, &QPushButton::clicked, this, &MainWindow::showScheduleDialog);
    m_runListWidget->buttonBar()->layout()->addWidget(m_scheduleButton);
    auto* toTray = new QPushButton("关闭到右下任务栏");
    toTray->setObjectName("closeToTrayButton");
    connect(toTray, &QPushButton::clicked, this, &QWidget::close);
    m_runListWidget->buttonBar()->layout()->addWidget(toTray);
    connect(m_runListWidget, &RunListWidget::modelChanged, this, &MainWindow::syncSlotPages);
    connect(m_runListWidget, &RunListWidget::rowSelected, this, [this](int slot) {
        if (slot >= 1 && isSlotPageVisible(slot)) m_pages->setCurrentWidget(slotPage(slot));
    });
    auto* runPanel = m_runListWidget;

    m_pages = new QTabWidget;
    m_pages->setObjectName("pageTabs");
    for (int i = 1; i <= app::SlotViewModel::kSlots; ++i) {
        auto* page = new SlotPage(i);
        m_slotPages[static_cast<std::size_t>(i)] = page;
        m_pages->addTab(page, "任务名");
        m_pages->setTabVisible(i - 1, false);
    }
    m_runLogPage = new RunLogPage;
    m_runLogPane = m_runLogPage->pane();
    m_pages->addTab(m_runLogPage, "运行日志");
    m_pages->setCurrentWidget(m_runLogPage);
    m_singlePage =
        std::make_unique<SinglePageController>(m_session.workspace, *m_settings, *m_runLogPage, m_slotModel,
                                               this->dialogs(), m_session.state ? &m_session.state->closing : nullptr);
    m_singlePage->showRunLog = [this] { m_pages->setCurrentWidget(m_runLogPage); };
    m_pages->setTabsClosable(true);
    connect(m_pages, &QTabWidget::tabCloseRequested, this, &MainWindow::closePage);

    auto* right = new QSplitter(Qt::Vertical);
    right->addWidget(m_settingsArea);
    right->addWidget(runPanel);
    right->addWidget(m_pages);
    right->setStretchFactor(2, 1);
    auto* main = new QSplitter(Qt::Horizontal);
    main->addWidget(m_taskTree);
    main->addWidget(right);
    main->setStretchFactor(1, 1);
    main->setSizes({260, 840});
    setCentralWidget(main);

    buildTray();
    buildHelpMenu();
    m_slotModel.setListener(this);

    m_catalogue = std::make_unique<app::Catalogue>(m_session.workspace, this->dialogs(), m_clipboard,
                                                   m_session.state->currentTaskId);
    m_catalogue->setInUseCheck(
        [state = m_session.state.get()](std::int64_t id) { return app::TaskRunningInSlots(*state, id); });
    buildTaskMenu();
    rebuildTaskTree();
    if (!m_catalogue->tree().unreadable.empty()) {
        std::string names;
        for (auto id : m_catalogue->tree().unreadable)
            names += (names.empty() ? "" : "、") + m_catalogue->tree().find(id)->name;
        this->dialogs().message("以下任务的设置已损坏(无法解密)，不能打开：" + names, platform::kAppTitle);
    }
    startScheduler();
}

MainWindow::~MainWindow() {
    stopScheduler();
    // A single-page job reports into the slot model: it must end before the model goes.
    if (m_singlePage) m_singlePage->waitFinished(30000);
    m_slotModel.setListener(nullptr);
}

void MainWindow::startScheduler() {
    // Each run-list change of the scheduler runs on this thread while the scheduler waits; a
    // change still queued when the window goes or the program closes is dropped.
    auto gone = m_gone;
    auto* state = m_session.state.get();
    app::UiInvoker invoke = [this, gone, state](const std::function<void()>& fn) {
        if (gone->load()) return false;
        return runOnUiThreadUnless(this, fn, [gone, state] { return gone->load() || state->closing.load(); });
    };
    m_schedulerPort = std::make_unique<app::RunListSchedulerPort>(*m_runListModel, invoke);
    app::SchedulerServices s;
    s.workspace = m_session.workspace;
    s.state = m_session.state.get();
    s.port = m_schedulerPort.get();
    // Tasks queued from the command line ("tarvex-cli queue add") start here as well.
    s.queueFile = app::QueueFilePath(m_session.workspace);
    m_scheduler = std::make_shared<app::Scheduler>(s);
    app::Scheduler::Start(m_scheduler, m_schedulerThread);
}

void MainWindow::stopScheduler() {
    m_gone->store(true);
    if (m_scheduler) m_scheduler->stop();
    // The loop looks at its stop flag every 20 ms; a hand-over it waits for is abandoned above.
    m_schedulerThread.waitAll(std::chrono::seconds(3));
}

void MainWindow::addTaskNodes(QTreeWidgetItem* parent, const app::TaskNode& node) {
    for (const auto& child : node.children) {
        auto* item = new QTreeWidgetItem(parent, QStringList{QString::fromStdString(child.name)});
        item->setData(0, kTaskIdRole, static_cast<qlonglong>(child.taskid));
        item->setData(0, kParentIdRole, static_cast<qlonglong>(child.fuid));
        item->setIcon(0, child.children.empty() ? taskIcon() : folderIcon());
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
        if (!child.rulesReadable) item->setToolTip(0, "任务设置已损坏(无法解密)");
        addTaskNodes(item, child);
    }
}

void MainWindow::rebuildTaskTree(std::optional<std::int64_t> select) {
    QSet<qlonglong> expanded;
    for (QTreeWidgetItemIterator it(m_taskTree); *it; ++it)
        if ((*it)->isExpanded()) expanded.insert((*it)->data(0, kTaskIdRole).toLongLong());
    qDeleteAll(m_root->takeChildren());
    m_catalogue->rebuild();
    addTaskNodes(m_root, m_catalogue->tree().root);
    for (QTreeWidgetItemIterator it(m_taskTree); *it; ++it)
        if (expanded.contains((*it)->data(0, kTaskIdRole).toLongLong())) (*it)->setExpanded(true);
    m_root->setExpanded(true);

    const std::int64_t id = select.value_or(m_session.state->currentTaskId.load());
    m_taskTree->clearSelection();
    if (auto* item = id != 0 ? taskItem(id) : nullptr) {
        for (auto* p = item->parent(); p; p = p->parent()) p->setExpanded(true);
        m_taskTree->setCurrentItem(item);
        m_taskTree->scrollToItem(item);
    }
    refreshHighlight();
}

QTreeWidgetItem* MainWindow::taskItem(std::int64_t taskId) const {
    for (QTreeWidgetItemIterator it(m_taskTree); *it; ++it)
        if ((*it)->data(0, kTaskIdRole).toLongLong() == taskId) return *it;
    return nullptr;
}

void MainWindow::refreshHighlight() {
    const std::int64_t current = m_session.state->currentTaskId.load();
    for (QTreeWidgetItemIterator it(m_taskTree); *it; ++it) {
        QFont f = (*it)->font(0);
        const bool on = current > 0 && (*it)->data(0, kTaskIdRole).toLongLong() == current;
        f.setBold(on);
        (*it)->setFont(0, f);
        (*it)->setData(0, Qt::ForegroundRole, on ? QVariant(QBrush(Qt::red)) : QVariant());
        (*it)->setData(0, Qt::BackgroundRole, on ? QVariant(QBrush(Qt::white)) : QVariant());
        (*it)->setData(0, kCurrentTaskRole, on);
    }
}

std::optional<std::int64_t> MainWindow::selectedTaskId() const {
    auto* item = m_taskTree->currentItem();
    if (!item || !item->isSelected()) return std::nullopt;
    return item->data(0, kTaskIdRole).toLongLong();
}

QAction* MainWindow::taskAction(const QString& text) const {
    QList<QMenu*> menus{m_taskMenu};
    while (!menus.isEmpty()) {
        QMenu* menu = menus.takeFirst();
        for (auto* action : menu->actions()) {
            if (action->text() == text) return action;
            if (action->menu()) menus << action->menu();
        }
    }
    return nullptr;
}

void MainWindow::buildHelpMenu() {
    QMenu* help = menuBar()->addMenu("帮助(&H)");
    help->setObjectName("helpMenu");
    QAction* guide = help->addAction("用户指南", this, [this] { showGuide(this); });
    guide->setObjectName("guideAction");
    guide->setShortcut(QKeySequence(Qt::Key_F1));
    guide->setShortcutContext(Qt::WindowShortcut);
    help->addSeparator();
    QAction* about = help->addAction("关于 Tarvex采集器", this, [this] {
        AboutDialog dialog(this);
        dialog.exec();
    });
    about->setObjectName("aboutAction");
}

bool MainWindow::editSelectedTask() {
    auto* item = m_taskTree->currentItem();
    if (!item || !item->isSelected()) return openTask(nullptr);
    if (item->data(0, kTaskIdRole).toLongLong() <= 0) {
        dialogs().message("根目录无法执行此操作", platform::kAppTitle);
        return false;
    }
    return openTask(item);
}

void MainWindow::buildTaskMenu() {
    m_taskMenu = new QMenu(this);
    m_taskMenu->setObjectName("taskMenu");
    m_taskMenu->addAction("编辑任务", this, &MainWindow::editSelectedTask);
    m_taskMenu->addSeparator();
    m_taskMenu->addAction("新建任务", this, [this] {
        if (auto id = m_catalogue->CreateTask(m_pressed)) rebuildTaskTree(*id);
    });
    m_taskMenu->addAction("重命名", this, [this] {
        if (auto id = m_catalogue->RenameTask(selectedTaskId())) rebuildTaskTree(*id);
    });
    m_taskMenu->addAction("复制任务", this, [this] { m_catalogue->CopyTask(selectedTaskId()); });
    m_taskMenu->addAction("粘贴任务（单个）", this, [this] {
        if (auto id = m_catalogue->PasteTask(m_pressed)) rebuildTaskTree(*id);
    });
    m_taskMenu->addAction("粘贴任务（多个）", this, [this] {
        if (auto id = m_catalogue->PasteTasks(m_pressed)) rebuildTaskTree(*id);
    });
    m_taskMenu->addAction("批量导入字段规则到子栏目", this, &MainWindow::importFieldsToChildren);
    m_taskMenu->addAction("删除任务", this, [this] {
        if (m_catalogue->DeleteTask(selectedTaskId())) rebuildTaskTree();
    });
    auto* bulk = m_taskMenu->addMenu("批量设置");
    for (const auto& info : app::BulkCommands()) {
        const auto command = info.command;
        bulk->addAction(QString::fromUtf8(info.menuText), this,
                        [this, command] { m_catalogue->RunBulkCommand(command, selectedTaskId()); });
    }
    m_taskMenu->addSeparator();
    m_taskMenu->addAction("打开附件目录", this, &MainWindow::openAttachmentFolder);
    m_taskMenu->addAction("打开任务数据库", this, &MainWindow::openDataBrowser);
    m_taskMenu->addAction("添加到启动栏", this, &MainWindow::addSelectedTaskToRunList);
    m_taskMenu->addAction("添加到任务队列", this, &MainWindow::addSelectedTaskToQueue);
}

DataBrowserWindow* MainWindow::openDataBrowser() {
    const auto selected = selectedTaskId();
    const app::TaskNode* node = selected && *selected > 0 ? m_catalogue->tree().find(*selected) : nullptr;
    const std::string refusal = app::BrowserRefusal(m_session.workspace, node ? selected : std::nullopt,
                                                    node ? runListState(node->name) : std::string());
    if (!refusal.empty()) {
        dialogs().message(refusal, platform::kAppTitle);
        return nullptr;
    }
    // One browser at a time: the one open before gives way.
    if (m_browser) m_browser->deleteLater();
    m_browser = new DataBrowserWindow(m_session.workspace, *selected, node->name, dialogs(), m_browserHooks, this);
    m_browser->setAttribute(Qt::WA_DeleteOnClose, true);
    if (!m_browser->open()) {
        m_browser->deleteLater();
        return nullptr;
    }
    m_browser->show();
    m_browser->raise();
    return m_browser;
}

AddToQueueDialog* MainWindow::addSelectedTaskToQueue() {
    const auto selected = selectedTaskId();
    const app::TaskNode* node = selected && *selected > 0 ? m_catalogue->tree().find(*selected) : nullptr;
    if (!node) {
        dialogs().message("请先选定任务，再操作", platform::kAppTitle);
        return nullptr;
    }
    auto* dlg = new AddToQueueDialog(*m_session.state, dialogs(), node->taskid, node->name, this);
    dlg->setAttribute(Qt::WA_DeleteOnClose, true);
    connect(dlg, &QDialog::accepted, this, [this, dlg] {
        if (dlg->queued()) m_queueButton->setVisible(true);
        if (m_queueWindow) m_queueWindow->refresh();
    });
    dlg->open();
    return dlg;
}

ScheduleDialog* MainWindow::showScheduleDialog() {
    if (!m_scheduleDialog) {
        m_scheduleDialog =
            new ScheduleDialog(m_session.workspace, *m_session.state, dialogs(), m_catalogue->tree(), this);
        m_scheduleDialog->setAttribute(Qt::WA_DeleteOnClose, true);
    }
    m_scheduleDialog->show();
    m_scheduleDialog->raise();
    return m_scheduleDialog;
}

WaitingQueueWindow* MainWindow::showWaitingQueue() {
    if (!m_queueWindow) {
        m_queueWindow = new WaitingQueueWindow(*m_session.state, this);
        m_queueWindow->setAttribute(Qt::WA_DeleteOnClose, true);
    }
    m_queueWindow->refresh();
    m_queueWindow->show();
    m_queueWindow->raise();
    return m_queueWindow;
}

void MainWindow::importFieldsToChildren() {
    const auto selected = selectedTaskId();
    auto pick = [this]() -> std::optional<std::string> {
        const QString folder = QString::fromStdString(m_session.workspace.rulesFolder);
        QDir().mkpath(folder);
        QString path = QFileDialog::getOpenFileName(this, "批量导入字段规则到子栏目", folder, "Tarvex采集规则 (*.g)");
        if (path.isEmpty()) return std::nullopt;
        return path.toStdString();
    };
    if (m_catalogue->ImportFieldsToChildren(selected, pick)) rebuildTaskTree(selected);
}

void MainWindow::openAttachmentFolder() {
    const auto selected = selectedTaskId();
    if (!selected) {
        dialogs().message("请先选定任务，再编辑", platform::kAppTitle);
        return;
    }
    const app::TaskNode* node = m_catalogue->tree().find(*selected);
    if (*selected == -2 || !node) {
        dialogs().message("根目录无法执行此操作", platform::kAppTitle);
        return;
    }
    const std::string folder = app::AttachmentFolderOf(m_session.workspace, *node);
    if (!app::isDirectory(folder)) {
        dialogs().message("附件目录不存在：" + folder, platform::kAppTitle);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder)));
}

bool MainWindow::openTask(QTreeWidgetItem* item) {
    if (!item) {
        dialogs().message("请先选定任务，再编辑", platform::kAppTitle);
        return false;
    }
    const std::int64_t id = item->data(0, kTaskIdRole).toLongLong();
    const app::TaskNode* node = id > 0 ? m_catalogue->tree().find(id) : nullptr;
    if (!node) return false;
    if (!node->rulesReadable) {
        dialogs().message("任务<" + node->name + ">的设置已损坏(无法解密)，不能打开", platform::kAppTitle);
        return false;
    }
    if (!m_settings->openTask(id, node->name, node->settingsJson)) return false;
    m_session.state->currentTaskId = id;
    m_settingsArea->setVisible(true);
    m_taskTree->setEnabled(false);
    m_taskTree->setCurrentItem(item);
    refreshHighlight();
    return true;
}

app::SaveOutcome MainWindow::saveTask() {
    const std::int64_t id = m_session.state->currentTaskId.load();
    app::SaveRequest request{id, m_settings->taskName(),
                             [this](const std::string& name) { return runListState(name); }};
    const auto outcome = app::SaveSettings(m_session.workspace, dialogs(), request, m_settings->form());
    switch (outcome) {
        case app::SaveOutcome::Stored:
            rebuildTaskTree(id);
            m_settingsArea->setVisible(false);
            m_settings->closeTask();
            m_taskTree->setEnabled(true);
            m_session.state->currentTaskId = 0;
            refreshHighlight();
            break;
        case app::SaveOutcome::RefusedEnableTree:
            m_taskTree->setEnabled(true);
            break;
        case app::SaveOutcome::Refused:
            break;
    }
    return outcome;
}

void MainWindow::cancelEdit() {
    m_settingsArea->setVisible(false);
    m_settings->closeTask();
    m_taskTree->setEnabled(true);
    m_session.state->currentTaskId = 0;
    refreshHighlight();
}

bool MainWindow::isEditing() const {
    return !m_settingsArea->isHidden();
}

std::string MainWindow::runListState(const std::string& name) const {
    for (const auto& row : m_runListModel->rows())
        if (row.name == name) return row.state;
    return {};
}

bool MainWindow::addSelectedTaskToRunList() {
    const auto id = selectedTaskId();
    if (!id || *id <= 0) return false;
    const auto* node = m_catalogue->tree().find(*id);
    if (!node) return false;
    const bool added = m_runListModel->AddToRunList(*id, node->name);
    m_runListWidget->refresh();
    return added;
}

void MainWindow::syncSlotPages() {
    for (int slot = 1; slot <= app::SlotViewModel::kSlots; ++slot) {
        const auto page = m_runListModel->page(slot);
        const bool wasShown = isSlotPageVisible(slot);
        m_pages->setTabText(slot - 1, QString::fromStdString(page.caption));
        if (wasShown && !page.shown && m_pages->currentIndex() == slot - 1) m_pages->setCurrentWidget(m_runLogPage);
        setSlotPageVisible(slot, page.shown);
        if (!wasShown && page.shown) m_pages->setCurrentWidget(slotPage(slot));
    }
}

void MainWindow::closePage(int index) {
    if (m_pages->widget(index) == m_runLogPage) {
        // The run log page stays; its close button switches the page area between two heights.
        auto* splitter = qobject_cast<QSplitter*>(m_pages->parentWidget());
        if (!splitter) return;
        auto sizes = splitter->sizes();
        const int total = sizes.value(0) + sizes.value(1) + sizes.value(2);
        const bool large = sizes.value(2) > total / 2;
        sizes[2] = large ? total / 4 : total * 2 / 3;
        splitter->setSizes(sizes);
        return;
    }
    for (int slot = 1; slot <= app::SlotViewModel::kSlots; ++slot) {
        if (m_pages->widget(index) != slotPage(slot)) continue;
        if (m_runListModel->CloseSlotPage(slot)) m_runListWidget->refresh();
        return;
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_taskTree && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // Enter opens the selected task, as a double click does.
            editSelectedTask();
            return true;
        }
    }
    if (watched == m_taskTree->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* press = static_cast<QMouseEvent*>(event);
        auto* item = m_taskTree->itemAt(press->position().toPoint());
        m_pressed = item ? std::optional<std::int64_t>(item->data(0, kTaskIdRole).toLongLong()) : std::nullopt;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::buildTray() {
    m_tray = new QSystemTrayIcon(appIcon(), this);
    m_tray->setToolTip("Tarvex采集器");
    auto* menu = new QMenu(this);
    menu->addAction("还原界面", this, &MainWindow::showFromTray);
    menu->addAction("关闭程序", this, &MainWindow::exitProgram);
    m_tray->setContextMenu(menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) showFromTray();
    });
    setTrayAvailable(QSystemTrayIcon::isSystemTrayAvailable());
    if (m_trayAvailable) m_tray->showMessage("Tarvex", "Tarvex采集器", appIcon(), 3000);
}

void MainWindow::setTrayAvailable(bool available) {
    m_trayAvailable = available;
    m_tray->setVisible(available);
    // Without a tray its menu's "关闭程序" is out of reach; the close button and this caption
    // tell the user what closing does.
    if (auto* toTray = findChild<QPushButton*>("closeToTrayButton"))
        toTray->setText(available ? "关闭到右下任务栏" : "关闭程序");
}

void MainWindow::showFromTray() {
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::beginExit() {
    m_session.state->closing = true;
    m_exiting = true;
    m_tray->hide();
    QApplication::quit();
}

void MainWindow::exitProgram() {
    beginExit();
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_exiting) {
        event->accept();
        return;
    }
    if (m_trayAvailable) {
        // Closing only hides the window to the tray: runs and the scheduler go on.
        event->ignore();
        hide();
        return;
    }
    // No tray to come back from: closing ends the program, the way "关闭程序" does.
    if (m_runListModel->anyRunning() &&
        !dialogs().confirm("有任务正在运行，关闭程序将停止这些任务，未采集完的内容下次运行时继续采集。确定关闭程序吗？",
                           platform::kAppTitle)) {
        event->ignore();
        return;
    }
    beginExit();
    event->accept();
}

bool MainWindow::isSlotPageVisible(int slot) const {
    return m_pages->isTabVisible(slot - 1);
}

void MainWindow::setSlotPageVisible(int slot, bool visible) {
    m_pages->setTabVisible(slot - 1, visible);
}

QPlainTextEdit* MainWindow::paneOf(int slot) const {
    if (slot >= 1 && slot <= app::SlotViewModel::kSlots) return slotPage(slot)->pane();
    return m_runLogPane;
}

// The model calls these under its lock from any thread; queueing (not blocking) keeps the
// order and cannot deadlock against a UI-thread reader of the model.
void MainWindow::appendPane(int slot, const std::string& line) {
    QString text = QString::fromStdString(line);
    QMetaObject::invokeMethod(
        this,
        [this, slot, text] {
            QString& lastHint = m_lastPaneHint[slot];
            if (text.isEmpty()) {
                paneOf(slot)->clear();
                lastHint.clear();
                return;
            }
            paneOf(slot)->appendPlainText(text);
            // A failure a person can mend gets its hint below it; the same hint again and again
            // (every address of an unreachable site) is shown once.
            const QString hint = QString::fromStdString(platform::PaneHintFor(text.toStdString()));
            if (!hint.isEmpty() && hint != lastHint) paneOf(slot)->appendPlainText(hint);
            if (!hint.isEmpty()) lastHint = hint;
        },
        Qt::QueuedConnection);
}

void MainWindow::setLabel(int slot, int which, const std::string& text) {
    QString t = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        this,
        [this, slot, which, t] {
            if (slot >= 1 && slot <= app::SlotViewModel::kSlots)
                slotPage(slot)->label(which)->setText(t);
            else if (slot == app::kRunLogSlot)
                m_runLogPage->label()->setText(t);
        },
        Qt::QueuedConnection);
}

void MainWindow::setProgressRange(int slot, int bar, int min, int max) {
    QMetaObject::invokeMethod(
        this,
        [this, slot, bar, min, max] {
            if (slot >= 1 && slot <= app::SlotViewModel::kSlots)
                slotPage(slot)->bar(bar)->setRange(min, max);
            else if (slot == app::kRunLogSlot)
                m_runLogPage->bar()->setRange(min, max);
        },
        Qt::QueuedConnection);
}

void MainWindow::setProgress(int slot, int bar, int value) {
    QMetaObject::invokeMethod(
        this,
        [this, slot, bar, value] {
            if (slot >= 1 && slot <= app::SlotViewModel::kSlots)
                slotPage(slot)->bar(bar)->setValue(value);
            else if (slot == app::kRunLogSlot)
                m_runLogPage->bar()->setValue(value);
        },
        Qt::QueuedConnection);
}

}  // namespace tarvex::ui
