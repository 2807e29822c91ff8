#pragma once
// Boxes for rule texts: a several-line box that shows placeholders ("{*}", "{参数n}", "{DD:…}",
// "{采集字段:…}", "{字段:…}") in blue bold as the user types, and right-click menus that insert
// tokens at the cursor. UI thread only.
#include <QPlainTextEdit>
#include <string>
#include <vector>

class QLineEdit;
class QMenu;

namespace tarvex::ui {

class TemplateEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TemplateEdit(QWidget* parent = nullptr);

    // The text with LF line ends, and set from a text with any line ends.
    std::string text() const;
    void setText(const std::string& text);
    void insertAtCursor(const QString& text);
    // The highlighted placeholders as (position, length) in the box's text.
    std::vector<std::pair<int, int>> highlighted() const;
    // Puts `tokens` into the box's right-click menu, above the usual editing entries.
    void setTokens(std::vector<std::string> tokens);
    // The right-click menu as it would open now (owned by the caller).
    QMenu* buildContextMenu();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void highlight();
    std::vector<std::string> m_tokens;
};

// Gives a one-line box a right-click menu whose entries insert `tokens` at the cursor. The menu
// is a child of the box named "tokenMenu".
QMenu* attachTokenMenu(QLineEdit* box, const std::vector<std::string>& tokens);

}  // namespace tarvex::ui
