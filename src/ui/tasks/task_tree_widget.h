#pragma once
// The task tree view. Dragging a task node carries it to the run list: the mime type
// kTaskMimeType holds "id|name" per dragged task and the plain text holds the name. UI thread.
#include <QTreeWidget>

namespace tarvex::ui {

inline constexpr const char* kTaskMimeType = "application/x-tarvex-task";

// Item data roles of the task tree.
inline constexpr int kTaskIdRole = Qt::UserRole;
inline constexpr int kParentIdRole = Qt::UserRole + 1;
// True on the node of the task open for editing: drawn bold red on white, selected or not.
inline constexpr int kCurrentTaskRole = Qt::UserRole + 2;

class TaskTreeWidget : public QTreeWidget {
    Q_OBJECT
public:
    explicit TaskTreeWidget(QWidget* parent = nullptr);

protected:
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override;
    QStringList mimeTypes() const override;
};

}  // namespace tarvex::ui
