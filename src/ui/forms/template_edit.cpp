#include "ui/forms/template_edit.h"

#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTextBlock>

#include "app/forms/post_rule_form.h"

namespace tarvex::ui {

TemplateEdit::TemplateEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, &TemplateEdit::highlight);
}

std::string TemplateEdit::text() const {
    return toPlainText().toStdString();
}

void TemplateEdit::setText(const std::string& text) {
    setPlainText(QString::fromStdString(app::EditorLineBreaks(text)));
}

void TemplateEdit::insertAtCursor(const QString& text) {
    insertPlainText(text);
    setFocus();
}

std::vector<std::pair<int, int>> TemplateEdit::highlighted() const {
    std::vector<std::pair<int, int>> spans;
    for (const auto& sel : extraSelections())
        spans.emplace_back(sel.cursor.selectionStart(), sel.cursor.selectionEnd() - sel.cursor.selectionStart());
    return spans;
}

void TemplateEdit::highlight() {
    // Over the whole text, not line by line: a "{DD:…}" token may run across line ends.
    static const QRegularExpression placeholders(
        QStringLiteral("\\{\\*\\}|\\{参数[1-9]?\\}|\\{DD:.*?\\}|\\{采集字段:.*?\\}|\\{字段:.*?\\}"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    QTextCharFormat format;
    format.setForeground(QColor(0, 0, 255));
    format.setFontWeight(QFont::Bold);
    QList<QTextEdit::ExtraSelection> selections;
    const QString text = document()->toPlainText();
    for (auto it = placeholders.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        QTextEdit::ExtraSelection sel;
        sel.cursor = QTextCursor(document());
        sel.cursor.setPosition(static_cast<int>(m.capturedStart()));
        sel.cursor.setPosition(static_cast<int>(m.capturedEnd()), QTextCursor::KeepAnchor);
        sel.format = format;
        selections.append(sel);
    }
    setExtraSelections(selections);
}

void TemplateEdit::setTokens(std::vector<std::string> tokens) {
    m_tokens = std::move(tokens);
}

QMenu* TemplateEdit::buildContextMenu() {
    QMenu* menu = createStandardContextMenu();
    if (m_tokens.empty()) return menu;
    QAction* first = menu->actions().value(0);
    for (const auto& token : m_tokens) {
        auto* action = new QAction(QString::fromStdString(token), menu);
        connect(action, &QAction::triggered, this, [this, token] { insertAtCursor(QString::fromStdString(token)); });
        menu->insertAction(first, action);
    }
    menu->insertSeparator(first);
    return menu;
}

void TemplateEdit::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = buildContextMenu();
    menu->exec(event->globalPos());
    delete menu;
}

QMenu* attachTokenMenu(QLineEdit* box, const std::vector<std::string>& tokens) {
    auto* menu = new QMenu(box);
    menu->setObjectName("tokenMenu");
    for (const auto& token : tokens) {
        menu->addAction(QString::fromStdString(token), box, [box, token] {
            box->insert(QString::fromStdString(token));
            box->setFocus();
        });
    }
    box->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(box, &QWidget::customContextMenuRequested, menu,
                     [box, menu](const QPoint& pos) { menu->popup(box->mapToGlobal(pos)); });
    return menu;
}

}  // namespace tarvex::ui
