#include "ui/schedule/schedule_dialogs.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>

#include "platform/run_log.h"
#include "ui/qt/task_icons.h"
#include "ui/tasks/task_tree_widget.h"

namespace tarvex::ui {

namespace {
QString q(const std::string& s) {
    return QString::fromStdString(s);
}

void addNodes(QTreeWidgetItem* parent, const app::TaskNode& node) {
    for (const auto& child : node.children) {
        auto* item = new QTreeWidgetItem(parent, QStringList{q(child.name)});
        item->setData(0, kTaskIdRole, static_cast<qlonglong>(child.taskid));
        item->setIcon(0, child.children.empty() ? taskIcon() : folderIcon());
        addNodes(item, child);
    }
}

const char* const kStageCaptions[] = {"采集列表", "采集内容", "发布内容"};
const char* const kQueueStageCaptions[] = {"列表采集", "内容采集", "发布内容"};
}  // namespace

// ---------------------------------------------------------------------------------------------
// 计划任务设置

ScheduleDialog::ScheduleDialog(const app::Workspace& ws, app::ProcessState& state, platform::Dialogs& dialogs,
                               const app::TaskTree& tree, QWidget* parent)
    : QDialog(parent), m_form(ws, state, dialogs) {
    setWindowTitle("计划任务设置");
    resize(1000, 600);

    m_list = new QTreeWidget;
    m_list->setObjectName("scheduleList");
    m_list->setRootIsDecorated(false);
    QStringList headers;
    for (const char* c : app::ScheduleForm::kColumns) headers << c;
    m_list->setHeaderLabels(headers);
    // Every column as wide as its texts and the task name takes the rest, so the whole line shows
    // without sideways scrolling; the minute list, which can be long, is cut and shown in full
    // in its tooltip.
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setMinimumSectionSize(36);
    for (int c = 0; c < m_list->columnCount(); ++c)
        m_list->header()->setSectionResizeMode(c, c == 1 ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(2, QHeaderView::Interactive);
    m_list->header()->resizeSection(2, 90);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (m_showing) return;
        auto* item = m_list->currentItem();
        if (!item || !item->isSelected()) return;
        m_form.openRow(static_cast<std::size_t>(m_list->indexOfTopLevelItem(item)));
        showEditor();
    });

    m_tasks = new QTreeWidget;
    m_tasks->setObjectName("scheduleTaskTree");
    m_tasks->setHeaderHidden(true);
    auto* root = new QTreeWidgetItem(m_tasks, QStringList{q(tree.root.name.empty() ? "本地任务" : tree.root.name)});
    root->setData(0, kTaskIdRole, -2);
    root->setIcon(0, rootIcon());
    addNodes(root, tree.root);
    m_tasks->expandAll();

    // The editor of one schedule line.
    m_editor = new QGroupBox("计划任务");
    m_editor->setObjectName("scheduleEditor");
    auto* grid = new QGridLayout(m_editor);
    m_taskName = new QLineEdit;
    m_taskName->setReadOnly(true);
    auto* take = new QPushButton("获取任务");
    connect(take, &QPushButton::clicked, this, &ScheduleDialog::takeTask);
    grid->addWidget(new QLabel("任务名称："), 0, 0);
    grid->addWidget(m_taskName, 0, 1);
    grid->addWidget(take, 0, 2);
    auto* stages = new QHBoxLayout;
    for (int s = 0; s < 3; ++s) {
        m_stages[static_cast<std::size_t>(s)] = new QCheckBox(kStageCaptions[s]);
        stages->addWidget(m_stages[static_cast<std::size_t>(s)]);
    }
    stages->addStretch(1);
    grid->addLayout(stages, 1, 0, 1, 3);
    grid->addWidget(new QLabel("每小时第几分钟执行：（Ctrl键多选）"), 2, 0, 1, 3);
    m_minutes = new QListWidget;
    m_minutes->setObjectName("minuteList");
    m_minutes->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_minutes->setViewMode(QListView::IconMode);
    m_minutes->setFlow(QListView::LeftToRight);
    m_minutes->setWrapping(true);
    m_minutes->setResizeMode(QListView::Adjust);
    m_minutes->setGridSize(QSize(34, 22));
    m_minutes->setMovement(QListView::Static);
    for (int m = 0; m < 60; ++m) m_minutes->addItem(QString::number(m));
    grid->addWidget(m_minutes, 3, 0, 1, 3);
    m_days = new QLineEdit;
    m_weekdays = new QLineEdit;
    m_hours = new QLineEdit;
    m_days->setPlaceholderText("留空为每天，例如 1,15");
    m_weekdays->setPlaceholderText("留空为每天，1为星期一 … 7为星期日");
    m_hours->setPlaceholderText("留空为每小时，例如 8,12,23");
    grid->addWidget(new QLabel("每月几号执行："), 4, 0);
    grid->addWidget(m_days, 4, 1, 1, 2);
    grid->addWidget(new QLabel("每周星期几执行："), 5, 0);
    grid->addWidget(m_weekdays, 5, 1, 1, 2);
    grid->addWidget(new QLabel("每日几点执行："), 6, 0);
    grid->addWidget(m_hours, 6, 1, 1, 2);
    auto* editButtons = new QHBoxLayout;
    auto* save = new QPushButton("保存任务");
    auto* cancel = new QPushButton("取消编辑");
    connect(save, &QPushButton::clicked, this, &ScheduleDialog::saveSchedule);
    connect(cancel, &QPushButton::clicked, this, &ScheduleDialog::cancelEdit);
    editButtons->addStretch(1);
    editButtons->addWidget(save);
    editButtons->addWidget(cancel);
    grid->addLayout(editButtons, 7, 0, 1, 3);

    auto* right = new QWidget;
    auto* rightLay = new QVBoxLayout(right);
    rightLay->setContentsMargins(0, 0, 0, 0);
    rightLay->addWidget(m_tasks, 1);
    rightLay->addWidget(m_editor, 2);

    auto* split = new QSplitter;
    split->addWidget(m_list);
    split->addWidget(right);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setSizes({620, 380});

    auto* buttons = new QHBoxLayout;
    auto* add = new QPushButton("新建任务");
    auto* del = new QPushButton("删除任务");
    m_start = new QPushButton("开始任务");
    m_stop = new QPushButton("停止任务");
    connect(add, &QPushButton::clicked, this, &ScheduleDialog::newSchedule);
    connect(del, &QPushButton::clicked, this, &ScheduleDialog::deleteSchedule);
    connect(m_start, &QPushButton::clicked, this, &ScheduleDialog::startScheduling);
    connect(m_stop, &QPushButton::clicked, this, &ScheduleDialog::stopScheduling);
    for (auto* b : {add, del}) buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);

    auto* lay = new QVBoxLayout(this);
    lay->addWidget(split, 1);
    lay->addLayout(buttons);

    showRows();
    showEditor();
    refreshSwitch();
}

QPushButton* ScheduleDialog::button(const QString& text) const {
    for (auto* b : findChildren<QPushButton*>())
        if (b->text() == text) return b;
    return nullptr;
}

void ScheduleDialog::showRows() {
    m_showing = true;
    m_list->clear();
    for (std::size_t r = 0; r < m_form.rows().size(); ++r) {
        QStringList cells;
        for (const auto& c : m_form.rowCells(r)) cells << q(c);
        auto* item = new QTreeWidgetItem(m_list, cells);
        for (int c = 0; c < cells.size(); ++c) item->setToolTip(c, cells[c]);
    }
    if (auto row = m_form.editedRow(); row && m_form.editorOpen())
        if (auto* item = m_list->topLevelItem(static_cast<int>(*row))) m_list->setCurrentItem(item);
    m_showing = false;
}

void ScheduleDialog::showEditor() {
    m_editor->setVisible(m_form.editorOpen());
    const auto& e = m_form.editor();
    m_taskName->setText(q(e.taskName));
    for (int s = 0; s < 3; ++s)
        m_stages[static_cast<std::size_t>(s)]->setChecked(e.stages[static_cast<std::size_t>(s)]);
    m_minutes->clearSelection();
    for (int m : e.minutes)
        if (auto* item = m_minutes->item(m)) item->setSelected(true);
    m_days->setText(q(e.days));
    m_weekdays->setText(q(e.weekdays));
    m_hours->setText(q(e.hours));
}

void ScheduleDialog::readEditor() {
    auto& e = m_form.editor();
    e.taskName = m_taskName->text().toStdString();
    for (int s = 0; s < 3; ++s)
        e.stages[static_cast<std::size_t>(s)] = m_stages[static_cast<std::size_t>(s)]->isChecked();
    e.minutes.clear();
    for (int m = 0; m < m_minutes->count(); ++m)
        if (m_minutes->item(m)->isSelected()) e.minutes.push_back(m);
    e.days = m_days->text().toStdString();
    e.weekdays = m_weekdays->text().toStdString();
    e.hours = m_hours->text().toStdString();
}

void ScheduleDialog::newSchedule() {
    m_form.newSchedule();
    m_showing = true;
    m_list->clearSelection();
    m_showing = false;
    showEditor();
}

void ScheduleDialog::takeTask() {
    readEditor();
    std::optional<std::pair<std::int64_t, std::string>> selected;
    if (auto* item = m_tasks->currentItem(); item && item->isSelected())
        selected = std::make_pair(static_cast<std::int64_t>(item->data(0, kTaskIdRole).toLongLong()),
                                  item->text(0).toStdString());
    m_form.takeTask(selected);
    m_taskName->setText(q(m_form.editor().taskName));
}

void ScheduleDialog::saveSchedule() {
    readEditor();
    const bool saved = m_form.save();
    if (saved) showRows();
    // The number lists come back normalised (or as typed when refused).
    showEditor();
}

void ScheduleDialog::deleteSchedule() {
    std::optional<std::size_t> row;
    if (auto* item = m_list->currentItem(); item && item->isSelected())
        row = static_cast<std::size_t>(m_list->indexOfTopLevelItem(item));
    if (m_form.deleteRow(row)) {
        showRows();
        showEditor();
    }
}

void ScheduleDialog::cancelEdit() {
    m_form.cancelEdit();
    showEditor();
}

void ScheduleDialog::startScheduling() {
    m_form.setScheduling(true);
    refreshSwitch();
}

void ScheduleDialog::stopScheduling() {
    m_form.setScheduling(false);
    refreshSwitch();
}

void ScheduleDialog::refreshSwitch() {
    m_start->setEnabled(m_form.startEnabled());
    m_stop->setEnabled(m_form.stopEnabled());
}

// ---------------------------------------------------------------------------------------------
// 添加到任务队列

AddToQueueDialog::AddToQueueDialog(app::ProcessState& state, platform::Dialogs& dialogs, std::int64_t taskId,
                                   std::string taskName, QWidget* parent)
    : QDialog(parent), m_state(state), m_dialogs(dialogs), m_taskId(taskId), m_taskName(std::move(taskName)) {
    setWindowTitle("添加到任务队列");
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(new QLabel("任务：" + q(m_taskName)));
    auto* boxes = new QHBoxLayout;
    for (int s = 0; s < 3; ++s) {
        auto* box = new QCheckBox(kQueueStageCaptions[s]);
        box->setChecked(true);
        m_stages[static_cast<std::size_t>(s)] = box;
        boxes->addWidget(box);
    }
    lay->addLayout(boxes);
    auto* bb = new QDialogButtonBox;
    bb->addButton("确定", QDialogButtonBox::AcceptRole);
    bb->addButton("取消", QDialogButtonBox::RejectRole);
    connect(bb, &QDialogButtonBox::accepted, this, &AddToQueueDialog::accept);
    connect(bb, &QDialogButtonBox::rejected, this, &QDialog::reject);
    lay->addWidget(bb);
}

void AddToQueueDialog::accept() {
    const std::array<bool, 3> stages{m_stages[0]->isChecked(), m_stages[1]->isChecked(), m_stages[2]->isChecked()};
    // No step ticked: the dialog stays open for another choice.
    if (!stages[0] && !stages[1] && !stages[2]) {
        m_dialogs.message("至少勾选一个操作步聚", platform::kAppTitle);
        return;
    }
    m_queued = app::AddToWaitingQueue(m_state, m_dialogs, m_taskId, m_taskName, stages);
    QDialog::accept();
}

// ---------------------------------------------------------------------------------------------
// 等待运行的任务

WaitingQueueWindow::WaitingQueueWindow(app::ProcessState& state, QWidget* parent) : QDialog(parent), m_state(state) {
    setWindowTitle("等待运行的任务");
    resize(520, 420);
    m_waiting = new QListWidget;
    m_waiting->setObjectName("waitingList");
    m_ran = new QListWidget;
    m_ran->setObjectName("ranList");
    auto* up = new QPushButton("↑");
    auto* down = new QPushButton("↓");
    auto* del = new QPushButton("X");
    up->setToolTip("上移");
    down->setToolTip("下移");
    del->setToolTip("删除");
    connect(up, &QPushButton::clicked, this, &WaitingQueueWindow::moveUp);
    connect(down, &QPushButton::clicked, this, &WaitingQueueWindow::moveDown);
    connect(del, &QPushButton::clicked, this, &WaitingQueueWindow::deleteSelected);
    auto* side = new QVBoxLayout;
    side->addWidget(up);
    side->addWidget(down);
    side->addWidget(del);
    side->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(m_waiting, 1);
    top->addLayout(side);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(new QLabel("等待运行的任务："));
    lay->addLayout(top, 1);
    lay->addWidget(new QLabel("已运行的任务："));
    lay->addWidget(m_ran, 1);
    // The scheduler empties the queue as it starts tasks.
    connect(&m_timer, &QTimer::timeout, this, &WaitingQueueWindow::refresh);
    m_timer.start(1000);
    refresh();
}

void WaitingQueueWindow::refresh() {
    auto fill = [](QListWidget* list, const std::vector<std::string>& items) {
        const QString selected = list->currentItem() ? list->currentItem()->text() : QString();
        QStringList texts;
        for (const auto& i : items) texts << q(i);
        QStringList shown;
        for (int r = 0; r < list->count(); ++r) shown << list->item(r)->text();
        if (shown == texts) return;
        list->clear();
        list->addItems(texts);
        const auto found = list->findItems(selected, Qt::MatchExactly);
        if (!selected.isEmpty() && !found.isEmpty()) list->setCurrentItem(found.first());
    };
    fill(m_waiting, app::WaitingTasks(m_state));
    fill(m_ran, app::RanTasks(m_state));
}

void WaitingQueueWindow::move(int delta) {
    const int row = m_waiting->currentRow();
    if (row < 0) return;
    const int to = app::MoveQueueEntry(m_state, row, delta);
    refresh();
    m_waiting->setCurrentRow(to);
}

void WaitingQueueWindow::moveUp() {
    move(-1);
}

void WaitingQueueWindow::moveDown() {
    move(+1);
}

void WaitingQueueWindow::deleteSelected() {
    auto* item = m_waiting->currentItem();
    if (!item) return;
    try {
        app::DeleteQueueEntries(m_state, item->text().toStdString());
    } catch (const std::exception& e) {
        platform::WriteLog(std::string("TWaitTaskShowForm|删除待运行任务错误：") + e.what(), 0);
    }
    refresh();
}

}  // namespace tarvex::ui
