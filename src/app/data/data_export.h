#pragma once
// Exports of a task's rows: a CSV file for spreadsheet programs (`ExportCsv`) and one text file
// or folder per row made from templates (`ExportText`), and the import of the first worksheet
// of an .xlsx or .xls file (`ImportSpreadsheet`). Rows are streamed, never all held at once.
// Any thread; each call opens its own connection.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/workspace/workspace.h"

namespace tarvex::app {

// Called with (current, total) as rows are done; total is 0 where it is not known.
using ExportProgress = std::function<void(long long current, long long total)>;

struct ExportOutcome {
    bool ok = false;
    std::string message;        // what the user is told
    long long rows = 0;         // rows read
    long long files = 0;        // files written
    bool nothingFound = false;  // the condition matched no row (not an error of the export)
};

// The extra condition of an export: the trimmed text becomes " where " + text; text holding
// "select " is ignored, and so is an empty text.
std::string ExportWhere(const std::string& conditionText);
// Rows matching a " where …" text ("" = all). Throws platform::SqliteError.
long long CountRows(const std::string& dbPath, const std::string& where);

// `ExportCsv`: UTF-8 with a byte-order mark, CR LF line ends; header "ID,已采集,已发布,网址" and
// one column per field of `fieldColumns`; addresses quoted when they hold a comma, a quote or a
// line break; every field value quoted with quotes doubled and CR/LF written as "\r"/"\n";
// values that a spreadsheet would run as a formula get a leading "'" (CsvFormulaGuard). The
// file appears only when complete; on any failure no file (nor a partial one) is left.
ExportOutcome ExportCsv(const std::string& dbPath, const std::vector<std::string>& fieldColumns,
                        const std::string& outPath, const std::string& where = {}, const ExportProgress& progress = {});

struct TextExportOptions {
    std::string nameTemplate = "{采集字段:标题}";
    std::string contentTemplate = DefaultContentTemplate();
    std::string condition = "id>0";  // "附加查询语句:"
    bool folderPerRow = false;       // "把每条记录导出到单个文件夹(附件直接放在文件夹下)"
    static std::string DefaultContentTemplate();
};

// "测试获取数据": "共获取到符合的数据" + count + "条", or "测试数据出错：" + error.
std::string TestExportCondition(const std::string& dbPath, const std::string& conditionText);

// A value as a CSV cell may hold it without a spreadsheet taking it for a formula: a value
// beginning with "=", "@", a tab or CR, or with "+" or "-" when it is not a plain number
// ("-5", "+3.5" stay), gets a leading "'". Other values are unchanged.
std::string CsvFormulaGuard(const std::string& value);

// `ExportText` into `folder` (created when missing). Tokens "{采集字段:name}" take the row's value
// when the name is "id", "url" or one of `fieldColumns`, and are removed otherwise. File names
// are made safe (see SafeFileName) and unique within the export ("标题 (2)"). Each file appears
// only when complete; the first file that cannot be written ends the export as a failure.
ExportOutcome ExportText(const std::string& dbPath, const std::vector<std::string>& fieldColumns,
                         const TextExportOptions& options, const std::string& folder,
                         const ExportProgress& progress = {});

// A collected value as a file name that stays inside its folder: "/", "\", control characters
// and the characters other systems refuse (: * ? " < > |) become "_", leading and trailing dots
// and blanks are dropped, an empty result is "未命名", and the name is cut (at a character
// boundary) so that name + `reserve` bytes fits the file system's 255-byte limit.
std::string SafeFileName(const std::string& name, std::size_t reserve = 16);
// Replaces every "{采集字段:name}" token of a template.
std::string FillExportTemplate(const std::string& tmpl,
                               const std::function<std::optional<std::string>(const std::string&)>& value);

struct ImportOutcome {
    bool ok = false;
    std::string message;  // the outcome with its counts; no advice meant for a window
    long long inserted = 0;
    long long skipped = 0;    // rows whose address the table already held
    long long overLimit = 0;  // rows after row 100000 that were not read in
};

// What the data browser window adds to a successful import's message.
inline constexpr const char* kImportReopenHint = "关掉本数据库窗口后，再次打开即可！";

// `ImportSpreadsheet`: rows 2 to 100000 of the first worksheet until one whose first cell is
// empty, each inserted with geturl=1, getc=1, postc=0; the address from the column headed "url"
// (else row number + "-" + header count + 1), each of `targetColumns` from the column of that
// heading. A row whose "url" address the table already holds is skipped, so an import can be
// repeated (or finished after it was cut short) without doubling rows; rows after row 100000
// are counted and reported. Values are stored so that they read back exactly as in the sheet
// ("&" doubled for the read-back rule). Values are bound; rows are committed in batches. Rows
// before a failure stay.
ImportOutcome ImportSpreadsheet(const std::string& dbPath, const std::vector<std::string>& targetColumns,
                                const std::string& file, const ExportProgress& progress = {});

}  // namespace tarvex::app
