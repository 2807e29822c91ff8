#include "engine/text_tokens.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>
#include <set>

#include "platform/utf8.h"

namespace tarvex::engine {
namespace {

namespace utf8 = platform::utf8;

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool startsWithNoCase(std::string_view s, std::size_t pos, std::string_view prefix) {
    if (s.size() - pos < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lower(s[pos + i]) != lower(prefix[i])) return false;
    return true;
}

using platform::utf8::replaceAll;

// ---- date format language -------------------------------------------------------------

// Locale forms follow the Chinese (PRC) conventions the program's users work with.
constexpr const char* kShortMonthNames[] = {"1月", "2月", "3月", "4月",  "5月",  "6月",
                                            "7月", "8月", "9月", "10月", "11月", "12月"};
constexpr const char* kLongMonthNames[] = {"一月", "二月", "三月", "四月", "五月",   "六月",
                                           "七月", "八月", "九月", "十月", "十一月", "十二月"};
constexpr const char* kShortDayNames[] = {"周日", "周一", "周二", "周三", "周四", "周五", "周六"};
constexpr const char* kLongDayNames[] = {"星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"};
constexpr std::string_view kShortDateFormat = "yyyy/m/d";
constexpr std::string_view kLongDateFormat = "yyyy'年'm'月'd'日'";
constexpr std::string_view kShortTimeFormat = "h:nn";
constexpr std::string_view kLongTimeFormat = "h:nn:ss";
constexpr std::string_view kTimeAm = "上午";
constexpr std::string_view kTimePm = "下午";
constexpr char kDateSeparator = '/';
constexpr char kTimeSeparator = ':';

void appendNumber(std::string& out, int value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", digits, value);
    out += buf;
}

bool isLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && isLeapYear(y)) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    auto yoe = static_cast<unsigned>(y - era * 400);
    unsigned doy = (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

class DateFormatter {
public:
    explicit DateFormatter(const LocalDateTime& t) : m_t(t) {}

    void format(std::string_view f, std::string& out, int depth) {
        // Locale forms nest at most twice ("c" -> short date -> its codes).
        if (depth > 2) return;
        bool use12Hour = false;
        char lastToken = ' ';
        std::size_t i = 0;
        while (i < f.size()) {
            const char c = f[i];
            if (static_cast<unsigned char>(c) >= 0x80) {
                // Any non-ASCII character is copied whole and is no code.
                std::size_t start = i++;
                while (i < f.size() && (static_cast<unsigned char>(f[i]) & 0xC0) == 0x80) ++i;
                out.append(f.substr(start, i - start));
                continue;
            }
            const std::size_t at = i++;
            char token = upper(c);
            if (token >= 'A' && token <= 'Z') {
                // "m" right after an hour code (only non-letters between) means minutes.
                if (token == 'M' && lastToken == 'H') token = 'N';
                lastToken = token;
            }
            auto count = [&] {
                int n = 1;
                while (i < f.size() && f[i] == c) ++i, ++n;
                return n;
            };
            switch (token) {
                case 'Y':
                    if (count() <= 2)
                        appendNumber(out, m_t.year % 100, 2);
                    else
                        appendNumber(out, m_t.year, 4);
                    break;
                case 'M': {
                    int n = count();
                    if (n <= 2)
                        appendNumber(out, m_t.month, n);
                    else
                        out += (n == 3 ? kShortMonthNames : kLongMonthNames)[m_t.month - 1];
                    break;
                }
                case 'D': {
                    int n = count();
                    if (n <= 2)
                        appendNumber(out, m_t.day, n);
                    else if (n == 3)
                        out += kShortDayNames[m_t.weekday];
                    else if (n == 4)
                        out += kLongDayNames[m_t.weekday];
                    else
                        format(n == 5 ? kShortDateFormat : kLongDateFormat, out, depth + 1);
                    break;
                }
                case 'H': {
                    int n = std::min(count(), 2);
                    if (amPmFollows(f, i)) use12Hour = true;
                    int h = m_t.hour;
                    if (use12Hour) h = h == 0 ? 12 : (h > 12 ? h - 12 : h);
                    appendNumber(out, h, n);
                    break;
                }
                case 'N':
                    appendNumber(out, m_t.minute, std::min(count(), 2));
                    break;
                case 'S':
                    appendNumber(out, m_t.second, std::min(count(), 2));
                    break;
                case 'Z':
                    appendNumber(out, m_t.millisecond, std::min(count(), 3));
                    break;
                case 'T':
                    format(count() == 1 ? kShortTimeFormat : kLongTimeFormat, out, depth + 1);
                    break;
                case 'C':
                    count();
                    format(kShortDateFormat, out, depth + 1);
                    if (m_t.hour != 0 || m_t.minute != 0 || m_t.second != 0) {
                        out += ' ';
                        format(kLongTimeFormat, out, depth + 1);
                    }
                    break;
                case 'A': {
                    const bool pm = m_t.hour >= 12;
                    if (startsWithNoCase(f, at, "am/pm")) {
                        out.append(f.substr(at + (pm ? 3 : 0), 2));
                        i = at + 5;
                        use12Hour = true;
                    } else if (startsWithNoCase(f, at, "a/p")) {
                        out.append(f.substr(at + (pm ? 2 : 0), 1));
                        i = at + 3;
                        use12Hour = true;
                    } else if (startsWithNoCase(f, at, "ampm")) {
                        out += pm ? kTimePm : kTimeAm;
                        i = at + 4;
                        use12Hour = true;
                    } else if (startsWithNoCase(f, at, "aaaa")) {
                        out += kLongDayNames[m_t.weekday];
                        i = at + 4;
                    } else if (startsWithNoCase(f, at, "aaa")) {
                        out += kShortDayNames[m_t.weekday];
                        i = at + 3;
                    } else {
                        out += c;
                    }
                    break;
                }
                case '/':
                    out += kDateSeparator;
                    break;
                case ':':
                    out += kTimeSeparator;
                    break;
                case '\'':
                case '"': {
                    std::size_t close = f.find(c, i);
                    if (close == std::string_view::npos) close = f.size();
                    out.append(f.substr(i, close - i));
                    i = close < f.size() ? close + 1 : close;
                    break;
                }
                default:
                    out += c;
                    break;
            }
        }
    }

private:
    // Whether an am/pm marker follows an hour code before the next hour code, outside quotes.
    static bool amPmFollows(std::string_view f, std::size_t i) {
        bool quoted = false;
        for (; i < f.size(); ++i) {
            char c = f[i];
            if (c == '\'' || c == '"')
                quoted = !quoted;
            else if (!quoted && (c == 'h' || c == 'H'))
                return false;
            else if (!quoted && (c == 'a' || c == 'A'))
                return startsWithNoCase(f, i, "am/pm") || startsWithNoCase(f, i, "a/p") ||
                       startsWithNoCase(f, i, "ampm");
        }
        return false;
    }

    const LocalDateTime& m_t;
};

// ---- token values ---------------------------------------------------------------------

// Milliseconds from 1970-01-01 08:00:00 to the moment, both read as local wall-clock times.
std::int64_t timeStampMillis(const LocalDateTime& t) {
    std::int64_t days = daysFromCivil(t.year, t.month, t.day);
    std::int64_t ms = ((days * 24 + t.hour) * 60 + t.minute) * 60 + t.second;
    return ms * 1000 + t.millisecond - 8LL * 3600 * 1000;
}

std::string md5Hex(std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &len, EVP_md5(), nullptr) != 1) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int k = 0; k < len; ++k) {
        out += kHex[digest[k] >> 4];
        out += kHex[digest[k] & 0x0F];
    }
    return out;
}

// The digest names attachment files. Up to ten workers collect at once, and the millisecond
// clock alone gives two of them the same name (one image overwriting another); a process-wide
// sequence and the process id make every value distinct without waiting for the clock.
std::string uniqueDigest(const LocalDateTime& now) {
    static std::atomic<std::uint64_t> sequence{0};
    std::string text = FormatDateTime("yyyymmddhhnnsszzz", now);
    text += '#';
    text += std::to_string(static_cast<long long>(::getpid()));
    text += '#';
    text += std::to_string(sequence.fetch_add(1, std::memory_order_relaxed));
    return md5Hex(text);
}

std::optional<std::int64_t> parseInteger(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

// The token without its first `head` and last `tail` code points.
std::string_view tokenArgument(std::string_view token, std::size_t head, std::size_t tail) {
    std::size_t n = utf8::length(token);
    if (n < head + tail) return {};
    std::size_t b = utf8::byteOffset(token, head);
    std::size_t e = utf8::byteOffset(token, n - tail);
    return token.substr(b, e - b);
}

std::string randomNumber(std::string_view args, RandomSource& random) {
    std::size_t comma = args.find(',');
    if (comma == std::string_view::npos) return {};
    auto a = parseInteger(args.substr(0, comma));
    auto b = parseInteger(args.substr(comma + 1));
    if (!a || !b) return {};
    // Reversed bounds are read as the same range rather than refused.
    if (*a > *b) std::swap(a, b);
    return std::to_string(random.uniform(*a, *b));
}

// Longer runs than this are a typing slip, not a name; the token stays as written.
constexpr std::int64_t kMaxRandomLetters = 100000;

std::string randomLetters(std::string_view arg, RandomSource& random) {
    auto n = parseInteger(arg);
    if (!n || *n <= 0 || *n > kMaxRandomLetters) return {};
    std::string out;
    out.reserve(static_cast<std::size_t>(*n));
    for (std::int64_t k = 0; k < *n; ++k) out += static_cast<char>('a' + random.uniform(0, 25));
    return out;
}

std::string fileExtension(std::string_view address) {
    std::size_t dot = address.rfind('.');
    std::string_view ext = dot == std::string_view::npos ? address : address.substr(dot);
    std::size_t n = utf8::length(ext);
    return (n >= 2 && n <= 7) ? std::string(ext) : std::string();
}

std::string fileName(std::string_view address) {
    std::size_t slash = address.rfind('/');
    return std::string(slash == std::string_view::npos ? address : address.substr(slash + 1));
}

constexpr std::string_view kDatePrefix = "{dd:日期";
constexpr std::string_view kRandomNumberPrefix = "{dd:随机数[";
constexpr std::string_view kRandomLettersPrefix = "{dd:随机字母";

std::string tokenValue(std::string_view token, std::string_view fileAddress, const platform::Clock& clock,
                       RandomSource& random) {
    const std::string name = platform::utf8::lowerAscii(token);
    if (name == "{dd:时间戳}" || name == "{dd:时间戳2}") {
        std::string stamp = std::to_string(timeStampMillis(ToLocalDateTime(clock.now())));
        return name == "{dd:时间戳}" ? stamp : stamp.substr(0, 10);
    }
    if (name == "{dd:md5}") return uniqueDigest(ToLocalDateTime(clock.now()));
    if (name == "{dd:原文件扩展名}") return fileExtension(fileAddress);
    if (name == "{dd:原文件名}") return fileName(fileAddress);
    if (name.starts_with(kDatePrefix)) {
        std::string format(token.substr(kDatePrefix.size(), token.size() - kDatePrefix.size() - 1));
        LocalDateTime now = ToLocalDateTime(clock.now());
        if (format.empty()) return FormatDateTime("yyyymmdd", now);
        std::size_t plus = format.find("+1");
        if (plus != std::string::npos && plus > 0) {
            replaceAll(format, "+1", "");
            return FormatDateTime(format, AddMonths(now, 1));
        }
        return FormatDateTime(format, now);
    }
    if (name.starts_with(kRandomNumberPrefix)) return randomNumber(tokenArgument(token, 8, 2), random);
    if (name.starts_with(kRandomLettersPrefix)) return randomLetters(tokenArgument(token, 8, 1), random);
    return {};
}

// Every "{dd:" (any case) up to the next "}", with no "{" in between.
std::vector<std::string> findTextTokens(std::string_view text) {
    std::vector<std::string> tokens;
    for (std::size_t open = text.find('{'); open != std::string_view::npos;) {
        if (!startsWithNoCase(text, open + 1, "dd:")) {
            open = text.find('{', open + 1);
            continue;
        }
        std::size_t end = text.find_first_of("{}", open + 4);
        if (end == std::string_view::npos) break;
        if (text[end] == '{') {
            open = end;
            continue;
        }
        tokens.emplace_back(text.substr(open, end - open + 1));
        open = text.find('{', end + 1);
    }
    return tokens;
}

constexpr std::string_view kCrMarker = "<临时换行替换换行>";
constexpr std::string_view kLfMarker = "<临时换行2替换换行2>";
constexpr std::string_view kFieldRefHead = "{DD:字段=";

}  // namespace

LocalDateTime ToLocalDateTime(std::chrono::system_clock::time_point t) {
    auto ms = std::chrono::floor<std::chrono::milliseconds>(t).time_since_epoch().count();
    std::int64_t secs = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    std::time_t tt = static_cast<std::time_t>(secs);
    std::tm tm{};
    localtime_r(&tt, &tm);
    LocalDateTime out;
    out.year = tm.tm_year + 1900;
    out.month = tm.tm_mon + 1;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    out.second = tm.tm_sec;
    out.millisecond = static_cast<int>(ms - secs * 1000);
    out.weekday = tm.tm_wday;
    return out;
}

LocalDateTime AddMonths(const LocalDateTime& t, int months) {
    LocalDateTime out = t;
    int index = t.year * 12 + (t.month - 1) + months;
    out.year = index >= 0 ? index / 12 : -((-index + 11) / 12);
    out.month = index - out.year * 12 + 1;
    out.day = std::min(t.day, daysInMonth(out.year, out.month));
    std::int64_t days = daysFromCivil(out.year, out.month, out.day);
    out.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    return out;
}

std::string FormatDateTime(std::string_view format, const LocalDateTime& t) {
    std::string out;
    DateFormatter(t).format(format, out, 0);
    return out;
}

std::string ExpandTokens(std::string_view text, std::string_view fileAddress, const platform::Clock& clock,
                         RandomSource& random) {
    std::string out(text);
    replaceAll(out, "\\", "/");
    if (out.find('{') == std::string::npos) return out;
    std::set<std::string> done;
    for (const std::string& token : findTextTokens(out)) {
        // A repeated token was filled everywhere at its first place; its copies share the value.
        if (!done.insert(token).second) continue;
        std::string value = tokenValue(token, fileAddress, clock, random);
        if (!value.empty()) replaceAll(out, token, value);
    }
    return out;
}

std::string ExpandFieldRefs(std::string_view text, const FieldValueList& values) {
    std::string out(text);
    if (values.empty() || out.find("字段=") == std::string::npos) return out;
    std::vector<std::string> tokens;
    for (std::size_t open = out.find('{'); open != std::string::npos;) {
        std::size_t close = std::string::npos;
        if (startsWithNoCase(out, open, kFieldRefHead)) close = out.find('}', open + kFieldRefHead.size());
        if (close == std::string::npos) {
            open = out.find('{', open + 1);
            continue;
        }
        tokens.push_back(out.substr(open, close - open + 1));
        open = out.find('{', close + 1);
    }
    for (const std::string& token : tokens) {
        std::string_view name = std::string_view(token).substr(kFieldRefHead.size());
        name.remove_suffix(1);
        const std::string* value = nullptr;
        for (const auto& [field, v] : values)
            if (field == name) {
                value = &v;
                break;
            }
        if (!value) {
            const std::string lowered = platform::utf8::lowerAscii(name);
            for (const auto& [field, v] : values)
                if (platform::utf8::lowerAscii(field) == lowered) {
                    value = &v;
                    break;
                }
        }
        std::string replacement = value ? *value : std::string();
        replaceAll(replacement, kCrMarker, "\r");
        replaceAll(replacement, kLfMarker, "\n");
        replaceAll(out, token, replacement);
    }
    return out;
}

}  // namespace tarvex::engine
