#include "platform/spreadsheet.h"

#include <freexl.h>
#include <zip.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <pugixml.hpp>

namespace tarvex::platform {

namespace {

std::string numberText(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.0f", v);
        return buf;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

// How a number cell of a given number format reads: as a number, or as a date and/or time.
enum class NumberKind { Number, Date, Time, DateTime };

NumberKind kindOfBuiltinFormat(unsigned id) {
    if ((id >= 14 && id <= 17) || (id >= 27 && id <= 31) || id == 36 || (id >= 50 && id <= 58)) return NumberKind::Date;
    if (id == 22) return NumberKind::DateTime;
    if ((id >= 18 && id <= 21) || (id >= 32 && id <= 35) || (id >= 45 && id <= 47)) return NumberKind::Time;
    return NumberKind::Number;
}

// A custom format code such as "yyyy-mm-dd h:mm:ss": quoted text, escaped characters and
// bracketed sections (colours, locales) are not format letters.
NumberKind kindOfFormatCode(const std::string& code) {
    bool date = false, time = false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(code[i])));
        if (c == '"') {
            const auto end = code.find('"', i + 1);
            if (end == std::string::npos) break;
            i = end;
        } else if (c == '\\' || c == '_' || c == '*') {
            ++i;
        } else if (c == '[') {
            const auto end = code.find(']', i + 1);
            if (end == std::string::npos) break;
            const std::string inside = code.substr(i + 1, end - i - 1);
            if (!inside.empty() && std::strchr("hHmMsS", inside[0])) time = true;  // elapsed time [h]
            i = end;
        } else if (c == 'y' || c == 'd' || c == 'e') {
            date = true;
        } else if (c == 'h' || c == 's') {
            time = true;
        } else if (c == ';') {
            break;  // only the first section decides
        }
    }
    if (date && time) return NumberKind::DateTime;
    if (date) return NumberKind::Date;
    if (time) return NumberKind::Time;
    return NumberKind::Number;
}

// A spreadsheet serial day number (days since 1899-12-30, fractions are the time of day) as
// "yyyy-mm-dd", "hh:mm:ss" or both.
std::string serialText(double serial, NumberKind kind) {
    if (!std::isfinite(serial) || serial < 0 || serial > 2958465.0) return numberText(serial);
    long long seconds = std::llround(serial * 86400.0);
    long long days = seconds / 86400;
    const long long secs = seconds % 86400;
    // Day 0 of the serial count is 1899-12-30; civil date from days since 1970-01-01.
    long long z = days - 25569 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char date[32], time[32];
    std::snprintf(date, sizeof date, "%04lld-%02lld-%02lld", y, m, d);
    std::snprintf(time, sizeof time, "%02lld:%02lld:%02lld", secs / 3600, secs / 60 % 60, secs % 60);
    if (kind == NumberKind::Date) return date;
    if (kind == NumberKind::Time) return time;
    return std::string(date) + " " + time;
}

// The name of an element without its namespace prefix ("x:row" → "row").
const char* localName(const pugi::xml_node& n) {
    const char* name = n.name();
    const char* colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

pugi::xml_node child(const pugi::xml_node& n, const char* local) {
    for (auto c = n.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && std::strcmp(localName(c), local) == 0) return c;
    return {};
}

// An attribute by local name ("r:id" is found as "id" when `local` is "id" and prefixed).
const char* attribute(const pugi::xml_node& n, const char* local) {
    for (auto a = n.first_attribute(); a; a = a.next_attribute()) {
        const char* name = a.name();
        const char* colon = std::strchr(name, ':');
        if (std::strcmp(colon ? colon + 1 : name, local) == 0) return a.value();
    }
    return "";
}

// Every <t> text below a string item, leaving out phonetic runs (<rPh>).
void collectText(const pugi::xml_node& n, std::string& out) {
    for (auto c = n.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) continue;
        const char* name = localName(c);
        if (std::strcmp(name, "rPh") == 0) continue;
        if (std::strcmp(name, "t") == 0)
            out += c.text().get();
        else
            collectText(c, out);
    }
}

// One member of the archive, read in pieces.
class ZipEntry {
public:
    ZipEntry(zip_t* zip, const std::string& name) : m_file(zip_fopen(zip, name.c_str(), 0)) {}
    ~ZipEntry() {
        if (m_file) zip_fclose(m_file);
    }
    ZipEntry(const ZipEntry&) = delete;
    ZipEntry& operator=(const ZipEntry&) = delete;
    bool ok() const { return m_file != nullptr; }
    // Appends up to `n` bytes; false at the end.
    bool readMore(std::string& buf, std::size_t n = 1 << 16) {
        if (!m_file) return false;
        const std::size_t old = buf.size();
        buf.resize(old + n);
        const zip_int64_t got = zip_fread(m_file, buf.data() + old, n);
        if (got < 0) throw SpreadsheetError("表格文件已损坏(压缩数据无法读取)");
        buf.resize(old + static_cast<std::size_t>(got));
        return got > 0;
    }
    std::string readAll() {
        std::string s;
        while (readMore(s)) {
        }
        return s;
    }

private:
    zip_file_t* m_file;
};

// Cuts complete elements of one name (`row`, `si`) out of a member as it is read, so a sheet
// of any size is held one element at a time. Such elements never nest in themselves.
class ElementStream {
public:
    ElementStream(ZipEntry& entry, std::string name) : m_entry(entry), m_name(std::move(name)) {}

    bool next(std::string& fragment) {
        while (true) {
            if (findElement(fragment)) return true;
            if (!m_entry.readMore(m_buf)) return findElement(fragment);
        }
    }

private:
    // Start of "<name" or "<prefix:name" followed by a blank, "/" or ">" at or after `from`.
    std::size_t findStart(std::size_t from, std::string& qname) const {
        for (std::size_t p = m_buf.find('<', from); p != std::string::npos; p = m_buf.find('<', p + 1)) {
            std::size_t q = p + 1;
            std::size_t nameEnd = q;
            while (nameEnd < m_buf.size() && (std::isalnum(static_cast<unsigned char>(m_buf[nameEnd])) ||
                                              m_buf[nameEnd] == ':' || m_buf[nameEnd] == '_' || m_buf[nameEnd] == '-'))
                ++nameEnd;
            if (nameEnd >= m_buf.size()) return std::string::npos;  // the tag name runs past the buffer
            const std::string full = m_buf.substr(q, nameEnd - q);
            const auto colon = full.find(':');
            const std::string local = colon == std::string::npos ? full : full.substr(colon + 1);
            const char after = m_buf[nameEnd];
            if (local == m_name &&
                (after == ' ' || after == '>' || after == '/' || after == '\t' || after == '\r' || after == '\n')) {
                qname = full;
                return p;
            }
        }
        return std::string::npos;
    }

    bool findElement(std::string& fragment) {
        std::string qname;
        const std::size_t start = findStart(m_scanFrom, qname);
        if (start == std::string::npos) {
            // Keep a tail that may hold the beginning of the next element.
            const std::size_t lt = m_buf.rfind('<');
            if (lt == std::string::npos || lt < m_scanFrom) {
                m_buf.clear();
            } else {
                m_buf.erase(0, lt);
            }
            m_scanFrom = 0;
            return false;
        }
        const std::size_t tagEnd = m_buf.find('>', start);
        if (tagEnd == std::string::npos) return keep(start);
        std::size_t end;
        if (m_buf[tagEnd - 1] == '/') {
            end = tagEnd + 1;
        } else {
            const std::string close = "</" + qname;
            std::size_t c = m_buf.find(close, tagEnd);
            while (c != std::string::npos) {
                const std::size_t after = c + close.size();
                const std::size_t gt = m_buf.find('>', after);
                if (gt == std::string::npos) return keep(start);
                bool onlyBlanks = true;
                for (std::size_t k = after; k < gt; ++k)
                    if (!std::isspace(static_cast<unsigned char>(m_buf[k]))) onlyBlanks = false;
                if (onlyBlanks) {
                    end = gt + 1;
                    break;
                }
                c = m_buf.find(close, after);
            }
            if (c == std::string::npos) return keep(start);
        }
        fragment.assign(m_buf, start, end - start);
        // The buffer is cut only when more is read, not after every element.
        m_scanFrom = end;
        return true;
    }

    // The element is not complete yet: drop what lies before it and read on.
    bool keep(std::size_t start) {
        m_buf.erase(0, start);
        m_scanFrom = 0;
        if (m_buf.size() > (std::size_t{256} << 20)) throw SpreadsheetError("表格文件已损坏(一行超过256MB)");
        return false;
    }

    ZipEntry& m_entry;
    std::string m_name;
    std::string m_buf;
    std::size_t m_scanFrom = 0;
};

pugi::xml_document parseXml(const std::string& text, const char* what) {
    pugi::xml_document doc;
    auto r = doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
    if (!r) throw SpreadsheetError(std::string("表格文件已损坏(") + what + ": " + r.description() + ")");
    return doc;
}

class XlsxReader final : public SheetReader {
public:
    explicit XlsxReader(const std::string& path) {
        int err = 0;
        m_zip = zip_open(path.c_str(), ZIP_RDONLY, &err);
        if (!m_zip) throw SpreadsheetError("无法打开xlsx文件");
        try {
            loadSharedStrings();
            loadStyles();
            const std::string sheet = firstSheetPath();
            m_sheet = std::make_unique<ZipEntry>(m_zip, sheet);
            if (!m_sheet->ok()) throw SpreadsheetError("xlsx文件中没有工作表: " + sheet);
            m_rows = std::make_unique<ElementStream>(*m_sheet, "row");
        } catch (...) {
            m_sheet.reset();
            zip_discard(m_zip);
            throw;
        }
    }
    ~XlsxReader() override {
        m_rows.reset();
        m_sheet.reset();
        if (m_zip) zip_discard(m_zip);
    }

    bool next(std::uint32_t& rowNumber, std::vector<std::string>& cells) override {
        std::string fragment;
        while (m_rows->next(fragment)) {
            auto doc = parseXml(fragment, "row");
            auto row = doc.first_child();
            const char* r = attribute(row, "r");
            rowNumber = *r ? static_cast<std::uint32_t>(std::strtoul(r, nullptr, 10)) : m_lastRow + 1;
            m_lastRow = rowNumber;
            cells.clear();
            int position = 0;
            for (auto c = row.first_child(); c; c = c.next_sibling()) {
                if (c.type() != pugi::node_element || std::strcmp(localName(c), "c") != 0) continue;
                int col = ColumnIndexOfReference(attribute(c, "r"));
                if (col < 0) col = position;
                position = col + 1;
                if (col > 16384) continue;
                if (static_cast<std::size_t>(col) >= cells.size()) cells.resize(static_cast<std::size_t>(col) + 1);
                cells[static_cast<std::size_t>(col)] = cellText(c);
            }
            return true;
        }
        return false;
    }

private:
    std::string cellText(const pugi::xml_node& c) const {
        const std::string type = attribute(c, "t");
        if (type == "inlineStr") {
            std::string s;
            if (auto is = child(c, "is")) collectText(is, s);
            return s;
        }
        const std::string v = child(c, "v").text().get();
        if (type == "s") {
            const unsigned long i = std::strtoul(v.c_str(), nullptr, 10);
            return i < m_shared.size() ? m_shared[i] : std::string();
        }
        if (type == "b") return v == "1" ? "TRUE" : "FALSE";
        if ((type.empty() || type == "n") && !v.empty()) {
            // Dates and times are numbers with a date format: shown as the date, as a person sees it.
            const char* style = attribute(c, "s");
            const unsigned long xf = *style ? std::strtoul(style, nullptr, 10) : 0;
            if (xf < m_styleKinds.size() && m_styleKinds[xf] != NumberKind::Number)
                return serialText(std::strtod(v.c_str(), nullptr), m_styleKinds[xf]);
        }
        return v;  // numbers, formula strings ("str"), errors ("e")
    }

    // The number kind of every cell style (xl/styles.xml, cellXfs in order).
    void loadStyles() {
        ZipEntry entry(m_zip, "xl/styles.xml");
        if (!entry.ok()) return;
        auto doc = parseXml(entry.readAll(), "styles");
        auto sheet = doc.first_child();
        std::map<unsigned long, NumberKind> custom;
        if (auto fmts = child(sheet, "numFmts"))
            for (auto f = fmts.first_child(); f; f = f.next_sibling())
                custom[std::strtoul(attribute(f, "numFmtId"), nullptr, 10)] =
                    kindOfFormatCode(attribute(f, "formatCode"));
        if (auto xfs = child(sheet, "cellXfs"))
            for (auto x = xfs.first_child(); x; x = x.next_sibling()) {
                if (x.type() != pugi::node_element) continue;
                const unsigned long id = std::strtoul(attribute(x, "numFmtId"), nullptr, 10);
                auto it = custom.find(id);
                m_styleKinds.push_back(it != custom.end() ? it->second
                                                          : kindOfBuiltinFormat(static_cast<unsigned>(id)));
            }
    }

    void loadSharedStrings() {
        ZipEntry entry(m_zip, "xl/sharedStrings.xml");
        if (!entry.ok()) return;  // a sheet without text cells has none
        ElementStream items(entry, "si");
        std::string fragment;
        while (items.next(fragment)) {
            auto doc = parseXml(fragment, "sharedStrings");
            std::string s;
            collectText(doc.first_child(), s);
            m_shared.push_back(std::move(s));
        }
    }

    // The first sheet of the workbook, through its relationship; "xl/worksheets/sheet1.xml"
    // when the workbook does not say.
    std::string firstSheetPath() {
        ZipEntry wb(m_zip, "xl/workbook.xml");
        if (!wb.ok()) throw SpreadsheetError("不是xlsx文件(缺少xl/workbook.xml)");
        auto book = parseXml(wb.readAll(), "workbook");
        std::string relId;
        if (auto sheets = child(book.first_child(), "sheets"))
            if (auto sheet = child(sheets, "sheet")) relId = attribute(sheet, "id");
        ZipEntry rels(m_zip, "xl/_rels/workbook.xml.rels");
        if (relId.empty() || !rels.ok()) return "xl/worksheets/sheet1.xml";
        auto doc = parseXml(rels.readAll(), "workbook.xml.rels");
        for (auto r = doc.first_child().first_child(); r; r = r.next_sibling()) {
            if (relId != attribute(r, "Id")) continue;
            std::string target = attribute(r, "Target");
            if (!target.empty() && target[0] == '/') return target.substr(1);
            return "xl/" + target;
        }
        return "xl/worksheets/sheet1.xml";
    }

    zip_t* m_zip = nullptr;
    std::vector<std::string> m_shared;
    std::vector<NumberKind> m_styleKinds;
    std::unique_ptr<ZipEntry> m_sheet;
    std::unique_ptr<ElementStream> m_rows;
    std::uint32_t m_lastRow = 0;
};

class XlsReader final : public SheetReader {
public:
    explicit XlsReader(const std::string& path) {
        const int rc = freexl_open(path.c_str(), &m_handle);
        if (rc != FREEXL_OK) {
            freexl_close(m_handle);
            throw SpreadsheetError("无法读取xls文件(FreeXL错误" + std::to_string(rc) + ")");
        }
        if (freexl_select_active_worksheet(m_handle, 0) != FREEXL_OK ||
            freexl_worksheet_dimensions(m_handle, &m_rowCount, &m_colCount) != FREEXL_OK) {
            freexl_close(m_handle);
            throw SpreadsheetError("xls文件中没有可读的工作表");
        }
    }
    ~XlsReader() override { freexl_close(m_handle); }

    bool next(std::uint32_t& rowNumber, std::vector<std::string>& cells) override {
        while (m_row < m_rowCount) {
            const unsigned int row = m_row++;
            cells.assign(m_colCount, std::string());
            bool any = false;
            for (unsigned short col = 0; col < m_colCount; ++col) {
                FreeXL_CellValue v{};
                if (freexl_get_cell_value(m_handle, row, col, &v) != FREEXL_OK) continue;
                std::string& out = cells[col];
                switch (v.type) {
                    case FREEXL_CELL_INT:
                        out = std::to_string(v.value.int_value);
                        break;
                    case FREEXL_CELL_DOUBLE:
                        out = numberText(v.value.double_value);
                        break;
                    case FREEXL_CELL_TEXT:
                    case FREEXL_CELL_SST_TEXT:
                    case FREEXL_CELL_DATE:
                    case FREEXL_CELL_DATETIME:
                    case FREEXL_CELL_TIME:
                        out = v.value.text_value ? v.value.text_value : "";
                        break;
                    default:
                        break;
                }
                if (!out.empty()) any = true;
            }
            if (!any) continue;
            rowNumber = row + 1;
            return true;
        }
        return false;
    }

private:
    const void* m_handle = nullptr;
    unsigned int m_rowCount = 0;
    unsigned short m_colCount = 0;
    unsigned int m_row = 0;
};

}  // namespace

std::string SerialAsText(double serial, const std::string& formatCode) {
    const NumberKind kind = kindOfFormatCode(formatCode);
    return kind == NumberKind::Number ? numberText(serial) : serialText(serial, kind);
}

int ColumnIndexOfReference(const std::string& reference) {
    int col = 0;
    std::size_t i = 0;
    for (; i < reference.size() && std::isalpha(static_cast<unsigned char>(reference[i])); ++i) {
        col = col * 26 + (std::toupper(static_cast<unsigned char>(reference[i])) - 'A' + 1);
        if (col > 1 << 20) return -1;
    }
    return i == 0 ? -1 : col - 1;
}

std::unique_ptr<SheetReader> OpenFirstSheet(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SpreadsheetError("文件不存在或无法读取");
    char magic[8] = {};
    in.read(magic, sizeof magic);
    if (in.gcount() >= 4 && std::memcmp(magic, "PK\x03\x04", 4) == 0) return std::make_unique<XlsxReader>(path);
    static const unsigned char cfb[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (in.gcount() == 8 && std::memcmp(magic, cfb, 8) == 0) return std::make_unique<XlsReader>(path);
    throw SpreadsheetError("不是xls或xlsx表格文件");
}

}  // namespace tarvex::platform
