#include "engine/page_list.h"

#include "engine/template_lang.h"
#include "platform/text_codec.h"
#include "platform/utf8.h"

namespace tarvex::engine {

PageList PageListFromText(std::string_view text) {
    PageList out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::size_t eq = line.find('=');
        if (eq != std::string_view::npos) out.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    return out;
}

std::string PageListToText(const PageList& pages) {
    std::string out;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i) out += "\r\n";
        out += pages[i].first;
        out += '=';
        out += pages[i].second;
    }
    return out;
}

const std::string* PageListValue(const PageList& pages, std::string_view name) {
    for (const auto& [n, v] : pages)
        if (n == name) return &v;
    return nullptr;
}

PageList ContentPageList(const std::vector<std::string>& pages) {
    std::string joined;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i) joined.append(kPageSeparator);
        if (i == 0 && !pages[0].empty())
            joined.append("<tarvex>").append(pages[0]).append("</tarvex>");
        else
            joined.append(pages[i]);
    }
    PageList list;
    if (pages.empty() || pages[0].empty()) {
        list.emplace_back(std::string(kTopLevelPageName), std::string());
        return list;
    }
    joined.append("\r\n");
    list.emplace_back(std::string(kTopLevelPageName), LinesToMarkers(joined));
    return list;
}

std::string PageTextFromBytes(std::string_view bytes) {
    // Pages saved by a browser or an editor as "Unicode" carry a UTF-16 byte-order mark.
    if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
        const char* charset = bytes[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE";
        if (auto text = platform::decodeToUtf8(bytes.substr(2), charset)) return *text;
    }
    std::string_view body = platform::utf8::stripBom(bytes);
    if (platform::utf8::isValid(body)) return std::string(body);
    return platform::gb18030ToUtf8(bytes);
}

}  // namespace tarvex::engine
