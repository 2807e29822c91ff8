#pragma once
// "多站点发布" (the task's site group, "post_morepost") and its entry window "发布站点设置"
// (name, mark, publish module, column id, remark; "加载栏目" shows the module's column tree and a
// click takes a column's id). The checks are publish::CheckSiteEntry's. UI thread only.
#include <QDialog>
#include <functional>

#include "app/workspace/workspace.h"
#include "platform/ports.h"
#include "publish/site_group.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTreeWidget;

namespace tarvex::ui {

// Opens the publish module editor for a module name (the editor arrives with its own work;
// without one the "编辑" button is off).
using ModuleEditorHook = std::function<void(QWidget* parent, const std::string& module)>;

class SiteEntryDialog : public QDialog {
    Q_OBJECT
public:
    // `sites`: the list as it stands; `editing`: the row being edited, -1 to add one.
    SiteEntryDialog(const app::Workspace& ws, platform::Dialogs& dialogs, std::vector<publish::SiteEntry> sites,
                    int editing, ModuleEditorHook editModule = {}, QWidget* parent = nullptr);

    // After "保存": the checked entry.
    publish::SiteEntry entry() const { return m_entry; }
    void setEntry(const publish::SiteEntry& e);

    QLineEdit* nameEdit() const { return m_name; }
    QLineEdit* markEdit() const { return m_mark; }
    QComboBox* moduleBox() const { return m_module; }
    QLineEdit* columnEdit() const { return m_column; }
    QLineEdit* remarkEdit() const { return m_remark; }
    QTreeWidget* columnTree() const { return m_tree; }

public slots:
    void save();
    void loadColumns();

private:
    void listModules(const std::string& select);

    const app::Workspace& m_ws;
    platform::Dialogs& m_dialogs;
    std::vector<publish::SiteEntry> m_sites;
    int m_editing;
    ModuleEditorHook m_editModule;
    publish::SiteEntry m_entry;

    QLineEdit* m_name;
    QLineEdit* m_mark;
    QComboBox* m_module;
    QLineEdit* m_column;
    QLineEdit* m_remark;
    QTreeWidget* m_tree;
    QPushButton* m_load;
};

class SiteGroupDialog : public QDialog {
    Q_OBJECT
public:
    // `json`: the task's "post_morepost" text. The references must outlive the window.
    SiteGroupDialog(const std::string& json, const app::Workspace& ws, platform::Dialogs& dialogs,
                    ModuleEditorHook editModule = {}, QWidget* parent = nullptr);

    // After "保存": "" when the list has no rows, else the site-group object.
    std::string json() const { return m_json; }
    publish::SiteGroup group() const;

    QTableWidget* table() const { return m_table; }
    QCheckBox* enabledBox() const { return m_enabled; }

    // The icons and the double click; `entryRunner` replaces the entry window in tests.
    using EntryRunner = std::function<std::optional<publish::SiteEntry>(SiteEntryDialog&)>;
    void setEntryRunner(EntryRunner runner) { m_runEntry = std::move(runner); }

public slots:
    void addSite();
    void editSite();
    void deleteSite();
    void clearSites();
    void save();

private:
    void showSites(int select);
    int selectedRow() const;
    std::optional<publish::SiteEntry> runEntry(int editing);

    const app::Workspace& m_ws;
    std::vector<publish::SiteEntry> m_sites;
    platform::Dialogs& m_dialogs;
    ModuleEditorHook m_editModule;
    EntryRunner m_runEntry;
    std::string m_json;

    QTableWidget* m_table;
    QCheckBox* m_enabled;
};

}  // namespace tarvex::ui
