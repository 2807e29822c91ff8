#include "ui/text_edit_dialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/settings_document.h"
#include "platform/ports.h"

namespace tarvex::ui {

TextEditDialog::TextEditDialog(const QString& title, const QString& hint, const std::string& text,
                               std::function<std::string(const std::string&)> validate, QWidget* parent)
    : QDialog(parent), m_validate(std::move(validate)) {
    setWindowTitle(title);
    resize(640, 420);
    auto* lay = new QVBoxLayout(this);
    if (!hint.isEmpty()) {
        auto* label = new QLabel(hint);
        label->setWordWrap(true);
        lay->addWidget(label);
    }
    m_edit = new QPlainTextEdit;
    m_edit->setObjectName("sectionText");
    m_edit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_edit->setPlainText(QString::fromStdString(text));
    lay->addWidget(m_edit, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText("确定");
    buttons->button(QDialogButtonBox::Cancel)->setText("取消");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    lay->addWidget(buttons);
}

std::string TextEditDialog::text() const {
    return m_edit->toPlainText().toStdString();
}

void TextEditDialog::accept() {
    if (m_validate) {
        const std::string problem = m_validate(text());
        if (!problem.empty()) {
            QMessageBox::warning(this, platform::kAppTitle, QString::fromStdString(problem));
            return;
        }
    }
    QDialog::accept();
}

std::optional<std::string> TextEditDialog::edit(QWidget* parent, const QString& title, const QString& hint,
                                                const std::string& text,
                                                std::function<std::string(const std::string&)> validate) {
    TextEditDialog dialog(title, hint, text, std::move(validate), parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.text();
}

std::string validateJsonSection(const std::string& key, const std::string& text) {
    const std::string trimmed = app::TrimText(text);
    auto problem = app::SectionTextProblem(key, trimmed);
    return problem ? *problem + "，请修改后再确定" : std::string();
}

std::string validateColumnList(const std::string& text) {
    if (app::TrimText(text).empty() || text.find("@@@") != std::string::npos) return {};
    return "栏目列表必须包含\"@@@\"";
}

}  // namespace tarvex::ui
