#include "engine/keyword_dictionary.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <deque>
#include <numeric>

#include "engine/rule_json.h"
#include "platform/run_log.h"
#include "platform/sqlite_db.h"

namespace tarvex::engine {

// Nodes are numbered in breadth-first order, so the children of a node are one contiguous,
// label-sorted run of ids: a transition is a binary search in that run, and the whole trie is
// a few flat arrays instead of a map per node.
struct KeywordList::Automaton {
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    std::vector<std::uint32_t> firstChild;
    std::vector<std::uint16_t> childCount;
    std::vector<std::uint8_t> label;
    std::vector<std::uint32_t> fail;
    std::vector<std::uint32_t> outLink;  // nearest proper suffix state that ends a word
    std::vector<std::uint32_t> wordAt;   // distinct word ending here, or kNone
    std::array<std::uint32_t, 256> rootNext{};

    // Distinct words, each with the chain of its list positions.
    std::vector<std::uint32_t> firstPosition;  // per distinct word
    std::vector<std::uint32_t> nextPosition;   // per list position, kNone ends the chain

    std::uint32_t child(std::uint32_t node, std::uint8_t c) const {
        if (node == 0) return rootNext[c];
        std::uint32_t lo = firstChild[node], hi = lo + childCount[node];
        while (lo < hi) {
            std::uint32_t mid = lo + (hi - lo) / 2;
            if (label[mid] < c)
                lo = mid + 1;
            else
                hi = mid;
        }
        return (lo < firstChild[node] + childCount[node] && label[lo] == c) ? lo : kNone;
    }

    explicit Automaton(const std::vector<std::string>& words) {
        nextPosition.assign(words.size(), kNone);
        std::vector<std::uint32_t> order;
        for (std::uint32_t i = 0; i < words.size(); ++i)
            if (!words[i].empty()) order.push_back(i);
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return words[a] < words[b]; });
        // Sorted words that share a prefix form one range; the range of a node splits into the
        // ranges of its children by the byte at the node's depth.
        std::vector<std::uint32_t> sortedWords;  // one entry per distinct word (its first position)
        for (std::size_t k = 0; k < order.size();) {
            std::size_t j = k + 1;
            while (j < order.size() && words[order[j]] == words[order[k]]) ++j;
            for (std::size_t m = k; m + 1 < j; ++m) nextPosition[order[m]] = order[m + 1];
            sortedWords.push_back(order[k]);
            k = j;
        }
        firstPosition = sortedWords;

        struct Range {
            std::uint32_t lo, hi, depth;
        };
        std::deque<Range> queue;
        std::vector<Range> ranges;
        ranges.push_back({0, static_cast<std::uint32_t>(sortedWords.size()), 0});
        firstChild.push_back(0);
        childCount.push_back(0);
        label.push_back(0);
        wordAt.push_back(kNone);
        queue.push_back(ranges[0]);
        std::uint32_t node = 0;
        auto wordOf = [&](std::uint32_t i) -> const std::string& { return words[sortedWords[i]]; };
        while (!queue.empty()) {
            Range r = queue.front();
            queue.pop_front();
            std::uint32_t lo = r.lo;
            // The word equal to the prefix itself sorts first in its range.
            if (lo < r.hi && wordOf(lo).size() == r.depth) ++lo;
            firstChild[node] = static_cast<std::uint32_t>(label.size());
            std::uint16_t count = 0;
            while (lo < r.hi) {
                std::uint8_t c = static_cast<std::uint8_t>(wordOf(lo)[r.depth]);
                std::uint32_t hi = lo + 1;
                while (hi < r.hi && static_cast<std::uint8_t>(wordOf(hi)[r.depth]) == c) ++hi;
                firstChild.push_back(0);
                childCount.push_back(0);
                label.push_back(c);
                wordAt.push_back(wordOf(lo).size() == r.depth + 1 ? lo : kNone);
                queue.push_back({lo, hi, r.depth + 1});
                ++count;
                lo = hi;
            }
            childCount[node] = count;
            ++node;
        }

        rootNext.fill(0);
        for (std::uint32_t k = 0; k < childCount[0]; ++k) rootNext[label[firstChild[0] + k]] = firstChild[0] + k;
        const std::size_t n = label.size();
        fail.assign(n, 0);
        outLink.assign(n, kNone);
        for (std::uint32_t u = 0; u < n; ++u) {
            for (std::uint32_t v = firstChild[u]; v < firstChild[u] + childCount[u]; ++v) {
                if (u == 0) {
                    fail[v] = 0;
                } else {
                    std::uint32_t f = fail[u];
                    std::uint32_t next = child(f, label[v]);
                    while (f != 0 && next == kNone) {
                        f = fail[f];
                        next = child(f, label[v]);
                    }
                    fail[v] = next == kNone ? 0 : next;
                }
                std::uint32_t f = fail[v];
                outLink[v] = wordAt[f] != kNone ? f : outLink[f];
            }
        }
        // The root keeps kNone in its table for bytes no word starts with; searching from the
        // root then stays at the root.
        for (auto& next : rootNext)
            if (next == 0) next = kNone;
    }
};

KeywordList::KeywordList() = default;
KeywordList::~KeywordList() = default;

KeywordList::KeywordList(std::vector<std::string> words)
    : m_words(std::move(words)), m_index(std::make_unique<Automaton>(m_words)) {}

std::vector<std::size_t> KeywordList::occurringIn(std::string_view text, std::size_t most) const {
    std::vector<std::size_t> positions;
    if (!m_index || m_words.empty()) return positions;
    const Automaton& a = *m_index;
    constexpr std::uint32_t kNone = Automaton::kNone;
    std::vector<bool> found(a.firstPosition.size(), false);
    std::vector<std::uint32_t> foundWords;
    std::uint32_t state = 0;
    for (char ch : text) {
        auto c = static_cast<std::uint8_t>(ch);
        std::uint32_t next = a.child(state, c);
        while (next == kNone && state != 0) {
            state = a.fail[state];
            next = a.child(state, c);
        }
        state = next == kNone ? 0 : next;
        // Every word on a reported chain was reported with the whole rest of its chain, so
        // the walk stops at the first word already seen.
        for (std::uint32_t t = a.wordAt[state] != kNone ? state : a.outLink[state]; t != kNone; t = a.outLink[t]) {
            std::uint32_t w = a.wordAt[t];
            if (found[w]) break;
            found[w] = true;
            foundWords.push_back(w);
        }
    }
    for (std::uint32_t w : foundWords)
        for (std::uint32_t p = a.firstPosition[w]; p != kNone; p = a.nextPosition[p]) positions.push_back(p);
    std::sort(positions.begin(), positions.end());
    if (most > 0 && positions.size() > most) positions.resize(most);
    return positions;
}

std::string KeywordTags(std::string_view value, std::string_view joiner, long long most, const KeywordList& list) {
    if (list.empty()) return {};
    // The index finds every contained keyword in one pass; the positions come back in list
    // order, which is the order tags are taken in.
    std::vector<std::size_t> positions = list.occurringIn(value, most > 0 ? static_cast<std::size_t>(most) : 0);
    std::string result;
    for (std::size_t p : positions) {
        result += list.words()[p];
        result += joiner;
    }
    if (!joiner.empty() && result.size() >= joiner.size()) result.resize(result.size() - joiner.size());
    return result;
}

DictionaryRead ReadKeywordDictionary(const std::string& path) {
    DictionaryRead out;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return out;
    try {
        platform::SqliteConnection db(path, platform::SqliteConnection::Mode::ReadOnly);
        platform::SqliteStatement q(db, "select keys from dict");
        while (q.step()) {
            std::string w = q.columnText(0);
            if (!w.empty()) out.words.push_back(std::move(w));
        }
        out.status = DictionaryLoad::Loaded;
    } catch (const std::exception& e) {
        out.status = DictionaryLoad::Unreadable;
        out.error = e.what();
        out.words.clear();
    }
    return out;
}

KeywordDictionary& KeywordDictionary::shared() {
    static KeywordDictionary instance;
    return instance;
}

namespace {
std::string fileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return path + "|missing";
    return path + "|" + std::to_string(st.st_ino) + "|" + std::to_string(st.st_size) + "|" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}
}  // namespace

DictionaryLoad KeywordDictionary::ensureLoaded(const std::string& programFolder) {
    if (!list()->empty()) return DictionaryLoad::Loaded;
    // One loader at a time; the others wait and then find the list filled.
    std::lock_guard loading(m_loadLock);
    if (!list()->empty()) return DictionaryLoad::Loaded;
    const std::string path = platform::joinPath(programFolder, kDictionaryRelPath);
    const std::string key = fileIdentity(path);
    {
        std::lock_guard lock(m_lock);
        if (key == m_failedKey) {
            struct stat st {};
            return ::stat(path.c_str(), &st) == 0 ? DictionaryLoad::Unreadable : DictionaryLoad::Missing;
        }
        ++m_reads;
    }
    DictionaryRead read = ReadKeywordDictionary(path);
    if (read.status == DictionaryLoad::Unreadable)
        platform::WriteLog("KeywordDictionary|词库无法读取：" + path + "，" + read.error, 0);
    if (read.status != DictionaryLoad::Loaded || read.words.empty()) {
        std::lock_guard lock(m_lock);
        m_failedKey = key;
        return read.status == DictionaryLoad::Loaded ? DictionaryLoad::Loaded : read.status;
    }
    auto filled = std::make_shared<const KeywordList>(std::move(read.words));
    std::lock_guard lock(m_lock);
    m_list = std::move(filled);
    m_failedKey.clear();
    return DictionaryLoad::Loaded;
}

std::shared_ptr<const KeywordList> KeywordDictionary::list() const {
    static const auto empty = std::make_shared<const KeywordList>();
    std::lock_guard lock(m_lock);
    return m_list ? m_list : empty;
}

int KeywordDictionary::readCount() const {
    std::lock_guard lock(m_lock);
    return m_reads;
}

bool SettingsUseKeywordTags(std::string_view settingsJson) {
    // The rules are read, not searched as text: a stored document may write the type with
    // "\u" escapes, and a title or a replacement text may hold the words themselves.
    auto settings = ParseRuleJson(settingsJson);
    if (!settings) return false;
    for (const auto& field : RuleTextArray(*settings, "fieldsAll")) {
        auto rule = ParseRuleJson(field);
        if (!rule) continue;
        for (const auto& strip : RuleTextArray(*rule, "txt_strips")) {
            auto one = ParseRuleJson(strip);
            if (one && RuleText(*one, "type") == "关键词分词") return true;
        }
    }
    return false;
}

std::optional<std::string> PrepareKeywordDictionary(std::string_view settingsJson, const std::string& programFolder,
                                                    KeywordDictionary& dictionary) {
    if (!SettingsUseKeywordTags(settingsJson) || !dictionary.list()->empty()) return std::nullopt;
    if (dictionary.ensureLoaded(programFolder) == DictionaryLoad::Loaded) return std::nullopt;
    return std::string(kDictionaryMissingMessage);
}

}  // namespace tarvex::engine
