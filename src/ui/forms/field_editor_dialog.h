#pragma once
// ui/forms: the rule and settings dialogs, each over a form model of app/forms or app/tasks.
// Uses ui/qt only among the ui/ folders.
//
// The field editor "字段设置": the name and its options, the four methods with their pages,
// "内容处理" with a page per post-processing rule, "筛选过滤", "附件下载" and "水印和缩略图".
// It shows an app::FieldEditorForm and, on "保存", hands back the field rule's JSON text; the
// checks and the text are the core's (app/forms/field_editor_form.h). UI thread only.
#include <QDialog>
#include <QTimer>
#include <map>
#include <string>
#include <vector>

#include "app/forms/field_editor_form.h"
#include "platform/ports.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTreeWidget;

namespace tarvex::ui {

class SourcePane;
class TemplateEdit;

class FieldEditorDialog : public QDialog {
    Q_OBJECT
public:
    // `ruleJson` "" opens a new field. `settingsJson` is the task's current settings text (its
    // fields, list-page fields and multi-level pages are offered); `editingIndex` is the edited
    // field's place in "fieldsAll", -1 for a new one. The references must outlive the window.
    FieldEditorDialog(const QString& title, const std::string& ruleJson, std::string settingsJson, int editingIndex,
                      std::string programFolder, platform::Dialogs& dialogs, QWidget* parent = nullptr);

    app::FieldEditorForm form() const;
    void setForm(const app::FieldEditorForm& form);
    // The field rule's JSON text after "保存".
    const std::string& json() const { return m_json; }

    // "保存": checks the form and closes with the rule, or shows the refusal.
    void accept() override;

    // "内容处理" commands.
    void newRule(const std::string& type);
    void selectRule(int index);
    void commitRule();
    void deleteRule();
    void moveRule(int delta);
    // "测试" and "预览".
    void testMadeUp();
    void previewFileName();

    // The source pane beside the tabs, the highlight of what the rule matches in it, and
    // "测试字段": every field of the task (this one as edited) on the pane's address, the empty
    // ones with their reason.
    SourcePane* sourcePane() const { return m_pane; }
    QPlainTextEdit* fieldTestOutput() const { return m_fieldTestOutput; }
    void updatePreview();
    void testFields();
    // The task's settings with this field as the form shows it.
    std::string settingsWithThisField() const;

    QTabWidget* tabs() const { return m_tabs; }
    QTreeWidget* ruleList() const { return m_ruleList; }
    QMenu* newRuleMenu() const { return m_newMenu; }
    // The page of a rule type and one of its inputs by key (nullptr when absent).
    QWidget* rulePage(const std::string& type) const;
    QWidget* ruleInput(const std::string& type, const std::string& key) const;
    QStackedWidget* rulePages() const { return m_rulePages; }

private:
    QWidget* buildRuleTab();
    QWidget* buildPostTab();
    QWidget* buildFilterTab();
    QWidget* buildAttachmentTab();
    QWidget* buildImageTab();
    QWidget* buildSourcePanel();
    QWidget* buildRulePage(const app::RulePage& page);
    void showRules(int select);
    void showRulePage();
    void readRulePage();
    void refreshWordLists(const app::RulePage& page);
    void showMethodPage();
    void showSampleGroup();

    std::string m_settingsJson;
    int m_editingIndex;
    std::string m_programFolder;
    platform::Dialogs& m_dialogs;
    std::vector<std::string> m_levels;
    app::PostRuleList m_rules;
    std::string m_json;

    QTabWidget* m_tabs = nullptr;
    SourcePane* m_pane = nullptr;
    QPlainTextEdit* m_fieldTestOutput = nullptr;
    QTimer m_previewTimer;
    QLineEdit* m_name = nullptr;
    QCheckBox *m_notEmpty = nullptr, *m_everyPage = nullptr, *m_fromLevel = nullptr, *m_repeat = nullptr;
    QComboBox* m_level = nullptr;
    QButtonGroup* m_method = nullptr;
    QStackedWidget* m_methodPages = nullptr;
    QComboBox* m_smartPart = nullptr;  // "智能识别": 正文, 标题, 发布时间, 作者
    TemplateEdit *m_front = nullptr, *m_back = nullptr, *m_pattern = nullptr, *m_output = nullptr;
    QButtonGroup* m_madeUpKind = nullptr;
    TemplateEdit* m_madeUpText = nullptr;
    QLineEdit *m_min = nullptr, *m_max = nullptr;

    QTreeWidget* m_ruleList = nullptr;
    QMenu* m_newMenu = nullptr;
    QStackedWidget* m_rulePages = nullptr;
    std::map<std::string, int> m_pageIndex;                           // type -> page in m_rulePages
    std::map<std::string, std::map<std::string, QWidget*>> m_inputs;  // type -> key -> control

    QCheckBox *m_filterOn = nullptr, *m_filterEmpty = nullptr, *m_filterMin = nullptr, *m_filterMax = nullptr;
    QCheckBox *m_filterInclude = nullptr, *m_filterExclude = nullptr, *m_filterImages = nullptr;
    QCheckBox* m_neverAgain = nullptr;
    QLineEdit *m_minLength = nullptr, *m_maxLength = nullptr, *m_include = nullptr, *m_exclude = nullptr;
    QLineEdit* m_maxImages = nullptr;

    QCheckBox *m_downloadImages = nullptr, *m_downloadAttachment = nullptr, *m_sendReferer = nullptr;
    QCheckBox* m_blankInPath = nullptr;
    QLineEdit *m_fileName = nullptr, *m_sample = nullptr;
    QComboBox* m_prefix = nullptr;
    int m_prefixChoice = 0;
    QGroupBox* m_sampleGroup = nullptr;

    QCheckBox *m_pictureMark = nullptr, *m_methodTwo = nullptr, *m_textMark = nullptr, *m_thumbnail = nullptr;
    QLineEdit *m_markFile = nullptr, *m_transparency = nullptr, *m_quality = nullptr, *m_position = nullptr;
    QLineEdit *m_offsetX = nullptr, *m_offsetY = nullptr, *m_markText = nullptr, *m_color = nullptr;
    QLineEdit *m_fontSize = nullptr, *m_thumbWidth = nullptr, *m_thumbHeight = nullptr, *m_thumbName = nullptr;
};

}  // namespace tarvex::ui
