#include "collect/list_links.h"
#include "engine/rule_json.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_set>

#include "collect/http_fetch.h"
#include "collect/list_sources.h"
#include "collect/task_db.h"
#include "engine/html_utils.h"
#include "engine/template_lang.h"
#include "engine/url_utils.h"
#include "platform/json_text.h"
#include "platform/regex.h"
#include "platform/run_log.h"
#include "platform/sqlite_db.h"

namespace tarvex::collect {

using platform::WriteLog;

namespace {

constexpr const char* kAutoLinkPattern = R"(href[ ]*=[ ]*(["|'])?(?<hrefurl>.*?)[ |'"])";
constexpr const char* kFieldMarkerPattern = R"(\{DD:字段=([^ ]*?)\})";
constexpr const char* kListTitleField = "列表标题";
constexpr long long kNoUrlLimit = 99999999;

nlohmann::json parseObject(const std::string& text) {
    if (text.empty()) return nlohmann::json::object();
    auto j = platform::parseJson<nlohmann::json>(text);
    return j.is_object() ? j : nlohmann::json::object();
}

std::string textOf(const nlohmann::json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return {};
    if (it->is_string()) return it->get<std::string>();
    return it->dump();
}

long long intOf(const nlohmann::json& obj, const char* key) {
    std::string v = textOf(obj, key);
    try {
        return std::stoll(v);
    } catch (...) {
        return 0;
    }
}

bool flagOf(const nlohmann::json& obj, const char* key) {
    return engine::FlagText(textOf(obj, key));
}

std::string join(const std::vector<std::string>& parts, std::string_view sep) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += sep;
        out += parts[i];
    }
    return out;
}

std::string cutPiece(const std::string& tmpl) {
    std::string p = engine::TemplateToPattern(tmpl);
    engine::ReplaceAllInPlace(p, "{*}", ".*?");
    return p;
}

std::string parameterPattern(const std::string& tmpl) {
    std::string p = engine::TemplateToPattern(tmpl);
    engine::ReplaceAllInPlace(p, "{*}", ".*?");
    for (int n = 1; n <= 3; ++n)
        engine::ReplaceAllInPlace(p, "{参数" + std::to_string(n) + "}", "(?<canshu" + std::to_string(n) + ">.*?)");
    return p;
}

// The list area rewrite; any pattern error keeps the area as it was.
std::string rewriteArea(const std::string& area, const ListSettings& list) {
    WriteLog("TMyThread.DoGetCurl:列表区域提取后替换开始：", 0);
    std::string out = area;
    if (list.rewriteFrom.find("{参数1}") == std::string::npos) {
        std::string pattern = engine::TemplateToPattern(list.rewriteFrom);
        engine::ReplaceAllInPlace(pattern, "{*}", "(.*?)");
        WriteLog("TMyThread.DoGetCurl:列表区域不带参数替换，str22：" + pattern, 0);
        auto r = platform::regexReplace(pattern, platform::kExtractionOptions, area, list.rewriteTo);
        if (r.error)
            WriteLog("TMyThread.DoGetCurl列表区域提取后替换|正则提取 出错：" + *r.error, 0);
        else
            out = std::move(r.text);
    } else {
        const std::string pattern = parameterPattern(list.rewriteFrom);
        auto all = platform::regexAll(pattern, platform::kExtractionOptions, area);
        if (all.error) {
            WriteLog("TMyThread.DoGetCurl列表区域提取后替换|正则提取 出错：" + *all.error, 0);
        } else {
            std::vector<std::pair<std::string, std::string>> edits;
            for (const auto& m : all.matches) {
                WriteLog("TMyThread.DoGetCurl:列表区域提取后替换|正则提取，得到初始匹配结果成功1", 1);
                std::string replacement = engine::FillParamsByName(list.rewriteTo, m, pattern);
                WriteLog("TMyThread.DoGetCurl:列表区域提取后替换|替换参数得到represult：" + replacement, 1);
                edits.emplace_back(std::string(m.group(0)), std::move(replacement));
            }
            for (const auto& [from, to] : edits) engine::ReplaceAllInPlace(out, from, to);
        }
    }
    WriteLog("TMyThread.DoGetCurl列表区域提取后替换后s:完成", 0);
    return out;
}

struct LinkPattern {
    std::string pattern;
    std::vector<std::string> fields;  // list-page field names, in pattern order
};

LinkPattern buildLinkPattern(const ListSettings& list) {
    LinkPattern lp;
    // The pattern is the user's when it names where the address stands after its first
    // character; one that starts with the address (nothing before it to anchor on) would cut
    // whole stretches of the area, so links are then found automatically.
    if (list.linkPattern.find("{DD:采集网址}", 1) == std::string::npos) {
        lp.pattern = kAutoLinkPattern;
        WriteLog("TMyThread.DoGetCurl 自动获取内容链接PAT3:" + lp.pattern, 0);
        return lp;
    }
    auto markers = platform::regexAll(kFieldMarkerPattern, platform::kRegexNone, list.linkPattern);
    for (const auto& m : markers.matches) lp.fields.emplace_back(m.group(1));
    WriteLog("TMyThread.DoGetCurl:1 {DD:字段=匹配到" + join(lp.fields, ","), 0);
    std::string p = engine::TemplateToPattern(list.linkPattern);
    engine::ReplaceAllInPlace(p, "{*}", ".*?");
    engine::ReplaceAllInPlace(p, "{DD:采集网址}", "(?<hrefurl>.*?)");
    for (const auto& name : lp.fields)
        engine::ReplaceAllInPlace(p, "{DD:字段=" + name + "}", "(?<" + FieldGroupName(name) + ">.*?)");
    lp.pattern = std::move(p);
    WriteLog("TMyThread.DoGetCurl 手动获取内容链接+字段", 0);
    if (lp.fields.empty())
        WriteLog("TMyThread.DoGetCurl:1 列表提取的字段为空", 0);
    else
        WriteLog("TMyThread.DoGetCurl:1 字段转UNICODE得到PAT3正则" + lp.pattern, 0);
    return lp;
}

void loadKnownTitles(RunContext& run, ListRunState& state) {
    std::size_t count = 0;
    try {
        auto table = query(run.dbPath, sql::SelectListTitles());
        for (const auto& row : table.rows) {
            // Titles are stored exactly as collected, so they are compared exactly.
            std::string title = row[0].asText();
            if (!title.empty()) state.knownTitles.insert(std::move(title));
        }
        count = table.rows.size();
    } catch (const std::exception& e) {
        WriteLog("TMyThread.DoGetCurl:读取列表标题出错：" + std::string(e.what()), 0);
    }
    WriteLog("TMyThread.DoGetCurl:已存在于列表标题字段中的列表的个数:" + std::to_string(count), 0);
}

// Finds the list area and returns its byte range in the page (npos when not found). Front and
// back texts without a placeholder are searched one after the other (the first front text, then
// the first back text after it), which gives the same area as the joined pattern without its lazy
// group, so a list area of many megabytes cannot run into the matching limits. `error` is set
// when matching itself failed; `frontFound` tells whether the front text occurs at all.
std::pair<std::size_t, std::size_t> findAreaSpan(const std::string& page, const ListSettings& list,
                                                 std::optional<std::string>& error, bool* frontFound = nullptr) {
    constexpr auto none = std::make_pair(std::string::npos, std::string::npos);
    const bool literal = list.begin.find("{*}") == std::string::npos && list.end.find("{*}") == std::string::npos;
    if (!literal) {
        const std::string areaPattern = cutPiece(list.begin) + "(?<hrefurl>.*?)" + cutPiece(list.end);
        auto found = platform::regexFirst(areaPattern, platform::kSearchOptions, page);
        error = found.error;
        if (frontFound && !found.match) {
            auto front = platform::regexFirst(cutPiece(list.begin), platform::kSearchOptions, page);
            *frontFound = front.match.has_value();
        }
        if (!found.match) return none;
        const int g = found.match->groupNumber("hrefurl");
        if (g < 0 || !found.match->matched(static_cast<std::size_t>(g))) return none;
        if (frontFound) *frontFound = true;
        return {found.match->begin(static_cast<std::size_t>(g)), found.match->end(static_cast<std::size_t>(g))};
    }
    auto front = platform::Regex::compile(engine::TemplateToPattern(list.begin), platform::kSearchOptions);
    auto back = platform::Regex::compile(engine::TemplateToPattern(list.end), platform::kSearchOptions);
    if (!front || !back) {
        error = front ? back.error : front.error;
        return none;
    }
    auto b = front.regex->first(page);
    if (!b.match) {
        error = b.error;
        if (frontFound) *frontFound = false;
        return none;
    }
    if (frontFound) *frontFound = true;
    const std::size_t start = b.match->end();
    auto e = back.regex->first(page, start);
    if (!e.match) {
        error = e.error;
        return none;
    }
    return {start, e.match->begin()};
}

std::string findArea(const std::string& page, const ListSettings& list, std::optional<std::string>& error) {
    const auto [begin, end] = findAreaSpan(page, list, error);
    return begin == std::string::npos ? std::string() : page.substr(begin, end - begin);
}

void reportInsertFailure(const RunContext& run, const std::string& message) {
    run.pane(DbErrorText(message));
    WriteLog("TMyThread:插入数据库错误：" + message + "\n==========\r", 0);
}

std::string resultMessage(const std::string& r) {
    return r.size() >= 5 ? r.substr(5) : r;
}

}  // namespace

ListSettings ListSettings::parse(const std::string& json) {
    auto j = parseObject(json);
    ListSettings s;
    s.begin = textOf(j, "More_begin");
    s.end = textOf(j, "More_end");
    s.rewriteFrom = textOf(j, "More_begin_regex1");
    s.rewriteTo = textOf(j, "More_begin_regex2");
    s.linkPattern = textOf(j, "More_url_regex");
    s.include = textOf(j, "More_include");
    s.exclude = textOf(j, "More_exclude");
    s.noReferer = flagOf(j, "More_check_referer");
    s.timeoutSeconds = intOf(j, "More_readtimeout");
    if (s.timeoutSeconds <= 0) s.timeoutSeconds = 20;
    s.uniqueTitles = flagOf(j, "More_check_repeat_title");
    s.sort = static_cast<int>(intOf(j, "More_sort"));
    s.pagination = textOf(j, "More_mulpage");
    return s;
}

std::string ListFetchOptions(const std::string& header, const ListSettings& list) {
    std::string options = header;
    if (!options.empty() && options.back() != '\r' && options.back() != '\n') options += "\r\n";
    if (list.noReferer) options += "referer=无来源\r";
    // The window asks for seconds; the fetch reads milliseconds.
    if (list.timeoutSeconds != 20) options += "readtimeout2=" + std::to_string(list.timeoutSeconds * 1000) + "\r";
    return options;
}

std::string FieldGroupName(const std::string& name) {
    return "U" + engine::TextToHex(name);
}

ListPageResult collectListPage(RunContext& run, ListRunState& state, const std::string& page, const ListSettings& list,
                               int pageIndex, const std::string& pageAddress) {
    // A page writes several detail lines per link.
    platform::LogBatch logBatch;
    ListPageResult result;
    if (platform::LogEnabled(0)) {
        WriteLog(
            "TMyThread.DoGetCurl:提取前后截取正则PAT1:" + cutPiece(list.begin) + "(?<hrefurl>.*?)" + cutPiece(list.end),
            0);
        WriteLog("TMyThread.DoGetCurl:提取前后截取正则PAT2:" + engine::TemplateToPattern(list.linkPattern), 0);
        WriteLog("TMyThread.DoGetCurl:提取必须包含More_include:" + list.include, 0);
        WriteLog("TMyThread.DoGetCurl:提取不得包含More_exclude:" + list.exclude, 0);
    }

    std::optional<std::string> areaError;
    std::string area = findArea(page, list, areaError);
    if (area.empty())
        WriteLog("TMyThread.DoGetCurl:抓取一级url:" + pageAddress + ",PAT1正则匹配失败" +
                     (areaError ? "," + *areaError : std::string()),
                 0);
    WriteLog("TMyThread.DoGetCurl:抓取当前一级url的内容链接成功结束", 0);
    if (areaError) {
        // A matching limit is not an empty area: say what happened.
        run.pane("采集列表内容区域提取出错：" + *areaError + "," + pageAddress);
        return result;
    }
    if (area.empty()) {
        run.pane("采集列表内容区域为空" + pageAddress);
        return result;
    }
    if (!list.rewriteFrom.empty()) area = rewriteArea(area, list);

    const LinkPattern lp = buildLinkPattern(list);
    const bool hasTitleField = std::find(lp.fields.begin(), lp.fields.end(), kListTitleField) != lp.fields.end();
    if (!state.titleCheckActive && hasTitleField && list.uniqueTitles) {
        loadKnownTitles(run, state);
        state.titleCheckActive = true;
    }

    // The insert columns: every field column after the fixed ones, less the per-site flags.
    std::vector<std::string> columns;
    for (std::size_t i = 5; i < state.columns.size(); ++i)
        if (state.columns[i].rfind("postc_", 0) != 0) columns.push_back(state.columns[i]);
    // Where each column's value comes from: the index of its list field, or none.
    std::vector<int> fieldOfColumn(columns.size(), -1);
    for (std::size_t c = 0; c < columns.size(); ++c)
        for (std::size_t f = 0; f < lp.fields.size(); ++f)
            if (lp.fields[f] == columns[c]) {
                fieldOfColumn[c] = static_cast<int>(f);
                break;
            }
    int titleField = -1;
    for (std::size_t f = 0; f < lp.fields.size(); ++f)
        if (lp.fields[f] == kListTitleField) titleField = static_cast<int>(f);
    std::vector<std::string> groupNames;
    for (const auto& name : lp.fields) groupNames.push_back(FieldGroupName(name));

    const bool detail = platform::LogEnabled(1);
    std::vector<PendingRow> rows;
    std::unordered_set<std::string> onThisPage;
    auto compiled = platform::Regex::compile(lp.pattern, platform::kSearchOptions);
    if (!compiled) {
        WriteLog("TMyThread.DoGetCurl:PAT3正则错误：" + lp.pattern + "," + compiled.error, 0);
        run.pane("列表链接规则错误：" + compiled.error);
    } else {
        const KnownUrls::RowReader read = state.storedUrls ? state.storedUrls->reader() : KnownUrls::RowReader();
        auto error = compiled.regex->forEach(
            area,
            [&](const platform::RegexMatch& m) {
                ++result.found;
                const std::string_view link = m.named("hrefurl");
                if (detail) WriteLog("TMyThread.DoGetCurl:1 根据PAT3循环提取到url链接：" + std::string(link), 1);
                if (!engine::ContainsAll(list.include, link) || !engine::ContainsNone(list.exclude, link)) {
                    WriteLog("TMyThread:包含与排除 失败 些条过滤", 1);
                    return true;
                }
                WriteLog("TMyThread.DoGetCurl:包含与排除 成功", 1);

                PendingRow row;
                row.values.resize(columns.size());
                for (std::size_t c = 0; c < columns.size(); ++c)
                    if (fieldOfColumn[c] >= 0)
                        row.values[c] = std::string(m.named(groupNames[static_cast<std::size_t>(fieldOfColumn[c])]));
                if (detail) WriteLog("TMyThread.DoGetCurl:合成diysql2语句" + join(row.values, ","), 1);

                row.url = engine::AbsoluteUrl(std::string(link), pageAddress);
                if (detail) WriteLog("TMyThread.DoGetCurl:返回完整路径：" + row.url, 1);
                // An unresolvable link would become a row no worker can ever fetch.
                if (row.url.empty()) {
                    if (detail) WriteLog("TMyThread.DoGetCurl:网址无法补全，过滤：" + std::string(link), 1);
                    return true;
                }
                std::string title;
                if (state.titleCheckActive && titleField >= 0) {
                    title = std::string(m.named(groupNames[static_cast<std::size_t>(titleField)]));
                    if (!title.empty() && state.knownTitles.count(title)) {
                        run.pane("过滤重复标题：" + title);
                        WriteLog("TMyThread.DoGetCurl:此条URL已存在，过滤", 1);
                        return true;
                    }
                }
                if (onThisPage.count(row.url) || run.known.contains(row.url, read)) {
                    WriteLog("TMyThread.DoGetCurl:此条URL已存在，过滤", 1);
                    return true;
                }
                // The limit counts rows of earlier pages: a page started below it is taken
                // whole, a page started at it adds nothing.
                if (state.insertedCount >= state.limit) return false;
                onThisPage.insert(row.url);
                if (state.titleCheckActive && !title.empty()) state.knownTitles.insert(title);
                if (detail)
                    WriteLog(
                        "TMyThread.DoGetCurl:sql网址准备插入：" + sql::InsertListAddress(row.url, columns, row.values),
                        1);
                rows.push_back(std::move(row));
                return true;
            },
            false);
        if (error) {
            WriteLog("TMyThread.DoGetCurl:PAT3正则匹配错误：" + *error, 0);
            run.pane("列表链接提取出错：" + *error + "," + pageAddress);
        }
    }

    if (list.sort == 1)
        std::reverse(rows.begin(), rows.end());
    else if (list.sort == 2)
        engine::ShuffleLines(rows, state.random ? *state.random : engine::DefaultRandom());

    InsertOutcome stored = InsertAddresses(run, rows, columns);
    for (const auto& message : stored.errors) reportInsertFailure(run, message);
    if (!stored.pageError.empty()) reportInsertFailure(run, stored.pageError);
    if (platform::LogEnabled(1))
        for (int i = 0; i < stored.inserted; ++i) WriteLog("TMyThread:列表循环 遍历URL 插入成功=============\r\r", 1);
    state.insertedCount += stored.inserted;
    run.counters->listInserted += stored.inserted;
    run.counters->listFailed += stored.failed;
    result.inserted = stored.inserted;
    result.failed = stored.failed;

    // Rows the database refused are failures, not filtered links.
    std::string line = "本列表页提取到：" + std::to_string(result.found) +
                       "个内容页Url,成功:" + std::to_string(result.inserted) + ",并过滤" +
                       std::to_string(result.found - result.inserted - result.failed) + "个url";
    if (result.failed) line += ",失败" + std::to_string(result.failed) + "个";
    run.pane(line);
    run.progress(1, pageIndex + 1);
    return result;
}

namespace {

void stopLog() {
    WriteLog("TMyThread:列表采集|线程内 外部强制停止", 0);
}
const char* const kPauseLog = "TMyThread.DoGetList2:列表采集|线程内已暂停:";

std::string listLabel(long long current, long long total, long long insertedCount) {
    return "运行状态:当前列表数/列表总数/网址数：" + std::to_string(current) + "/" + std::to_string(total) + "/" +
           std::to_string(insertedCount);
}

// Follows the pager of one list page. Returns false when a stop was requested.
bool followListPager(RunContext& run, ListRunState& state, const ListSettings& list, const std::string& listAddress,
                     const std::string& firstPage, int p, long long& n, const std::string& options,
                     const PageFetcher& fetch) {
    auto pager = ParsePagerSettings(list.pagination);
    if (!pager) {
        WriteLog("TMyThread.DoGetList2,分页设置无法读取:" + list.pagination, 0);
        return true;
    }
    const long long max = ListPageLimit(*pager);
    WriteLog("TMyThread.DoGetList2,包含分页代码" + list.pagination, 0);
    WriteLog("TMyThread.DoGetList2,智能提取分页", 0);

    auto all = collectPagerPages(*pager, firstPage, listAddress);
    if (all.size() <= 1) return true;
    WriteLog("TMyThread.DoGetList2,读取分页大于1页", 0);
    PagerWalk walk(all);
    WriteLog("TMyThread.DoGetList2,strlist2删除第1个原网址", 0);
    long long i = 1;
    while (!walk.done()) {
        run.sleepFor(state.intervalMs);
        if (!run.pauseCheck(kPauseLog)) {
            stopLog();
            return false;
        }
        // Pages fetched past the limit could add nothing.
        if (state.insertedCount >= state.limit) {
            WriteLog("TMyThread.DoGetList2,已达到列表获取内容页数量,停止分页:" + std::to_string(state.limit), 0);
            break;
        }
        if (max < kListPagesUnlimited) SortPageAddresses(walk.pending());
        if (++i > max) {
            WriteLog("TMyThread.DoGetList2,分页获取超过最大数,准备跳出，最大数:" + std::to_string(max), 0);
            break;
        }
        const bool morePending = walk.pending().size() > 1;
        const std::string next = walk.takeNext();
        run.pane("------正在采集列表分页:" + next);
        std::string r = fetch(next, options);
        if (morePending && pager->timeMs > 0) run.sleepFor(static_cast<int>(pager->timeMs));
        std::string text;
        if (r.compare(0, 5, "succ:") == 0) {
            text = r.substr(5);
        } else {
            run.pane("访问错误：" + resultMessage(r));
            WriteLog("TMyThread.DoGetList2 抓取strlist2[0]错误：" + resultMessage(r), 0);
            // A fetch ended by a stop is not an empty page: the stage ends here.
            if (run.stopRequested()) {
                stopLog();
                return false;
            }
        }
        collectListPage(run, state, text, list, p, next);
        run.label(1, listLabel(n + p + 2, state.listUrlCount + n + 1, state.insertedCount));
        walk.addFound(collectPagerPages(*pager, text, next));
        ++n;
    }
    return true;
}

}  // namespace

void collectListPages(RunContext& run, const std::vector<std::string>& listUrls, const PageFetcher& fetch,
                      engine::RandomSource* random) {
    WriteLog("TMyThread.DoGetList2:列表页需分析采集得到内容页", 0);
    auto doc = parseObject(run.settingsJson);
    ListRunState state;
    state.random = random;
    state.intervalMs = static_cast<int>(std::max(0LL, intOf(doc, "other_time1")));
    // Without the table's columns the list fields cannot be stored: a database that stays
    // locked or cannot be read ends the stage rather than storing rows half.
    try {
        state.columns = RetryWhileBusy([&] { return ReadTableColumns(run.dbPath, "content"); },
                                       [&run] { return run.stopRequested(); }, run.busyRetryTime);
    } catch (const std::exception& e) {
        const std::string message = "读取content表字段出错：" + DbErrorText(e.what());
        run.pane(message);
        WriteLog("TMyThread.DoGetList2:读取content表字段出错：" + std::string(e.what()), 0);
        run.counters->fail(message);
        return;
    }
    WriteLog("TMyThread.DoGetList2:读取content表中所有字段:" + join(state.columns, "\r\n"), 0);
    state.insertedCount = 0;
    StoredUrlReader storedUrls(run.dbPath);
    state.storedUrls = &storedUrls;

    if (!listUrls.empty() && !run.pauseCheck(kPauseLog)) {
        WriteLog("TMyThread.DoGetList2:列表采集|线程内 外部强制停止", 0);
        return;
    }
    const ListSettings list = ListSettings::parse(textOf(doc, "Morepage"));
    state.limit = intOf(doc, "other_url_max");
    if (state.limit <= 0) state.limit = kNoUrlLimit;
    WriteLog("TMyThread.DoGetList2:urlmax:" + std::to_string(state.limit), 0);
    state.listUrlCount = static_cast<int>(listUrls.size());
    const std::string options = ListFetchOptions(run.fetchOptions, list);

    long long n = 0;
    long long done = 0;
    for (std::size_t pi = 0; pi < listUrls.size(); ++pi) {
        const int p = static_cast<int>(pi);
        const std::string& address = listUrls[pi];
        run.sleepFor(state.intervalMs);
        if (state.insertedCount >= state.limit) break;
        if (!run.pauseCheck(kPauseLog)) {
            stopLog();
            break;
        }
        run.label(1, listLabel(p + n + 1, n + state.listUrlCount, state.insertedCount));
        run.progress(1, p + 1);
        WriteLog("TMyThread.DoGetList2:开始抓取当前一级url：" + address, 0);
        run.pane("准备采集列表网址：" + address);
        done = p + 1;

        const std::string r = fetch(address, options);
        if (r.compare(0, 5, "succ:") != 0) {
            if (r.compare(0, 5, "fail:") != 0) WriteLog("TMyThread.DoGetList2:" + address + ",不是SUCC和FAIL！", 0);
            run.pane("抓取网页:" + address + ",返回错误：" + resultMessage(r));
            continue;
        }
        if (r.size() == 5) {
            run.pane("抓取网页:" + address + ",返回空字符串");
            continue;
        }
        const std::string page = r.substr(5);
        collectListPage(run, state, page, list, p, address);
        if (list.pagination.empty()) continue;
        if (!followListPager(run, state, list, address, page, p, n, options, fetch)) break;
    }
    WriteLog("TMyThread:一级列表采集结束：\n==========\r", 0);
    run.label(1, listLabel(done + n, state.listUrlCount + n, state.insertedCount));
}

void collectListPages(RunContext& run, const std::vector<std::string>& listUrls) {
    // A stop request ends the page being fetched, not only the loop between pages.
    collectListPages(run, listUrls, [&run](const std::string& address, const std::string& options) {
        return HttpGet(address, options, [&run] { return run.stopRequested(); });
    });
}

ListPagePreview PreviewListPage(const std::string& page, const ListSettings& list, const std::string& pageAddress) {
    ListPagePreview out;
    if (list.begin.empty() || list.end.empty()) {
        out.directMode = true;
        out.warnings.push_back(kDirectModeWarning);
        return out;
    }
    std::optional<std::string> error;
    bool frontFound = false;
    const auto [begin, end] = findAreaSpan(page, list, error, &frontFound);
    if (error) {
        out.areaError = *error;
        out.warnings.push_back("列表区域提取出错：" + *error);
        return out;
    }
    if (begin == std::string::npos) {
        out.warnings.push_back(frontFound ? "列表区域的后边字符在前边字符之后没有找到，本页不会提取到任何链接"
                                          : "列表区域的前边字符在页面中没有找到，本页不会提取到任何链接");
        return out;
    }
    out.areaFound = true;
    out.areaBegin = begin;
    out.areaEnd = end;
    out.area = page.substr(begin, end - begin);
    if (out.area.empty()) {
        out.warnings.push_back("列表区域为空（前边字符与后边字符之间没有内容）");
        return out;
    }
    const bool rewritten = !list.rewriteFrom.empty();
    if (rewritten) out.area = rewriteArea(out.area, list);

    const LinkPattern lp = buildLinkPattern(list);
    out.automaticLinks = lp.pattern == kAutoLinkPattern;
    if (out.automaticLinks)
        out.warnings.push_back(list.linkPattern.empty() ? kAutomaticLinksNotice : kNoAddressMarkerWarning);
    auto compiled = platform::Regex::compile(lp.pattern, platform::kSearchOptions);
    if (!compiled) {
        out.patternError = compiled.error;
        out.warnings.push_back("列表链接规则错误：" + compiled.error);
        return out;
    }
    std::vector<std::string> groupNames;
    for (const auto& name : lp.fields) groupNames.push_back(FieldGroupName(name));
    auto matchError = compiled.regex->forEach(
        out.area,
        [&](const platform::RegexMatch& m) {
            ListLinkPreview link;
            link.link = std::string(m.named("hrefurl"));
            link.filtered =
                !engine::ContainsAll(list.include, link.link) || !engine::ContainsNone(list.exclude, link.link);
            link.url = engine::AbsoluteUrl(link.link, pageAddress);
            for (std::size_t f = 0; f < lp.fields.size(); ++f)
                link.fields.emplace_back(lp.fields[f], std::string(m.named(groupNames[f])));
            const int g = m.groupNumber("hrefurl");
            if (!rewritten && g >= 0 && m.matched(static_cast<std::size_t>(g))) {
                link.begin = begin + m.begin(static_cast<std::size_t>(g));
                link.end = begin + m.end(static_cast<std::size_t>(g));
            }
            out.links.push_back(std::move(link));
            return true;
        },
        false);
    if (matchError) out.warnings.push_back("列表链接提取出错：" + *matchError);
    const auto kept = std::count_if(out.links.begin(), out.links.end(), [](const auto& l) { return !l.filtered; });
    if (out.links.empty())
        out.warnings.push_back("列表区域中没有找到任何链接");
    else if (kept == 0)
        out.warnings.push_back("找到的" + std::to_string(out.links.size()) +
                               "个链接都被“网址包含/不可包含”条件过滤掉了");
    return out;
}

}  // namespace tarvex::collect
