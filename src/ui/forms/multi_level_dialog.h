#pragma once
// The "多页提取" window: the multi-level pages of a task ("Morepage2"). A list of levels on the
// left; the selected (or new) level's fields on the right with "测试提取" over a test address;
// "保存返回" stores the levels. Every refusal comes from app::MultiLevelForm.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "app/forms/multi_level_form.h"
#include "platform/ports.h"

namespace tarvex::ui {

class SourcePane;

class MultiLevelDialog : public QDialog {
    Q_OBJECT
public:
    // `options` is the task's fetch option block, used by "测试提取"; `fetch` fetches one page
    // ("succ:"/"fail:"). Refusals go through `dialogs`, which must outlive the window.
    MultiLevelDialog(const std::string& morepage2, const std::string& options, app::TestFetch fetch,
                     platform::Dialogs& dialogs, QWidget* parent = nullptr);

    // The "Morepage2" text to store; valid after the dialog was accepted ("" = no levels).
    std::string json() const { return m_json; }
    const app::MultiLevelForm& model() const { return m_form; }

    // The level being edited as the controls show it, and showing one.
    app::LevelForm level() const;
    void setLevel(const app::LevelForm& level);
    // Commands of the buttons.
    void newLevel();
    void saveLevel();
    void deleteLevel();
    void testLevel();
    // The level selected in the list, -1 for a new one.
    int current() const { return m_current; }
    void select(int index);

    QLineEdit* titleEdit() const { return m_title; }
    QComboBox* parentBox() const { return m_parent; }
    QPlainTextEdit* beginEdit() const { return m_begin; }
    QPlainTextEdit* endEdit() const { return m_end; }
    QListWidget* levelList() const { return m_list; }
    QPlainTextEdit* testOutput() const { return m_testOutput; }
    // The source pane: the page of the test address, with what the level's cut takes highlighted.
    SourcePane* sourcePane() const { return m_pane; }
    void updatePreview();

public slots:
    void accept() override;

private:
    void showList();
    void showParents(const std::string& selected);
    void updateEnabled();

    app::MultiLevelForm m_form;
    std::string m_options;
    app::TestFetch m_fetch;
    platform::Dialogs& m_dialogs;
    std::string m_json;
    int m_current = -1;

    QListWidget* m_list;
    QLineEdit* m_title;
    QComboBox* m_parent;
    QButtonGroup* m_source;
    QCheckBox* m_byPattern;
    QPlainTextEdit* m_begin;
    QPlainTextEdit* m_end;
    QLineEdit* m_find;
    QLineEdit* m_replace;
    QCheckBox* m_hasPages;
    QLineEdit* m_pagerBegin;
    QLineEdit* m_pagerEnd;
    QLineEdit* m_include;
    QLineEdit* m_exclude;
    QLineEdit* m_testUrl;
    QPlainTextEdit* m_testOutput;
    SourcePane* m_pane = nullptr;
    QTimer m_previewTimer;
};

}  // namespace tarvex::ui
