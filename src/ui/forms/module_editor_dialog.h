#pragma once
// The publish module editor "发布规则配置": the module list "接口名称", the module being edited
// (address, charset, field list "序号"/"发布字段名称"/"内容" with its tag menu), save through a
// file dialog, and "测试发布" with the reply box "返回错误信息：". The rules are the core's
// (app/forms/module_editor_form.h, publish/module_test.h). UI thread only.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "app/forms/module_editor_form.h"
#include "platform/ports.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace tarvex::ui {

class ModuleEditorDialog : public QDialog {
    Q_OBJECT
public:
    // `currentModule` is selected and shown; `taskFields` feed "复制内容字段名称" (two or more).
    // `dialogs` must outlive the window.
    ModuleEditorDialog(const std::string& publishFolder, const std::string& currentModule,
                       const std::vector<std::string>& taskFields, platform::Dialogs& dialogs,
                       QWidget* parent = nullptr);

    // Double click on a module.
    void openModule(const std::string& name);
    void addField();
    void deleteField();
    void save();
    void cancelEdit();
    void testPublish();
    // The context menu's entries act on the selected row.
    void appendTag(const std::string& tag);
    void captureCookie();

    // Asks where to save: folder and default name in, path out ("" = cancelled). Replaced by tests.
    std::function<std::string(const std::string& folder, const std::string& defaultName)> chooseSavePath;
    // Opens the cookie window; nullopt when it returned nothing. Replaced by tests.
    std::function<std::optional<std::string>()> chooseCookie;

    app::ModuleEditorForm& form() { return m_form; }
    QListWidget* moduleList() const { return m_modules; }
    QTreeWidget* fieldList() const { return m_fields; }
    QLineEdit* addressEdit() const { return m_address; }
    QComboBox* charsetBox() const { return m_charset; }
    QPlainTextEdit* replyBox() const { return m_reply; }
    QMenu* fieldMenu() const { return m_menu; }

private:
    void showModules(const std::string& select);
    void showRows(int select);
    void setEditing(bool on);
    int selectedRow() const;
    void readControls();

    app::ModuleEditorForm m_form;
    platform::Dialogs& m_dialogs;
    QListWidget* m_modules = nullptr;
    QTreeWidget* m_fields = nullptr;
    QLineEdit* m_address = nullptr;
    QComboBox* m_charset = nullptr;
    QPlainTextEdit* m_reply = nullptr;
    QMenu* m_menu = nullptr;
    std::vector<QPushButton*> m_editButtons;
    bool m_showing = false;
};

}  // namespace tarvex::ui
