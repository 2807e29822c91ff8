#pragma once
// A plain text dialog over one settings section (a JSON text or the column list), used by the
// buttons whose own dialogs come later, so every section stays reachable. UI thread only.
#include <QDialog>
#include <functional>
#include <optional>
#include <string>

class QPlainTextEdit;

namespace tarvex::ui {

class TextEditDialog : public QDialog {
    Q_OBJECT
public:
    // `validate` returns "" when the text may be taken, else the message to show.
    TextEditDialog(const QString& title, const QString& hint, const std::string& text,
                   std::function<std::string(const std::string&)> validate, QWidget* parent = nullptr);
    std::string text() const;
    QPlainTextEdit* editor() const { return m_edit; }

    // Shows the dialog modally; the edited text on OK, nullopt on cancel.
    static std::optional<std::string> edit(QWidget* parent, const QString& title, const QString& hint,
                                           const std::string& text,
                                           std::function<std::string(const std::string&)> validate = {});

    void accept() override;

private:
    QPlainTextEdit* m_edit;
    std::function<std::string(const std::string&)> m_validate;
};

// Validators: the section text of settings key `key` ("" allowed); "" or a column list.
std::string validateJsonSection(const std::string& key, const std::string& text);
std::string validateColumnList(const std::string& text);

}  // namespace tarvex::ui
