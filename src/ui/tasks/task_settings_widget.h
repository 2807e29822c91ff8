#pragma once
// ui/tasks: the task tree and the task settings area. Uses ui/forms (the dialogs it opens),
// ui/qt, app/tasks and app/forms.
//
// The task settings area: the task name, the address box, "单页采集"/"单页发布", "保存", "取消",
// and the tabs "采集内容" (field list and page sections), "发布内容" (publish interface, column
// tree, site groups) and "高级设置". It shows an app::SettingsForm and gives one back; storing
// is the main window's (app::SaveSettings). Controls carry the settings key as object name.
// UI thread only.
#include <QWidget>
#include <cstdint>
#include <string>

#include "app/clipboard_port.h"
#include "app/tasks/settings_document.h"
#include "app/workspace/workspace.h"
#include "platform/ports.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QMenu;

namespace tarvex::ui {

class TaskSettingsWidget : public QWidget {
    Q_OBJECT
public:
    // The references must outlive the widget.
    TaskSettingsWidget(const app::Workspace& ws, platform::Dialogs& dialogs, app::ClipboardPort& clipboard,
                       QWidget* parent = nullptr);

    // Loads a task's document into the controls; false (message shown, nothing changed) when the
    // document is not a JSON object.
    bool openTask(std::int64_t taskId, const std::string& taskName, const std::string& document);
    // Empties the name and forgets the task ("取消").
    void closeTask();
    std::int64_t taskId() const { return m_taskId; }
    std::string taskName() const;

    app::SettingsForm form() const;
    void setForm(const app::SettingsForm& form);

    QTabWidget* tabs() const { return m_tabs; }
    QTreeWidget* fieldList() const { return m_fieldList; }
    QTreeWidget* columnTree() const { return m_columnTree; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* singleCollectButton() const { return m_singleCollect; }
    QPushButton* singlePublishButton() const { return m_singlePublish; }
    QPushButton* editModuleButton() const { return m_editModule; }
    // "编辑" beside the publish interface: the module editor on the chosen module; the modules
    // are listed again afterwards and the choice kept.
    void editModules();
    QPushButton* cancelButton() const { return m_cancel; }
    QMenu* fieldMenu() const { return m_fieldMenu; }
    // The field list's selected row, -1 when none.
    int selectedField() const;
    void selectField(int index);
    // The column tree's selected id, "" when none.
    std::string selectedColumn() const;

    // Field list commands (buttons and menu entries call these).
    void addField();
    void editField();
    void moveField(int delta);
    void deleteField();
    void importRules();
    void exportRules();
    void copyFieldToClipboard();
    void pasteField(bool asNew);
    // Column tree icons.
    void addColumnNode();
    void deleteColumnNode();
    void clearColumnNodes();

signals:
    void saveRequested();
    void cancelRequested();

private:
    QWidget* buildCollectTab();
    QWidget* buildPublishTab();
    QWidget* buildAdvancedTab();
    QLineEdit* lineEdit(const char* key);
    QCheckBox* checkBox(const char* key, const char* caption);
    void showFields(int select);
    void showColumns(const std::string& select);
    std::string rulesFolder() const;
    // The titles of the field list's fields, in order.
    std::vector<std::string> fieldTitles() const;
    // The publish interface chosen, "" when none.
    std::string chosenModule() const;

    const app::Workspace& m_ws;
    platform::Dialogs& m_dialogs;
    app::ClipboardPort& m_clipboard;
    std::int64_t m_taskId = 0;

    // Values that live outside plain controls.
    std::vector<std::string> m_fields;
    std::string m_mulpage, m_morepage, m_morepage2, m_uploadSet, m_postMorepost, m_postClassTree;

    QLabel* m_name = nullptr;
    QLineEdit* m_testUrl = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_singleCollect = nullptr;
    QPushButton* m_singlePublish = nullptr;
    QPushButton* m_editModule = nullptr;
    QPushButton* m_cancel = nullptr;
    QTabWidget* m_tabs = nullptr;
    QTreeWidget* m_fieldList = nullptr;
    QMenu* m_fieldMenu = nullptr;
    QComboBox* m_publishInterface = nullptr;
    QTreeWidget* m_columnTree = nullptr;
    QComboBox* m_charset = nullptr;
};

}  // namespace tarvex::ui
