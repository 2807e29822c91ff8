#pragma once
// The keyword dictionary behind "关键词分词": an ordered list of keywords with a multi-pattern
// index, so finding which of 100k keywords a text contains costs one pass over the text, and
// the program-wide holder that loads "Plugin/dict/dict.jdb" once and then only hands it out.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::engine {

// An immutable keyword list in list order with an Aho–Corasick automaton over its bytes.
// Building costs time and memory in proportion to the total keyword length; lookups are
// read-only, so one list may be shared by any number of threads.
class KeywordList {
public:
    KeywordList();
    explicit KeywordList(std::vector<std::string> words);
    ~KeywordList();
    KeywordList(const KeywordList&) = delete;
    KeywordList& operator=(const KeywordList&) = delete;

    const std::vector<std::string>& words() const { return m_words; }
    bool empty() const { return m_words.empty(); }

    // Positions in the list (ascending) of the non-empty keywords that occur in `text`
    // (case-sensitive, byte-exact); a keyword listed twice is reported at both positions.
    // With most > 0 only the first `most` positions come back.
    std::vector<std::size_t> occurringIn(std::string_view text, std::size_t most = 0) const;

private:
    struct Automaton;
    std::vector<std::string> m_words;
    std::unique_ptr<Automaton> m_index;
};

// The keywords of `list` that occur in the value, in list order, joined by `joiner`, at most
// `most` of them (0 or less: all). An empty list gives "" (the rule replaces the value).
std::string KeywordTags(std::string_view value, std::string_view joiner, long long most, const KeywordList& list);

// The outcome of a load attempt.
enum class DictionaryLoad {
    Loaded,      // the list holds the dictionary's keywords
    Missing,     // no file at the path
    Unreadable,  // a file that is not a SQLite database with a `dict` table, or cannot be read
};

// The message the runner shows when the dictionary cannot be used.
inline constexpr const char* kDictionaryMissingMessage = "自动分词词库不存在！";
// Where the dictionary lives, relative to the program folder.
inline constexpr const char* kDictionaryRelPath = "Plugin/dict/dict.jdb";

// Reads every `keys` value of table `dict` (in row order) from the SQLite file at `path`.
// Empty and NULL values are dropped. An unreadable file gives Unreadable and no words.
struct DictionaryRead {
    DictionaryLoad status = DictionaryLoad::Missing;
    std::vector<std::string> words;
    std::string error;  // SQLite's message for Unreadable
};
DictionaryRead ReadKeywordDictionary(const std::string& path);

// The keyword list shared by the whole program. It is filled once, by the first successful
// load, and never changes afterwards; while it is empty every load call tries again (a failed
// attempt on an unchanged file is not repeated). Safe from any thread: concurrent loads wait
// for one reader.
class KeywordDictionary {
public:
    // The program-wide instance.
    static KeywordDictionary& shared();

    // Loads the dictionary of the program folder (ending with "/") unless the list is already
    // filled. Returns Loaded when the list is (now) filled.
    DictionaryLoad ensureLoaded(const std::string& programFolder);
    // The list; an empty list until a load succeeds. The pointer stays valid for the caller.
    std::shared_ptr<const KeywordList> list() const;
    // How many times a dictionary file was actually read (tests check loads happen once).
    int readCount() const;

private:
    mutable std::mutex m_lock;
    std::mutex m_loadLock;
    std::shared_ptr<const KeywordList> m_list;
    int m_reads = 0;
    std::string m_failedKey;  // path and file identity of the last failed attempt
};

// True when a task's settings text asks for keyword tags: the rule type "关键词分词" followed by
// a backslash, as it stands inside the nested JSON of a field rule.
bool SettingsUseKeywordTags(std::string_view settingsJson);

// What the runner does before content collection: when the settings ask for keyword tags and
// the shared list is still empty, loads the program folder's dictionary. Returns the message
// to show ("自动分词词库不存在！") when it could not be loaded (missing or unreadable), else
// nullopt.
std::optional<std::string> PrepareKeywordDictionary(std::string_view settingsJson, const std::string& programFolder,
                                                    KeywordDictionary& dictionary = KeywordDictionary::shared());

}  // namespace tarvex::engine
