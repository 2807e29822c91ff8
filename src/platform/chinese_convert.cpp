#include "platform/chinese_convert.h"

#include <opencc/Lexicon.hpp>
#include <opencc/MarisaDict.hpp>

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/run_log.h"
#include "platform/utf8.h"

namespace tarvex::platform {
namespace {

// Debian's libopencc-data and a local build's install prefix.
constexpr const char* kDataDirs[] = {"/usr/share/opencc", "/usr/local/share/opencc"};

using CharMap = std::unordered_map<char32_t, char32_t>;

using utf8::decode;

// A dictionary key or value that is exactly one character.
std::optional<char32_t> singleChar(const std::string& s) {
    if (s.empty()) return std::nullopt;
    std::size_t len = 0;
    auto cp = decode(s, 0, len);
    if (!cp || len != s.size()) return std::nullopt;
    return cp;
}

// Reads one of OpenCC's character dictionaries into a plain table. Only one-to-one entries
// are kept (the first candidate of each), which is what keeps the length unchanged; the
// table is immutable afterwards, so lookups need no lock.
std::optional<CharMap> loadCharMap(const char* fileName) {
    for (const char* dir : kDataDirs) {
        std::string path = std::string(dir) + "/" + fileName;
        std::unique_ptr<FILE, int (*)(FILE*)> fp(std::fopen(path.c_str(), "rb"), &std::fclose);
        if (!fp) continue;
        try {
            opencc::MarisaDictPtr dict = opencc::MarisaDict::NewFromFile(fp.get());
            CharMap map;
            for (const auto& entry : *dict->GetLexicon()) {
                auto from = singleChar(entry->Key());
                auto to = singleChar(entry->GetDefault());
                if (from && to && *from != *to) map.emplace(*from, *to);
            }
            return map;
        } catch (const std::exception& e) {
            WriteLog(std::string("chinese_convert|") + path + " 读取失败:" + e.what(), 0);
        }
    }
    WriteLog(std::string("chinese_convert|找不到字典 ") + fileName + "，繁简转换不可用", 0);
    return std::nullopt;
}

const CharMap* toTraditionalMap() {
    static const std::optional<CharMap> map = loadCharMap("STCharacters.ocd2");
    return map ? &*map : nullptr;
}

const CharMap* toSimplifiedMap() {
    static const std::optional<CharMap> map = loadCharMap("TSCharacters.ocd2");
    return map ? &*map : nullptr;
}

std::string convert(std::string_view text, const CharMap* map) {
    if (!map) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = 1;
        auto cp = decode(text, i, len);
        if (cp && *cp >= 0x80) {
            auto it = map->find(*cp);
            if (it != map->end()) {
                utf8::append(out, it->second);
                i += len;
                continue;
            }
        }
        out.append(text.substr(i, len));
        i += len;
    }
    return out;
}

}  // namespace

std::string toSimplifiedChinese(std::string_view text) {
    return convert(text, toSimplifiedMap());
}

std::string toTraditionalChinese(std::string_view text) {
    return convert(text, toTraditionalMap());
}

bool chineseConversionAvailable() {
    return toSimplifiedMap() && toTraditionalMap();
}

}  // namespace tarvex::platform
