#pragma once
// The "列表设置" window: the list sources (addresses, composed ranges, text imports), the list
// area and its rewrite, the link pattern with list-page fields, filters, time-out, order and
// the list pages' pagination. OK refuses what the list stage could not use.
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "app/forms/list_settings_form.h"
#include "platform/ports.h"

namespace tarvex::ui {

class SourcePane;

class ListSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // `contentFields`: the task's field titles, which list-page fields may not reuse.
    // Refusals are shown through `dialogs`, which must outlive the window.
    ListSettingsDialog(const std::string& json, std::vector<std::string> contentFields, std::string programFolder,
                       platform::Dialogs& dialogs, QWidget* parent = nullptr);
    std::string json() const { return m_json; }
    app::ListSettingsForm form() const;

    // The source entry editors, public so tests drive them like a person.
    QLineEdit* addressEdit() const { return m_address; }
    QLineEdit* templateEdit() const { return m_template; }
    QLineEdit* firstEdit() const { return m_first; }
    QLineEdit* lastEdit() const { return m_last; }
    QLineEdit* stepEdit() const { return m_step; }
    QLineEdit* importEdit() const { return m_import; }
    QListWidget* sourceList() const { return m_sources; }
    QLineEdit* beginEdit() const { return m_begin; }
    QLineEdit* endEdit() const { return m_end; }
    QPlainTextEdit* patternEdit() const { return m_pattern; }

    // The task's settings text: the source pane and "测试列表" fetch with its options, charset
    // and cookie. Without it the defaults of a new task apply.
    void setTaskSettings(std::string settingsJson);
    SourcePane* sourcePane() const { return m_pane; }
    QPlainTextEdit* testOutput() const { return m_testOutput; }
    // Highlights what the list area and link pattern match in the shown page.
    void updatePreview();
    // "测试列表": the area, the links and the warnings for the pane's address.
    void testList();
    // The insert buttons beside the link pattern.
    void insertIntoPattern(const QString& text);
    void insertListField();

public slots:
    void accept() override;
    void addAddress();
    void addComposition();
    void addImport();
    void removeSource();
    void editPagination();

private:
    void setForm(const app::ListSettingsForm& f);
    void addEntry(const app::SourceEntry& e);
    void refuse(const std::string& text);

    platform::Dialogs& m_dialogs;
    std::vector<std::string> m_contentFields;
    std::string m_programFolder;
    std::string m_pagination;
    std::string m_json;

    QLineEdit* m_address;
    QLineEdit* m_template;
    QLineEdit* m_first;
    QLineEdit* m_last;
    QLineEdit* m_step;
    QLineEdit* m_import;
    QListWidget* m_sources;
    QLineEdit* m_begin;
    QLineEdit* m_end;
    QPlainTextEdit* m_rewriteFrom;
    QPlainTextEdit* m_rewriteTo;
    QPlainTextEdit* m_pattern;
    QLineEdit* m_include;
    QLineEdit* m_exclude;
    QCheckBox* m_noReferer;
    QLineEdit* m_timeout;
    QCheckBox* m_uniqueTitles;
    QButtonGroup* m_sort;
    QPushButton* m_paginationButton;

    QWidget* buildTestPanel();
    std::string testDocument() const;
    std::string m_settingsJson;
    SourcePane* m_pane = nullptr;
    QPlainTextEdit* m_testOutput = nullptr;
    QTimer m_previewTimer;
};

}  // namespace tarvex::ui
