#include "engine/word_libraries.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/file_read.h"
#include "platform/regex.h"
#include "platform/run_log.h"
#include "platform/utf8.h"

namespace tarvex::engine {
namespace {

namespace utf8 = platform::utf8;

using platform::utf8::replaceAll;

bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

// Leading and trailing characters up to U+0020, as the random-text rule trims its file.
std::string_view trimControls(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
    return s.substr(b, e - b);
}

// A pair line of the synonym and link lists: skipped when empty or without "," after its
// first character; ",," collapsed twice; split at the first ",".
bool splitPair(std::string line, std::string& first, std::string& second) {
    if (line.empty() || line.find(',', 1) == std::string::npos) return false;
    for (int k = 0; k < 2; ++k) {
        for (std::size_t p = line.find(",,"); p != std::string::npos; p = line.find(",,", p + 1))
            line.replace(p, 2, ",");
    }
    std::size_t comma = line.find(',');
    first = line.substr(0, comma);
    second = line.substr(comma + 1);
    return true;
}

struct CachedFile {
    std::string identity;
    std::shared_ptr<const WordListFile> file;
};

std::mutex gCacheLock;
std::map<std::string, CachedFile> gCache;
constexpr std::size_t kCacheMaxFiles = 256;

std::string tagsOf(std::string_view value, const std::vector<std::string>& words, std::string_view joiner,
                   long long most) {
    std::string result;
    long long count = 0;
    for (const std::string& w : words) {
        if (!w.empty() && contains(value, w)) {
            result += w;
            result += joiner;
            ++count;
        }
        if (most > 0 && count >= most) break;
    }
    if (!joiner.empty() && result.size() >= joiner.size() &&
        std::string_view(result).substr(result.size() - joiner.size()) == joiner)
        result.resize(result.size() - joiner.size());
    return result;
}

}  // namespace

std::shared_ptr<const WordListFile> ReadWordListFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    const std::string identity = std::to_string(st.st_ino) + "|" + std::to_string(st.st_size) + "|" +
                                 std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    {
        std::lock_guard lock(gCacheLock);
        auto it = gCache.find(path);
        if (it != gCache.end() && it->second.identity == identity) return it->second.file;
    }
    // Read outside the lock: workers reading other lists need not wait for this file.
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    std::ostringstream buf;
    buf << in.rdbuf();
    std::string bytes = buf.str();
    auto file = std::make_shared<WordListFile>();
    std::string_view body = utf8::stripBom(bytes);
    file->utf8 = utf8::isValid(body);
    if (file->utf8) {
        file->text = std::string(body);
        file->lines = splitLines(file->text);
    }
    std::lock_guard lock(gCacheLock);
    if (gCache.size() >= kCacheMaxFiles) gCache.clear();
    gCache[path] = CachedFile{identity, file};
    return file;
}

namespace {
// The list name of a file name: the name without an extension ".txt" in any letter case;
// nullopt for other files.
std::optional<std::string> listNameOf(const std::string& fileName) {
    if (fileName.size() <= 4) return std::nullopt;
    std::string ext = fileName.substr(fileName.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".txt") return std::nullopt;
    return fileName.substr(0, fileName.size() - 4);
}
}  // namespace

std::string WordListPath(const std::string& programFolder, std::string_view folder, std::string_view name) {
    if (name.empty() || name == "." || name == ".." || contains(name, "/") || contains(name, "\\") ||
        contains(name, std::string_view("\0", 1)))
        return {};
    const std::string dir = platform::joinPath(programFolder, std::string(folder));
    const std::string exact = platform::joinPath(dir, std::string(name) + ".txt");
    if (platform::isRegularFile(exact)) return exact;
    // The editors offer lists whose extension is ".TXT" or ".Txt" too; open the file listed.
    std::string found;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string file = e->d_name;
            auto listName = listNameOf(file);
            if (!listName || *listName != name || !platform::isRegularFile(platform::joinPath(dir, file))) continue;
            if (found.empty() || file < found) found = file;  // the same file every time
        }
        ::closedir(d);
    }
    return found.empty() ? exact : platform::joinPath(dir, found);
}

std::vector<std::string> WordListNames(const std::string& programFolder, std::string_view folder) {
    std::vector<std::string> names;
    const std::string dir = platform::joinPath(programFolder, std::string(folder));
    DIR* d = ::opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d)) {
        const std::string file = e->d_name;
        auto listName = listNameOf(file);
        if (!listName || !platform::isRegularFile(platform::joinPath(dir, file))) continue;
        names.push_back(*listName);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    // "a.txt" and "a.TXT" are one list name.
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string DictReadError(std::string_view name) {
    return "读取自定义词库有误,\\Plugin\\diydict\\" + std::string(name) + ".txt，可能不是UTF8编码文件！";
}

std::string DictTags(std::string_view value, std::string_view name, std::string_view joiner, long long most,
                     const std::string& programFolder) {
    const std::string path = WordListPath(programFolder, kDiyDictFolder, name);
    if (path.empty()) return {};
    auto file = ReadWordListFile(path);
    if (!file) return {};
    if (!file->utf8) return DictReadError(name);
    return tagsOf(value, file->lines, joiner, most);
}

std::string SynonymReplace(std::string_view value, std::string_view name, std::string_view most,
                           const std::string& programFolder) {
    if (value.empty()) return std::string(value);
    const std::string path = WordListPath(programFolder, kSynonymFolder, name);
    if (path.empty()) return std::string(value);
    auto file = ReadWordListFile(path);
    if (!file) return std::string(value);
    if (!file->utf8) return kSynonymReadError;
    long long limit = ParseRuleCount(most).value_or(0);
    if (limit == 0) limit = 99999;
    std::string work(value);
    std::string used = ",";
    long long replacements = 0;
    for (const std::string& line : file->lines) {
        if (replacements >= limit) break;
        std::string a, b;
        if (!splitPair(line, a, b) || a.empty() || b.empty()) continue;
        if (contains(work, a)) {
            if (contains(used, "," + a + ",")) continue;
            replaceAll(work, a, b);
            used += b + ",";
            ++replacements;
        } else if (contains(work, b)) {
            if (contains(used, "," + b + ",")) continue;
            replaceAll(work, b, a);
            used += a + ",";
            ++replacements;
        }
    }
    return work;
}

namespace {

// The value cut into pieces that keyword links may touch and pieces they may not (existing
// links and images, links already made). Working on pieces instead of putting marker texts
// into the value keeps a keyword such as "img" from matching inside a marker.
struct Piece {
    std::string text;
    bool frozen = false;
};

void freezeMatches(std::vector<Piece>& pieces, const platform::RegexPtr& re) {
    std::vector<Piece> out;
    for (Piece& p : pieces) {
        if (p.frozen) {
            out.push_back(std::move(p));
            continue;
        }
        std::size_t copied = 0;
        auto err = re->forEach(
            p.text,
            [&](const platform::RegexMatch& m) {
                if (m.begin() > copied) out.push_back({p.text.substr(copied, m.begin() - copied), false});
                out.push_back({std::string(m.group()), true});
                copied = m.end();
                return true;
            },
            false);
        if (err) platform::WriteLog("KeywordLinks|正则出错：" + *err, 1);
        if (copied < p.text.size()) out.push_back({p.text.substr(copied), false});
    }
    pieces = std::move(out);
}

}  // namespace

std::string KeywordLinks(std::string_view value, std::string_view name, std::string_view most, std::string_view per,
                         const std::string& programFolder) {
    if (value.empty()) return std::string(value);
    const std::string path = WordListPath(programFolder, kKeyUrlFolder, name);
    if (path.empty()) return std::string(value);
    auto file = ReadWordListFile(path);
    if (!file) return std::string(value);
    if (!file->utf8) return kKeyUrlReadError;
    long long limit = ParseRuleCount(most).value_or(0);
    if (limit == 0) limit = 9999;
    long long perLimit = ParseRuleCount(per).value_or(5);
    if (perLimit == 0) perLimit = 9999;

    std::vector<Piece> pieces{{std::string(value), false}};
    static const auto links = platform::Regex::compile("<a(.*?)>(.*?)</a>", platform::kExtractionOptions);
    static const auto images = platform::Regex::compile("<img(.*?)>", platform::kExtractionOptions);
    if (links) freezeMatches(pieces, links.regex);
    if (images) freezeMatches(pieces, images.regex);

    long long linked = 0;
    for (const std::string& line : file->lines) {
        if (linked >= limit) break;
        std::string keyword, target;
        if (!splitPair(line, keyword, target) || keyword.empty()) continue;
        bool present = std::any_of(pieces.begin(), pieces.end(),
                                   [&](const Piece& p) { return !p.frozen && contains(p.text, keyword); });
        if (!present) continue;
        const std::string link = contains(target, "<a") ? target : "<a href=\"" + target + "\">" + keyword + "</a>";
        long long done = 0;
        for (std::size_t k = 0; k < pieces.size() && done < perLimit; ++k) {
            if (pieces[k].frozen) continue;
            std::size_t at = pieces[k].text.find(keyword);
            if (at == std::string::npos) continue;
            std::string after = pieces[k].text.substr(at + keyword.size());
            pieces[k].text.resize(at);
            pieces.insert(pieces.begin() + static_cast<std::ptrdiff_t>(k) + 1, Piece{link, true});
            pieces.insert(pieces.begin() + static_cast<std::ptrdiff_t>(k) + 2, Piece{std::move(after), false});
            ++done;
            ++k;  // on to the text after the new link
        }
        ++linked;
    }
    std::string out;
    out.reserve(value.size());
    for (const Piece& p : pieces) out += p.text;
    return out;
}

std::string ResolveWorkspaceFile(const std::string& programFolder, std::string_view filePath) {
    std::string path(filePath);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.empty()) return {};
    if (path[0] != '/') path = platform::joinPath(programFolder, path);
    char* realFile = ::realpath(path.c_str(), nullptr);
    char* realRoot = ::realpath(programFolder.c_str(), nullptr);
    std::string resolved;
    if (realFile && realRoot) {
        std::string root = realRoot;
        if (root.empty() || root.back() != '/') root += '/';
        std::string file = realFile;
        if (file.compare(0, root.size(), root) == 0) resolved = file;
    }
    std::free(realFile);
    std::free(realRoot);
    return resolved;
}

std::string InsertRandomText(std::string_view value, std::string_view filePath, std::string_view count,
                             std::string_view position, const std::string& programFolder, RandomSource& random) {
    if (filePath.empty()) return std::string(value);
    const std::string path = ResolveWorkspaceFile(programFolder, filePath);
    if (path.empty()) {
        platform::WriteLog("InsertRandomText|随机文本文件不存在或不在程序目录内：" + std::string(filePath), 1);
        return std::string(value);
    }
    auto file = ReadWordListFile(path);
    if (!file) return std::string(value);
    if (!file->utf8) return kRandomTextReadError;
    std::vector<std::string> lines = splitLines(trimControls(file->text));
    // A trimmed text that ends with a line break leaves no empty last line, matching how a
    // string list reads a file.
    long long want = ParseRuleCount(count).value_or(0);
    std::string text;
    for (long long k = 0; k < want && !lines.empty(); ++k) {
        auto i = static_cast<std::size_t>(random.uniform(0, static_cast<std::int64_t>(lines.size()) - 1));
        text += lines[i];
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (text.empty()) return std::string(value);
    switch (ParseRuleCount(position).value_or(0)) {
        case 0:
            return text + std::string(value);
        case 1:
            return std::string(value) + text;
        case 2: {
            if (value.empty()) return text;
            std::size_t n = utf8::length(value);
            auto at = static_cast<std::size_t>(random.uniform(0, static_cast<std::int64_t>(n) - 1));
            std::size_t byte = utf8::byteOffset(value, at);
            std::string out(value.substr(0, byte));
            out += text;
            out += value.substr(byte);
            return out;
        }
        case 3:
            return InsertAfterBreak(value, text, random);
        default:
            return std::string(value);
    }
}

std::string InsertAfterBreak(std::string_view value, std::string_view text, RandomSource& random) {
    static const auto breaks =
        platform::Regex::compile("<([ ]*?)(/*?)br([ ]*?)(/*?)([ ]*?)>|</p([ ]*?)>", platform::kRegexCaseless);
    std::vector<std::pair<std::size_t, std::size_t>> found;  // byte begin, end
    if (breaks) {
        auto all = breaks.regex->all(value);
        if (all.error) platform::WriteLog("InsertAfterBreak|正则出错：" + *all.error, 1);
        for (const auto& m : all.matches) found.emplace_back(m.begin(), m.end());
    }
    if (found.empty()) return std::string(value) + std::string(text);
    auto pick = found[static_cast<std::size_t>(random.uniform(0, static_cast<std::int64_t>(found.size()) - 1))];
    std::string tag(value.substr(pick.first, pick.second - pick.first));
    for (char& c : tag) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t at = pick.second;
    if (contains(tag, "br")) {
        // A snippet is put beside a line break only when it brings its own paragraph.
        if (!contains(text, "<p")) return std::string(value);
        if (random.uniform(0, 1) == 0) at = pick.first;
    }
    std::string out(value.substr(0, at));
    out += text;
    out += value.substr(at);
    return out;
}

}  // namespace tarvex::engine
