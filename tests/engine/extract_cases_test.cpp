// The end-to-end cases under tests/data/extract, through the same record extraction as
// `tarvex-cli extract`.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/field_extract.h"
#include "engine/page_list.h"

namespace fs = std::filesystem;
using namespace tarvex::engine;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

// page1.html, page2.html, … in page order.
std::vector<fs::path> pageFiles(const fs::path& dir) {
    std::vector<std::pair<int, fs::path>> found;
    for (const auto& e : fs::directory_iterator(dir)) {
        std::string name = e.path().filename().string();
        if (name.rfind("page", 0) == 0 && e.path().extension() == ".html")
            found.emplace_back(std::stoi(name.substr(4)), e.path());
    }
    std::sort(found.begin(), found.end());
    std::vector<fs::path> out;
    for (auto& [n, p] : found) out.push_back(p);
    return out;
}

}  // namespace

class ExtractCase : public ::testing::TestWithParam<const char*> {};

TEST_P(ExtractCase, GivesItsExpectedRecord) {
    const fs::path dir = fs::path(TARVEX_TEST_DATA_DIR) / "extract" / GetParam();
    std::vector<std::string> pages;
    for (const auto& p : pageFiles(dir)) pages.push_back(PageTextFromBytes(readFile(p)));
    ASSERT_FALSE(pages.empty()) << dir;
    std::string url = fs::exists(dir / "url.txt") ? trimmed(readFile(dir / "url.txt")) : "";
    auto outcome = ExtractRecordFromText(readFile(dir / "settings.json"), pages, url);
    ASSERT_FALSE(outcome.error) << *outcome.error;
    auto expected = nlohmann::ordered_json::parse(readFile(dir / "expected.json"));
    EXPECT_EQ(outcome.record, expected) << outcome.record.dump(2, ' ', false);
}

INSTANTIATE_TEST_SUITE_P(Data, ExtractCase,
                         ::testing::Values("gmw-article-gbk", "daringfireball-colophon", "paged-article"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// A saved page in any of the encodings pages are saved in comes out as the same UTF-8 text.
TEST(PageTextFromBytes, SavedPagesInEveryCommonEncoding) {
    const std::string text = "<title>新闻 é</title>";
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"UTF-8", text},
        {"UTF-8 with mark", "\xEF\xBB\xBF" + text},
        {"UTF-16LE with mark",
         std::string("\xFF\xFE<\0t\0i\0t\0l\0e\0>\0\xB0\x65\xFB\x95 \0\xE9\0<\0/\0t\0i\0t\0l\0e\0>\0", 40)},
        {"UTF-16BE with mark",
         std::string("\xFE\xFF\0<\0t\0i\0t\0l\0e\0>\x65\xB0\x95\xFB\0 \0\xE9\0<\0/\0t\0i\0t\0l\0e\0>", 40)},
        {"GBK", "<title>\xD0\xC2\xCE\xC5 \xA8\xA6</title>"},
    };
    for (const auto& c : cases) EXPECT_EQ(PageTextFromBytes(c.bytes), text) << c.name;
}
