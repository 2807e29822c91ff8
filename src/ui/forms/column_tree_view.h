#pragma once
// A column list text ("@@@<br/>name###id###parent<br/>…") shown in a tree widget: captions
// "[" + id + "]" + name, the id in Qt::UserRole, folder and leaf icons. UI thread only.
#include <QTreeWidget>
#include <string>

namespace tarvex::ui {

// Replaces the tree's items by the columns of `columnList`, all expanded.
void showColumnTree(QTreeWidget* tree, const std::string& columnList);
// The id of an item ("" for none).
std::string columnIdOf(const QTreeWidgetItem* item);

}  // namespace tarvex::ui
