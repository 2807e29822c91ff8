#include "app/forms/rule_test.h"

#include <nlohmann/json.hpp>

#include "app/tasks/settings_document.h"
#include "collect/http_fetch.h"
#include "collect/list_sources.h"
#include "engine/field_rule.h"

namespace tarvex::app {

namespace {

constexpr std::size_t kShownLinks = 50;
constexpr std::size_t kShownValue = 300;

std::string shortened(const std::string& text, std::size_t max) {
    // Cut at a character boundary: never in the middle of a UTF-8 sequence.
    if (text.size() <= max) return text;
    std::size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "……（共" + std::to_string(text.size()) + "字节）";
}

std::string oneLine(std::string text) {
    for (auto& c : text)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    return text;
}

}  // namespace

PageFetch DefaultPageFetch() {
    return [](const std::string& url, const std::string& options) { return collect::HttpGet(url, options); };
}

TestPage FetchTestPage(const std::string& settingsJson, const std::string& url, bool asList, const PageFetch& fetch) {
    TestPage out;
    const std::string address = TrimText(url);
    if (address.empty()) {
        out.error = "请先填写要测试的网址";
        return out;
    }
    std::string options = collect::BuildFetchOptions(settingsJson);
    if (asList) {
        const auto doc = ParseSettings(settingsJson);
        options = collect::ListFetchOptions(
            options, collect::ListSettings::parse(doc ? SettingText(*doc, "Morepage") : std::string()));
    }
    const std::string r = fetch ? fetch(address, options) : std::string("fail:no fetch");
    if (r.compare(0, 5, "succ:") != 0) {
        out.error = "抓取网页:" + address + ",返回错误：" + (r.size() > 5 ? r.substr(5) : r);
        return out;
    }
    if (r.size() == 5) {
        out.error = "抓取网页:" + address + ",返回空字符串";
        return out;
    }
    out.ok = true;
    out.text = r.substr(5);
    return out;
}

std::vector<std::string> ListAddresses(const std::string& settingsJson, const std::string& programFolder) {
    const auto doc = ParseSettings(settingsJson);
    if (!doc) return {};
    return collect::SplitLines(collect::ListSources(SettingText(*doc, "Morepage"), programFolder));
}

std::string ListTest::firstContentAddress() const {
    if (preview.directMode) return address;
    for (const auto& link : preview.links)
        if (!link.filtered && !link.url.empty()) return link.url;
    return {};
}

ListTest TestList(const std::string& settingsJson, const std::string& programFolder, const std::string& address,
                  const std::string& listSettingsJson, const PageFetch& fetch) {
    ListTest out;
    std::string document = settingsJson;
    if (!listSettingsJson.empty()) {
        auto doc = ParseSettings(settingsJson).value_or(SettingsJson::object());
        doc["Morepage"] = listSettingsJson;
        document = DumpJson(doc);
    }
    const auto doc = ParseSettings(document);
    const std::string morepage = doc ? SettingText(*doc, "Morepage") : std::string();
    out.address = TrimText(address);
    if (out.address.empty()) {
        const auto addresses = ListAddresses(document, programFolder);
        if (addresses.empty()) {
            out.error = "没有列表网址：请先在“列表设置”中添加列表网址";
            return out;
        }
        out.address = addresses.front();
    }
    const collect::ListSettings list = collect::ListSettings::parse(morepage);
    if (list.begin.empty() || list.end.empty()) {
        // Nothing is cut from the list page, so there is no need to fetch it.
        out.preview = collect::PreviewListPage({}, list, out.address);
        return out;
    }
    TestPage page = FetchTestPage(document, out.address, true, fetch);
    if (!page.ok) {
        out.error = page.error;
        return out;
    }
    out.preview = collect::PreviewListPage(page.text, list, out.address);
    return out;
}

FieldTest TestFields(const Workspace& ws, std::int64_t taskId, const std::string& settingsJson,
                     const std::string& address) {
    FieldTest out;
    out.address = TrimText(address);
    if (out.address.empty()) {
        out.error = "没有可以测试的内容页网址";
        return out;
    }
    SinglePageCollect collected = CollectSinglePage(
        ws, taskId, settingsJson, out.address, [&out](const std::string& line) { out.lines.push_back(line); }, false);
    if (!collected.ok) {
        out.error = out.lines.empty() ? "内容页采集失败" : out.lines.back();
        return out;
    }
    out.fields = std::move(collected.checks);
    return out;
}

TaskTest TestTask(const Workspace& ws, std::int64_t taskId, const std::string& settingsJson,
                  const std::string& contentAddress) {
    TaskTest out;
    out.list = TestList(settingsJson, ws.programFolder);
    std::string address = TrimText(contentAddress);
    if (address.empty()) address = out.list.firstContentAddress();
    if (address.empty()) {
        out.content.error = "列表测试没有得到内容页网址，可用 --url 指定一个内容页";
        return out;
    }
    out.content = TestFields(ws, taskId, settingsJson, address);
    return out;
}

std::vector<std::string> ListTestLines(const ListTest& test) {
    std::vector<std::string> lines;
    if (test.address.empty() && !test.error.empty()) {
        lines.push_back("列表测试：" + test.error);
        return lines;
    }
    lines.push_back("列表测试：" + test.address);
    if (!test.error.empty()) {
        lines.push_back(test.error);
        return lines;
    }
    const auto& p = test.preview;
    for (const auto& w : p.warnings) lines.push_back("注意：" + w);
    if (p.directMode) return lines;
    if (p.areaFound) lines.push_back("列表区域：" + std::to_string(p.area.size()) + "字节");
    std::size_t kept = 0;
    for (const auto& l : p.links) kept += l.filtered ? 0 : 1;
    if (!p.links.empty())
        lines.push_back("找到链接" + std::to_string(p.links.size()) + "个，其中" + std::to_string(kept) +
                        "个符合网址包含/不可包含条件：");
    for (std::size_t i = 0; i < p.links.size() && i < kShownLinks; ++i) {
        const auto& l = p.links[i];
        std::string line = std::to_string(i + 1) + ". " + (l.url.empty() ? l.link : l.url);
        for (const auto& [name, value] : l.fields) line += "  {" + name + "}=" + oneLine(value);
        if (l.filtered) line += "  （已过滤）";
        lines.push_back(line);
    }
    if (p.links.size() > kShownLinks)
        lines.push_back("……另有" + std::to_string(p.links.size() - kShownLinks) + "个链接");
    return lines;
}

std::vector<std::string> FieldTestLines(const FieldTest& test) {
    std::vector<std::string> lines;
    lines.push_back("内容页测试：" + test.address);
    if (!test.error.empty()) {
        lines.push_back(test.error);
        return lines;
    }
    for (const auto& f : test.fields) {
        if (!f.reason.empty())
            lines.push_back("字段[" + f.name + "]为空：" + f.reason);
        else
            lines.push_back("字段[" + f.name + "]：" + shortened(oneLine(f.value), kShownValue));
        if (!f.filter.empty()) lines.push_back("字段[" + f.name + "]" + f.filter);
    }
    return lines;
}

std::vector<std::string> EmptyFieldNames(const FieldTest& test) {
    std::vector<std::string> names;
    for (const auto& f : test.fields)
        if (!f.reason.empty()) names.push_back(f.name);
    return names;
}

std::string TaskTestJson(const TaskTest& test) {
    using nlohmann::ordered_json;
    ordered_json list = ordered_json::object();
    list["address"] = test.list.address;
    list["error"] = test.list.error;
    const auto& p = test.list.preview;
    list["directMode"] = p.directMode;
    list["areaFound"] = p.areaFound;
    list["area"] = p.area;
    list["automaticLinks"] = p.automaticLinks;
    list["warnings"] = p.warnings;
    ordered_json links = ordered_json::array();
    for (const auto& l : p.links) {
        ordered_json fields = ordered_json::object();
        for (const auto& [name, value] : l.fields) fields[name] = value;
        links.push_back({{"url", l.url}, {"link", l.link}, {"filtered", l.filtered}, {"fields", fields}});
    }
    list["links"] = links;
    ordered_json content = ordered_json::object();
    content["address"] = test.content.address;
    content["error"] = test.content.error;
    ordered_json fields = ordered_json::array();
    for (const auto& f : test.content.fields) {
        ordered_json one = {{"name", f.name}, {"value", f.value}, {"empty", !f.reason.empty()}};
        if (!f.reason.empty()) one["reason"] = f.reason;
        if (!f.filter.empty()) one["filter"] = f.filter;
        fields.push_back(one);
    }
    content["fields"] = fields;
    ordered_json doc = {{"list", list}, {"content", content}};
    return doc.dump(1, ' ', false, ordered_json::error_handler_t::replace);
}

}  // namespace tarvex::app
