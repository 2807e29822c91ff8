#include "engine/keyword_dictionary.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <thread>

#include "platform/sqlite_db.h"
#include "support/sandbox_workspace.h"

namespace tarvex::engine {
namespace {

void makeDictionary(const std::string& path, const std::vector<std::string>& words) {
    platform::SqliteConnection db(path);
    db.exec("create table dict (id integer primary key autoincrement, keys text)");
    platform::SqliteTransaction tx(db);
    platform::SqliteStatement insert(db, "insert into dict (keys) values (?)");
    for (const auto& w : words) {
        insert.bind(1, w).run();
        insert.reset();
    }
    tx.commit();
}

TEST(KeywordTags, KeywordTagsTakeListOrderUpToTheLimit) {
    KeywordList list({"中国", "北京", "上海"});
    EXPECT_EQ(KeywordTags("北京是中国的首都", ",", 5, list), "中国,北京");
    EXPECT_EQ(KeywordTags("北京是中国的首都", ",", 1, list), "中国");
    EXPECT_EQ(KeywordTags("北京是中国的首都", "", 0, list), "中国北京");
    EXPECT_EQ(KeywordTags("北京是中国的首都", " | ", 0, list), "中国 | 北京");
    EXPECT_EQ(KeywordTags("东京", ",", 5, list), "");
    // No dictionary: the rule's result, the value, is empty.
    EXPECT_EQ(KeywordTags("北京是中国的首都", ",", 5, KeywordList()), "");
}

TEST(KeywordTags, KeywordIndexAgreesWithPlainSearch) {
    // Overlapping words, words inside words, a repeated word and an empty entry: the index must
    // report exactly the positions a plain "contains" walk over the list reports.
    std::vector<std::string> words = {"ab", "b", "", "abc", "bc", "c", "ab", "xyz", "中", "中文", "文字", "a"};
    KeywordList list(words);
    for (std::string text : {"abc", "xabcx", "中文字", "zzz", "", "bcab", "xy", "文中"}) {
        std::vector<std::size_t> expected;
        for (std::size_t i = 0; i < words.size(); ++i)
            if (!words[i].empty() && text.find(words[i]) != std::string::npos) expected.push_back(i);
        EXPECT_EQ(list.occurringIn(text), expected) << text;
    }
    EXPECT_EQ(list.occurringIn("abc", 2), (std::vector<std::size_t>{0, 1}));
}

class KeywordDictionaryTest : public ::testing::Test {
protected:
    test::SandboxWorkspace ws;
    std::string dictPath() const { return ws.path(kDictionaryRelPath); }
};

TEST_F(KeywordDictionaryTest, LoadsTheKeysInRowOrderSkippingEmptyOnes) {
    ws.makeDir("Plugin/dict");
    makeDictionary(dictPath(), {"中国", "", "北京", "上海"});
    {
        platform::SqliteConnection db(dictPath());
        db.exec("insert into dict (keys) values (null)");
    }
    KeywordDictionary dict;
    EXPECT_EQ(dict.ensureLoaded(ws.folder()), DictionaryLoad::Loaded);
    EXPECT_EQ(dict.list()->words(), (std::vector<std::string>{"中国", "北京", "上海"}));
    EXPECT_EQ(KeywordTags("北京是中国的首都", ",", 5, *dict.list()), "中国,北京");
}

TEST_F(KeywordDictionaryTest, IsNeverReloadedOnceFilled) {
    ws.makeDir("Plugin/dict");
    makeDictionary(dictPath(), {"甲"});
    KeywordDictionary dict;
    ASSERT_EQ(dict.ensureLoaded(ws.folder()), DictionaryLoad::Loaded);
    auto held = dict.list();
    {
        platform::SqliteConnection db(dictPath());
        db.exec("delete from dict; insert into dict (keys) values ('乙')");
    }
    EXPECT_EQ(dict.ensureLoaded(ws.folder()), DictionaryLoad::Loaded);
    EXPECT_EQ(dict.list()->words(), std::vector<std::string>{"甲"});
    EXPECT_EQ(dict.list(), held);
    EXPECT_EQ(dict.readCount(), 1);
}

TEST_F(KeywordDictionaryTest, MissingOrBrokenFilesLeaveTheListEmpty) {
    KeywordDictionary dict;
    EXPECT_EQ(dict.ensureLoaded(ws.folder()), DictionaryLoad::Missing);
    EXPECT_TRUE(dict.list()->empty());

    ws.writeFile(kDictionaryRelPath, "this is not a database, just text that is long enough to look like one");
    EXPECT_EQ(dict.ensureLoaded(ws.folder()), DictionaryLoad::Unreadable);
    EXPECT_TRUE(dict.list()->empty());
    // The same broken file is not read again for every record.
    const int reads = dict.readCount();
    EXPECT_EQ(dict.ensureLoaded(ws.folder()), DictionaryLoad::Unreadable);
    EXPECT_EQ(dict.readCount(), reads);

    test::removeTree(dictPath());
    {
        platform::SqliteConnection db(dictPath());
        db.exec("create table other (keys text)");
    }
    EXPECT_EQ(dict.ensureLoaded(ws.folder()), DictionaryLoad::Unreadable);
    EXPECT_TRUE(dict.list()->empty());

    // A usable file put in place later is loaded by the next attempt.
    test::removeTree(dictPath());
    makeDictionary(dictPath(), {"丙"});
    EXPECT_EQ(dict.ensureLoaded(ws.folder()), DictionaryLoad::Loaded);
    EXPECT_EQ(dict.list()->words(), std::vector<std::string>{"丙"});
}

TEST_F(KeywordDictionaryTest, ReadKeywordDictionaryReportsTheKind) {
    EXPECT_EQ(ReadKeywordDictionary(ws.path("none.jdb")).status, DictionaryLoad::Missing);
    ws.makeDir("folder.jdb");
    EXPECT_EQ(ReadKeywordDictionary(ws.path("folder.jdb")).status, DictionaryLoad::Missing);
    ws.writeFile("empty.jdb", "");
    // An empty file opens as an empty database without the table.
    auto empty = ReadKeywordDictionary(ws.path("empty.jdb"));
    EXPECT_EQ(empty.status, DictionaryLoad::Unreadable);
    EXPECT_FALSE(empty.error.empty());
}

TEST_F(KeywordDictionaryTest, ManyThreadsLoadItOnceAndShareIt) {
    ws.makeDir("Plugin/dict");
    std::vector<std::string> words;
    for (int i = 0; i < 20000; ++i) words.push_back("词" + std::to_string(i) + "号");
    makeDictionary(dictPath(), words);
    KeywordDictionary dict;
    constexpr int kThreads = 8;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                if (dict.ensureLoaded(ws.folder()) != DictionaryLoad::Loaded) ++wrong;
                const std::string text = "文中有词" + std::to_string(t * 100 + round) + "号和词7号";
                std::string expected = "词7号";
                if (t * 100 + round != 7) {
                    expected = t * 100 + round < 7 ? "词" + std::to_string(t * 100 + round) + "号,词7号"
                                                   : "词7号,词" + std::to_string(t * 100 + round) + "号";
                }
                if (KeywordTags(text, ",", 0, *dict.list()) != expected) ++wrong;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(dict.readCount(), 1);
    EXPECT_EQ(dict.list()->words().size(), words.size());
}

TEST_F(KeywordDictionaryTest, TheRunnerStepLoadsOnlyForTasksThatUseTags) {
    const std::string uses = R"({"fieldsAll":["{\"txt_strips\":[\"{\\\"type\\\":\\\"关键词分词\\\"}\"]}"]})";
    KeywordDictionary dict;
    EXPECT_EQ(PrepareKeywordDictionary(R"({"fieldsAll":[]})", ws.folder(), dict), std::nullopt);
    EXPECT_EQ(dict.readCount(), 0);
    EXPECT_EQ(PrepareKeywordDictionary(uses, ws.folder(), dict), "自动分词词库不存在！");
    ws.makeDir("Plugin/dict");
    makeDictionary(dictPath(), {"甲"});
    EXPECT_EQ(PrepareKeywordDictionary(uses, ws.folder(), dict), std::nullopt);
    EXPECT_EQ(dict.list()->words(), std::vector<std::string>{"甲"});
}

// A settings document whose one field has one post-processing rule, given as its JSON text.
std::string withOneRule(const std::string& ruleText) {
    nlohmann::json field{{"title", "标题"}, {"txt_strips", nlohmann::json::array({ruleText})}};
    return nlohmann::json{{"fieldsAll", nlohmann::json::array({field.dump()})}}.dump();
}

TEST(KeywordDictionaryRule, SettingsAskForTagsOnlyThroughARuleOfThatType) {
    struct Case {
        std::string settings;
        bool uses;
    };
    const Case cases[] = {
        {withOneRule(R"({"type":"关键词分词","rep1":",","rep2":"5"})"), true},
        // The type written with "\u" escapes, as a stored document may hold it.
        {withOneRule(R"({"type":"\u5173\u952e\u8bcd\u5206\u8bcd"})"), true},
        // The words inside another rule's text are no keyword rule.
        {withOneRule(R"({"type":"替换","rep1":"关键词分词\\","rep2":""})"), false},
        {R"({"name":"关键词分词\\"})", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(SettingsUseKeywordTags(c.settings), c.uses) << c.settings;
}

}  // namespace
}  // namespace tarvex::engine
