#include "app/forms/rule_preview.h"

#include <algorithm>

#include "collect/list_links.h"
#include "engine/template_lang.h"
#include "platform/regex.h"

namespace tarvex::app {

namespace {

RulePreview finish(const std::string& text, std::vector<TextRange> bytes, std::string emptySummary) {
    RulePreview out;
    out.count = bytes.size();
    out.ranges = Utf16Ranges(text, bytes);
    out.summary = bytes.empty() ? std::move(emptySummary) : "匹配到" + std::to_string(bytes.size()) + "处";
    return out;
}

bool literalCut(const std::string& front, const std::string& back) {
    auto plain = [](const std::string& t) {
        return t.find(engine::kSkipPlaceholder) == std::string::npos && t.find('\r') == std::string::npos &&
               t.find('\n') == std::string::npos;
    };
    return plain(front) && plain(back);
}

}  // namespace

std::string PaneText(const std::string& page) {
    std::string out;
    out.reserve(page.size());
    for (std::size_t i = 0; i < page.size(); ++i) {
        if (page[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < page.size() && page[i + 1] == '\n') ++i;
        } else {
            out.push_back(page[i]);
        }
    }
    return out;
}

std::vector<TextRange> Utf16Ranges(const std::string& text, const std::vector<TextRange>& byteRanges) {
    // Marks, in byte order, with the UTF-16 position reached at each.
    std::vector<TextRange> out(byteRanges.size());
    std::vector<std::pair<std::size_t, std::size_t*>> marks;
    marks.reserve(byteRanges.size() * 2);
    for (std::size_t i = 0; i < byteRanges.size(); ++i) {
        marks.emplace_back(byteRanges[i].begin, &out[i].begin);
        marks.emplace_back(byteRanges[i].end, &out[i].end);
    }
    std::stable_sort(marks.begin(), marks.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::size_t units = 0, byte = 0, m = 0;
    while (m < marks.size()) {
        if (marks[m].first <= byte) {
            *marks[m].second = units;
            ++m;
            continue;
        }
        if (byte >= text.size()) {
            *marks[m].second = units;
            ++m;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[byte]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
        units += len == 4 ? 2 : 1;
        byte += len;
    }
    return out;
}

RulePreview PreviewFrontBack(const std::string& text, const std::string& front, const std::string& back, bool repeat) {
    std::vector<TextRange> bytes;
    if (front.empty() || back.empty()) return finish(text, bytes, "请填写前边字符和后边字符");
    if (literalCut(front, back)) {
        std::size_t from = 0;
        bool frontSeen = false;
        while (true) {
            const std::size_t f = text.find(front, from);
            if (f == std::string::npos) break;
            frontSeen = true;
            const std::size_t start = f + front.size();
            const std::size_t b = text.find(back, start);
            if (b == std::string::npos) break;
            if (b > start) bytes.push_back({start, b});
            if (!repeat) break;
            from = b + back.size();
        }
        return finish(text, bytes, frontSeen ? "后边字符在前边字符之后没有找到" : "前边字符在页面中没有找到");
    }
    auto compiled = platform::Regex::compile(engine::CutPattern(front, back), platform::kExtractionOptions);
    if (!compiled) return finish(text, bytes, "规则有错误：" + compiled.error);
    auto error = compiled.regex->forEach(text, [&](const platform::RegexMatch& m) {
        const int g = m.groupNumber("content");
        if (g >= 0 && m.matched(static_cast<std::size_t>(g)) &&
            m.end(static_cast<std::size_t>(g)) > m.begin(static_cast<std::size_t>(g)))
            bytes.push_back({m.begin(static_cast<std::size_t>(g)), m.end(static_cast<std::size_t>(g))});
        return repeat;
    });
    if (error) return finish(text, bytes, "匹配出错：" + *error);
    return finish(text, bytes, "没有匹配到内容");
}

RulePreview PreviewRegex(const std::string& text, const std::string& pattern, const std::string& output, bool repeat) {
    std::vector<TextRange> bytes;
    if (pattern.empty()) return finish(text, bytes, "请填写正则规则");
    std::string compiledPattern = pattern;
    if (!output.empty())
        compiledPattern =
            engine::FillsByNumber(pattern, output) ? engine::RawPattern(pattern) : engine::ParameterPattern(pattern);
    auto compiled = platform::Regex::compile(compiledPattern, platform::kExtractionOptions);
    if (!compiled) return finish(text, bytes, "正则规则有错误：" + compiled.error);
    auto error = compiled.regex->forEach(
        text,
        [&](const platform::RegexMatch& m) {
            bytes.push_back({m.begin(), m.end()});
            return repeat;
        },
        false);
    if (error) return finish(text, bytes, "匹配出错：" + *error);
    return finish(text, bytes, "正则规则没有匹配到内容");
}

RulePreview PreviewListRule(const std::string& text, const ListSettingsForm& form, const std::string& pageAddress) {
    const collect::ListSettings list = collect::ListSettings::parse(form.toJson());
    const collect::ListPagePreview p = collect::PreviewListPage(text, list, pageAddress);
    std::vector<TextRange> bytes;
    for (const auto& l : p.links)
        if (l.begin != std::string::npos && !l.filtered) bytes.push_back({l.begin, l.end});
    RulePreview out;
    out.ranges = Utf16Ranges(text, bytes);
    if (p.areaFound) out.area = Utf16Ranges(text, {{p.areaBegin, p.areaEnd}}).front();
    std::size_t kept = 0;
    for (const auto& l : p.links) kept += l.filtered ? 0 : 1;
    out.count = kept;
    if (p.areaFound)
        out.summary = "列表区域已找到，链接" + std::to_string(kept) + "个";
    else
        out.summary = p.warnings.empty() ? "没有找到列表区域" : p.warnings.front();
    return out;
}

}  // namespace tarvex::app
