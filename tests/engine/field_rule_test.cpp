#include "engine/field_rule.h"

#include <gtest/gtest.h>

using namespace tarvex::engine;

namespace {

// A new field as the editor builds it, with some keys changed.
FieldRuleJson edited(const FieldRuleJson& changes) {
    FieldRuleJson r = NewFieldRule("标题");
    r["radio_1_content"] = {"<h1>", "</h1>"};
    for (auto it = changes.begin(); it != changes.end(); ++it) r[it.key()] = it.value();
    return r;
}

}  // namespace

TEST(FieldRule, NewFieldDefaults) {
    FieldRuleJson r = NewFieldRule("x");
    std::vector<std::string> keys;
    for (auto it = r.begin(); it != r.end(); ++it) keys.push_back(it.key());
    ASSERT_GT(keys.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 6),
              (std::vector<std::string>{"title", "check_null", "check_mulpage", "check_morepage", "check_morepageindex",
                                        "check_repeat"}));
    EXPECT_EQ(r["radio_1"], "-1");
    EXPECT_EQ(r["file_save"], FieldRuleJson({"0", "/d/file/{dd:日期yyyymmdd}/{dd:MD5}.gif", "-1", "0"}));
    EXPECT_EQ(r["file_save_diy"], "请选择");
    EXPECT_EQ(r["pic_smallpic_newname"], "/d/file/{dd:日期yyyymmdd}/min_{dd:MD5}.gif");
    EXPECT_EQ(keys.back(), "filter_add_check");
    // A new field passes the save checks once its front and back texts are filled in.
    EXPECT_FALSE(CheckFieldRule(edited({}), {}));
}

TEST(FieldRule, ReadingFlagsAndTexts) {
    auto rule = ParseFieldRule(R"({"title":"t","radio_1":"true","radio_2":"1","radio_3":"abc","check_null":true,
        "check_mulpage":"-1","check_morepage":"0","radio_1_content":["a"],"radio_2_content":"x",
        "radio_3_content_min":5,"txt_strips":["{\"type\":\"替换\"}"]})");
    ASSERT_TRUE(rule);
    EXPECT_TRUE(rule->byFrontBack);
    EXPECT_TRUE(rule->byRegex);
    EXPECT_FALSE(rule->madeUp);
    EXPECT_TRUE(rule->checkNull);
    EXPECT_TRUE(rule->checkMulpage);
    EXPECT_FALSE(rule->checkMorepage);
    EXPECT_EQ(rule->front, "a");
    EXPECT_EQ(rule->back, "");
    EXPECT_EQ(rule->pattern, "");
    EXPECT_EQ(rule->minText, "5");
    EXPECT_EQ(rule->txtStrips, std::vector<std::string>{"{\"type\":\"替换\"}"});
    EXPECT_FALSE(ParseFieldRule("[1]"));
    EXPECT_FALSE(ParseFieldRule("{broken"));
}

TEST(FieldRule, NameAsSaved) {
    EXPECT_EQ(NormalizeFieldName(" 标 题 "), "标题");
    EXPECT_EQ(NormalizeFieldName("a,b\xE3\x80\x80"
                                 "c"),
              "abc");
}

TEST(FieldRule, SaveChecks) {
    struct Case {
        FieldRuleJson changes;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{{"title", " U rl"}}, "字段名称不能是url或id"},
        {{{"title", "ID"}}, "字段名称不能是url或id"},
        {{{"title", "GetC"}},
         "字段名称<GetC>与数据库固定字段重名(id,url,geturl,getc,postc,postc_开头)，请修改字段名称后再保存"},
        {{{"title", "postc_k7"}},
         "字段名称<postc_k7>与数据库固定字段重名(id,url,geturl,getc,postc,postc_开头)，请修改字段名称后再保存"},
        {{{"radio_1_content", {"<h1>", " "}}}, "前边字符或后边字符不能为空"},
        {{{"radio_1", "0"}, {"radio_2", "-1"}}, "正则规则不能为空"},
        {{{"radio_1", "0"}, {"radio_2", "-1"}, {"radio_2_content", {"<a>(.*?)</a>", "x"}}},
         "纯正则提取，合果结果必须包含“{参数1}”"},
        {{{"radio_1", "0"}, {"radio_2", "-1"}, {"radio_2_content", {"a{参数1}b{参数2}", "{参数1}"}}},
         "合果结果缺少“{参数2}”"},
        {{{"radio_1", "0"}, {"radio_2", "-1"}, {"radio_2_content", {"a{参数1}", ""}}}, "合果结果缺少“{参数1}”"},
        {{{"radio_1", "0"}, {"radio_3", "-1"}}, "请选择一个[固定字符串,随机字符串,随机数]选项"},
        {{{"radio_1", "0"}, {"radio_3", "-1"}, {"radio_3_content_Radio2", "-1"}}, "固定字符串不能为空"},
        {{{"radio_1", "0"}, {"radio_3", "-1"}, {"radio_3_content_Radio3", "-1"}, {"radio_3_content_min", ""}},
         "最小值与最大值不能为空！"},
        {{{"radio_1", "0"},
          {"radio_3", "-1"},
          {"radio_3_content_Radio3", "-1"},
          {"radio_3_content_min", "9"},
          {"radio_3_content_max", "3"}},
         "最小值 不能大于 最大值"},
        {{{"check_morepage", "-1"}}, "并没有选择多页，请取消多级页面的按扭"},
        {{{"pic_transparent", "0"}}, "透明度设置在1-100之间"},
        {{{"pic_quality", "101"}}, "压缩质量设置在1-100之间"},
        {{{"pic_smallpic_height", "501"}}, "缩略图大小在1-500之间"},
        {{{"filter_open_check", "-1"}, {"filter_add_check", "-1"}}, "您已开启过滤功能，至少选择一项功能"},
        {{{"pic_smallpic_check", "-1"}, {"pic_smallpic_newname", ""}}, "您已选择生成缩略图，但未设置新文件全名"},
        {{{"file_save", {"-1", "/a", "-1", "-1"}}}, "图片下载与附件下载(直接下载) 只能选择一项"},
    };
    for (const auto& c : cases) {
        auto message = CheckFieldRule(edited(c.changes), {});
        ASSERT_TRUE(message) << c.changes.dump();
        EXPECT_EQ(*message, c.message) << c.changes.dump();
    }
    // "{参数1}" as the very first character does not need to be in the output.
    EXPECT_FALSE(CheckFieldRule(
        edited({{"radio_1", "0"}, {"radio_2", "-1"}, {"radio_2_content", {"{参数1}<b>", "x{参数1}"}}}), {}));
    EXPECT_FALSE(CheckFieldRule(edited({{"filter_open_check", "-1"}, {"filter_maxpic_check", "-1"}}), {}));
    // 智能识别 needs no front and back texts, even in a rule that still has "前后采集" on.
    EXPECT_FALSE(CheckFieldRule(edited({{"radio_1_content", {"", ""}}, {"radio_4", "-1"}}), {}));

    FieldSaveContext newField{true, {"内容", "标题"}};
    EXPECT_EQ(CheckFieldRule(edited({}), newField).value_or(""), "新建字段名称不能重复");
    FieldSaveContext renamed{false, {"内容", "标题"}};
    EXPECT_EQ(CheckFieldRule(edited({}), renamed).value_or(""), "修改字段的名称不能与其他字段重复！");
    EXPECT_FALSE(CheckFieldRule(edited({{"title", "作者"}}), newField));
    // Column names compare without regard to ASCII case, so "Title" and "title" would clash.
    FieldSaveContext latin{true, {"Title"}};
    EXPECT_EQ(CheckFieldRule(edited({{"title", "tit le"}}), latin).value_or(""), "新建字段名称不能重复");
    // Names that only contain "postc" elsewhere, or a fixed column as a part, are fine.
    EXPECT_FALSE(CheckFieldRule(edited({{"title", "mypostc"}}), {}));
    EXPECT_FALSE(CheckFieldRule(edited({{"title", "urls"}}), {}));
}
