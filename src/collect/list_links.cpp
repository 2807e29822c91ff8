#include "collect/list_links.h"
#include "engine/rule_json.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "collect/http_fetch.h"
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
    // A pattern that names where the address stands is the user's; any position counts, a
    // pattern that starts with the address included.
    if (list.linkPattern.find("{DD:采集网址}") == std::string::npos) {
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

// Runs the page's insert statements one by one in a single transaction under the slot lock.
// A failing statement fails alone; the rest of the page is still stored.
int insertStatements(RunContext& run, ListRunState& state, const std::vector<std::string>& statements) {
    if (statements.empty()) return 0;
    int inserted = 0;
    std::unique_lock<std::mutex> lock;
    if (run.slotDbLock) lock = std::unique_lock<std::mutex>(*run.slotDbLock);
    auto reportFailure = [&](const std::string& message) {
        run.pane(DbErrorText(message));
        WriteLog("TMyThread:插入数据库错误：" + message + "\n==========\r", 0);
    };
    try {
        platform::SqliteConnection db(run.dbPath, platform::SqliteConnection::Mode::ReadWrite);
        platform::SqliteTransaction tx(db);
        for (const auto& statement : statements) {
            try {
                db.exec(statement);
                WriteLog("TMyThread:列表循环 遍历URL 插入成功=============\r\r", 1);
                ++inserted;
            } catch (const platform::SqliteError& e) {
                reportFailure(e.what());
            }
        }
        tx.commit();
    } catch (const std::exception& e) {
        // Nothing of this page reached the file.
        reportFailure(e.what());
        inserted = 0;
    }
    state.insertedCount += inserted;
    return inserted;
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
    ListPageResult result;
    const std::string areaPattern = cutPiece(list.begin) + "(?<hrefurl>.*?)" + cutPiece(list.end);
    WriteLog("TMyThread.DoGetCurl:提取前后截取正则PAT1:" + areaPattern, 0);
    WriteLog("TMyThread.DoGetCurl:提取前后截取正则PAT2:" + engine::TemplateToPattern(list.linkPattern), 0);
    WriteLog("TMyThread.DoGetCurl:提取必须包含More_include:" + list.include, 0);
    WriteLog("TMyThread.DoGetCurl:提取不得包含More_exclude:" + list.exclude, 0);

    std::string area;
    auto found = platform::regexFirst(areaPattern, platform::kSearchOptions, page);
    if (found.match)
        area = std::string(found.match->named("hrefurl"));
    else
        WriteLog("TMyThread.DoGetCurl:抓取一级url:" + pageAddress + ",PAT1正则匹配失败" +
                     (found.error ? "," + *found.error : std::string()),
                 0);
    WriteLog("TMyThread.DoGetCurl:抓取当前一级url的内容链接成功结束", 0);
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

    std::vector<std::string> statements;
    auto compiled = platform::Regex::compile(lp.pattern, platform::kSearchOptions);
    if (!compiled) {
        WriteLog("TMyThread.DoGetCurl:PAT3正则错误：" + lp.pattern + "," + compiled.error, 0);
        run.pane("列表链接规则错误：" + compiled.error);
    } else {
        auto error = compiled.regex->forEach(
            area,
            [&](const platform::RegexMatch& m) {
                ++result.found;
                const std::string link(m.named("hrefurl"));
                WriteLog("TMyThread.DoGetCurl:1 根据PAT3循环提取到url链接：" + link, 1);
                if (!engine::ContainsAll(list.include, link) || !engine::ContainsNone(list.exclude, link)) {
                    WriteLog("TMyThread:包含与排除 失败 些条过滤", 1);
                    return true;
                }
                WriteLog("TMyThread.DoGetCurl:包含与排除 成功", 1);

                std::vector<std::pair<std::string, std::string>> fieldValues;
                for (const auto& name : lp.fields)
                    fieldValues.emplace_back(name, std::string(m.named(FieldGroupName(name))));
                std::vector<std::string> values;
                for (const auto& column : columns) {
                    std::string v;
                    for (const auto& [name, value] : fieldValues)
                        if (name == column) {
                            v = value;
                            break;
                        }
                    values.push_back(std::move(v));
                }
                WriteLog("TMyThread.DoGetCurl:合成diysql2语句" + join(values, ","), 1);

                const std::string address = engine::AbsoluteUrl(link, pageAddress);
                WriteLog("TMyThread.DoGetCurl:返回完整路径：" + address, 1);
                // An unresolvable link would become a row no worker can ever fetch.
                if (address.empty()) {
                    WriteLog("TMyThread.DoGetCurl:网址无法补全，过滤：" + link, 1);
                    return true;
                }
                std::string title;
                if (state.titleCheckActive) {
                    for (const auto& [name, value] : fieldValues)
                        if (name == kListTitleField) title = value;
                    if (!title.empty() && state.knownTitles.count(title)) {
                        run.pane("过滤重复标题：" + title);
                        WriteLog("TMyThread.DoGetCurl:此条URL已存在，过滤", 1);
                        return true;
                    }
                }
                if (run.known.contains(address)) {
                    WriteLog("TMyThread.DoGetCurl:此条URL已存在，过滤", 1);
                    return true;
                }
                // The limit counts rows of earlier pages: a page started below it is taken
                // whole, a page started at it adds nothing.
                if (state.insertedCount >= state.limit) return false;
                run.known.add(address);
                if (state.titleCheckActive && !title.empty()) state.knownTitles.insert(title);
                statements.push_back(sql::InsertListAddress(address, columns, values));
                WriteLog("TMyThread.DoGetCurl:sql网址准备插入：" + statements.back(), 1);
                return true;
            },
            false);
        if (error) WriteLog("TMyThread.DoGetCurl:PAT3正则匹配错误：" + *error, 0);
    }

    if (list.sort == 1)
        engine::ReverseLines(statements);
    else if (list.sort == 2)
        engine::ShuffleLines(statements, state.random ? *state.random : engine::DefaultRandom());
    result.inserted = insertStatements(run, state, statements);

    run.pane("本列表页提取到：" + std::to_string(result.found) + "个内容页Url,成功:" + std::to_string(result.inserted) +
             ",并过滤" + std::to_string(result.found - result.inserted) + "个url");
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
    platform::SilentDialogs quiet;
    state.columns = TableColumns(run.dbPath, "content", run.dialogs ? *run.dialogs : quiet);
    WriteLog("TMyThread.DoGetList2:读取content表中所有字段:" + join(state.columns, "\r\n"), 0);
    state.insertedCount = 0;

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

}  // namespace tarvex::collect
