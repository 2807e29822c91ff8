#pragma once
// Icons of the task tree and the column tree, drawn or taken from the style so the program
// needs no image files. UI thread only.
#include <QIcon>

class QToolButton;

namespace tarvex::ui {

QIcon rootIcon();        // "本地任务"
QIcon folderIcon();      // a task or column with children
QIcon taskIcon();        // a task without sub-tasks
QIcon columnIcon();      // a column without children
QIcon addNodeIcon();     // "增加栏目节点"
QIcon deleteNodeIcon();  // "删除栏目节点"
QIcon clearNodesIcon();  // "清空栏目节点"

// A tool button showing `icon` with `caption` beside it (also its tool tip), named `objectName`.
QToolButton* iconButton(const char* objectName, const char* caption, const QIcon& icon);

}  // namespace tarvex::ui
