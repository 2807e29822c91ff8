#pragma once
// app/data: the data browser model, export (CSV, text) and spreadsheet import of a task's rows.
// Uses app/run (is the task running) and app/workspace.
//
// The data browser ("数据库查看器") as a model: pages of 20 rows of a task's `content` table,
// the filters, the query and statement boxes, the cell save and the mark commands. The window
// shows its state; every question and message goes through the Dialogs port. UI thread (or
// tarvex-cli's main thread); each statement opens its own connection.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/workspace/workspace.h"
#include "platform/ports.h"

namespace tarvex::app {

struct BrowserColumn {
    std::string caption;  // "ID", "已采", "已发", "网址" or the field name
    std::string column;   // id, getc, postc, url or the field name
};

// The filter list, in order: "默认全部", "未采集", "已采集", "已采集未发布", "已采集已发布".
const std::vector<std::string>& BrowserFilterNames();
// The text appended after "select * from content " for a filter of the list.
std::string BrowserFilterText(int index);

// The shown columns of a table: ID, 已采, 已发, 网址, every column after the fifth that does not
// begin with "postc_", then the "postc_" columns of the task's current site group (`siteKeys`).
std::vector<BrowserColumn> ShownColumns(const std::vector<std::string>& tableColumns,
                                        const std::vector<std::string>& siteKeys);
// The shown field columns (everything after "网址") of a task, read from its database and its
// settings in the catalogue; empty when the database cannot be read.
std::vector<std::string> ShownFieldColumns(const Workspace& ws, std::int64_t taskId, platform::Dialogs& dialogs);

// Why "打开任务数据库" refuses a task, or "" when it may be opened. `runState` is the state text
// of the task's run-list row ("" when it has none).
std::string BrowserRefusal(const Workspace& ws, std::optional<std::int64_t> selected, const std::string& runState);

class DataBrowser {
public:
    static constexpr int kPageSize = 20;

    DataBrowser(Workspace ws, std::int64_t taskId, std::string taskName, platform::Dialogs& dialogs);

    // Reads the columns and the first page. False (with a message) when the database cannot be read.
    bool open();
    std::string caption() const;  // "数据库查看器(" + name + "," + id + ".db3)"
    std::string dbPath() const { return m_ws.taskDbPath(m_taskId); }
    std::int64_t taskId() const { return m_taskId; }
    const std::string& taskName() const { return m_taskName; }

    const std::vector<BrowserColumn>& columns() const { return m_columns; }
    std::vector<std::string> fieldColumns() const;  // the shown columns after "网址"
    // The current page: one vector of shown values ("&&" read as "&") per row.
    const std::vector<std::vector<std::string>>& rows() const { return m_rows; }
    long long total() const { return m_total; }
    int pageCount() const { return m_pageCount; }
    int currentPage() const { return m_page; }
    const std::string& filter() const { return m_filter; }
    std::string countLabel() const;  // "总数：" + total + " 页数:" + pages

    void firstPage();
    void previousPage();
    void nextPage();
    void lastPage();
    // Leaving the page box: a page number between 1 and the page count other than the current
    // one is shown; anything else is ignored. True when the page changed.
    bool pageBoxLeft(const std::string& text);

    // The filter list; recounts and shows page 1.
    void setFilter(int index);
    // "查询": filter := " where " + condition + " ". A condition the database refuses is shown
    // as its error and the previous filter stays. True when applied.
    bool query(const std::string& condition);
    // "执行SQL语句": asks "确认执行SQL语句？" and runs the trimmed text; errors are shown.
    bool execSql(const std::string& text);
    // The statement list "选择执行语句": entry 1–3; `selectedColumn` names the column of entry 3.
    std::string presetStatement(int entry, std::optional<int> selectedColumn) const;

    // "保存": stores `text` into the cell so that it reads back exactly as given ("&" stored
    // doubled, since every reader turns "&&" into "&").
    bool saveCell(int row, int column, const std::string& text);
    // "已采已发", "未采未发" and "通过审核" on the row of the selected cell.
    bool markCollectedPublished(int row, int column);
    bool markNotCollected(int row, int column);
    bool approve(int row, int column);

private:
    bool load(int page);
    bool recount();
    // The row's id, or nullopt with "该项不支持修改" for the ID column, the row header or no row.
    std::optional<std::string> editableRowId(int row, int column);
    bool setFlags(int row, int column, const std::string& value);
    // Runs a statement; its error is shown.
    bool run(const std::string& sql);
    void showError(const std::string& prefix, const std::exception& e);

    Workspace m_ws;
    std::int64_t m_taskId;
    std::string m_taskName;
    platform::Dialogs& m_dialogs;
    std::vector<BrowserColumn> m_columns;
    std::vector<std::vector<std::string>> m_rows;
    std::string m_filter = " ";
    long long m_total = 0;
    int m_pageCount = 1;
    int m_page = 1;
};

}  // namespace tarvex::app
