#include "engine/rule_json.h"

#include <gtest/gtest.h>

namespace tarvex::engine {
namespace {

TEST(RuleCount, ReadsDecimalIntegersOnly) {
    EXPECT_EQ(ParseRuleCount("5"), 5);
    EXPECT_EQ(ParseRuleCount(" -3 "), -3);
    EXPECT_EQ(ParseRuleCount("+7"), 7);
    EXPECT_EQ(ParseRuleCount("2147483647"), 2147483647);
    EXPECT_EQ(ParseRuleCount("2147483648"), std::nullopt);
    for (const char* bad : {"", " ", "-", "1.5", "5a", "0x10", "五"})
        EXPECT_EQ(ParseRuleCount(bad), std::nullopt) << bad;
}

TEST(RuleJson, TextsFlagsAndArrays) {
    auto rule = ParseRuleJson(R"({"a":"x","n":5,"t":true,"f":"0","on":"-1","T":"TRUE","arr":["p",2],"z":null})");
    ASSERT_TRUE(rule);
    EXPECT_EQ(RuleText(*rule, "a"), "x");
    EXPECT_EQ(RuleText(*rule, "n"), "5");
    EXPECT_EQ(RuleText(*rule, "missing"), "");
    EXPECT_EQ(RuleText(*rule, "z"), "");
    EXPECT_TRUE(RuleHas(*rule, "a"));
    EXPECT_FALSE(RuleHas(*rule, "z"));
    EXPECT_TRUE(RuleFlag(*rule, "t"));
    EXPECT_TRUE(RuleFlag(*rule, "on"));
    EXPECT_TRUE(RuleFlag(*rule, "T"));
    EXPECT_TRUE(RuleFlag(*rule, "n"));
    EXPECT_FALSE(RuleFlag(*rule, "f"));
    EXPECT_FALSE(RuleFlag(*rule, "a"));
    EXPECT_FALSE(RuleFlag(*rule, "missing"));
    EXPECT_EQ(RuleTextArray(*rule, "arr"), (std::vector<std::string>{"p", "2"}));
    EXPECT_TRUE(RuleTextArray(*rule, "a").empty());
    EXPECT_FALSE(ParseRuleJson("[1]"));
    EXPECT_FALSE(ParseRuleJson("{bad"));
}

}  // namespace
}  // namespace tarvex::engine
