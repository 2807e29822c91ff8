#include "app/forms/list_settings_form.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "collect/list_sources.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace tarvex::app;

TEST(ListSettingsForm, RoundTripsEveryKeyAndStartsWithItsDefaults) {
    auto fresh = ListSettingsForm::fromJson("");
    EXPECT_EQ(fresh.include, "html");
    EXPECT_EQ(fresh.readTimeout, "20");
    EXPECT_EQ(fresh.sort, 0);

    ListSettingsForm f;
    f.begin = "<ul class=\"list\">";
    f.end = "</ul>";
    f.rewriteFrom = "{*}";
    f.rewriteTo = "{参数1}";
    f.linkPattern = "<a href=\"{DD:采集网址}\" title=\"{DD:字段=列表标题}\">";
    f.include = "news,2019";
    f.exclude = "ad";
    f.noReferer = true;
    f.readTimeout = "35";
    f.uniqueTitles = true;
    f.sort = 2;
    f.pagination = PaginationForm{.begin = "<div class=pager>", .end = "</div>"}.toJson();
    f.sources = {"http://h/1", "列表合成=http://h/{参数}[,]1,3,1"};
    auto json = nlohmann::json::parse(f.toJson());
    EXPECT_EQ(json["More_check_referer"], "-1");
    EXPECT_EQ(json["More_check_repeat_title"], "-1");
    EXPECT_EQ(json["More_sort"], "2");
    auto back = ListSettingsForm::fromJson(f.toJson());
    EXPECT_EQ(back.toJson(), f.toJson());
    // What the window stores is what the list stage reads.
    EXPECT_FALSE(collect::IsDirectMode(f.toJson()));
    EXPECT_EQ(collect::SplitLines(collect::ListSources(f.toJson(), "/")).size(), 3u);  // http://h/1 once
}

TEST(ListSettingsForm, RefusesBadListPageFieldNames) {
    ListSettingsForm f;
    f.linkPattern = "<a href=\"{DD:采集网址}\">{DD:字段=一二三四五六七八}</a>";
    EXPECT_EQ(f.validate({}).value_or(""), "字段长度暂时仅支持7个字,以下字段名太长：一二三四五六七八");
    f.linkPattern = "{DD:字段=作者}{DD:字段=作者}";
    EXPECT_EQ(f.validate({}).value_or(""), "列表采集的内容字段{DD:字段=作者}不能重复");
    f.linkPattern = "{DD:字段=标题}";
    EXPECT_EQ(f.validate({"标题", "内容"}).value_or(""), "列表采集的内容字段{DD:字段=标题}不能与内容页采集字段重复");
    f.linkPattern = "{DD:字段=一二三四五六七}";
    EXPECT_FALSE(f.validate({"标题"}));
    f.readTimeout = "0";
    EXPECT_TRUE(f.validate({}));
}

TEST(SourceEntries, WindowRefusals) {
    test::SandboxWorkspace ws;
    ws.writeFile("列表网址.txt", "http://h/a\n");
    struct Case {
        SourceEntry got;
        std::string entry, refusal;
    } cases[] = {
        {composeEntry("http://h/list_{参数}.html", "1", "100", "1"), "列表合成=http://h/list_{参数}.html[,]1,100,1",
         ""},
        {composeEntry("ftp://h/{参数}", "1", "2", "1"), "", "网址应以HTTP开始"},
        {composeEntry("http://h/list.html", "1", "2", "1"), "", "未设置可变  {参数} "},
        {composeEntry("http://h/{参数}", "1", "2", "0"), "", "间隔必须大于0"},
        {composeEntry("http://h/{参数}", "a", "2", "1"), "", "首项、尾项和间隔必须是整数"},
        {importEntry("", ws.folder()), "", " , 文本路径不能为空！"},
        {importEntry("nope.txt", ws.folder()), "", "文本路径不存在！"},
        {importEntry("列表网址.txt", ws.folder()), "文本导入=列表网址.txt", ""},
        {addressEntry("  http://h/x "), "http://h/x", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got.entry.value_or(""), c.entry);
        EXPECT_EQ(c.got.refusal, c.refusal);
    }
    std::vector<std::string> sources;
    EXPECT_TRUE(addSource(sources, "http://h/x"));
    EXPECT_FALSE(addSource(sources, "http://h/x"));
    EXPECT_EQ(sources.size(), 1u);
}

TEST(PaginationForm, StoresMaxAsANumberAndOneRadioOn) {
    PaginationForm p;
    EXPECT_EQ(p.validate().value_or(""), "分页区间开始与结束不能为空");
    p.begin = "<div class=\"page\">";
    p.end = "</div>";
    p.maxPages = 3;
    p.mode = 3;
    EXPECT_FALSE(p.validate());
    auto j = nlohmann::json::parse(p.toJson());
    EXPECT_TRUE(j["Mul_max"].is_number());
    EXPECT_EQ(j["Mul_radio_1"], "0");
    EXPECT_EQ(j["Mul_radio_3"], "-1");
    auto back = PaginationForm::fromJson(p.toJson());
    EXPECT_EQ(back.mode, 3);
    EXPECT_EQ(back.maxPages, 3);
    EXPECT_EQ(PaginationForm::fromJson(R"({"Mul_begin":"a","Mul_end":"b","Mul_max":"7","Mul_radio_2":"-1"})").maxPages,
              7);
    p.time = "-5";
    EXPECT_TRUE(p.validate());
}
