#pragma once
// The target site's column list ("post_class_tree") and the column tree of the publishing tab:
// parsing the list text, building the tree, and the three hand edits (add, delete, clear).
// Pure functions over text; the edits ask through the Dialogs port.
#include <optional>
#include <string>
#include <vector>

#include "platform/ports.h"

namespace tarvex::app {

// One column piece: name "###" id "###" parent id (further "###" parts ignored).
struct ColumnEntry {
    std::string name, id, parentId;
    std::string piece;  // the piece as it stands in the text
};

struct ColumnNode {
    std::string id;
    std::string name;
    std::vector<ColumnNode> children;
    // "[" + id + "]" + name
    std::string caption() const { return "[" + id + "]" + name; }
};

// The entries of a column list text, in list order; nullopt when the text holds no "@@@".
// The pieces before the first and after the last "<br/>" are ignored.
std::optional<std::vector<ColumnEntry>> ParseColumnList(const std::string& text);

// The column tree: top level are the entries whose parent id text is the smallest parent id of
// the list; children are matched by text. A column is shown at most once, so a
// list whose parents form a loop still ends.
std::vector<ColumnNode> BuildColumnTree(const std::string& text);

// The node with this id, depth first; nullptr when none.
const ColumnNode* FindColumn(const std::vector<ColumnNode>& tree, const std::string& id);

// The id of a node caption: the text between the leading "[" and the first "]".
std::string ColumnIdOfCaption(const std::string& caption);

// "增加栏目节点": asks for "id,title", appends the entry to `text` and returns the new id (the
// column to select); nullopt when cancelled or refused (message shown, `text` unchanged).
std::optional<std::string> AddColumnNode(std::string& text, platform::Dialogs& dialogs);

// "删除栏目节点" for the selected column id ("" = none): refuses without a selection or when
// the column has children; otherwise removes every entry with that id. True when changed.
bool DeleteColumnNode(std::string& text, const std::string& selectedId, platform::Dialogs& dialogs);

// "清空栏目节点": after confirmation empties the text. True when emptied.
bool ClearColumnNodes(std::string& text, platform::Dialogs& dialogs);

}  // namespace tarvex::app
