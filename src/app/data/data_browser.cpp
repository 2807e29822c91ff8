#include "app/data/data_browser.h"

#include <algorithm>

#include "app/run/run_list.h"
#include "collect/task_db.h"
#include "engine/field_rule.h"
#include "platform/sqlite_db.h"
#include "platform/utf8.h"

namespace tarvex::app {

using platform::kAppTitle;

namespace {
constexpr const char* kNotEditable = "该项不支持修改";

std::string shown(std::string v) {
    platform::utf8::replaceAll(v, "&&", "&");
    return v;
}

bool beginsWith(const std::string& s, const std::string& p) {
    return s.rfind(p, 0) == 0;
}
}  // namespace

const std::vector<std::string>& BrowserFilterNames() {
    static const std::vector<std::string> names = {"默认全部", "未采集", "已采集", "已采集未发布", "已采集已发布"};
    return names;
}

std::string BrowserFilterText(int index) {
    switch (index) {
        case 1:
            return " where getc=0 ";
        case 2:
            return " where getc=1 ";
        case 3:
            return " where getc=1 and postc=0 ";
        case 4:
            return " where getc=1 and postc=1 ";
        default:
            return " ";
    }
}

std::vector<BrowserColumn> ShownColumns(const std::vector<std::string>& table, const std::vector<std::string>& keys) {
    std::vector<BrowserColumn> cols = {{"ID", "id"}, {"已采", "getc"}, {"已发", "postc"}, {"网址", "url"}};
    for (std::size_t i = 5; i < table.size(); ++i)
        if (!beginsWith(table[i], "postc_")) cols.push_back({table[i], table[i]});
    for (std::size_t i = 5; i < table.size(); ++i) {
        if (!beginsWith(table[i], "postc_")) continue;
        if (std::find(keys.begin(), keys.end(), table[i].substr(6)) != keys.end()) cols.push_back({table[i], table[i]});
    }
    return cols;
}

namespace {
std::vector<std::string> siteKeysOfTask(const Workspace& ws, std::int64_t taskId) {
    auto task = catalogueLookup(ws)(taskId);
    return task ? collect::SiteKeysOf(task->settings) : std::vector<std::string>{};
}
}  // namespace

std::vector<std::string> ShownFieldColumns(const Workspace& ws, std::int64_t taskId, platform::Dialogs& dialogs) {
    auto table = collect::TableColumns(ws.taskDbPath(taskId), "content", dialogs);
    std::vector<std::string> out;
    for (const auto& c : ShownColumns(table, siteKeysOfTask(ws, taskId)))
        if (c.caption != "ID" && c.caption != "已采" && c.caption != "已发" && c.caption != "网址")
            out.push_back(c.column);
    return out;
}

std::string BrowserRefusal(const Workspace& ws, std::optional<std::int64_t> selected, const std::string& runState) {
    if (!selected || *selected <= 0) return "请先选择一个任务！";
    if (!pathExists(ws.taskDbPath(*selected))) return "当前任务数据库不存在！";
    if (!runState.empty() && runState != kStateWaiting && runState != kStateStopped)
        return "当前任务正在使用中,请移除任务队列后再使用！";
    return {};
}

// ---------------------------------------------------------------------------------------------

DataBrowser::DataBrowser(Workspace ws, std::int64_t taskId, std::string taskName, platform::Dialogs& dialogs)
    : m_ws(std::move(ws)), m_taskId(taskId), m_taskName(std::move(taskName)), m_dialogs(dialogs) {}

std::string DataBrowser::caption() const {
    return "数据库查看器(" + m_taskName + "," + std::to_string(m_taskId) + ".db3)";
}

void DataBrowser::showError(const std::string& prefix, const std::exception& e) {
    m_dialogs.message(prefix + collect::DbErrorText(e.what()), kAppTitle);
}

bool DataBrowser::open() {
    platform::SilentDialogs quiet;
    std::vector<std::string> table;
    try {
        platform::SqliteConnection db(dbPath(), platform::SqliteConnection::Mode::ReadWrite);
        platform::SqliteStatement st(db, "PRAGMA table_info(content)");
        while (st.step()) table.push_back(st.columnText(1));
    } catch (const std::exception& e) {
        showError("发生错误：", e);
        return false;
    }
    if (table.empty()) {
        m_dialogs.message("发生错误：数据库读取字段错误：没有content表", kAppTitle);
        return false;
    }
    m_columns = ShownColumns(table, siteKeysOfTask(m_ws, m_taskId));
    m_filter = " ";
    if (!recount()) return false;
    m_pageCount = std::max(m_pageCount, 1);
    return load(1);
}

std::vector<std::string> DataBrowser::fieldColumns() const {
    std::vector<std::string> out;
    for (std::size_t i = 4; i < m_columns.size(); ++i) out.push_back(m_columns[i].column);
    return out;
}

std::string DataBrowser::countLabel() const {
    return "总数：" + std::to_string(m_total) + " 页数:" + std::to_string(m_pageCount);
}

bool DataBrowser::recount() {
    try {
        auto t = collect::query(dbPath(), "select COUNT(*) AS total from content" + m_filter);
        m_total = std::stoll("0" + t.text(0, "total"));
    } catch (const std::exception& e) {
        showError("查询数据出错：", e);
        return false;
    }
    m_pageCount = static_cast<int>((m_total + kPageSize - 1) / kPageSize);
    return true;
}

bool DataBrowser::load(int page) {
    const long long offset = static_cast<long long>(std::max(page, 1) - 1) * kPageSize;
    platform::SqlTable t;
    try {
        t = collect::query(dbPath(), "select * from content " + m_filter + " order by id asc limit " +
                                         std::to_string(offset) + "," + std::to_string(kPageSize));
    } catch (const std::exception& e) {
        showError("查询数据出错：", e);
        return false;
    }
    m_rows.clear();
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
        std::vector<std::string> row;
        for (const auto& c : m_columns) row.push_back(shown(t.text(r, c.column)));
        m_rows.push_back(std::move(row));
    }
    m_page = page;
    return true;
}

void DataBrowser::firstPage() {
    load(1);
}

void DataBrowser::previousPage() {
    if (m_page > 1) load(m_page - 1);
}

void DataBrowser::nextPage() {
    if (m_page < m_pageCount) load(m_page + 1);
}

void DataBrowser::lastPage() {
    load(std::max(m_pageCount, 1));
}

bool DataBrowser::pageBoxLeft(const std::string& text) {
    auto n = engine::ParseInteger(text);
    if (!n || *n < 1 || *n > m_pageCount || *n == m_page) return false;
    return load(static_cast<int>(*n));
}

void DataBrowser::setFilter(int index) {
    m_filter = BrowserFilterText(index);
    if (recount()) load(1);
}

bool DataBrowser::query(const std::string& condition) {
    const std::string previous = m_filter;
    const long long total = m_total;
    const int pages = m_pageCount;
    m_filter = " where " + condition + " ";
    if (recount() && load(1)) return true;
    m_filter = previous;
    m_total = total;
    m_pageCount = pages;
    return false;
}

bool DataBrowser::execSql(const std::string& text) {
    if (!m_dialogs.confirm("确认执行SQL语句？", "执行SQL语句")) return false;
    if (!run(engine::TrimText(text))) return false;
    // The statement may have changed rows of the page and their number.
    if (recount()) load(std::min(std::max(m_page, 1), std::max(m_pageCount, 1)));
    return true;
}

std::string DataBrowser::presetStatement(int entry, std::optional<int> selectedColumn) const {
    switch (entry) {
        case 1:
            return "update content  set  标题=REPLACE(标题,'外国人','中国人') where id>0;";
        case 2:
            return "人工审核='1'";
        case 3: {
            std::string name;
            if (selectedColumn && *selectedColumn >= 0 && *selectedColumn < static_cast<int>(m_columns.size()))
                name = m_columns[static_cast<std::size_t>(*selectedColumn)].column;
            return name + " like '%关键词%' ";
        }
        default:
            return {};
    }
}

std::optional<std::string> DataBrowser::editableRowId(int row, int column) {
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || column <= 0 ||
        column >= static_cast<int>(m_columns.size())) {
        m_dialogs.message(kNotEditable, kAppTitle);
        return std::nullopt;
    }
    return m_rows[static_cast<std::size_t>(row)][0];
}

bool DataBrowser::saveCell(int row, int column, const std::string& text) {
    auto id = editableRowId(row, column);
    if (!id) return false;
    m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
    const std::string& col = m_columns[static_cast<std::size_t>(column)].column;
    try {
        platform::SqliteConnection db(dbPath(), platform::SqliteConnection::Mode::ReadWrite);
        platform::SqliteStatement st(db, "update content  set  " + platform::quoteIdentifier(col) + "=? where id=?");
        // Stored so that the read-back rule every reader applies gives the typed text again.
        st.bind(1, collect::StoredForReadBack(text)).bind(2, static_cast<std::int64_t>(std::stoll(*id)));
        st.run();
    } catch (const std::exception& e) {
        showError("", e);
        return false;
    }
    return true;
}

bool DataBrowser::run(const std::string& sql) {
    try {
        collect::execScript(dbPath(), sql);
    } catch (const std::exception& e) {
        showError("", e);
        return false;
    }
    return true;
}

bool DataBrowser::setFlags(int row, int column, const std::string& value) {
    auto id = editableRowId(row, column);
    if (!id) return false;
    auto& cells = m_rows[static_cast<std::size_t>(row)];
    cells[1] = value;
    cells[2] = value;
    return run("update content  set  getc=" + value + ",postc=" + value + " where id=" + *id + ";");
}

bool DataBrowser::markCollectedPublished(int row, int column) {
    return setFlags(row, column, "1");
}

bool DataBrowser::markNotCollected(int row, int column) {
    return setFlags(row, column, "0");
}

bool DataBrowser::approve(int row, int column) {
    auto it =
        std::find_if(m_columns.begin(), m_columns.end(), [](const BrowserColumn& c) { return c.column == "人工审核"; });
    if (it == m_columns.end()) {
        m_dialogs.message("本任务未开启人工审核", kAppTitle);
        return false;
    }
    auto id = editableRowId(row, column);
    if (!id) return false;
    m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(it - m_columns.begin())] = "1";
    return run("update content  set  人工审核='1' where id=" + *id + ";");
}

}  // namespace tarvex::app
