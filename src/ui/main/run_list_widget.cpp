#include "ui/main/run_list_widget.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QVBoxLayout>

#include "ui/tasks/task_tree_widget.h"

namespace tarvex::ui {

RunListWidget::RunListWidget(app::RunList& model, QWidget* parent) : QWidget(parent), m_model(model) {
    m_tree = new QTreeWidget;
    m_tree->setObjectName("runList");
    m_tree->setColumnCount(6);
    m_tree->setHeaderLabels({"序", "任务名", "执行状态", "列表", "内容", "发布"});
    m_tree->setRootIsDecorated(false);
    m_tree->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->setAcceptDrops(true);
    m_tree->viewport()->setAcceptDrops(true);
    m_tree->viewport()->installEventFilter(this);

    m_start = new QPushButton("开始运行");
    m_pause = new QPushButton("暂停");
    m_stop = new QPushButton("停止");
    m_buttonBar = new QWidget;
    auto* buttons = new QHBoxLayout(m_buttonBar);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(m_start);
    buttons->addWidget(m_pause);
    buttons->addWidget(m_stop);
    buttons->addStretch(1);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(m_tree, 1);
    lay->addWidget(m_buttonBar);

    connect(m_start, &QPushButton::clicked, this, &RunListWidget::start);
    connect(m_pause, &QPushButton::clicked, this, &RunListWidget::pause);
    connect(m_stop, &QPushButton::clicked, this, &RunListWidget::stop);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, [this] {
        refreshButtons();
        if (auto row = selectedRow()) {
            auto rows = m_model.rows();
            if (*row < static_cast<int>(rows.size())) emit rowSelected(rows[static_cast<std::size_t>(*row)].slot);
        }
    });
    connect(m_tree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (m_rebuilding || column < 3) return;
        m_model.setStage(m_tree->indexOfTopLevelItem(item), column - 3, item->checkState(column) == Qt::Checked);
    });
    connect(m_tree, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (!m_tree->itemAt(pos)) return;
        QMenu menu;
        menu.addAction("移除此任务", this, &RunListWidget::removeSelected);
        menu.exec(m_tree->viewport()->mapToGlobal(pos));
    });
    // Runner threads change the model; the rows are rebuilt on this widget's thread.
    m_model.setOnChanged([this] { QMetaObject::invokeMethod(this, &RunListWidget::refresh, Qt::QueuedConnection); });
    refresh();
}

std::optional<int> RunListWidget::selectedRow() const {
    auto* item = m_tree->currentItem();
    if (!item || !item->isSelected()) return std::nullopt;
    return m_tree->indexOfTopLevelItem(item);
}

void RunListWidget::selectRow(int row) {
    if (auto* item = m_tree->topLevelItem(row)) {
        m_tree->setCurrentItem(item);
        item->setSelected(true);
    }
}

void RunListWidget::refresh() {
    const auto rows = m_model.rows();
    const auto selected = selectedRow();
    m_rebuilding = true;
    while (m_tree->topLevelItemCount() > static_cast<int>(rows.size()))
        delete m_tree->takeTopLevelItem(m_tree->topLevelItemCount() - 1);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto* item = m_tree->topLevelItem(static_cast<int>(i));
        if (!item) item = new QTreeWidgetItem(m_tree);
        item->setText(0, QString::number(i + 1));
        item->setText(1, QString::fromStdString(rows[i].name));
        item->setText(2, QString::fromStdString(rows[i].state));
        for (int s = 0; s < 3; ++s) {
            item->setText(3 + s, "1");
            item->setCheckState(3 + s, rows[i].stages[static_cast<std::size_t>(s)] ? Qt::Checked : Qt::Unchecked);
        }
    }
    m_rebuilding = false;
    if (selected && *selected < m_tree->topLevelItemCount()) selectRow(*selected);
    refreshButtons();
    emit modelChanged();
}

void RunListWidget::refreshButtons() {
    auto b = m_model.RefreshRunButtons(selectedRow());
    m_start->setText(QString::fromStdString(b.startCaption));
    m_start->setEnabled(b.start);
    m_pause->setEnabled(b.pause);
    m_stop->setEnabled(b.stop);
}

void RunListWidget::start() {
    if (auto row = selectedRow()) m_model.StartRunAsked(*row);
    refresh();
}

void RunListWidget::pause() {
    if (auto row = selectedRow()) m_model.PauseRun(*row);
    refresh();
}

void RunListWidget::stop() {
    if (auto row = selectedRow()) m_model.StopRun(*row);
    refresh();
}

void RunListWidget::removeSelected() {
    if (auto row = selectedRow()) m_model.RemoveFromRunList(*row);
    refresh();
}

bool RunListWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_tree->viewport()) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* e = static_cast<QDropEvent*>(event);
        if (e->mimeData()->hasFormat(kTaskMimeType)) {
            e->acceptProposedAction();
            return true;
        }
    } else if (event->type() == QEvent::Drop) {
        auto* e = static_cast<QDropEvent*>(event);
        const QString data = QString::fromUtf8(e->mimeData()->data(kTaskMimeType));
        for (const QString& line : data.split('\n', Qt::SkipEmptyParts)) {
            const int bar = line.indexOf('|');
            if (bar <= 0) continue;
            bool ok = false;
            const qlonglong id = line.left(bar).toLongLong(&ok);
            if (ok && id > 0) m_model.AddToRunList(id, line.mid(bar + 1).toStdString());
        }
        e->acceptProposedAction();
        refresh();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tarvex::ui
