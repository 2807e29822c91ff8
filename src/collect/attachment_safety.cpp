#include "collect/attachment_safety.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/utf8.h"

namespace tarvex::collect {
namespace {

// Name parts that make a web server run a file, or that configure the server, wherever they
// stand in the name ("a.php.jpg" runs as PHP on servers that map every extension).
constexpr std::string_view kRefusedParts[] = {
    "php",   "php2", "php3", "php4",     "php5",     "php6", "php7", "php8", "phtml", "pht",  "phar", "phps",
    "cgi",   "fcgi", "pl",   "pm",       "py",       "pyc",  "rb",   "sh",   "bash",  "asp",  "aspx", "ascx",
    "ashx",  "asmx", "asa",  "cer",      "cdx",      "jsp",  "jspx", "jsw",  "jsv",   "jspf", "cfm",  "cfml",
    "shtml", "shtm", "stm",  "htaccess", "htpasswd", "exe",  "bat",  "cmd",  "vbs",   "wsf",  "ps1",  "scr",
};

bool refusedPart(std::string part) {
    // "a.asp;.jpg" and "a.php::$DATA" are read by some servers up to the ";" or ":".
    part = part.substr(0, part.find_first_of(";:"));
    while (!part.empty() && (part.back() == ' ' || part.back() == '.')) part.pop_back();
    while (!part.empty() && part.front() == ' ') part.erase(part.begin());
    part = platform::utf8::lowerAscii(part);
    if (part.rfind("php", 0) == 0) return true;
    return std::find(std::begin(kRefusedParts), std::end(kRefusedParts), part) != std::end(kRefusedParts);
}

bool hasControl(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

std::string UnsafeFileName(std::string_view name) {
    if (name.empty()) return "文件名为空";
    if (hasControl(name)) return "文件名含控制字符：" + std::string(name);
    if (name.front() == '.') return "隐藏文件名：" + std::string(name);
    std::size_t start = name.find('.');
    while (start != std::string_view::npos) {
        const std::size_t end = name.find('.', start + 1);
        const std::string part(name.substr(start + 1, end == std::string_view::npos ? end : end - start - 1));
        if (refusedPart(part)) return "可执行或服务器脚本类型的文件名：" + std::string(name);
        start = end;
    }
    return {};
}

std::string UnsafeUploadPath(std::string_view newUrl) {
    std::string path(newUrl);
    const std::string lower = platform::utf8::lowerAscii(path);
    if (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0) {
        const std::size_t slash = path.find('/', path.find("://") + 3);
        path = slash == std::string::npos ? std::string() : path.substr(slash);
    }
    path = percentDecoded(path);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.empty()) return "地址没有文件名：" + std::string(newUrl);
    std::size_t start = path.front() == '/' ? 1 : 0;
    for (;;) {
        const std::size_t end = path.find('/', start);
        const std::string segment = path.substr(start, end == std::string::npos ? end : end - start);
        if (end == std::string::npos) {
            const std::string why = UnsafeFileName(segment);
            return why.empty() ? std::string() : why + "（" + std::string(newUrl) + "）";
        }
        if (segment.empty() || segment == "." || segment == ".." || segment.front() == '.' || hasControl(segment))
            return "不安全的路径：" + std::string(newUrl);
        start = end + 1;
    }
}

std::string ImageFormatOfBytes(std::string_view h) {
    auto at = [&](std::size_t offset, std::string_view magic) {
        return h.size() >= offset + magic.size() && h.substr(offset, magic.size()) == magic;
    };
    if (at(0, "\xFF\xD8\xFF")) return "jpeg";
    if (at(0, "\x89PNG\r\n\x1A\n")) return "png";
    if (at(0, "GIF87a") || at(0, "GIF89a")) return "gif";
    if (at(0, "RIFF") && at(8, "WEBP")) return "webp";
    if (at(0, "BM") && h.size() >= 26) return "bmp";
    if (at(0, std::string_view("\0\0\1\0", 4)) && h.size() >= 22) return "ico";
    if (at(4, "ftyp")) {
        for (std::string_view brand : {"avif", "avis"})
            if (at(8, brand)) return "avif";
        for (std::string_view brand : {"heic", "heix", "mif1", "msf1"})
            if (at(8, brand)) return "heic";
    }
    if (at(0, std::string_view("II*\0", 4)) || at(0, std::string_view("MM\0*", 4))) return "tiff";
    return {};
}

std::string ImageFormatOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    char buf[32] = {};
    in.read(buf, sizeof buf);
    return ImageFormatOfBytes(std::string_view(buf, static_cast<std::size_t>(in.gcount())));
}

std::string WithJpegExtension(const std::string& name) {
    const std::size_t slash = name.find_last_of("/\\");
    const std::size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot <= fileStart) dot = name.size();
    const std::string ext = platform::utf8::lowerAscii(name.substr(dot));
    if (ext == ".jpg" || ext == ".jpeg") return name;
    return name.substr(0, dot) + ".jpg";
}

}  // namespace tarvex::collect
