#pragma once
// Reading the first worksheet of a spreadsheet file as text cells, row by row: .xlsx (Office
// Open XML, read with libzip and pugixml without loading the whole sheet) and .xls (BIFF,
// read with FreeXL). Numbers come as their shortest decimal text, dates as FreeXL or the sheet
// gives them. Not thread-safe per reader; readers on different threads are independent.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvex::platform {

class SpreadsheetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SheetReader {
public:
    virtual ~SheetReader() = default;
    // The next row that has cells: its 1-based row number and its cells by 0-based column
    // ("" where a cell is empty). False at the end of the sheet. Throws SpreadsheetError for a
    // damaged file.
    virtual bool next(std::uint32_t& rowNumber, std::vector<std::string>& cells) = 0;
};

// Opens the first worksheet; the kind is chosen by the file's content (a zip archive is
// .xlsx, a compound document .xls), so a misnamed file still reads. Throws SpreadsheetError
// with a reason when the file is missing, unreadable or of another kind.
std::unique_ptr<SheetReader> OpenFirstSheet(const std::string& path);

// A number cell's text under a custom number format code: a date, time or both
// ("yyyy-mm-dd", "hh:mm:ss", "yyyy-mm-dd hh:mm:ss") when the code formats dates, else the number.
std::string SerialAsText(double serial, const std::string& formatCode);

// "A" → 0, "B" → 1, "AA" → 26 for the letters at the start of a cell reference such as "AB12";
// -1 when there are none.
int ColumnIndexOfReference(const std::string& reference);

}  // namespace tarvex::platform
