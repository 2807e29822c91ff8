// The nesting limit every JSON reader of the program goes through.
#include "platform/json_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using namespace tarvex::platform;

namespace {
std::string nested(int depth, char open = '[', char close = ']') {
    return std::string(static_cast<std::size_t>(depth), open) + std::string(static_cast<std::size_t>(depth), close);
}
}  // namespace

TEST(JsonText, NestingIsCountedOutsideStringsOnly) {
    struct Case {
        std::string text;
        bool within;
    };
    const std::vector<Case> cases = {
        {nested(kMaxJsonNesting), true},
        {nested(kMaxJsonNesting + 1), false},
        {nested(kMaxJsonNesting + 1, '{', '}'), false},
        // Brackets inside strings, escaped quotes included, do not nest.
        {"[\"" + nested(200) + "\"]", true},
        {"[\"\\\"" + nested(200) + "\"]", true},
        // An escaped backslash ends before the quote, which then closes the string.
        {"[\"\\\\\"," + nested(kMaxJsonNesting) + "]", false},
        // Depth is the deepest point, not the number of brackets.
        {"[" + std::string(500, '[') + std::string(500, ']') + "]", false},
        // An unclosed text is still refused once it goes too deep.
        {std::string(1000, '['), false},
        {"[[],[],[],[]]", true},
        // Stray closers cannot push the count below zero and hide a deep part.
        {std::string(100, ']') + nested(kMaxJsonNesting + 1), false},
        {"", true},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonNestingWithinLimit(c.text), c.within) << c.text.substr(0, 80);
}

TEST(JsonText, TooDeepTextParsesAsDiscardedWithoutCrashing) {
    const std::string deep = nested(300000);
    auto j = parseJson<nlohmann::ordered_json>(deep);
    EXPECT_TRUE(j.is_discarded());
    auto ok = parseJson<nlohmann::json>(R"({"a":[1,{"b":"[[[["}]})");
    ASSERT_TRUE(ok.is_object());
    EXPECT_EQ(ok["a"][1]["b"], "[[[[");
    EXPECT_TRUE(parseJson<nlohmann::json>("{\"a\":").is_discarded());
    EXPECT_EQ(JsonTooDeepMessage(), "JSON嵌套超过64层");
}
