#include "platform/sqlite_db.h"

#include <sqlite3.h>

namespace tarvex::platform {

namespace {
[[noreturn]] void fail(sqlite3* db, int rc) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw SqliteError(db ? sqlite3_extended_errcode(db) : rc, msg);
}
}  // namespace

bool SqliteError::isBusy() const {
    int primary = m_code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

std::string SqlValue::asText() const {
    switch (type) {
        case Type::Null:
            return {};
        case Type::Integer:
            return std::to_string(integer);
        case Type::Real: {
            char buf[64];
            sqlite3_snprintf(sizeof buf, buf, "%!.15g", real);
            return buf;
        }
        case Type::Text:
        case Type::Blob:
            return text;
    }
    return {};
}

SqliteConnection::SqliteConnection(const std::string& path, Mode mode, int busyTimeoutMs) {
    int flags = SQLITE_OPEN_FULLMUTEX;
    switch (mode) {
        case Mode::ReadWriteCreate:
            flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
            break;
        case Mode::ReadWrite:
            flags |= SQLITE_OPEN_READWRITE;
            break;
        case Mode::ReadOnly:
            flags |= SQLITE_OPEN_READONLY;
            break;
    }
    int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw SqliteError(rc, msg);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
}

SqliteConnection::~SqliteConnection() {
    sqlite3_close_v2(m_db);
}

void SqliteConnection::exec(const std::string& sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errmsg(m_db);
        sqlite3_free(err);
        throw SqliteError(sqlite3_extended_errcode(m_db), msg);
    }
}

std::int64_t SqliteConnection::lastInsertRowId() const {
    return sqlite3_last_insert_rowid(m_db);
}
int SqliteConnection::changes() const {
    return sqlite3_changes(m_db);
}

SqliteStatement::SqliteStatement(SqliteConnection& db, const std::string& sql) : m_db(db) {
    int rc = sqlite3_prepare_v2(db.handle(), sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK) fail(db.handle(), rc);
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_stmt);
}

SqliteStatement& SqliteStatement::bind(int index, const std::string& text) {
    int rc = sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) fail(m_db.handle(), rc);
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::int64_t value) {
    int rc = sqlite3_bind_int64(m_stmt, index, value);
    if (rc != SQLITE_OK) fail(m_db.handle(), rc);
    return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
    int rc = sqlite3_bind_null(m_stmt, index);
    if (rc != SQLITE_OK) fail(m_db.handle(), rc);
    return *this;
}

bool SqliteStatement::step() {
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(m_db.handle(), rc);
}

void SqliteStatement::run() {
    while (step()) {
    }
}

void SqliteStatement::reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int SqliteStatement::columnCount() const {
    return sqlite3_column_count(m_stmt);
}

std::string SqliteStatement::columnName(int i) const {
    const char* n = sqlite3_column_name(m_stmt, i);
    return n ? n : "";
}

SqlValue SqliteStatement::column(int i) const {
    SqlValue v;
    switch (sqlite3_column_type(m_stmt, i)) {
        case SQLITE_INTEGER:
            v.type = SqlValue::Type::Integer;
            v.integer = sqlite3_column_int64(m_stmt, i);
            break;
        case SQLITE_FLOAT:
            v.type = SqlValue::Type::Real;
            v.real = sqlite3_column_double(m_stmt, i);
            break;
        case SQLITE_TEXT: {
            v.type = SqlValue::Type::Text;
            auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, i));
            v.text.assign(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, i)));
            break;
        }
        case SQLITE_BLOB: {
            v.type = SqlValue::Type::Blob;
            auto* p = static_cast<const char*>(sqlite3_column_blob(m_stmt, i));
            v.text.assign(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, i)));
            break;
        }
        default:
            break;
    }
    return v;
}

std::string SqliteStatement::columnText(int i) const {
    return column(i).asText();
}
std::string_view SqliteStatement::columnView(int i) const {
    auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, i));
    if (!p) return {};
    return std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, i)));
}

std::int64_t SqliteStatement::columnInt(int i) const {
    return sqlite3_column_int64(m_stmt, i);
}

SqliteTransaction::SqliteTransaction(SqliteConnection& db) : m_db(db) {
    m_db.exec("BEGIN");
}

SqliteTransaction::~SqliteTransaction() {
    if (!m_done) {
        try {
            m_db.exec("ROLLBACK");
        } catch (...) {
        }
    }
}

void SqliteTransaction::commit() {
    m_db.exec("COMMIT");
    m_done = true;
}

int SqlTable::columnIndex(const std::string& name) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (columns[i] == name) return static_cast<int>(i);
    return -1;
}

std::string SqlTable::text(std::size_t row, const std::string& column) const {
    int c = columnIndex(column);
    if (c < 0 || row >= rows.size()) return {};
    return rows[row][static_cast<std::size_t>(c)].asText();
}

SqlTable queryAll(SqliteConnection& db, const std::string& sql, const std::vector<SqlValue>& params) {
    SqliteStatement st(db, sql);
    for (std::size_t i = 0; i < params.size(); ++i) {
        const auto& p = params[i];
        int idx = static_cast<int>(i) + 1;
        if (p.type == SqlValue::Type::Null)
            st.bindNull(idx);
        else if (p.type == SqlValue::Type::Integer)
            st.bind(idx, p.integer);
        else
            st.bind(idx, p.text);
    }
    SqlTable t;
    int n = st.columnCount();
    for (int i = 0; i < n; ++i) t.columns.push_back(st.columnName(i));
    while (st.step()) {
        std::vector<SqlValue> row;
        row.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) row.push_back(st.column(i));
        t.rows.push_back(std::move(row));
    }
    return t;
}

std::string quoteIdentifier(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace tarvex::platform
