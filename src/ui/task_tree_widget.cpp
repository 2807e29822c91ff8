#include "ui/task_tree_widget.h"

#include <QMimeData>

namespace tarvex::ui {

TaskTreeWidget::TaskTreeWidget(QWidget* parent) : QTreeWidget(parent) {
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

QStringList TaskTreeWidget::mimeTypes() const { return {kTaskMimeType, "text/plain"}; }

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
