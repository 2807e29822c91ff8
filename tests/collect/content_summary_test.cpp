// The content stage's summary: what it says, which fields it marks as gone empty, and the
// counts it keeps for the next run.
#include "collect/content_summary.h"

#include <gtest/gtest.h>

#include "support/sandbox_workspace.h"

namespace tarvex::collect {
namespace {

// A tally of `rows` stored rows in which field 标题 is always filled and 作者 is empty in
// `emptyAuthors` of them.
void storeRows(ContentTally& tally, int rows, int emptyAuthors) {
    for (int i = 0; i < rows; ++i) tally.stored({{"标题", "t"}, {"作者", i < emptyAuthors ? " " : "a"}});
}

TEST(ContentSummary, AFieldThatWasUsuallyFilledAndIsNowMostlyEmptyIsMarked) {
    struct Case {
        const char* name;
        std::optional<FieldCounts> previous;
        int rows, emptyAuthors;
        bool marked;
    };
    const FieldCounts filled{20, {{"标题", 0}, {"作者", 2}}};
    const Case cases[] = {
        {"filled before, empty now", filled, 10, 6, true},
        {"filled before, half empty now", filled, 10, 4, false},
        {"often empty before", FieldCounts{20, {{"标题", 0}, {"作者", 8}}}, 10, 10, false},
        {"no earlier run", std::nullopt, 10, 10, false},
        {"too few rows now", filled, 4, 4, false},
        {"too few rows before", FieldCounts{3, {{"标题", 0}, {"作者", 0}}}, 10, 10, false},
        {"a field new since then", FieldCounts{20, {{"标题", 0}}}, 10, 10, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ContentTally tally;
        storeRows(tally, c.rows, c.emptyAuthors);
        EXPECT_EQ(BrokenFields(tally.fields(), c.previous),
                  c.marked ? std::vector<std::string>{"作者"} : std::vector<std::string>{});
    }
}

TEST(ContentSummary, LinesCountRowsReasonsAndEmptyShares) {
    ContentTally tally;
    storeRows(tally, 10, 7);
    tally.rejected("抓取网页失败");
    tally.rejected("字段[标题]为空");
    tally.rejected("字段[标题]为空");
    auto lines = SummaryLines(tally, FieldCounts{20, {{"标题", 0}, {"作者", 1}}});
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "内容采集小结：入库10条，未入库3条",
                         "未入库原因：字段[标题]为空 2条；抓取网页失败 1条",
                         "字段为空比例：标题 0%，作者 70%（上次5%，规则可能已失效）",
                     }));
    ContentTally none;
    EXPECT_EQ(SummaryLines(none, std::nullopt), std::vector<std::string>{"内容采集小结：入库0条，未入库0条"});
}

TEST(ContentSummary, AFieldEmptyInNearlyEveryRowOfThisRunIsFlaggedWithoutAnEarlierRun) {
    struct Case {
        int rows, emptyAuthors;
        const char* line;  // nullptr: not flagged
    };
    const Case cases[] = {
        {1, 1, "字段[作者]在本次采集中全部为空，规则可能已失效"},
        {10, 10, "字段[作者]在本次采集中全部为空，规则可能已失效"},
        {10, 9, "字段[作者]在本次采集中90%为空，规则可能已失效"},
        {200, 199, "字段[作者]在本次采集中99%为空，规则可能已失效"},
        {10, 8, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.emptyAuthors) + "/" + std::to_string(c.rows));
        ContentTally tally;
        storeRows(tally, c.rows, c.emptyAuthors);
        const auto lines = SummaryLines(tally, std::nullopt);
        EXPECT_EQ(MostlyEmptyFields(tally.fields()),
                  c.line ? std::vector<std::string>{"作者"} : std::vector<std::string>{});
        if (c.line)
            EXPECT_EQ(lines.back(), c.line);
        else
            EXPECT_EQ(lines.back().rfind("字段为空比例：", 0), 0u) << lines.back();
    }
}

TEST(ContentSummary, CountsAreKeptForTheNextRunOnlyWhenThereAreEnough) {
    test::SandboxWorkspace ws;
    const std::string path = FieldStatsPath(ws.folder(), 9);
    EXPECT_EQ(path, ws.folder() + "data/9/field_stats.json");
    ContentTally many;
    storeRows(many, 8, 1);
    FinishContentSummary(many, path);
    auto kept = LoadFieldCounts(path);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->stored, 8u);
    EXPECT_EQ(kept->empty, (std::vector<std::pair<std::string, std::size_t>>{{"标题", 0}, {"作者", 1}}));

    // A run of two rows compares with them but does not replace them.
    ContentTally few;
    storeRows(few, 2, 2);
    FinishContentSummary(few, path);
    EXPECT_EQ(LoadFieldCounts(path)->stored, 8u);

    ws.writeFile("data/9/field_stats.json", "{not json");
    EXPECT_FALSE(LoadFieldCounts(path));
}

}  // namespace
}  // namespace tarvex::collect
