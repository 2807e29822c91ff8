#include "platform/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "platform/utf8.h"

namespace tarvex::platform {

std::string canonicalCharset(std::string_view label) {
    std::string s;
    for (char c : label) {
        if (!std::isspace(static_cast<unsigned char>(c)) && c != '"' && c != '\'')
            s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (s == "gb2312" || s == "gbk" || s == "x-gbk" || s == "cp936" || s == "gb_2312-80" || s == "euc-cn" ||
        s == "gb18030")
        return "gb18030";
    if (s == "utf8") return "utf-8";
    return s;
}

namespace {
struct Iconv {
    iconv_t cd;
    Iconv(const std::string& to, const std::string& from) : cd(iconv_open(to.c_str(), from.c_str())) {}
    ~Iconv() {
        if (ok()) iconv_close(cd);
    }
    bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

// Converts, replacing every input byte that cannot be converted by `replacement`.
std::string convert(Iconv& cv, std::string_view in, std::string_view replacement, std::size_t badStep) {
    std::string out;
    out.reserve(in.size() * 3 / 2 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char buf[8192];
    while (srcLeft > 0) {
        char* dst = buf;
        std::size_t dstLeft = sizeof buf;
        std::size_t rc = iconv(cv.cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<std::size_t>(dst - buf));
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            if (errno == EILSEQ || errno == EINVAL) {
                out.append(replacement);
                std::size_t step = std::min(srcLeft, badStep);
                // For UTF-8 input skip the whole broken character, not only its first byte.
                if (badStep == 0) {
                    step = 1;
                    while (step < srcLeft && (static_cast<unsigned char>(src[step]) & 0xC0) == 0x80) ++step;
                }
                src += step;
                srcLeft -= step;
                iconv(cv.cd, nullptr, nullptr, nullptr, nullptr);
                continue;
            }
            break;
        }
    }
    char* dst = buf;
    std::size_t dstLeft = sizeof buf;
    iconv(cv.cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buf, static_cast<std::size_t>(dst - buf));
    return out;
}
}  // namespace

std::optional<std::string> decodeToUtf8(std::string_view bytes, std::string_view charset) {
    std::string cs = canonicalCharset(charset);
    if (cs.empty() || cs == "utf-8") return utf8::repair(bytes);
    Iconv cv("UTF-8", cs);
    if (!cv.ok()) return std::nullopt;
    return convert(cv, bytes, "\xEF\xBF\xBD", 1);
}

std::optional<std::string> encodeFromUtf8(std::string_view utf8Text, std::string_view charset) {
    std::string cs = canonicalCharset(charset);
    if (cs.empty() || cs == "utf-8") return std::string(utf8Text);
    Iconv cv(cs, "UTF-8");
    if (!cv.ok()) return std::nullopt;
    return convert(cv, utf8Text, "?", 0);
}

std::string utf8ToGb18030(std::string_view utf8Text) {
    return *encodeFromUtf8(utf8Text, "gb18030");
}
std::string gb18030ToUtf8(std::string_view bytes) {
    return *decodeToUtf8(bytes, "gb18030");
}

}  // namespace tarvex::platform
