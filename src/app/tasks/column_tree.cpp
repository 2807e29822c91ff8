#include "app/tasks/column_tree.h"

#include <algorithm>
#include <set>

#include "app/tasks/settings_document.h"

namespace tarvex::app {

namespace {
std::vector<std::string> split(const std::string& text, const std::string& sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        auto pos = text.find(sep, start);
        if (pos == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, pos - start));
        start = pos + sep.size();
    }
}

std::optional<long long> integerOf(const std::string& text) {
    if (text.empty()) return std::nullopt;
    try {
        std::size_t used = 0;
        long long n = std::stoll(text, &used, 10);
        if (used != text.size()) return std::nullopt;
        return n;
    } catch (...) {
        return std::nullopt;
    }
}

void addChildren(ColumnNode& node, const std::vector<ColumnEntry>& entries, std::set<std::size_t>& used) {
    auto id = integerOf(node.id);
    if (!id) return;
    const std::string key = std::to_string(*id);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (used.count(i) || entries[i].parentId != key) continue;
        used.insert(i);
        node.children.push_back({entries[i].id, entries[i].name, {}});
    }
    for (auto& child : node.children) addChildren(child, entries, used);
}

}  // namespace

std::optional<std::vector<ColumnEntry>> ParseColumnList(const std::string& text) {
    if (text.find("@@@") == std::string::npos) return std::nullopt;
    auto pieces = split(text, "<br/>");
    std::vector<ColumnEntry> entries;
    for (std::size_t i = 1; i + 1 < pieces.size(); ++i) {
        auto parts = split(pieces[i], "###");
        ColumnEntry e;
        e.piece = pieces[i];
        e.name = parts[0];
        if (parts.size() > 1) e.id = parts[1];
        if (parts.size() > 2) e.parentId = parts[2];
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<ColumnNode> BuildColumnTree(const std::string& text) {
    std::vector<ColumnNode> top;
    auto entries = ParseColumnList(text);
    if (!entries) return top;
    // The top level is the smallest parent id of the list itself: 0 or -1 in the usual lists,
    // but a site whose top columns all hang below column 1 still shows them.
    std::optional<long long> smallest;
    for (const auto& e : *entries)
        if (auto p = integerOf(e.parentId)) smallest = smallest ? std::min(*smallest, *p) : *p;
    if (!smallest) return top;
    const std::string topKey = std::to_string(*smallest);
    std::set<std::size_t> used;
    for (std::size_t i = 0; i < entries->size(); ++i) {
        if ((*entries)[i].parentId != topKey) continue;
        used.insert(i);
        top.push_back({(*entries)[i].id, (*entries)[i].name, {}});
    }
    for (auto& node : top) addChildren(node, *entries, used);
    return top;
}

const ColumnNode* FindColumn(const std::vector<ColumnNode>& tree, const std::string& id) {
    for (const auto& node : tree) {
        if (node.id == id) return &node;
        if (auto* found = FindColumn(node.children, id)) return found;
    }
    return nullptr;
}

std::string ColumnIdOfCaption(const std::string& caption) {
    if (caption.empty() || caption[0] != '[') return {};
    auto close = caption.find(']');
    if (close == std::string::npos) return {};
    return caption.substr(1, close - 1);
}

std::optional<std::string> AddColumnNode(std::string& text, platform::Dialogs& dialogs) {
    auto answer = dialogs.askText("手动添加栏目节点", "栏目格式:(栏目id,栏目标题)：", "");
    if (!answer) return std::nullopt;
    auto comma = answer->find(',');
    if (comma == std::string::npos) {
        dialogs.message("输入内容格式不对，必须包含英文逗号\",\"", platform::kAppTitle);
        return std::nullopt;
    }
    auto id = integerOf(TrimText(answer->substr(0, comma)));
    if (!id) {
        dialogs.message("栏目id必须是整数：" + answer->substr(0, comma), platform::kAppTitle);
        return std::nullopt;
    }
    const std::string idText = std::to_string(*id);
    if (text.empty()) text = "@@@<br/>";
    text += answer->substr(comma + 1) + "###" + idText + "###0###0<br/>";
    return idText;
}

bool DeleteColumnNode(std::string& text, const std::string& selectedId, platform::Dialogs& dialogs) {
    auto tree = BuildColumnTree(text);
    const ColumnNode* node = selectedId.empty() ? nullptr : FindColumn(tree, selectedId);
    if (!node) {
        dialogs.message("请先选择一个节点后再删除！", platform::kAppTitle);
        return false;
    }
    if (!node->children.empty()) {
        dialogs.message("该节点下有子栏目，请先删除子栏目", platform::kAppTitle);
        return false;
    }
    auto entries = ParseColumnList(text);
    std::string out = "@@@<br/>";
    for (const auto& e : *entries)
        if (e.id != selectedId) out += e.piece + "<br/>";
    text = out;
    return true;
}

bool ClearColumnNodes(std::string& text, platform::Dialogs& dialogs) {
    if (!dialogs.confirm("确认清空全部栏目节点吗？", "删除节点")) return false;
    text.clear();
    return true;
}

}  // namespace tarvex::app
