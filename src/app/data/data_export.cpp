#include "app/data/data_export.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <unordered_set>

#include "app/data/output_file.h"
#include "collect/task_db.h"
#include "engine/field_rule.h"
#include "platform/run_log.h"
#include "platform/spreadsheet.h"
#include "platform/sqlite_db.h"
#include "platform/utf8.h"

namespace tarvex::app {

using platform::SqliteConnection;
using platform::SqliteStatement;
using platform::utf8::replaceAll;

namespace {
// A plain number: an optional sign, digits with at most one decimal point, nothing else.
bool isPlainNumber(const std::string& v) {
    std::size_t i = (v[0] == '-' || v[0] == '+') ? 1 : 0;
    bool digits = false, point = false;
    for (; i < v.size(); ++i) {
        const char c = v[i];
        if (c >= '0' && c <= '9')
            digits = true;
        else if (c == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits;
}
}  // namespace

std::string CsvFormulaGuard(const std::string& value) {
    if (value.empty()) return value;
    const char c = value[0];
    const bool formula =
        c == '=' || c == '@' || c == '\t' || c == '\r' || ((c == '+' || c == '-') && !isPlainNumber(value));
    return formula ? "'" + value : value;
}

namespace {
constexpr std::size_t kNameMax = 255;  // bytes of one file name on Linux file systems
constexpr const char* kToken = "{采集字段:";

std::string readBack(std::string v) {
    replaceAll(v, "&&", "&");
    return v;
}

int indexOf(const SqliteStatement& st, const std::string& name) {
    for (int i = 0; i < st.columnCount(); ++i)
        if (st.columnName(i) == name) return i;
    return -1;
}

std::string cell(const SqliteStatement& st, int i) {
    return i < 0 ? std::string() : st.columnText(i);
}

std::string csvAddress(std::string v) {
    v = CsvFormulaGuard(readBack(std::move(v)));
    if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
    replaceAll(v, "\"", "\"\"");
    return "\"" + v + "\"";
}

std::string csvField(std::string v) {
    v = CsvFormulaGuard(readBack(std::move(v)));
    replaceAll(v, "\"", "\"\"");
    replaceAll(v, "\r", "\\r");
    replaceAll(v, "\n", "\\n");
    return "\"" + v + "\"";
}

std::string dbError(const std::exception& e) {
    return collect::DbErrorText(e.what());
}
}  // namespace

std::string ExportWhere(const std::string& conditionText) {
    const std::string t = engine::TrimText(conditionText);
    if (t.empty() || t.find("select ") != std::string::npos) return {};
    return " where " + t;
}

long long CountRows(const std::string& dbPath, const std::string& where) {
    auto t = collect::query(dbPath, "select COUNT(*) AS total from content " + where);
    return std::stoll("0" + t.text(0, "total"));
}

ExportOutcome ExportCsv(const std::string& dbPath, const std::vector<std::string>& fieldColumns,
                        const std::string& outPath, const std::string& where, const ExportProgress& progress) {
    ExportOutcome out;
    // Written under a temporary name beside the target and renamed when complete, so a full
    // disk or a failed query never leaves a truncated file (nor spoils an earlier export).
    OutputFile file(outPath);
    if (!file.open()) {
        out.message = "无法写入文件：" + outPath + "(" + file.error() + ")";
        return out;
    }
    try {
        const long long total = progress ? CountRows(dbPath, where) : 0;
        SqliteConnection db(dbPath, SqliteConnection::Mode::ReadOnly);
        SqliteStatement st(db, "select * from content " + where + " order by id asc");
        const int id = indexOf(st, "id"), getc = indexOf(st, "getc"), postc = indexOf(st, "postc"),
                  url = indexOf(st, "url");
        std::vector<int> fields;
        std::string line = std::string(platform::utf8::kBom) + "ID,已采集,已发布,网址";
        for (const auto& f : fieldColumns) {
            fields.push_back(indexOf(st, f));
            line += "," + f;
        }
        bool written = file.write(line + "\r\n");
        while (written && st.step()) {
            line = cell(st, id) + "," + cell(st, getc) + "," + cell(st, postc) + "," + csvAddress(cell(st, url));
            for (int f : fields) line += "," + csvField(cell(st, f));
            written = file.write(line + "\r\n");
            ++out.rows;
            if (progress && out.rows % 500 == 0) progress(out.rows, total);
        }
        if (!written || !file.commit(true)) {
            out.message = "导出失败，无法写入文件：" + outPath + "(" + file.error() + ")";
            return out;
        }
    } catch (const std::exception& e) {
        out.message = "查询数据出错：" + dbError(e);
        return out;
    }
    out.ok = true;
    out.files = 1;
    out.message = "导出完成：" + outPath;
    return out;
}

std::string TextExportOptions::DefaultContentTemplate() {
    return "{采集字段:标题}\r\n" + std::string(36, '=') + "\r\n{采集字段:内容}";
}

std::string TestExportCondition(const std::string& dbPath, const std::string& conditionText) {
    try {
        return "共获取到符合的数据" + std::to_string(CountRows(dbPath, ExportWhere(conditionText))) + "条";
    } catch (const std::exception& e) {
        return "测试数据出错：" + dbError(e);
    }
}

std::string FillExportTemplate(const std::string& tmpl,
                               const std::function<std::optional<std::string>(const std::string&)>& value) {
    const std::string open = kToken;
    std::string out;
    std::size_t pos = 0;
    while (true) {
        const std::size_t start = tmpl.find(open, pos);
        if (start == std::string::npos) break;
        const std::size_t close = tmpl.find('}', start + open.size());
        if (close == std::string::npos) break;
        out.append(tmpl, pos, start - pos);
        if (auto v = value(tmpl.substr(start + open.size(), close - start - open.size()))) out += *v;
        pos = close + 1;
    }
    out.append(tmpl, pos, std::string::npos);
    return out;
}

std::string SafeFileName(const std::string& name, std::size_t reserve) {
    std::string clean;
    const std::string valid = platform::utf8::repair(name);
    for (unsigned char c : valid) {
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' ||
            c == '<' || c == '>' || c == '|')
            clean += '_';
        else
            clean += static_cast<char>(c);
    }
    // Leading dots would hide the file (and "." or ".." name the folder itself); trailing dots
    // and blanks are dropped by other systems' file dialogs.
    const auto first = clean.find_first_not_of(". ");
    clean = first == std::string::npos ? std::string() : clean.substr(first);
    while (!clean.empty() && (clean.back() == '.' || clean.back() == ' ')) clean.pop_back();
    const std::size_t limit = kNameMax > reserve ? kNameMax - reserve : 1;
    if (clean.size() > limit) {
        std::size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(clean[cut]) & 0xC0) == 0x80) --cut;
        clean.resize(cut);
        while (!clean.empty() && (clean.back() == '.' || clean.back() == ' ')) clean.pop_back();
    }
    return clean.empty() ? "未命名" : clean;
}

namespace {
// "" when the whole file was written, else why not (nothing is left at `path` then).
std::string writeText(const std::string& path, const std::string& content) {
    OutputFile f(path);
    if (f.open() && f.write(content) && f.commit()) return {};
    return f.error();
}

// "" when `from` was copied whole to `to`, else why not (nothing is left at `to` then).
std::string copyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return "无法读取" + from;
    OutputFile f(to);
    if (!f.open()) return f.error();
    char buf[65536];
    while (in) {
        in.read(buf, sizeof buf);
        if (in.gcount() > 0 && !f.write(std::string_view(buf, static_cast<std::size_t>(in.gcount())))) return f.error();
    }
    if (in.bad()) return "无法读取" + from;
    return f.commit() ? std::string() : f.error();
}

// A name not yet used in this export: "标题", "标题 (2)", "标题 (3)", …
std::string uniqueName(const std::string& base, std::set<std::string>& used) {
    std::string name = base;
    for (int n = 2; used.count(name); ++n) name = base + " (" + std::to_string(n) + ")";
    used.insert(name);
    return name;
}
}  // namespace

ExportOutcome ExportText(const std::string& dbPath, const std::vector<std::string>& fieldColumns,
                         const TextExportOptions& options, const std::string& folder, const ExportProgress& progress) {
    namespace fs = std::filesystem;
    ExportOutcome out;
    const std::string where = ExportWhere(options.condition);
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    try {
        const long long total = CountRows(dbPath, where);
        if (total == 0) {
            out.nothingFound = true;
            out.message = "没有查询到相关内容，请检查是否有源数据 或 附加查询语句是否有误 ！";
            return out;
        }
        SqliteConnection db(dbPath, SqliteConnection::Mode::ReadOnly);
        SqliteStatement st(db, "select * from content " + where + " order by id asc");
        std::vector<std::pair<std::string, int>> named = {{"id", indexOf(st, "id")}, {"url", indexOf(st, "url")}};
        for (const auto& f : fieldColumns) named.emplace_back(f, indexOf(st, f));
        auto valueOf = [&](const std::string& name) -> std::optional<std::string> {
            for (const auto& [n, i] : named)
                if (n == name) return readBack(cell(st, i));
            return std::nullopt;
        };
        platform::SilentDialogs quiet;
        std::set<std::string> used;
        while (st.step()) {
            ++out.rows;
            if (progress) progress(out.rows, total);
            const std::string content = FillExportTemplate(options.contentTemplate, valueOf);
            // Room for " (NNNNN)" and ".txt" after the name.
            const std::string name =
                uniqueName(SafeFileName(FillExportTemplate(options.nameTemplate, valueOf), 16), used);
            // A file that cannot be written ends the export as a failure: on a full disk every
            // later file would be empty or missing too.
            auto failed = [&](const std::string& path, const std::string& why) {
                out.message =
                    "导出失败，无法写入文件：" + path + "(" + why + ")，已导出" + std::to_string(out.files) + "个文件";
                return out;
            };
            if (!options.folderPerRow) {
                const std::string path = dir + name + ".txt";
                if (auto error = writeText(path, content); !error.empty()) return failed(path, error);
                ++out.files;
                continue;
            }
            const std::string rowDir = dir + name;
            fs::create_directories(rowDir, ec);
            if (ec) return failed(rowDir, ec.message());
            const auto id = std::stoll("0" + cell(st, named[0].second));
            for (auto line : collect::PendingDownloads(dbPath, id, quiet)) {
                // localurl "=" newurl, with each "=" of localurl written "<临时等号>".
                const std::string local = line.substr(0, line.find('='));
                std::string path = local;
                replaceAll(path, "<临时等号>", "=");
                const std::string file = path.substr(path.rfind('/') + 1);
                if (file.empty() || file == "." || file == "..") continue;
                if (auto error = copyFile(path, rowDir + "/" + file); !error.empty()) {
                    fs::remove(rowDir, ec);
                    return failed(rowDir + "/" + file, error);
                }
            }
            const std::string path = rowDir + "/" + name + ".txt";
            if (auto error = writeText(path, content); !error.empty()) {
                fs::remove(rowDir, ec);  // only when nothing of the row is in it
                return failed(path, error);
            }
            ++out.files;
        }
    } catch (const std::exception& e) {
        out.message = "查询数据出错：" + dbError(e);
        return out;
    }
    out.ok = true;
    out.message = "恭喜您，导出完成！";
    return out;
}

// ---------------------------------------------------------------------------------------------

ImportOutcome ImportSpreadsheet(const std::string& dbPath, const std::vector<std::string>& targetColumns,
                                const std::string& file, const ExportProgress& progress) {
    using platform::WriteLog;
    constexpr std::uint32_t kLastRow = 100000;
    constexpr int kBatch = 1000;
    ImportOutcome out;
    std::unique_ptr<platform::SheetReader> sheet;
    try {
        sheet = platform::OpenFirstSheet(file);
    } catch (const std::exception& e) {
        out.message = "无法读取表格文件：" + file + "(" + e.what() + ")";
        return out;
    }
    try {
        // 1. The header: row 1 from column 1 up to the first empty cell, at most 100 columns.
        std::uint32_t rowNumber = 0;
        std::vector<std::string> cells;
        std::vector<std::string> header;
        bool haveRow = sheet->next(rowNumber, cells);
        if (haveRow && rowNumber == 1) {
            for (const auto& c : cells) {
                const std::string name = engine::TrimText(c);
                if (name.empty() || header.size() == 100) break;
                header.push_back(name);
            }
            haveRow = sheet->next(rowNumber, cells);
        }
        std::string names;
        for (const auto& h : header) names += h + ",";
        WriteLog("excelst" + names, 0);
        WriteLog("excel数据字段提取完毕", 0);
        auto columnOf = [&](const std::string& name) -> int {
            auto it = std::find(header.begin(), header.end(), name);
            return it == header.end() ? -1 : static_cast<int>(it - header.begin());
        };
        // 2.
        std::string list;
        for (std::size_t i = 0; i < targetColumns.size(); ++i) list += (i ? "," : "") + targetColumns[i];
        WriteLog("diysql1:" + list, 0);
        WriteLog("开始读取EXCEL第2行到10万行", 0);

        std::string sql = "insert into content(id,url,geturl,getc,postc";
        for (const auto& c : targetColumns) sql += "," + platform::quoteIdentifier(c);
        sql += ") values (null,?,1,1,0";
        for (std::size_t i = 0; i < targetColumns.size(); ++i) sql += ",?";
        sql += ")";
        WriteLog("sql:" + sql, 0);
        const int urlColumn = columnOf("url");
        std::vector<int> sources;
        for (const auto& c : targetColumns) sources.push_back(columnOf(c));

        SqliteConnection db(dbPath, SqliteConnection::Mode::ReadWrite, 10000);
        // The addresses already in the table, as readers see them.
        std::unordered_set<std::string> known;
        {
            SqliteStatement urls(db, "select url from content");
            while (urls.step()) known.insert(collect::ReadBack(urls.columnText(0)));
        }
        SqliteStatement insert(db, sql);
        auto text = [&](int col) {
            return col >= 0 && static_cast<std::size_t>(col) < cells.size() ? cells[static_cast<std::size_t>(col)]
                                                                            : std::string();
        };
        std::unique_ptr<platform::SqliteTransaction> batch;
        int inBatch = 0;
        // 3. Rows 2, 3, … while each is present and its first cell is not empty.
        std::uint32_t r = 2;
        for (; r <= kLastRow && haveRow && rowNumber == r && !text(0).empty(); ++r) {
            if (progress && r % 100 == 0) progress(r, 0);
            std::string address = text(urlColumn);
            // A made-up address ("row-columns") names no page, so only real ones are matched.
            if (urlColumn >= 0 && !address.empty() && !known.insert(address).second) {
                ++out.skipped;
                haveRow = sheet->next(rowNumber, cells);
                continue;
            }
            if (urlColumn < 0 || address.empty()) address = std::to_string(r) + "-" + std::to_string(header.size() + 1);
            if (!batch) batch = std::make_unique<platform::SqliteTransaction>(db);
            insert.reset();
            insert.bind(1, collect::StoredForReadBack(address));
            for (std::size_t i = 0; i < sources.size(); ++i) {
                const std::string v = text(sources[i]);
                // A per-site flag the sheet does not fill starts unpublished, as the column's default.
                if (v.empty() && targetColumns[i].rfind("postc_", 0) == 0)
                    insert.bind(static_cast<int>(i) + 2, std::int64_t{0});
                else
                    insert.bind(static_cast<int>(i) + 2, collect::StoredForReadBack(v));
            }
            try {
                insert.run();
            } catch (...) {
                batch->commit();  // the rows before this one stay
                throw;
            }
            ++out.inserted;
            if (++inBatch == kBatch) {
                batch->commit();
                batch.reset();
                inBatch = 0;
                WriteLog("插入数据成功！" + std::to_string(out.inserted), 0);
            }
            haveRow = sheet->next(rowNumber, cells);
        }
        if (batch) {
            batch->commit();
            WriteLog("插入数据成功！" + std::to_string(out.inserted), 0);
        }
        // Rows past the limit are counted, so the user learns that the sheet was not read whole.
        if (r > kLastRow)
            for (; haveRow && rowNumber == r && !text(0).empty(); ++r) {
                ++out.overLimit;
                haveRow = sheet->next(rowNumber, cells);
            }
    } catch (const platform::SpreadsheetError& e) {
        out.message = "无法读取表格文件：" + file + "(" + e.what() + ")";
        return out;
    } catch (const std::exception& e) {
        out.message = "导入出错：" + dbError(e) + "(已导入" + std::to_string(out.inserted) + "行)";
        return out;
    }
    WriteLog("执行完成！", 0);
    out.ok = true;
    out.message = "从EXCEL导入完成！导入" + std::to_string(out.inserted) + "行";
    if (out.skipped) out.message += "，跳过数据库中已有网址的" + std::to_string(out.skipped) + "行";
    if (out.overLimit)
        out.message += "，第" + std::to_string(kLastRow) + "行以后的" + std::to_string(out.overLimit) +
                       "行超出10万行的上限，未导入";
    WriteLog(out.message, 0);
    return out;
}

}  // namespace tarvex::app
