#include "engine/content_filter.h"

#include <gtest/gtest.h>

namespace tarvex::engine {
namespace {

RuleJson rule(std::initializer_list<std::pair<const char*, const char*>> keys, const char* title = "f") {
    RuleJson r = RuleJson::object();
    r["title"] = title;
    r["filter_open_check"] = "-1";
    for (const auto& [k, v] : keys) r[k] = v;
    return r;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

struct FilterCase {
    RuleJson rule;
    std::string value;
    std::string expected;  // "" = passes unchanged
};

TEST(FieldFilter, ChecksAndMessages) {
    const FilterCase cases[] = {
        {rule({{"filter_minnum_check", "-1"}, {"filter_minnum_num", "100"}}, "正文"), repeat("字", 99),
         "过滤|字段[正文]字数小于100"},
        {rule({{"filter_minnum_check", "-1"}, {"filter_minnum_num", "100"}}, "正文"), repeat("字", 100), ""},
        {rule({{"filter_maxnum_check", "-1"}, {"filter_maxnum_num", "3"}}), "abcd", "过滤|字段[f]字数大于3"},
        {rule({{"filter_maxnum_check", "-1"}, {"filter_maxnum_num", "3"}}), "abc", ""},
        {rule({{"filter_maxnum_check", "-1"}, {"filter_maxnum_num", ""}}), "abcdef", ""},
        {rule({{"filter_include_check", "-1"}, {"filter_include", "a,b"}}), "xay", "过滤|字段[f]不符合包含条件"},
        {rule({{"filter_include_check", "-1"}, {"filter_include", "a,b"}}), "ab", ""},
        {rule({{"filter_include_check", "-1"}, {"filter_include", "a,,b"}}), "ab", "过滤|字段[f]不符合包含条件"},
        {rule({{"filter_include_check", "-1"}, {"filter_include", ""}}), "x", ""},
        {rule({{"filter_exclude_check", "-1"}, {"filter_exclude", "广告,推广"}}), "这是推广",
         "过滤|字段[f]不符合排除条件"},
        {rule({{"filter_exclude_check", "-1"}, {"filter_exclude", "广告,推广"}}), "正文", ""},
        {rule({{"filter_maxpic_check", "-1"}, {"filter_maxpic_num", "2"}}), "<IMG a><Img b><img c>",
         "过滤|字段[f]图片大于2张"},
        {rule({{"filter_maxpic_check", "-1"}, {"filter_maxpic_num", "2"}}), "<IMG a><img b>", ""},
        {rule({{"filter_maxpic_check", "-1"}, {"filter_maxpic_num", "0"}}), "<img>", "过滤|字段[f]图片大于0张"},
        {rule({{"filter_isempty_check", "-1"}, {"filter_add_check", "-1"}}), "", "过滤|字段[f]为空|下次不采集"},
        {rule({{"filter_isempty_check", "-1"}}), "x", ""},
        // Only the first failing check in the fixed order is reported.
        {rule({{"filter_maxpic_check", "-1"},
               {"filter_maxpic_num", "0"},
               {"filter_exclude_check", "-1"},
               {"filter_exclude", "坏"},
               {"filter_minnum_check", "-1"},
               {"filter_minnum_num", "50"}}),
         "坏<img>", "过滤|字段[f]字数小于50"},
        {rule({{"filter_maxpic_check", "-1"},
               {"filter_maxpic_num", "0"},
               {"filter_exclude_check", "-1"},
               {"filter_exclude", "坏"}}),
         "坏<img>", "过滤|字段[f]不符合排除条件"},
        // Counts that are not integers skip their check instead of ending the record.
        {rule({{"filter_maxpic_check", "-1"}, {"filter_maxpic_num", "两"}}), "<img><img><img>", ""},
        {rule({{"filter_minnum_check", "-1"}, {"filter_minnum_num", "x"}, {"filter_isempty_check", "true"}}), "",
         "过滤|字段[f]为空"},
    };
    for (const auto& c : cases) {
        const std::string expected = c.expected.empty() ? c.value : c.expected;
        EXPECT_EQ(FieldFilter(c.rule, c.value), expected) << c.rule.dump() << " | " << c.value;
    }
}

TEST(FieldFilter, MasterSwitchOffPassesEverything) {
    RuleJson r = rule({{"filter_isempty_check", "-1"}, {"filter_maxpic_check", "-1"}, {"filter_maxpic_num", "0"}});
    r["filter_open_check"] = "0";
    EXPECT_EQ(FieldFilter(r, ""), "");
    EXPECT_EQ(FieldFilter(r, "<img>"), "<img>");
    r.erase("filter_open_check");
    EXPECT_EQ(FieldFilter(r, ""), "");
}

TEST(FieldFilter, LengthsCountUtf16UnitsWithMarkup) {
    // "<b>" counts, and a character beyond U+FFFF counts twice.
    RuleJson r = rule({{"filter_maxnum_check", "-1"}, {"filter_maxnum_num", "4"}});
    EXPECT_EQ(FieldFilter(r, "<b>中</b>"), "过滤|字段[f]字数大于4");
    EXPECT_EQ(FieldFilter(r, "中\xF0\x9F\x98\x80文"), "中\xF0\x9F\x98\x80文");
    EXPECT_EQ(FieldFilter(r, "中\xF0\x9F\x98\x80文字"), "过滤|字段[f]字数大于4");
    EXPECT_EQ(Utf16Length("a中\xF0\x9F\x98\x80"), 4u);
}

TEST(FieldFilter, WorksFromJsonTextAndMarksFinalRejections) {
    const std::string json =
        R"({"title":"标题","filter_open_check":"-1","filter_isempty_check":"-1","filter_add_check":"-1"})";
    const std::string result = FieldFilterJson(json, "");
    EXPECT_EQ(result, "过滤|字段[标题]为空|下次不采集");
    EXPECT_TRUE(IsFilterMessage(result));
    EXPECT_TRUE(IsFinalRejection(result));
    EXPECT_FALSE(IsFinalRejection("过滤|字段[标题]为空"));
    EXPECT_FALSE(IsFilterMessage("正文过滤|"));
    EXPECT_EQ(FieldFilterJson("not json", ""), "");
}

}  // namespace
}  // namespace tarvex::engine
