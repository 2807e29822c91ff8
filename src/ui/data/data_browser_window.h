#pragma once
// ui/data: the data browser and the text export windows over app/data. Uses ui/single_page for
// the edit page view.
//
// "数据库查看器": the rows of one task's database in pages of 20 over app::DataBrowser, the
// selected cell in the edit page (Plugin/kindeditor/report.html), the filters, query and
// statement boxes, the mark commands, the exports and the import; and the text export window
// "Tarvex采集器 数据导出文本文件". UI thread only.
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/data/data_browser.h"
#include "app/data/data_export.h"
#include "ui/single_page/edit_page_view.h"

namespace tarvex::ui {

// What the browser asks of the desktop besides messages: file names and showing a folder.
// Tests replace them.
struct BrowserHooks {
    enum class FileKind { SaveCsv, OpenSpreadsheet };
    // The chosen path, or "" when the user cancelled.
    std::function<QString(QWidget* parent, FileKind kind, const QString& suggested)> chooseFile;
    std::function<void(const QString& folder)> openFolder;
    static BrowserHooks desktop();
};

class TextExportDialog;

class DataBrowserWindow : public QWidget {
    Q_OBJECT
public:
    DataBrowserWindow(const app::Workspace& ws, std::int64_t taskId, const std::string& taskName,
                      platform::Dialogs& dialogs, BrowserHooks hooks = BrowserHooks::desktop(),
                      QWidget* parent = nullptr);
    ~DataBrowserWindow() override;

    // Reads the first page; false (after a message) when the database cannot be read.
    bool open();
    app::DataBrowser& model() { return m_model; }
    std::int64_t taskId() const { return m_model.taskId(); }

    QTableWidget* grid() const { return m_grid; }
    EditPageView* editPage() const { return m_edit; }
    QComboBox* filterBox() const { return m_filter; }
    QLineEdit* conditionBox() const { return m_condition; }
    QComboBox* statementBox() const { return m_statements; }
    QLineEdit* pageBox() const { return m_pageBox; }
    QLabel* countLabel() const { return m_count; }
    QPushButton* button(const QString& text) const;
    TextExportDialog* textExport() const { return m_textExport; }

    // The selected cell as (row, column) of the page; column -1 when a whole row is selected.
    std::optional<std::pair<int, int>> selectedCell() const;
    void selectCell(int row, int column);

public slots:
    void firstPage();
    void previousPage();
    void nextPage();
    void lastPage();
    void pageBoxLeft();
    void filterChosen(int index);
    void runQuery();
    void executeSql();
    void statementChosen(int index);
    // "保存": reads the edit page and stores its text into the selected cell.
    void saveCell();
    void markCollectedPublished();
    void markNotCollected();
    void approve();
    void exportCsv();
    void exportText();
    void importSpreadsheet();

signals:
    // A save finished (true when stored); tests wait for it because the page answers later.
    void cellSaved(bool stored);

private:
    void showPage();
    void showCellInEditor();
    void refreshRow(int row);
    // Runs a mark command on the selected cell's row and redraws the row.
    void onSelectedRow(bool (app::DataBrowser::*command)(int, int));

    app::Workspace m_ws;
    platform::Dialogs& m_dialogs;
    BrowserHooks m_hooks;
    app::DataBrowser m_model;
    QComboBox* m_filter;
    QLineEdit* m_condition;
    QComboBox* m_statements;
    QTableWidget* m_grid;
    EditPageView* m_edit;
    QLabel* m_editState;
    QLineEdit* m_pageBox;
    QLabel* m_count;
    TextExportDialog* m_textExport = nullptr;
    bool m_showing = false;
};

// "Tarvex采集器 数据导出文本文件(" + task name + ")": the templates, the extra condition, the mode,
// a test count and the export into data/<id>/.
class TextExportDialog : public QDialog {
    Q_OBJECT
public:
    TextExportDialog(const std::string& dbPath, const std::string& folder, const std::string& taskName,
                     std::vector<std::string> fieldColumns, platform::Dialogs& dialogs, BrowserHooks hooks,
                     QWidget* parent = nullptr);

    QLineEdit* nameTemplate() const { return m_name; }
    QPlainTextEdit* contentTemplate() const { return m_content; }
    QLineEdit* conditionBox() const { return m_condition; }
    QRadioButton* folderMode() const { return m_folderMode; }
    QToolButton* shortcutButton() const { return m_shortcuts; }
    QToolButton* presetButton() const { return m_presets; }
    QString baseTitle() const { return m_title; }
    const app::ExportOutcome& lastOutcome() const { return m_last; }

public slots:
    void restoreDefaults();
    void testCondition();
    void startExport();

private:
    std::string m_db;
    std::string m_folder;
    std::vector<std::string> m_fields;
    platform::Dialogs& m_dialogs;
    BrowserHooks m_hooks;
    QString m_title;
    QLineEdit* m_name;
    QPlainTextEdit* m_content;
    QLineEdit* m_condition;
    QRadioButton* m_fileMode;
    QRadioButton* m_folderMode;
    QToolButton* m_shortcuts;
    QToolButton* m_presets;
    app::ExportOutcome m_last;
};

}  // namespace tarvex::ui
