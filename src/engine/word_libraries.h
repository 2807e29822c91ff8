#pragma once
// Word libraries: the user's word-list files under "Plugin/" and the rules that use them —
// keyword tags, tags from a custom list, synonyms, keyword links, random text. List files are
// read once and kept while their modification time, size and inode stay the same, so an edit
// takes effect at the next record without re-reading a file for every value.
// Every function is safe on any thread.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/keyword_dictionary.h"
#include "engine/random_source.h"
#include "engine/rule_json.h"

namespace tarvex::engine {

// A list file as the rules see it.
struct WordListFile {
    bool utf8 = true;                // false: not valid UTF-8 (the rules then give their error text)
    std::string text;                // the whole text, a leading byte-order mark removed
    std::vector<std::string> lines;  // split at CR LF, CR or LF
};

// Reads (or takes from the cache) the list file at `path`; nullptr when there is no regular
// file there or it cannot be opened.
std::shared_ptr<const WordListFile> ReadWordListFile(const std::string& path);

// The folders of the list kinds, relative to the program folder.
inline constexpr const char* kDiyDictFolder = "Plugin/diydict/";
inline constexpr const char* kSynonymFolder = "Plugin/samekey/";
inline constexpr const char* kKeyUrlFolder = "Plugin/keyurl/";

// The file of list `name` in `folder` ("Plugin/diydict/" …) of the program folder, or "" when
// the name could leave that folder (empty, contains "/" or "\", or is "." or "..").
std::string WordListPath(const std::string& programFolder, std::string_view folder, std::string_view name);

// The names (file names without ".txt", any letter case) of the lists in a folder, sorted.
std::vector<std::string> WordListNames(const std::string& programFolder, std::string_view folder);

// Error texts that replace the value when a list file is not UTF-8.
inline constexpr const char* kSynonymReadError = "读取同义词库有误，可能不是UTF8编码文件！";
inline constexpr const char* kKeyUrlReadError = "读取关键词内链词库有误，可能不是UTF8编码文件！";
inline constexpr const char* kRandomTextReadError = "读取随机文本有误，可能不是UTF8编码文件！";
std::string DictReadError(std::string_view name);

// The same over the lines of "Plugin/diydict/" + name + ".txt"; "" when the name is empty or
// the file is missing, the read error text when it is not UTF-8.
std::string DictTags(std::string_view value, std::string_view name, std::string_view joiner, long long most,
                     const std::string& programFolder);

// Applies the word pairs of "Plugin/samekey/" + name + ".txt" in both directions, at most
// `most` pairs (the rule's text; 0 or unreadable: no limit); a word put in is not changed back.
std::string SynonymReplace(std::string_view value, std::string_view name, std::string_view most,
                           const std::string& programFolder);

// Links the keywords of "Plugin/keyurl/" + name + ".txt" (keyword "," address or link text):
// at most `most` keywords (0 or unreadable: 9999), each at most `per` times (unreadable: 5,
// 0: 9999), first occurrences first. Existing links and images, and links made earlier in the
// same call, are never altered or linked into.
std::string KeywordLinks(std::string_view value, std::string_view name, std::string_view most, std::string_view per,
                         const std::string& programFolder);

// The random-text rule: `count` lines drawn without replacement from the file `filePath`
// (relative to the program folder, or absolute inside it), put in at `position` ("0" front,
// "1" end, "2" before a random character, "3" after a line break). A file outside the
// program folder, or missing, leaves the value unchanged.
std::string InsertRandomText(std::string_view value, std::string_view filePath, std::string_view count,
                             std::string_view position, const std::string& programFolder,
                             RandomSource& random = DefaultRandom());

// Puts `text` next to a line-break tag or after a paragraph end of the value chosen at random,
// or at the end when the value has none (see the algorithm in the .cpp).
std::string InsertAfterBreak(std::string_view value, std::string_view text, RandomSource& random = DefaultRandom());

// Resolves a random-text file of a rule: "\" read as "/", relative paths against the program
// folder; "" unless the real path (links followed) lies inside the program folder.
std::string ResolveWorkspaceFile(const std::string& programFolder, std::string_view filePath);

}  // namespace tarvex::engine
