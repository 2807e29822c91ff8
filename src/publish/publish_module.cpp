#include "publish/publish_module.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/field_rule.h"
#include "engine/text_tokens.h"
#include "platform/run_log.h"
#include "platform/text_codec.h"
#include "platform/utf8.h"
#include "publish/text_cipher.h"

namespace tarvex::publish {
namespace fs = std::filesystem;

namespace {

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    if (from.empty()) return s;
    for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
    return s;
}

// A module file's bytes as UTF-8 text: the byte-order mark decides, as a text reader does.
std::string fileText(const std::string& bytes) {
    auto starts = [&](const char* bom, std::size_t n) { return bytes.size() >= n && bytes.compare(0, n, bom, n) == 0; };
    if (starts("\xEF\xBB\xBF", 3)) return bytes.substr(3);
    if (starts("\xFF\xFE", 2)) return platform::decodeToUtf8(bytes.substr(2), "UTF-16LE").value_or("");
    if (starts("\xFE\xFF", 2)) return platform::decodeToUtf8(bytes.substr(2), "UTF-16BE").value_or("");
    return bytes;
}

// A name that suggests a credential: a password, a secret, a token, a key (not a keyword),
// an authorisation, a signature, a session, a ticket or a cookie.
bool mentionsSecret(const std::string& lowerName) {
    std::string n = lowerName;
    for (std::size_t p = n.find("keyword"); p != std::string::npos; p = n.find("keyword", p)) n.replace(p, 7, "-");
    for (const char* w :
         {"pass", "pwd", "secret", "token", "key", "auth", "sign", "session", "sess", "ticket", "cookie", "credential"})
        if (n.find(w) != std::string::npos) return true;
    return false;
}

// Query values whose names mention a secret ("?secret=…", "&pwd=…") become "***".
std::string redactQueryValues(const std::string& value) {
    std::string out;
    std::size_t i = 0;
    while (i < value.size()) {
        char c = value[i];
        out += c;
        ++i;
        if (c != '?' && c != '&') continue;
        std::size_t eq = value.find('=', i);
        std::size_t stop = value.find_first_of("&# \t\r\n", i);
        if (eq == std::string::npos || (stop != std::string::npos && stop < eq)) continue;
        if (!mentionsSecret(platform::utf8::lowerAscii(value.substr(i, eq - i)))) continue;
        std::size_t end = value.find_first_of("&# \t\r\n", eq + 1);
        if (end == std::string::npos) end = value.size();
        out += value.substr(i, eq + 1 - i) + "***";
        i = end;
    }
    return out;
}

}  // namespace

std::pair<std::string, std::string> SplitModuleLine(const std::string& line) {
    auto eq = line.find('=');
    if (eq == std::string::npos) return {line, {}};
    return {line.substr(0, eq), line.substr(eq + 1)};
}

std::vector<std::string> SplitModuleText(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

std::string PublishModule::address() const {
    return lines.empty() ? std::string() : SplitModuleLine(lines[0]).second;
}

std::string PublishModule::charsetFlag() const {
    return lines.size() < 2 ? std::string() : SplitModuleLine(lines[1]).second;
}

std::vector<std::pair<std::string, std::string>> PublishModule::fields() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t i = 2; i < lines.size(); ++i) out.push_back(SplitModuleLine(lines[i]));
    return out;
}

std::string PublishModule::text() const {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

std::string ModulePath(const std::string& publishFolder, const std::string& name) {
    std::string folder = publishFolder;
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    return folder + "/" + name + ".p";
}

std::string MissingModuleText(const std::string& name) {
    return "名称为：" + name + ".p，的发布模块不存在";
}

std::vector<std::string> ListModules(const std::string& publishFolder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(publishFolder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const fs::path& p = it->path();
        if (platform::utf8::lowerAscii(p.extension().string()) == ".p") names.push_back(p.stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<PublishModule> ReadModuleFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream ss;
    ss << in.rdbuf();
    // Lines are joined with CR LF before trimming, so a line break inside the digits makes the
    // cipher text unreadable (and the module empty), as it always has.
    std::string joined;
    bool first = true;
    for (const auto& l : SplitModuleText(fileText(ss.str()))) {
        if (!first) joined += "\r\n";
        joined += l;
        first = false;
    }
    PublishModule module;
    module.lines = SplitModuleText(deCryptText(engine::TrimText(joined), kProgramKey));
    return module;
}

std::optional<PublishModule> LoadModule(const std::string& publishFolder, const std::string& name, std::string* error) {
    const std::string path = ModulePath(publishFolder, name);
    std::error_code ec;
    auto module = fs::is_regular_file(path, ec) ? ReadModuleFile(path) : std::nullopt;
    if (!module && error) *error = MissingModuleText(name);
    return module;
}

bool SaveModule(const std::string& path, const std::string& address, bool utf8,
                const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string text = "posturl=" + engine::TrimText(address) + "\r\n" + (utf8 ? "charset=1" : "charset=0") + "\r\n";
    for (const auto& [name, content] : fields) text += name + "=" + content + "\r\n";
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << "\xEF\xBB\xBF" << enCryptText(text, kProgramKey) << "\r\n";
    return static_cast<bool>(out.flush());
}

const PublishModule* ModuleCache::get(const std::string& name, std::string* error) {
    if (auto it = m_modules.find(name); it != m_modules.end()) return &it->second;
    auto module = LoadModule(m_folder, name, error);
    if (!module) return nullptr;
    ++m_loads;
    return &m_modules.emplace(name, std::move(*module)).first->second;
}

bool IsSpecialFieldName(const std::string& name) {
    const std::string n = platform::utf8::lowerAscii(name);
    return n == "cookie" || n == "jcookie" || n == "juseragent" || n == "jsuccess" || n == "jsslversion" ||
           n == "sslverify";
}

std::string FillFieldContent(const std::string& name, const std::string& content, const RecordFill& record) {
    std::string s = content;
    if (s == "{dd:自动缩略图}") s = record.thumbnail ? record.thumbnail() : std::string();
    if (s == "{dd:栏目id}") s = record.columnId;
    if (s == "{dd:网址}") s = record.recordUrl;
    if (s.find("{dd:") != std::string::npos)
        s = record.clock ? engine::ExpandTokens(s, {}, *record.clock) : engine::ExpandTokens(s);
    if (IsSpecialFieldName(name)) return s;

    static const std::string open = "{采集字段:";
    if (s.find(open) == std::string::npos) return s;
    std::string out;
    std::size_t pos = 0;
    for (;;) {
        std::size_t b = s.find(open, pos);
        std::size_t e = b == std::string::npos ? b : s.find('}', b + open.size());
        if (e == std::string::npos) {
            out += s.substr(pos);
            break;
        }
        out += s.substr(pos, b - pos);
        const std::string column = s.substr(b + open.size(), e - b - open.size());
        if (auto value = record.column ? record.column(column) : std::nullopt) out += replaceAll(*value, "&&", "&");
        pos = e + 1;
    }
    return out;
}

std::string RedactForLog(const std::string& nameValueLines) {
    std::string out;
    std::size_t start = 0;
    while (start <= nameValueLines.size()) {
        std::size_t end = nameValueLines.find_first_of("\r\n", start);
        std::string line = nameValueLines.substr(start, end == std::string::npos ? std::string::npos : end - start);
        auto [name, value] = SplitModuleLine(line);
        const std::string n = platform::utf8::lowerAscii(name);
        if (line.find('=') != std::string::npos && mentionsSecret(n))
            out += name + "=***";
        else
            out += redactQueryValues(line);
        if (end == std::string::npos) break;
        out += nameValueLines[end];
        start = end + 1;
    }
    return out;
}

}  // namespace tarvex::publish
