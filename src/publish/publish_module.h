#pragma once
// Publish modules: the files "发布规则/<name>.p" that describe one kind of target site (the
// interface address, the charset it expects and the ordered form fields with their tags), read
// and written through the text cipher under the program key, and the filling of a field's
// tags for one record. Pure functions over text and files; any thread.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ports.h"

namespace tarvex::publish {

// One module once deciphered: its lines (`postlist`) in order.
struct PublishModule {
    std::vector<std::string> lines;

    // Value of line 1 (the name before "=" is not checked); "" when missing.
    std::string address() const;
    // Value of line 2; "1" selects UTF-8, anything else GBK.
    std::string charsetFlag() const;
    bool utf8() const { return charsetFlag() == "1"; }
    // "utf-8" or "GBK", as the request parts declare it.
    std::string charsetName() const { return utf8() ? "utf-8" : "GBK"; }
    // Lines 3 onward split at the first "=" into name and content.
    std::vector<std::pair<std::string, std::string>> fields() const;
    // The lines joined by CR LF, each ending with CR LF.
    std::string text() const;
};

// Splits "name=value" at the first "=" (no "=": the whole line is the name).
std::pair<std::string, std::string> SplitModuleLine(const std::string& line);
// Splits a module text on CR, LF or CR LF; a final line break adds no empty line.
std::vector<std::string> SplitModuleText(const std::string& text);

// folder + "/" + name + ".p".
std::string ModulePath(const std::string& publishFolder, const std::string& name);
// "名称为：" + name + ".p，的发布模块不存在"
std::string MissingModuleText(const std::string& name);
// Names (without extension) of the modules in a folder: files whose extension is ".p" in any
// letter case, sorted.
std::vector<std::string> ListModules(const std::string& publishFolder);

// Reads a module file: the text (UTF-8 or UTF-16 by byte-order mark, else bytes as they are),
// lines joined by CR LF, trimmed of characters at or below the blank, deciphered with the
// program key and decoded from GBK. A file that is not one run of hex digits yields no lines.
// nullopt when the file cannot be read.
std::optional<PublishModule> ReadModuleFile(const std::string& path);
// Loads "<folder>/<name>.p"; nullopt with MissingModuleText in `error` when it does not exist.
std::optional<PublishModule> LoadModule(const std::string& publishFolder, const std::string& name,
                                        std::string* error = nullptr);

// Writes a module: "posturl=" + trimmed address, "charset=1" or "charset=0", then one line per
// field, CR LF after each, enciphered from GBK, written as one line of uppercase hex in UTF-8
// with a byte-order mark. Creates the folder when missing. False when the file cannot be written.
bool SaveModule(const std::string& path, const std::string& address, bool utf8,
                const std::vector<std::pair<std::string, std::string>>& fields);

// Modules of one publishing run by name, each deciphered once. Not thread-safe; one per run.
class ModuleCache {
public:
    explicit ModuleCache(std::string publishFolder) : m_folder(std::move(publishFolder)) {}
    // The module, loaded on first use; nullptr (message in `error`) when its file is missing.
    const PublishModule* get(const std::string& name, std::string* error = nullptr);
    int loads() const { return m_loads; }

private:
    std::string m_folder;
    std::map<std::string, PublishModule> m_modules;
    int m_loads = 0;
};

// Names that configure the request instead of being posted (compared lower-cased).
bool IsSpecialFieldName(const std::string& name);

// What filling a field needs from the record being published.
struct RecordFill {
    std::string columnId;   // "{dd:栏目id}"
    std::string recordUrl;  // "{dd:网址}", the row's url ("&&" already read back as "&")
    // "{dd:自动缩略图}": the thumbnail's newurl, "" when none. Called only when needed.
    std::function<std::string()> thumbnail;
    // "{采集字段:name}": the row's value of that column (names without regard to case), nullopt
    // when the content table has no such column.
    std::function<std::optional<std::string>(const std::string& column)> column;
    const platform::Clock* clock = nullptr;  // for "{dd:" tokens; nullptr = the system clock
};

// Fills one field's content in the publisher's order: the three whole-content tags, then the
// "{dd:" tokens, then (for ordinary names only) every "{采集字段:…}" tag. Values from the record
// are inserted as they are and never scanned for further tags.
std::string FillFieldContent(const std::string& name, const std::string& content, const RecordFill& record);

// A copy of module or form lines safe for the run log: values of lines whose names suggest a
// credential (password, secret, token, key, auth, sign, session, ticket, cookie, …) and such
// query values of addresses are replaced by "***".
std::string RedactForLog(const std::string& nameValueLines);

}  // namespace tarvex::publish
