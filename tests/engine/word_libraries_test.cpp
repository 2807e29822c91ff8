#include "engine/word_libraries.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/text_codec.h"
#include "scripted_random.h"
#include "support/sandbox_workspace.h"

namespace tarvex::engine {
namespace {

class WordLibraries : public ::testing::Test {
protected:
    test::SandboxWorkspace ws;
    const std::string& root() const { return ws.folder(); }
};

TEST_F(WordLibraries, DictTagsReadTheNamedList) {
    ws.writeFile("Plugin/diydict/tags.txt", "中国\r\n北京\r上海\n\n");
    EXPECT_EQ(DictTags("上海和北京", "tags", ",", 5, root()), "北京,上海");
    EXPECT_EQ(DictTags("上海和北京", "tags", "、", 1, root()), "北京");
    EXPECT_EQ(DictTags("上海和北京", "none", ",", 5, root()), "");
    EXPECT_EQ(DictTags("上海和北京", "", ",", 5, root()), "");
}

TEST_F(WordLibraries, ListFilesWithAByteOrderMarkAreRead) {
    ws.writeFile("Plugin/diydict/bom.txt", "\xEF\xBB\xBF中国\r\n北京");
    EXPECT_EQ(DictTags("中国北京", "bom", ",", 0, root()), "中国,北京");
    ws.writeFile("Plugin/samekey/bom.txt", "\xEF\xBB\xBF美丽,漂亮");
    EXPECT_EQ(SynonymReplace("美丽的花", "bom", "0", root()), "漂亮的花");
}

TEST_F(WordLibraries, GbkListFilesGiveTheirErrorText) {
    ws.writeFile("Plugin/diydict/gbk.txt", platform::utf8ToGb18030("中国\r\n北京"));
    ws.writeFile("Plugin/samekey/gbk.txt", platform::utf8ToGb18030("美丽,漂亮"));
    ws.writeFile("Plugin/keyurl/gbk.txt", platform::utf8ToGb18030("采集,/t.html"));
    ws.writeFile("Plugin/random/gbk.txt", platform::utf8ToGb18030("随机"));
    EXPECT_EQ(DictTags("中国", "gbk", ",", 5, root()),
              "读取自定义词库有误,\\Plugin\\diydict\\gbk.txt，可能不是UTF8编码文件！");
    EXPECT_EQ(SynonymReplace("美丽的花", "gbk", "0", root()), "读取同义词库有误，可能不是UTF8编码文件！");
    EXPECT_EQ(KeywordLinks("采集", "gbk", "5", "5", root()), "读取关键词内链词库有误，可能不是UTF8编码文件！");
    EXPECT_EQ(InsertRandomText("v", "Plugin/random/gbk.txt", "1", "0", root()),
              "读取随机文本有误，可能不是UTF8编码文件！");
}

TEST_F(WordLibraries, ListNamesThatLeaveTheirFolderAreRefused) {
    ws.writeFile("Plugin/secret.txt", "美丽,漂亮");
    ws.writeFile("Plugin/samekey/ok.txt", "美丽,漂亮");
    for (const char* name : {"../secret", "..\\secret", "/etc/passwd", "..", "."})
        EXPECT_EQ(SynonymReplace("美丽", name, "0", root()), "美丽") << name;
    EXPECT_EQ(SynonymReplace("美丽", "ok", "0", root()), "漂亮");
    EXPECT_EQ(WordListPath(root(), kSynonymFolder, "a/b"), "");
}

TEST_F(WordLibraries, ListFilesAreCachedUntilTheyChange) {
    const std::string rel = "Plugin/diydict/cache.txt";
    ws.writeFile(rel, "aaaa");
    auto first = ReadWordListFile(ws.path(rel));
    ASSERT_TRUE(first);
    struct stat before {};
    ASSERT_EQ(::stat(ws.path(rel).c_str(), &before), 0);
    // Same size, same modification time: the cached lines are used, the file is not read.
    ws.writeFile(rel, "bbbb");
    timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, ws.path(rel).c_str(), times, 0), 0);
    EXPECT_EQ(ReadWordListFile(ws.path(rel)), first);
    EXPECT_EQ(DictTags("aaaa", "cache", ",", 5, root()), "aaaa");
    // A new modification time: the next call sees the edit.
    times[1].tv_sec += 2;
    ASSERT_EQ(::utimensat(AT_FDCWD, ws.path(rel).c_str(), times, 0), 0);
    EXPECT_EQ(DictTags("bbbb", "cache", ",", 5, root()), "bbbb");
    ws.writeFile(rel, "cccccc");
    EXPECT_EQ(DictTags("cccccc", "cache", ",", 5, root()), "cccccc");
}

TEST_F(WordLibraries, WordListNamesListTxtFilesInAnyCase) {
    ws.writeFile("Plugin/keyurl/b.TXT", "x");
    ws.writeFile("Plugin/keyurl/a.txt", "x");
    ws.writeFile("Plugin/keyurl/c.csv", "x");
    ws.makeDir("Plugin/keyurl/d.txt");
    EXPECT_EQ(WordListNames(root(), kKeyUrlFolder), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(WordListNames(root(), kDiyDictFolder).empty());
}

// A list offered under its name must be the file that is then read, whatever the letter case
// of its extension.
TEST_F(WordLibraries, AListedNameWithAnUpperCaseExtensionIsRead) {
    ws.writeFile("Plugin/diydict/Tags.TXT", "北京\n上海");
    ws.writeFile("Plugin/samekey/syn.Txt", "美丽,漂亮");
    ws.writeFile("Plugin/keyurl/links.TXT", "采集,/t.html");
    ASSERT_EQ(WordListNames(root(), kDiyDictFolder), std::vector<std::string>{"Tags"});
    ASSERT_EQ(WordListNames(root(), kSynonymFolder), std::vector<std::string>{"syn"});
    ASSERT_EQ(WordListNames(root(), kKeyUrlFolder), std::vector<std::string>{"links"});
    EXPECT_EQ(DictTags("上海和北京", "Tags", ",", 5, root()), "北京,上海");
    EXPECT_EQ(SynonymReplace("美丽的花", "syn", "0", root()), "漂亮的花");
    EXPECT_EQ(KeywordLinks("采集器", "links", "5", "1", root()), "<a href=\"/t.html\">采集</a>器");
    // Another name, or the same letters in another case, is still no list.
    EXPECT_EQ(DictTags("上海", "tags", ",", 5, root()), "");

    // One list name for "a.txt" and "a.TXT"; the exact ".txt" file is the one read.
    ws.writeFile("Plugin/samekey/two.txt", "美丽,漂亮");
    ws.writeFile("Plugin/samekey/two.TXT", "美丽,好看");
    EXPECT_EQ(WordListNames(root(), kSynonymFolder), (std::vector<std::string>{"syn", "two"}));
    EXPECT_EQ(SynonymReplace("美丽", "two", "0", root()), "漂亮");
}

struct SynonymCase {
    std::string lines, value, most, expected;
};

TEST_F(WordLibraries, SynonymsWorkBothWaysAndNeverChangeBack) {
    const SynonymCase cases[] = {
        {"美丽,漂亮\n漂亮,好看", "美丽的花", "0", "漂亮的花"},
        {"美丽,漂亮", "漂亮的花", "0", "美丽的花"},
        {"a,,b", "a-a", "0", "b-b"},
        {",b\nab\n\nc,", "ab,b", "0", "ab,b"},
        {"猫,狗\n鱼,鸟\n花,草", "猫鱼花", "2", "狗鸟花"},
        {"猫,狗\n鱼,鸟", "猫鱼", "x", "狗鸟"},
        {"x,y,z", "x", "0", "y,z"},
        {"花,花朵", "花花", "0", "花朵花朵"},
        {"美丽,漂亮", "", "0", ""},
    };
    for (const auto& c : cases) {
        ws.writeFile("Plugin/samekey/s.txt", c.lines);
        // Each case rewrites the file with a new size or later time; make the change visible.
        ::utimensat(AT_FDCWD, ws.path("Plugin/samekey/s.txt").c_str(), nullptr, 0);
        EXPECT_EQ(SynonymReplace(c.value, "s", c.most, root()), c.expected) << c.lines << " | " << c.value;
    }
    EXPECT_EQ(SynonymReplace("美丽", "missing", "0", root()), "美丽");
}

TEST_F(WordLibraries, KeywordLinksLinkFirstOccurrences) {
    ws.writeFile("Plugin/keyurl/a.txt", "采集,/tag/1.html");
    EXPECT_EQ(KeywordLinks("采集器和采集", "a", "5", "1", root()), "<a href=\"/tag/1.html\">采集</a>器和采集");
    EXPECT_EQ(KeywordLinks("采集器和采集", "a", "5", "5", root()),
              "<a href=\"/tag/1.html\">采集</a>器和<a href=\"/tag/1.html\">采集</a>");
    ws.writeFile("Plugin/keyurl/b.txt", "采集,<a href='/t'>采集工具</a>");
    EXPECT_EQ(KeywordLinks("采集器和采集", "b", "5", "1", root()), "<a href='/t'>采集工具</a>器和采集");
}

TEST_F(WordLibraries, KeywordLinksLeaveLinksImagesAndMadeLinksAlone) {
    ws.writeFile("Plugin/keyurl/a.txt", "采集,/tag/1.html\n集器,/tag/2.html\nimg,/img.html\ntag,/tag.html");
    const std::string value = "<a href='x'>采集</a><img alt='采集'>采集器 img";
    EXPECT_EQ(KeywordLinks(value, "a", "0", "0", root()),
              "<a href='x'>采集</a><img alt='采集'><a href=\"/tag/1.html\">采集</a>器 "
              "<a href=\"/img.html\">img</a>");
}

TEST_F(WordLibraries, KeywordLinksCountKeywordsAndPerKeywordLimits) {
    ws.writeFile("Plugin/keyurl/n.txt", "一,/1\n二,/2\n三,/3\n,/x\n四");
    const std::string value = "一二三一";
    auto linkCount = [](const std::string& s) {
        std::size_t n = 0;
        for (auto p = s.find("<a "); p != std::string::npos; p = s.find("<a ", p + 1)) ++n;
        return n;
    };
    // The limit is the number of keywords linked, not one more.
    EXPECT_EQ(linkCount(KeywordLinks(value, "n", "2", "0", root())), 3u);  // 一 twice, 二 once
    EXPECT_EQ(KeywordLinks(value, "n", "2", "0", root()).find("/3"), std::string::npos);
    EXPECT_EQ(linkCount(KeywordLinks(value, "n", "0", "1", root())), 3u);
    EXPECT_EQ(linkCount(KeywordLinks(value, "n", "bad", "bad", root())), 4u);  // 9999 keywords, 5 each
    EXPECT_EQ(KeywordLinks("", "n", "0", "0", root()), "");
    EXPECT_EQ(KeywordLinks(value, "missing", "0", "0", root()), value);
}

TEST_F(WordLibraries, InsertRandomTextPositions) {
    ws.writeFile("Plugin/random/r.txt", "\r\n  甲\r\n乙\r\n丙  \r\n\r\n");
    test::ScriptedRandom first({0});
    EXPECT_EQ(InsertRandomText("值", "Plugin/random/r.txt", "1", "0", root(), first), "甲值");
    test::ScriptedRandom last({2, 0});
    EXPECT_EQ(InsertRandomText("值", "Plugin/random/r.txt", "2", "1", root(), last), "值丙甲");
    test::ScriptedRandom all({1, 1, 0});
    // Drawn without replacement; more lines asked than there are gives every line once.
    EXPECT_EQ(InsertRandomText("", "Plugin/random/r.txt", "9", "1", root(), all), "乙丙甲");
    test::ScriptedRandom middle({0, 1});
    EXPECT_EQ(InsertRandomText("一二三", "Plugin/random/r.txt", "1", "2", root(), middle), "一甲二三");
    test::ScriptedRandom empty({0});
    EXPECT_EQ(InsertRandomText("", "Plugin/random/r.txt", "1", "2", root(), empty), "甲");
    test::ScriptedRandom none({0});
    EXPECT_EQ(InsertRandomText("值", "Plugin/random/r.txt", "0", "0", root(), none), "值");
    EXPECT_EQ(InsertRandomText("值", "Plugin/random/r.txt", "1", "7", root(), none), "值");
    EXPECT_EQ(InsertRandomText("值", "Plugin/random/missing.txt", "1", "0", root(), none), "值");
    EXPECT_EQ(InsertRandomText("值", "", "1", "0", root(), none), "值");
}

TEST_F(WordLibraries, InsertRandomTextNeverPositionsAfterTheLastCharacter) {
    ws.writeFile("Plugin/random/r.txt", "X");
    test::ScriptedRandom high({99});
    EXPECT_EQ(InsertRandomText("ab", "Plugin/random/r.txt", "1", "2", root(), high), "aXb");
    EXPECT_EQ(high.asked().back(), (std::pair<std::int64_t, std::int64_t>{0, 1}));
}

TEST_F(WordLibraries, InsertRandomTextStaysInsideTheWorkspace) {
    test::SandboxWorkspace outside;
    outside.writeFile("secret.txt", "机密");
    ws.writeFile("Plugin/random/r.txt", "可用");
    ::symlink(outside.path("secret.txt").c_str(), ws.path("Plugin/random/link.txt").c_str());
    test::ScriptedRandom r({0});
    EXPECT_EQ(InsertRandomText("v", outside.path("secret.txt"), "1", "0", root(), r), "v");
    const std::string sibling = std::filesystem::path(outside.folder()).parent_path().filename().string();
    EXPECT_EQ(InsertRandomText("v", "../" + sibling + "/secret.txt", "1", "0", root(), r), "v");
    EXPECT_EQ(InsertRandomText("v", "Plugin/random/link.txt", "1", "0", root(), r), "v");
    EXPECT_EQ(InsertRandomText("v", "/etc/hostname", "1", "0", root(), r), "v");
    // Absolute paths inside the workspace and Windows separators are fine.
    EXPECT_EQ(InsertRandomText("v", ws.path("Plugin/random/r.txt"), "1", "0", root(), r), "可用v");
    EXPECT_EQ(InsertRandomText("v", "Plugin\\random\\r.txt", "1", "1", root(), r), "v可用");
}

struct BreakCase {
    std::string value, text;
    std::vector<std::int64_t> draws;
    std::string expected;
};

TEST_F(WordLibraries, InsertAfterBreak) {
    const BreakCase cases[] = {
        {"a<br>b", "<p>x</p>", {0, 0}, "a<p>x</p><br>b"},
        {"a<br>b", "<p>x</p>", {0, 1}, "a<br><p>x</p>b"},
        {"a<br>b", "x", {0, 0}, "a<br>b"},
        {"a</p>b", "x", {0}, "a</p>xb"},
        {"a</P >b", "x", {0}, "a</P >xb"},
        {"a< BR />b</p>c", "x", {1}, "a< BR />b</p>xc"},
        {"a</br>b", "<p>y</p>", {0, 1}, "a</br><p>y</p>b"},
        {"plain", "x", {0}, "plainx"},
        {"a<bra>b", "x", {0}, "a<bra>bx"},
    };
    for (const auto& c : cases) {
        test::ScriptedRandom r(c.draws);
        EXPECT_EQ(InsertAfterBreak(c.value, c.text, r), c.expected) << c.value << " | " << c.text;
    }
}

}  // namespace
}  // namespace tarvex::engine
