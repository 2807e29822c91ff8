#pragma once
// A thin RAII layer over the sqlite3 C API: a connection, a prepared statement, a
// transaction. Errors are thrown as SqliteError carrying SQLite's own message text, so the
// callers that present them to users can rewrite that text the way the system does.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tarvex::platform {

class SqliteError : public std::runtime_error {
public:
    SqliteError(int code, const std::string& message) : std::runtime_error(message), m_code(code) {}
    int code() const { return m_code; }
    // True for SQLITE_BUSY and SQLITE_LOCKED: another connection holds the file.
    bool isBusy() const;

private:
    int m_code;
};

// A value read from or bound to a statement. SQLite's dynamic types map to these.
struct SqlValue {
    enum class Type { Null, Integer, Real, Text, Blob } type = Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string text;  // Text and Blob

    static SqlValue null() { return {}; }
    static SqlValue of(std::int64_t v) { return {Type::Integer, v, 0, {}}; }
    static SqlValue of(std::string v) { return {Type::Text, 0, 0, std::move(v)}; }
    // The value as text, the way SQLite would cast it; Null is "".
    std::string asText() const;
};

// One open database file. Not shared between threads: every operation that needs a database
// opens its own connection. A busy timeout makes a short-held lock wait briefly; a longer
// one ends in SqliteError with "database is locked".
class SqliteConnection {
public:
    enum class Mode { ReadWriteCreate, ReadWrite, ReadOnly };
    explicit SqliteConnection(const std::string& path, Mode mode = Mode::ReadWriteCreate, int busyTimeoutMs = 2000);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // Runs a script of one or more statements separated by ";".
    void exec(const std::string& sql);
    std::int64_t lastInsertRowId() const;
    int changes() const;
    sqlite3* handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

class SqliteStatement {
public:
    SqliteStatement(SqliteConnection& db, const std::string& sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    SqliteStatement& bind(int index, const std::string& text);  // 1-based
    SqliteStatement& bind(int index, std::int64_t value);
    SqliteStatement& bindNull(int index);
    // Steps once; true while a row is available.
    bool step();
    // Runs a statement that returns no rows.
    void run();
    void reset();

    int columnCount() const;
    std::string columnName(int i) const;
    SqlValue column(int i) const;
    std::string columnText(int i) const;
    // The column's text without a copy; valid until the next step, reset or column call.
    std::string_view columnView(int i) const;
    std::int64_t columnInt(int i) const;

private:
    SqliteConnection& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// Begins on construction; rolls back unless commit() was called.
class SqliteTransaction {
public:
    explicit SqliteTransaction(SqliteConnection& db);
    ~SqliteTransaction();
    void commit();

private:
    SqliteConnection& m_db;
    bool m_done = false;
};

// A result set copied out of the database so it outlives the connection.
struct SqlTable {
    std::vector<std::string> columns;
    std::vector<std::vector<SqlValue>> rows;

    bool empty() const { return rows.empty(); }
    // Index of a column by name, or -1.
    int columnIndex(const std::string& name) const;
    // Text of a cell by column name; "" when the column or row is missing.
    std::string text(std::size_t row, const std::string& column) const;
};

// Runs a query and copies every row.
SqlTable queryAll(SqliteConnection& db, const std::string& sql, const std::vector<SqlValue>& params = {});

// Quotes an identifier for SQL: "name" with inner double quotes doubled.
std::string quoteIdentifier(const std::string& name);

}  // namespace tarvex::platform
