#include "collect/multi_level.h"

#include <nlohmann/json.hpp>

#include "engine/field_rule.h"
#include "engine/template_lang.h"
#include "engine/url_utils.h"
#include "platform/json_text.h"
#include "platform/regex.h"
#include "platform/run_log.h"
#include "platform/utf8.h"

namespace tarvex::collect {

using platform::WriteLog;

namespace {

constexpr std::string_view kSeparator = engine::kLevelSeparator;

std::string joinLines(const std::vector<std::string>& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i) out += "\r\n";
        out += v[i];
    }
    return out;
}

// Fetches one page of a level; a failure or an empty answer gives an empty text.
std::string fetchText(const PageFollow& follow, const std::string& url, const std::string& options,
                      const std::string& failLog, const std::string& emptyLog) {
    std::string r = follow.fetch ? follow.fetch(url, options) : std::string("fail:no fetch");
    if (r.compare(0, 5, "succ:") != 0) {
        WriteLog(failLog, 0);
        return {};
    }
    if (r.size() == 5) WriteLog(emptyLog, 0);
    return r.substr(5);
}

}  // namespace

std::optional<LevelSettings> ParseLevel(const std::string& json) {
    auto j = platform::parseJson<engine::FieldRuleJson>(json);
    if (!j.is_object()) return std::nullopt;
    LevelSettings s;
    s.title = engine::JsonText(j, "title");
    if (j.contains("fatherurl")) s.parent = engine::JsonText(j, "fatherurl");
    s.fromText = engine::JsonFlag(j, "radio_1");
    s.byPattern = engine::JsonFlag(j, "radio_1_check");
    s.begin = engine::JsonText(j, "radio_1_begin");
    s.end = engine::JsonText(j, "radio_1_end");
    s.find = engine::JsonText(j, "radio_2_url1");
    s.replace = engine::JsonText(j, "radio_2_url2");
    s.testUrl = engine::JsonText(j, "testurl");
    s.hasPages = engine::JsonFlag(j, "check_mulpage");
    s.pager.begin = engine::JsonText(j, "Mul_begin");
    s.pager.end = engine::JsonText(j, "Mul_end");
    s.pager.include = engine::JsonText(j, "Mul_include");
    s.pager.exclude = engine::JsonText(j, "Mul_exclude");
    return s;
}

std::vector<std::string> LevelTexts(const std::string& morepage2) {
    std::vector<std::string> out;
    auto doc = platform::parseJson<nlohmann::json>(morepage2);
    if (!doc.is_object()) return out;
    auto it = doc.find("MorePageAll");
    if (it == doc.end() || !it->is_array()) return out;
    for (const auto& entry : *it) {
        if (entry.is_string())
            out.push_back(entry.get<std::string>());
        else if (entry.is_object())
            out.push_back(entry.dump());
    }
    return out;
}

std::string LevelAddress(const LevelSettings& level, const std::string& parentAddress, const std::string& parentText) {
    if (level.fromText && level.byPattern) {
        const std::string pattern = engine::ParameterPattern(level.begin);
        WriteLog("MorePage|正则前后截取 获取最终网址", 0);
        WriteLog("MorePage|正则前后截取 正则PAT:" + pattern, 0);
        auto found = platform::regexFirst(pattern, platform::kExtractionOptions, parentText);
        if (found.error) WriteLog("MorePage|正则前后截取 正则错误:" + *found.error, 0);
        if (!found.match) return {};
        WriteLog("MorePage|正则前后截取 Match.value:" + std::string(found.match->group()), 0);
        std::string address = engine::FillParamsByName(level.end, *found.match, pattern);
        WriteLog("MorePage|正则前后截取 后2得:" + address, 0);
        return address;
    }
    if (level.fromText) {
        WriteLog("GetMorestring:url:" + parentAddress + "前后截取 获取最终网址 开始", 0);
        const std::string pattern = engine::CutPattern(level.begin, level.end);
        auto found = platform::regexFirst(pattern, platform::kExtractionOptions, parentText);
        if (found.error) WriteLog("GetMorestring:前后截取 正则错误:" + *found.error, 0);
        if (!found.match) return {};
        WriteLog("GetMorestring:前后截取 获取最终网址 成功,", 0);
        return std::string(found.match->named("content"));
    }
    WriteLog("GetMorestring:url:" + parentAddress + "正则替换获得 最终网址 开始", 0);
    const std::string source = engine::TrimText(parentAddress);
    const std::size_t param = level.find.find(engine::kFirstParameter);
    if (param != std::string::npos && param > 0) {
        const std::string pattern = engine::ParameterPattern(level.find);
        WriteLog("GetMorestring:pat正则 前后转义后得：\r" + pattern, 0);
        auto found = platform::regexFirst(pattern, platform::kExtractionOptions, source);
        if (found.error) WriteLog("GetMorestring:pat正则 错误:" + *found.error, 0);
        if (!found.match) return {};
        std::string address = engine::FillParamsByName(level.replace, *found.match, pattern);
        WriteLog("GetMorestring:pat正则 获取到网址如下tempstr2：\r" + address, 0);
        return address;
    }
    WriteLog("GetMorestring:网址非正则，直接替换得到网址tempstr2：" + level.find, 0);
    return engine::ReplaceAll(source, level.find, level.replace);
}

std::string collectLevelPage(const std::string& parentAddress, const std::string& parentText,
                             const LevelSettings& level, const std::string& options, const PageFollow& follow) {
    std::string address = LevelAddress(level, parentAddress, parentText);
    if (address.empty()) {
        // Nothing matched: there is no page to fetch, and guessing one (the parent's folder,
        // the unfilled output template) would only fetch a wrong page.
        WriteLog("GetMorestring:没有提取到有效网址", 0);
        return std::string(kSeparator);
    }
    if (level.fromText) WriteLog("GetMorestring:获取到网址tempstr2如下：\r" + address, 0);
    address = engine::AbsoluteUrl(address, parentAddress);
    WriteLog("GetMorestring:根据tempstr2,urlsource得到完整地址：" + address, 0);
    if (address.empty()) return std::string(kSeparator);
    if (follow.show) follow.show("正在抓取多级页：" + address);

    std::string result = follow.fetch ? follow.fetch(address, options) : std::string("fail:no fetch");
    WriteLog("\r\rGetMorestring:根据tempstr2,urlsource得到完整s：" + result + "\r\r", 1);
    if (result.compare(0, 5, "succ:") != 0) {
        WriteLog("GetMorestring 抓取url错误：" + result, 0);
        return address + std::string(kSeparator);
    }
    if (result.size() == 5) {
        WriteLog("GetMorestring 抓取url返回空", 0);
        return address + std::string(kSeparator);
    }
    std::string page = result.substr(5);
    if (!level.hasPages) {
        WriteLog("GetMorestring|得到没有分页的多页result", 0);
        return address + std::string(kSeparator) + page;
    }

    WriteLog("GetMorestring 抓取urlsource的多页URL+内容页后，还包含分页", 0);
    auto all = collectPagerPages(level.pager, page, address);
    WriteLog("GetMorestring 返回分页链接如下：" + joinLines(all), 0);
    PagerWalk walk(all);
    std::vector<std::string> texts{page};
    while (!walk.done()) {
        if (walk.fetched().size() >= kLevelPageLimit) {
            WriteLog("GetMorestring 分页数达到上限" + std::to_string(kLevelPageLimit) + "，停止抓取分页", 0);
            break;
        }
        const std::string next = walk.takeNext();
        if (follow.show) follow.show("正在抓取多级页的分页：" + next);
        std::string text = fetchText(follow, next, options, "GetMorestring 抓取url错误：" + next,
                                     "GetMorestring 抓取url返回空" + next);
        texts.push_back(text);
        WriteLog("GetMorestring 分页循环提取alllist增加" + next + "allcontent也增加", 0);
        if (!text.empty()) walk.addFound(collectPagerPages(level.pager, text, next));
    }
    if (walk.fetched().size() != texts.size()) WriteLog("GetMorestring 采集分页与采集内容项数不匹配", 0);
    std::string joined = JoinInAddressOrder(walk.fetched(), texts, engine::kPageSeparator);
    std::vector<std::string> sorted = walk.fetched();
    SortPageAddresses(sorted);
    WriteLog("GetMorestring|allcontent按alllist分页从小到大排序得allcontent2", 0);
    WriteLog("GetMorestring|allcontent按alllist分页:" + joinLines(sorted), 0);
    WriteLog("GetMorestring|alllist分页从小到大排序得新alllist", 0);
    WriteLog("GetMorestring|得到包含分页的多页result=s1结束", 0);
    return address + std::string(kSeparator) + joined;
}

std::vector<std::string> collectLevelPages(const std::string& address, const std::string& firstPage,
                                           const std::string& morepage2, const std::string& options,
                                           const PageFollow& follow) {
    struct Found {
        std::string key;  // lower-cased title
        std::string address;
        std::string text;
    };
    std::vector<Found> found;
    std::vector<std::string> lines;
    const auto levels = LevelTexts(morepage2);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        WriteLog("GetAllPage,遍历MorePageAll:" + std::to_string(i), 0);
        auto level = ParseLevel(levels[i]);
        if (!level) {
            WriteLog("GetAllPage,多页规则不是JSON对象，跳过:" + std::to_string(i), 0);
            continue;
        }
        std::string parentAddress, parentText;
        const bool top = level->parent == kTopLevelParent;
        if (top) {
            WriteLog("GetAllPage,mfather=顶级内容页", 0);
            parentAddress = address;
            parentText = firstPage;
        } else {
            const std::string key = platform::utf8::lowerAscii(level->parent);
            for (const auto& f : found)
                if (f.key == key) {
                    parentAddress = f.address;
                    parentText = f.text;
                    break;
                }
            WriteLog("GetAllPage,mfather=" + parentAddress, 0);
        }
        if (follow.show) follow.show("正在抓取" + address + "的多级页网址");
        std::string result = collectLevelPage(parentAddress, parentText, *level, options, follow);
        const std::size_t sep = result.find(kSeparator);
        std::string levelAddress = result.substr(0, sep);
        std::string levelText = sep == std::string::npos ? std::string() : result.substr(sep + kSeparator.size());
        if (top)
            WriteLog("GetAllPage,mfather=顶级内容页,当前多页标题:" + level->title + "url:" + levelAddress, 0);
        else
            WriteLog("GetAllPage,mfather=" + level->parent + ",当前多页标题:" + level->title + "url:" + levelAddress,
                     0);
        lines.push_back(level->title + "=" + levelAddress + std::string(kSeparator) +
                        engine::LinesToMarkers(levelText));
        found.push_back({platform::utf8::lowerAscii(level->title), std::move(levelAddress), std::move(levelText)});
    }
    return lines;
}

}  // namespace tarvex::collect
