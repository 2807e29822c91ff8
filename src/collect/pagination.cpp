#include "collect/pagination.h"
#include "engine/rule_json.h"

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>
#include <unordered_set>

#include "engine/html_utils.h"
#include "engine/template_lang.h"
#include "engine/url_utils.h"
#include "platform/json_text.h"
#include "platform/regex.h"
#include "platform/run_log.h"
#include "platform/utf8.h"

namespace tarvex::collect {

using platform::WriteLog;

namespace {

// Pager links: an anchor's href up to the first blank or quote, in the case the page writes.
constexpr const char* kPagerLinkPattern = R"(<a[^>]*?href[ ]*=[ ]*(["|'])?(?<aurl>.*?)[ |'"][^>]*>.*?</a>)";

std::string textOf(const nlohmann::json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return {};
    if (it->is_string()) return it->get<std::string>();
    return it->dump();
}

long long intOf(const nlohmann::json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end()) return 0;
    if (it->is_number_integer()) return it->get<long long>();
    if (it->is_number()) return static_cast<long long>(it->get<double>());
    if (!it->is_string()) return 0;
    try {
        return std::stoll(it->get<std::string>());
    } catch (...) {
        return 0;
    }
}

bool flagOf(const nlohmann::json& obj, const char* key) {
    return engine::FlagText(textOf(obj, key));
}

std::string trimSpaces(const std::string& s) {
    auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// A template turned into a pattern piece whose "{*}" skips as little as possible.
std::string cutPiece(const std::string& tmpl) {
    std::string p = engine::TemplateToPattern(tmpl);
    engine::ReplaceAllInPlace(p, "{*}", ".*?");
    return p;
}

// Every line end (CR LF, lone CR, lone LF) written as CR LF.
std::string crlfLines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

bool isSucc(const std::string& r) {
    return r.compare(0, 5, "succ:") == 0;
}

// Page texts in the order of their sorted addresses.
std::vector<std::string> textsInAddressOrder(const std::vector<std::string>& addresses,
                                             const std::vector<std::string>& texts) {
    std::vector<std::size_t> order(addresses.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const auto& x = addresses[a];
        const auto& y = addresses[b];
        return x.size() != y.size() ? x.size() < y.size() : x < y;
    });
    std::vector<std::string> out;
    for (std::size_t i : order)
        if (i < texts.size()) out.push_back(texts[i]);
    return out;
}

std::string join(const std::vector<std::string>& parts, std::string_view sep) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += sep;
        out += parts[i];
    }
    return out;
}

}  // namespace

std::optional<PagerSettings> ParsePagerSettings(const std::string& json) {
    if (json.empty()) return std::nullopt;
    auto j = platform::parseJson<nlohmann::json>(json);
    if (!j.is_object()) return std::nullopt;
    PagerSettings s;
    s.begin = textOf(j, "Mul_begin");
    s.end = textOf(j, "Mul_end");
    s.include = textOf(j, "Mul_include");
    s.exclude = textOf(j, "Mul_exclude");
    s.max = intOf(j, "Mul_max");
    s.timeMs = intOf(j, "Mul_time");
    s.regexBegin = textOf(j, "Mul_regex_begin");
    s.regexEnd = textOf(j, "Mul_regex_end");
    s.regex = textOf(j, "Mul_regex");
    if (flagOf(j, "Mul_radio_1"))
        s.mode = PagerMode::Smart;
    else if (flagOf(j, "Mul_radio_2"))
        s.mode = PagerMode::AddressMatch;
    else if (flagOf(j, "Mul_radio_3"))
        s.mode = PagerMode::AllListed;
    return s;
}

long long ContentPageLimit(const PagerSettings& s) {
    return s.max < 1 ? kContentPagesUnlimited : s.max;
}
long long ListPageLimit(const PagerSettings& s) {
    return s.max <= 0 ? kListPagesUnlimited : s.max;
}

void SortPageAddresses(std::vector<std::string>& addresses) {
    std::stable_sort(addresses.begin(), addresses.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
}

std::string JoinInAddressOrder(const std::vector<std::string>& addresses, const std::vector<std::string>& texts,
                               std::string_view separator) {
    return join(textsInAddressOrder(addresses, texts), separator);
}

PagerWalk::PagerWalk(const std::vector<std::string>& firstPager) {
    for (std::size_t i = 0; i < firstPager.size(); ++i) {
        if (!m_seen.insert(platform::utf8::lowerAscii(firstPager[i])).second) continue;
        if (i == 0)
            m_fetched.push_back(firstPager[i]);
        else
            m_pending.push_back(firstPager[i]);
    }
}

std::string PagerWalk::takeNext() {
    std::string next = std::move(m_pending.front());
    m_pending.erase(m_pending.begin());
    m_fetched.push_back(next);
    return next;
}

void PagerWalk::addFound(const std::vector<std::string>& pager) {
    for (const auto& a : pager)
        if (m_seen.insert(platform::utf8::lowerAscii(a)).second) m_pending.push_back(a);
}

std::vector<std::string> collectPagerPages(const PagerSettings& settings, std::string_view page,
                                           const std::string& address) {
    WriteLog("GetMulPage:开始提取分页(根据已有内容及正则，不用访问网页),url:" + address, 1);
    std::vector<std::string> result{address};
    std::unordered_set<std::string> seen{platform::utf8::lowerAscii(address)};

    const std::string areaPattern = cutPiece(settings.begin) + "(?<content>.*?)" + cutPiece(settings.end);
    WriteLog("GetMulPage:分页区域正则,pat:" + areaPattern, 1);
    auto found = platform::regexFirst(areaPattern, platform::kExtractionOptions, page);
    if (found.error) WriteLog("GetMulPage:正则匹配错误：" + areaPattern + *found.error + "\n==========\r", 0);
    if (!found.match) {
        WriteLog("GetMulPage:分页区域正则,pat匹配失败,返回包含原始url的stringlist", 1);
        return result;
    }
    WriteLog("GetMulPage:分页区域正则,pat匹配成功,找到分页区域", 1);
    std::string area(found.match->named("content"));

    if (!settings.regexBegin.empty()) {
        WriteLog("GetMulPage:分页区域提取后替换开始：", 1);
        std::string pattern = engine::TemplateToPattern(settings.regexBegin);
        engine::ReplaceAllInPlace(pattern, "{*}", ".*?");
        for (int n = 1; n <= 3; ++n)
            engine::ReplaceAllInPlace(pattern, "{参数" + std::to_string(n) + "}",
                                      "(?<canshu" + std::to_string(n) + ">.*?)");
        WriteLog("GetMulPage|分页区域提取后，str22:" + pattern, 1);
        auto all = platform::regexAll(pattern, platform::kExtractionOptions, area);
        if (all.error) {
            WriteLog("GetMulPage|分页正则提取 出错：" + *all.error, 0);
        } else {
            // Replacements are worked out on the area as found, then applied one after another.
            std::vector<std::pair<std::string, std::string>> edits;
            for (const auto& m : all.matches) {
                std::string matched(m.group(0));
                WriteLog("GetMulPage|分页正则提取，得到初始匹配结果成功1:" + matched, 1);
                std::string replacement = engine::FillParamsByName(settings.regexEnd, m, pattern);
                WriteLog("GetMulPage|分页替换参数得到represult：" + replacement, 1);
                edits.emplace_back(std::move(matched), std::move(replacement));
            }
            for (const auto& [from, to] : edits) engine::ReplaceAllInPlace(area, from, to);
        }
    }

    auto links = platform::regexAll(kPagerLinkPattern, platform::kExtractionOptions, area);
    const std::string include = trimSpaces(settings.include);
    const std::string exclude = trimSpaces(settings.exclude);
    for (const auto& m : links.matches) {
        std::string link(m.named("aurl"));
        WriteLog("GetMulPage:提取分页aurl：" + link, 1);
        if (!include.empty() && !engine::ContainsAll(include, link)) {
            WriteLog("GetMulPage:分页  必须包含失败：" + include, 1);
            continue;
        }
        if (!exclude.empty() && !engine::ContainsNone(exclude, link)) {
            WriteLog("GetMulPage:分页  必须排除失败：" + exclude, 1);
            continue;
        }
        if (link.empty()) continue;
        std::string absolute = engine::AbsoluteUrl(link, address);
        WriteLog("GetMulPage:分页  返回完整绝对路径：" + absolute, 1);
        // A link that cannot be resolved names no page of this site.
        if (absolute.empty()) continue;
        if (seen.insert(platform::utf8::lowerAscii(absolute)).second) {
            result.push_back(absolute);
            WriteLog("GetMulPage:分页list增加绝对路径：" + absolute, 1);
        } else {
            WriteLog("GetMulPage:分页  当前页重复，过滤！", 1);
        }
    }
    return result;
}

std::string collectContentPages(const std::string& address, const std::string& firstPage,
                                const std::string& settingsJson, const std::string& options, const PageFollow& follow) {
    if (firstPage.empty()) return "顶级内容页=";

    auto doc = platform::parseJson<nlohmann::json>(settingsJson);
    if (!doc.is_object()) doc = nlohmann::json::object();
    const std::string mulpage = textOf(doc, "mulpage");
    const bool show = !textOf(doc, "is_onepage").empty() && static_cast<bool>(follow.show);
    auto sleepMs = [&](int ms) {
        if (ms <= 0) return;
        if (follow.sleep)
            follow.sleep(ms);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
    // Fetches one page of the article; a failure or an empty answer is an empty page.
    auto fetchText = [&](const std::string& url, const char* failLog, const char* emptyLog) {
        std::string r = follow.fetch ? follow.fetch(url, options) : std::string("fail:no fetch");
        if (!isSucc(r)) {
            WriteLog(failLog + r, 0);
            return std::string();
        }
        if (r.size() == 5) WriteLog(emptyLog, 0);
        return r.substr(5);
    };

    std::string joined;
    auto settings = ParsePagerSettings(mulpage);
    if (mulpage.empty()) {
        joined = firstPage;
    } else if (!settings) {
        // Settings that cannot be read name no pager: the article is its first page.
        WriteLog("GetAllPage,分页设置无法读取,只采集第一页:" + mulpage, 0);
        joined = firstPage;
    } else {
        WriteLog("GetAllPage,包含分页代码" + mulpage, 0);
        const long long max = ContentPageLimit(*settings);
        if (settings->mode == PagerMode::AllListed) {
            auto all = collectPagerPages(*settings, firstPage, address);
            std::vector<std::string> texts{firstPage};
            for (std::size_t i = 1; i < all.size(); ++i)
                texts.push_back(fetchText(all[i], "GetAllPage 全部列出抓取strlist2[0]错误：",
                                          "GetAllPage 全部列出抓取strlist2[0]返回空"));
            if (texts.size() != all.size()) {
                if (follow.dialogs) follow.dialogs->message("采集分页与采集内容项数不匹配", platform::kAppTitle);
                return {};
            }
            joined = crlfLines(join(textsInAddressOrder(all, texts), "\r\n"));
        } else {
            if (settings->mode == PagerMode::AddressMatch)
                // No step reads "Mul_regex"; following the pager the smart way collects the
                // article instead of leaving every row queued with an empty page list.
                WriteLog("GetAllPage,分页网址匹配模式按智能提取分页处理", 0);
            WriteLog("GetAllPage,智能提取分页", 0);
            auto all = collectPagerPages(*settings, firstPage, address);
            WriteLog("GetAllPage,读取分页结束包含" + join(all, "\r\n"), 0);
            PagerWalk walk(all);
            std::vector<std::string> texts{firstPage};
            if (all.size() > 1) {
                WriteLog("GetAllPage,读取分页大于1页", 0);
                WriteLog("GetAllPage,strlist2删除第1个原网址", 0);
                long long i = 1;
                while (!walk.done()) {
                    if (max < kContentPagesUnlimited) SortPageAddresses(walk.pending());
                    if (++i > max) {
                        WriteLog("GetSqlFromCbyJsonstring,分页获取超过最大数,准备跳出，最大数:" + std::to_string(max),
                                 0);
                        break;
                    }
                    const bool morePending = walk.pending().size() > 1;
                    const std::string next = walk.takeNext();
                    if (show) follow.show("正在采集分页：" + next);
                    std::string text =
                        fetchText(next, "GetAllPage 抓取strlist2[0]错误：", "GetAllPage 抓取strlist2[0]返回空");
                    if (morePending && settings->timeMs > 0) sleepMs(static_cast<int>(settings->timeMs));
                    texts.push_back(text);
                    WriteLog("GetAllPage,已采集网址：alllist加1，内容allcontent加1", 0);
                    walk.addFound(collectPagerPages(*settings, text, next));
                    WriteLog("GetAllPage,根据这个分页网址提取新的分页网址", 0);
                    WriteLog("GetAllPage,合成新的总分页网址strlist1", 0);
                    WriteLog("GetAllPage,list1减去已采集alllist 得到临时list2重新循环", 0);
                }
            }
            const auto& fetched = walk.fetched();
            if (fetched.size() != texts.size()) WriteLog("GetAllPage,alllist网址与内容不符", 0);
            joined = join(textsInAddressOrder(fetched, texts), "[dd:分页符]");
            WriteLog("GetAllPage,根据alllist从小到大排序，得到allcontent2", 0);
            WriteLog("GetAllPage,alllist从小到大排序", 0);
        }
    }

    std::string pageList = "顶级内容页=" + engine::LinesToMarkers(joined + "\r\n");
    const std::string morepage2 = textOf(doc, "Morepage2");
    if (!morepage2.empty() && follow.levels) {
        WriteLog("GetAllPage,包含Morepage2多页规则", 0);
        for (const auto& line : follow.levels(address, firstPage, morepage2, options)) pageList += "\r\n" + line;
    }
    WriteLog("GetAllPage|====函数执行结束========", 0);
    return pageList;
}

}  // namespace tarvex::collect
