#pragma once
// The "分页设置" window: edits a pagination settings text (content pages' "mulpage" or list
// pages' "More_mulpage"). OK refuses an incomplete form with the form's message.
#include <QButtonGroup>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>

#include "app/forms/list_settings_form.h"
#include "platform/ports.h"

namespace tarvex::ui {

class PaginationDialog : public QDialog {
    Q_OBJECT
public:
    // Refusals are shown through `dialogs`, which must outlive the window.
    PaginationDialog(const std::string& json, platform::Dialogs& dialogs, QWidget* parent = nullptr);
    // The settings as stored; valid after the dialog was accepted.
    std::string json() const { return m_json; }
    app::PaginationForm form() const;
    void setForm(const app::PaginationForm& f);

public slots:
    void accept() override;

private:
    platform::Dialogs& m_dialogs;
    QLineEdit* m_begin;
    QLineEdit* m_end;
    QLineEdit* m_include;
    QLineEdit* m_exclude;
    QSpinBox* m_max;
    QLineEdit* m_time;
    QButtonGroup* m_mode;
    QLineEdit* m_regex;
    QPlainTextEdit* m_rewriteFrom;
    QPlainTextEdit* m_rewriteTo;
    std::string m_json;
};

}  // namespace tarvex::ui
