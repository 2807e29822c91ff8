#include "ui/forms/column_tree_view.h"

#include "app/tasks/column_tree.h"
#include "ui/qt/task_icons.h"

namespace tarvex::ui {

namespace {
void addColumnItems(QTreeWidgetItem* parent, QTreeWidget* tree, const std::vector<app::ColumnNode>& nodes) {
    for (const auto& node : nodes) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
        item->setText(0, QString::fromStdString(node.caption()));
        item->setData(0, Qt::UserRole, QString::fromStdString(node.id));
        item->setIcon(0, node.children.empty() ? columnIcon() : folderIcon());
        addColumnItems(item, tree, node.children);
    }
}
}  // namespace

void showColumnTree(QTreeWidget* tree, const std::string& columnList) {
    tree->clear();
    addColumnItems(nullptr, tree, app::BuildColumnTree(columnList));
    tree->expandAll();
}

std::string columnIdOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, Qt::UserRole).toString().toStdString() : std::string();
}

}  // namespace tarvex::ui
