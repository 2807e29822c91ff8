#pragma once
// The "内容处理" page of the field editor as values: what each post-processing rule page shows
// (inputs, captions, the values a new rule starts with), a rule read from and written to its JSON
// text, and the rule list with its commands ("新建", click to edit, the page's button, "删除",
// "↑", "↓"). No Qt: the field editor window builds its pages from these descriptions. UI thread.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvex::app {

// The kind of control an input of a rule page is.
enum class RuleInputKind {
    Line,        // one line of text
    Template,    // several lines with placeholder highlighting and the "{*}"/"{参数1}" buttons
    Text,        // several lines of plain text
    Check,       // a check box: "-1" / "0"
    Choice,      // radio buttons: the index of the chosen one as text ("0", "1", …)
    WordList,    // the list files of a word-list folder; the value is a list name
    File,        // a file path with a "选择" button
    HtmlFilter,  // the 24 markup filters; the value is the chosen numbers, each followed by ","
};

struct RuleInput {
    std::string key;
    RuleInputKind kind = RuleInputKind::Line;
    std::string caption;
    std::string initial;               // the value a new rule starts with
    std::vector<std::string> choices;  // captions of a Choice
    bool resetButton = false;          // a "默认" button puts `initial` back
};

struct RulePage {
    std::string type;    // the rule's "type"
    std::string menu;    // caption in the "新建" menu
    std::string group;   // "" (top of the menu), "高级功能" or "扩展插件"
    std::string folder;  // for WordList inputs: "Plugin/…/" of the program folder
    std::vector<RuleInput> inputs;
};

// Every rule page in the order of the "新建" menu.
const std::vector<RulePage>& RulePages();
// The page of a rule type; nullptr for a type the editor does not know.
const RulePage* RulePageOf(const std::string& type);
// Captions of the markup filters 0–23, in number order.
const std::vector<std::string>& HtmlFilterCaptions();

// One rule as its page shows it: the type and a value per input key, in page order.
struct PostRuleForm {
    std::string type;
    std::vector<std::pair<std::string, std::string>> values;

    // The page's inputs with their initial values.
    static PostRuleForm blank(const std::string& type);
    // The rule of a JSON text; keys the text lacks take the page's initial values. nullopt when
    // the text is not a JSON object.
    static std::optional<PostRuleForm> fromJson(const std::string& text);
    // {"type": …, then the page's keys in page order}; line breaks of several-line inputs
    // written as CR LF (so templates match pages of either line-end convention), CR and LF
    // removed where the rule language wants them gone.
    std::string toJson() const;

    std::string value(const std::string& key) const;  // "" when the page has no such input
    void set(const std::string& key, const std::string& value);
};

// The rule list of a field with the page currently shown.
class PostRuleList {
public:
    explicit PostRuleList(std::vector<std::string> rules = {}) : m_rules(std::move(rules)) {}

    const std::vector<std::string>& rules() const { return m_rules; }
    // Row texts: "序" (1-based), "规则" (type) and "内容" (the JSON text).
    struct Row {
        std::string number, type, content;
    };
    std::vector<Row> rows() const;

    // The selected row, -1 when none.
    int selected() const { return m_selected; }
    // The page shown, nullopt before a rule is opened.
    const std::optional<PostRuleForm>& page() const { return m_page; }
    PostRuleForm* editPage() { return m_page ? &*m_page : nullptr; }

    // "新建": the page of `type` with its initial values; the list is unselected, so the page's
    // button appends.
    void create(const std::string& type);
    // Clicking a row selects it and loads its rule into its page; the page's button then
    // replaces it. False, with no page shown, for a rule the editor has no page for (it can
    // still be moved or deleted); false and nothing changed for a row that does not exist.
    bool select(int index);
    // The page's button: checks the rule (the refusal is returned and nothing changes), then
    // appends it or replaces the selected row; the stored row is selected.
    std::optional<std::string> commit(const std::string& programFolder);
    // "删除": removes the selected row; the rows renumber. False with nothing selected.
    bool remove();
    // "↑" (-1) and "↓" (+1): swaps the selected row with its neighbour; the first row up and
    // the last row down stay. True when it moved.
    bool move(int delta);

private:
    std::vector<std::string> m_rules;
    int m_selected = -1;
    std::optional<PostRuleForm> m_page;
};

// Line breaks as the rule language expects them: CR LF, lone CR and lone LF all become CR LF.
std::string RuleLineBreaks(const std::string& text);
// Line breaks as a text box shows them: CR LF and lone CR become LF.
std::string EditorLineBreaks(const std::string& text);

}  // namespace tarvex::app
