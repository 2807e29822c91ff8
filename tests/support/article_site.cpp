#include "support/article_site.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/tasks/catalogue.h"
#include "app/tasks/stored_rules.h"
#include "collect/task_db.h"
#include "engine/field_rule.h"
#include "support/fakes.h"

namespace tarvex::test {

namespace {
using Json = nlohmann::ordered_json;

// A field cut out between a front and a back text, from the editor's new-field rule.
Json cut(const std::string& title, const std::string& front, const std::string& back) {
    Json f = engine::NewFieldRule(title);
    f["radio_1"] = "-1";
    f["radio_2"] = "0";
    f["radio_3"] = "0";
    f["radio_1_content"] = {front, back};
    return f;
}

Json level(const std::string& title, const std::string& parent, const std::string& front, const std::string& back) {
    return Json{{"title", title},       {"fatherurl", parent},    {"radio_1", "-1"},     {"radio_2", "0"},
                {"radio_1_check", "0"}, {"radio_1_begin", front}, {"radio_1_end", back}, {"check_mulpage", "0"}};
}
}  // namespace

std::string articleSiteFolder() {
    return std::string(TARVEX_TEST_DATA_DIR) + "/sites/articles-with-attachments";
}

std::string articleSiteSettings(const ArticleSiteOptions& o) {
    Json body = cut("正文", "<div class=\"content\">", "</div>");
    body["check_mulpage"] = "-1";
    body["file_save"] = {"-1", "/uploads/{dd:原文件名}", "-1", "0"};
    body["file_save_diy"] = "pics";
    body["filter_open_check"] = "-1";
    body["filter_exclude_check"] = "-1";
    body["filter_exclude"] = "广告";
    body["filter_add_check"] = "-1";
    if (!o.fieldExtras.empty()) body.update(Json::parse(o.fieldExtras));
    Json file = cut("附件", "<a class=\"file\" href=\"", "\"");
    file["check_morepage"] = "-1";
    file["check_morepageindex"] = "下载页";
    file["file_save"] = {"0", "/files/{dd:原文件名}", "0", "-1"};
    Json mirror = cut("镜像", "<p class=\"mirror\">", "</p>");
    mirror["check_morepage"] = "-1";
    mirror["check_morepageindex"] = "镜像页";
    Json comment = cut("评论", "<div class=\"comments\">", "</div>");
    comment["check_morepage"] = "-1";
    comment["check_morepageindex"] = "评论页";
    Json source{{"title", "来源"},
                {"radio_1", "0"},
                {"radio_2", "0"},
                {"radio_3", "-1"},
                {"radio_3_content_Radio1", "-1"},
                {"radio_3_content_richtext1", "来自{DD:字段=列表标题}"}};
    Json fields = Json::array();
    for (const Json& f : {cut("标题", "<h1>", "</h1>"), body, cut("作者", "<span class=\"author\">", "</span>"), file,
                          mirror, comment, source})
        fields.push_back(f.dump());

    Json commentLevel{{"title", "评论页"},     {"fatherurl", "顶级内容页"},   {"radio_1", "0"},      {"radio_2", "-1"},
                      {"radio_2_url1", "/a/"}, {"radio_2_url2", "/comment/"}, {"check_mulpage", "0"}};
    Json levels{{"MorePageAll",
                 {level("下载页", "顶级内容页", "<a class=\"down\" href=\"", "\"").dump(),
                  level("镜像页", "下载页", "<a class=\"mirror\" href=\"", "\"").dump(), commentLevel.dump()}}};
    Json pager{{"Mul_begin", "<div class=\"pages\">"},
               {"Mul_end", "</div>"},
               {"Mul_max", 0},
               {"Mul_time", "0"},
               {"Mul_radio_1", "-1"},
               {"Mul_radio_2", "0"},
               {"Mul_radio_3", "0"}};
    Json list{{"More_urls", {o.listUrl}}, {"More_begin", "<ul class=\"newslist\">"},
              {"More_end", "</ul>"},      {"More_url_regex", "<a href=\"{DD:采集网址}\" title=\"{DD:字段=列表标题}\""},
              {"More_include", "html"},   {"More_exclude", ""},
              {"More_readtimeout", "20"}, {"More_check_repeat_title", "0"},
              {"More_sort", "0"}};
    Json doc{{"Morepage", list.dump()}, {"mulpage", pager.dump()}, {"Morepage2", levels.dump()}, {"other_time1", "0"},
             {"other_time2", o.pause},  {"gettnum", o.workers},    {"other_joinpage", "<hr>"},   {"fieldsAll", fields}};
    return doc.dump();
}

std::int64_t addCollectTask(const SandboxWorkspace& ws, const std::string& name, const std::string& settings) {
    auto w = ws.workspace();
    std::int64_t id = app::InsertTaskRow(w, 0, name, app::StoreRules(settings));
    ScriptedDialogs d;
    EXPECT_TRUE(collect::CreateTaskDb(w.taskDbPath(id), d));
    collect::CreateContentTables(w.taskDbPath(id), settings);
    return id;
}

}  // namespace tarvex::test
