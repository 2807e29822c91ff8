#include "platform/utf8.h"

#include <cstring>

namespace tarvex::platform::utf8 {

namespace {
// Length of the valid sequence starting at s[i], or 0 when it is not valid.
std::size_t validSeq(std::string_view s, std::size_t i) {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    std::size_t n = s.size();
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return (i + 1 < n && (b(i + 1) & 0xC0) == 0x80) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (i + 2 >= n) return 0;
        unsigned char c1 = b(i + 1);
        if ((c1 & 0xC0) != 0x80 || (b(i + 2) & 0xC0) != 0x80) return 0;
        if (c == 0xE0 && c1 < 0xA0) return 0;
        if (c == 0xED && c1 > 0x9F) return 0;  // surrogates
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (i + 3 >= n) return 0;
        unsigned char c1 = b(i + 1);
        if ((c1 & 0xC0) != 0x80 || (b(i + 2) & 0xC0) != 0x80 || (b(i + 3) & 0xC0) != 0x80) return 0;
        if (c == 0xF0 && c1 < 0x90) return 0;
        if (c == 0xF4 && c1 > 0x8F) return 0;
        return 4;
    }
    return 0;
}
}  // namespace

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool isValid(std::string_view s) {
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        // Plain ASCII eight bytes at a time: the markup of a page is most of it.
        std::uint64_t word;
        while (i + 8 <= n) {
            std::memcpy(&word, s.data() + i, 8);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= n) break;
        std::size_t k = validSeq(s, i);
        if (!k) return false;
        i += k;
    }
    return true;
}

std::string repair(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        std::size_t k = validSeq(s, i);
        if (k) {
            out.append(s.substr(i, k));
            i += k;
        } else {
            out.append("\xEF\xBF\xBD");
            ++i;
            // Skip the continuation bytes of the same broken sequence.
            while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
        }
    }
    return out;
}

std::size_t length(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::size_t byteOffset(std::string_view s, std::size_t idx) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (n == idx) return i;
            ++n;
        }
    }
    return s.size();
}

std::string_view substr(std::string_view s, std::size_t start, std::size_t count) {
    std::size_t b = byteOffset(s, start);
    if (b >= s.size()) return {};
    if (count == std::string_view::npos) return s.substr(b);
    std::size_t e = b + byteOffset(s.substr(b), count);
    return s.substr(b, e - b);
}

void append(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::optional<char32_t> decode(std::string_view s, std::size_t i, std::size_t& len) {
    len = 1;
    const std::size_t n = validSeq(s, i);
    if (!n) return std::nullopt;
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    char32_t cp = n == 1 ? b(i) : n == 2 ? (b(i) & 0x1F) : n == 3 ? (b(i) & 0x0F) : (b(i) & 0x07);
    for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (b(i + k) & 0x3F);
    len = n;
    return cp;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) return;
    std::size_t pos = text.find(from);
    if (pos == std::string::npos) return;
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    while (pos != std::string::npos) {
        out.append(text, copied, pos - copied);
        out.append(to);
        copied = pos + from.size();
        pos = text.find(from, copied);
    }
    out.append(text, copied, std::string::npos);
    text = std::move(out);
}

std::string_view stripBom(std::string_view s) {
    if (s.substr(0, 3) == kBom) s.remove_prefix(3);
    return s;
}

}  // namespace tarvex::platform::utf8
