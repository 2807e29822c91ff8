#include "ui/tasks/task_tree_widget.h"

#include <QMimeData>
#include <QStyledItemDelegate>

namespace tarvex::ui {

namespace {
// The selection colour (and the grey of a disabled tree) would hide the red of the current task.
class CurrentTaskDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!index.data(kCurrentTaskRole).toBool()) return;
        option->state &= ~QStyle::State_Selected;
        option->state |= QStyle::State_Enabled;
        option->font.setBold(true);
        option->palette.setColor(QPalette::Text, Qt::red);
        option->backgroundBrush = QBrush(Qt::white);
    }
};
}  // namespace

TaskTreeWidget::TaskTreeWidget(QWidget* parent) : QTreeWidget(parent) {
    setItemDelegate(new CurrentTaskDelegate(this));
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

QStringList TaskTreeWidget::mimeTypes() const {
    return {kTaskMimeType, "text/plain"};
}

QMimeData* TaskTreeWidget::mimeData(const QList<QTreeWidgetItem*>& items) const {
    QStringList entries, names;
    for (auto* item : items) {
        const auto id = item->data(0, kTaskIdRole).toLongLong();
        if (id <= 0) continue;
        entries << QString::number(id) + "|" + item->text(0);
        names << item->text(0);
    }
    if (entries.isEmpty()) return nullptr;
    auto* mime = new QMimeData;
    mime->setData(kTaskMimeType, entries.join('\n').toUtf8());
    mime->setText(names.join('\n'));
    return mime;
}

}  // namespace tarvex::ui
