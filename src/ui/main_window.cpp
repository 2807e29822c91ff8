#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QSplitter>
#include <QVBoxLayout>

namespace tarvex::ui {

QIcon appIcon() {
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

MainWindow::MainWindow(app::Session& session, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_dialogs(this) {
    setWindowTitle("Tarvex采集器");
    setWindowIcon(appIcon());
    resize(1100, 720);

    m_taskTree = new QTreeWidget;
    m_taskTree->setObjectName("taskTree");
    m_taskTree->setHeaderHidden(true);
    m_root = new QTreeWidgetItem(m_taskTree, QStringList{"本地任务"});
    m_root->setData(0, Qt::UserRole, -2);
    m_root->setExpanded(true);

    m_settingsArea = new QWidget;
    m_settingsArea->setObjectName("settingsArea");
    m_settingsArea->setVisible(false);

    m_runList = new QTreeWidget;
    m_runList->setObjectName("runList");
    m_runList->setColumnCount(6);
    m_runList->setHeaderLabels({"序", "任务名", "执行状态", "列表", "内容", "发布"});
    m_runList->setRootIsDecorated(false);
    m_runList->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_start = new QPushButton("开始");
    m_pause = new QPushButton("暂停");
    m_stop = new QPushButton("停止");
    for (auto* b : {m_start, m_pause, m_stop}) b->setEnabled(false);
    auto* toTray = new QPushButton("关闭到右下任务栏");
    connect(toTray, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_pause);
    buttons->addWidget(m_stop);
    buttons->addStretch(1);
    buttons->addWidget(toTray);
    auto* runPanel = new QWidget;
    auto* runLay = new QVBoxLayout(runPanel);
    runLay->setContentsMargins(0, 0, 0, 0);
    runLay->addWidget(m_runList, 1);
    runLay->addLayout(buttons);

    m_pages = new QTabWidget;
    m_pages->setObjectName("pageTabs");
    for (int i = 1; i <= app::SlotViewModel::kSlots; ++i) {
        auto* page = new SlotPage(i);
        m_slotPages[static_cast<std::size_t>(i)] = page;
        m_pages->addTab(page, "任务名");
        m_pages->setTabVisible(i - 1, false);
    }
    m_runLogPane = new QPlainTextEdit;
    m_runLogPane->setObjectName("runLogPane");
    m_runLogPane->setReadOnly(true);
    m_pages->addTab(m_runLogPane, "运行日志");
    m_pages->setCurrentWidget(m_runLogPane);

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
    m_slotModel.setListener(this);
}

MainWindow::~MainWindow() { m_slotModel.setListener(nullptr); }

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
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray->show();
        m_tray->showMessage("Tarvex", "Tarvex采集器", appIcon(), 3000);
    }
}

void MainWindow::showFromTray() {
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::exitProgram() {
    m_session.state->closing = true;
    m_exiting = true;
    m_tray->hide();
    close();
    QApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_exiting) {
        event->accept();
        return;
    }
    // Closing only hides the window: runs and the scheduler go on. Without a tray the
    // window is minimised so it can still be found on the task bar.
    event->ignore();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}

bool MainWindow::isSlotPageVisible(int slot) const { return m_pages->isTabVisible(slot - 1); }

void MainWindow::setSlotPageVisible(int slot, bool visible) { m_pages->setTabVisible(slot - 1, visible); }

QPlainTextEdit* MainWindow::paneOf(int slot) const {
    if (slot >= 1 && slot <= app::SlotViewModel::kSlots) return slotPage(slot)->pane();
    return m_runLogPane;
}

// The model calls these under its lock from any thread; queueing (not blocking) keeps the
// order and cannot deadlock against a UI-thread reader of the model.
void MainWindow::appendPane(int slot, const std::string& line) {
    QString text = QString::fromStdString(line);
    QMetaObject::invokeMethod(this, [this, slot, text] {
        if (text.isEmpty())
            paneOf(slot)->clear();
        else
            paneOf(slot)->appendPlainText(text);
    }, Qt::QueuedConnection);
}

void MainWindow::setLabel(int slot, int which, const std::string& text) {
    QString t = QString::fromStdString(text);
    QMetaObject::invokeMethod(this, [this, slot, which, t] {
        if (slot >= 1 && slot <= app::SlotViewModel::kSlots) slotPage(slot)->label(which)->setText(t);
    }, Qt::QueuedConnection);
}

void MainWindow::setProgressRange(int slot, int bar, int min, int max) {
    QMetaObject::invokeMethod(this, [this, slot, bar, min, max] {
        if (slot >= 1 && slot <= app::SlotViewModel::kSlots) slotPage(slot)->bar(bar)->setRange(min, max);
    }, Qt::QueuedConnection);
}

void MainWindow::setProgress(int slot, int bar, int value) {
    QMetaObject::invokeMethod(this, [this, slot, bar, value] {
        if (slot >= 1 && slot <= app::SlotViewModel::kSlots) slotPage(slot)->bar(bar)->setValue(value);
    }, Qt::QueuedConnection);
}

}  // namespace tarvex::ui
