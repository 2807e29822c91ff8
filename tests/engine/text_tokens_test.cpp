#include "engine/text_tokens.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "scripted_random.h"
#include "support/fakes.h"

namespace tarvex::engine {
namespace {

using std::chrono::system_clock;

// Sets TZ for the life of the object and puts the old value back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) m_old = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (m_old)
            ::setenv("TZ", m_old->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> m_old;
};

// Beijing time; the POSIX form serves where the zone database is missing (no DST since 1991).
const char* shanghai() {
    return std::filesystem::exists("/usr/share/zoneinfo/Asia/Shanghai") ? "Asia/Shanghai" : "CST-8";
}

system_clock::time_point utc(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return system_clock::from_time_t(::timegm(&tm)) + std::chrono::milliseconds(ms);
}

LocalDateTime at(int y, int mo, int d, int h, int mi, int s, int ms, int weekday) {
    return LocalDateTime{y, mo, d, h, mi, s, ms, weekday};
}

TEST(FormatDateTime, DateLanguage) {
    const LocalDateTime morning = at(2019, 1, 9, 8, 30, 15, 123, 3);  // a Wednesday
    const std::pair<const char*, const char*> cases[] = {
        {"yyyymmddhhnnsszzz", "20190109083015123"},
        {"yyyy-mm-dd hh:nn:ss", "2019-01-09 08:30:15"},
        {"YYYY-MM-DD HH:NN:SS", "2019-01-09 08:30:15"},
        {"hh:mm", "08:30"},
        {"yyyymmddhhmmss", "20190109083015"},
        {"hh时mm分", "08时30分"},
        {"hh x mm", "08 x 01"},
        {"h:m d/m/yy", "8:30 9/1/19"},
        {"y-m-d", "19-1-9"},
        {"yyyy年mm月dd日", "2019年01月09日"},
        {"mmm mmmm ddd dddd", "1月 一月 周三 星期三"},
        {"z zz zzz zzzz", "123 123 123 123"},
        {"'yyyy'\"mm\"yyyy", "yyyymm2019"},
        {"'unclosed yyyy", "unclosed yyyy"},
        {"c", "2019/1/9 8:30:15"},
        {"t|tt", "8:30|8:30:15"},
        {"ddddd|dddddd", "2019/1/9|2019年1月9日"},
        {"hh am/pm", "08 am"},
        {"x q # -", "x q # -"},
        {"", ""},
    };
    for (const auto& [format, expected] : cases) EXPECT_EQ(FormatDateTime(format, morning), expected) << format;

    const LocalDateTime evening = at(2019, 1, 9, 20, 5, 7, 5, 3);
    const std::pair<const char*, const char*> evenings[] = {
        {"hh am/pm", "08 pm"}, {"h:nn AM/PM", "8:05 PM"},    {"h a/p", "8 p"}, {"ampm h", "下午 8"},
        {"hh", "20"},          {"s ss z zzz", "7 07 5 005"},
    };
    for (const auto& [format, expected] : evenings) EXPECT_EQ(FormatDateTime(format, evening), expected) << format;

    EXPECT_EQ(FormatDateTime("h am/pm", at(2019, 1, 9, 0, 0, 0, 0, 3)), "12 am");
    EXPECT_EQ(FormatDateTime("c", at(2019, 1, 9, 0, 0, 0, 0, 3)), "2019/1/9");
}

TEST(AddMonths, ClampsToTheEndOfTheMonth) {
    struct Case {
        LocalDateTime from;
        int months;
        int y, m, d, weekday;
    };
    const Case cases[] = {
        {at(2019, 1, 31, 10, 0, 0, 0, 4), 1, 2019, 2, 28, 4},  {at(2020, 1, 31, 10, 0, 0, 0, 5), 1, 2020, 2, 29, 6},
        {at(2019, 12, 15, 10, 0, 0, 0, 0), 1, 2020, 1, 15, 3}, {at(2019, 3, 31, 10, 0, 0, 0, 0), -1, 2019, 2, 28, 4},
        {at(2019, 5, 31, 10, 0, 0, 0, 5), 1, 2019, 6, 30, 0},
    };
    for (const auto& c : cases) {
        LocalDateTime r = AddMonths(c.from, c.months);
        EXPECT_EQ(r.year, c.y);
        EXPECT_EQ(r.month, c.m);
        EXPECT_EQ(r.day, c.d);
        EXPECT_EQ(r.weekday, c.weekday) << c.y << "-" << c.m << "-" << c.d;
        EXPECT_EQ(r.hour, c.from.hour);
    }
}

class TokensTest : public ::testing::Test {
protected:
    std::string expand(const std::string& text, const std::string& file = {}) {
        return ExpandTokens(text, file, clock, random);
    }
    test::ManualClock clock;
    test::ScriptedRandom random{{7, 9, 3}};
};

TEST_F(TokensTest, DatesAndTimeStampsInBeijingTime) {
    ScopedTimeZone tz(shanghai());
    clock.set(utc(2019, 1, 9, 0, 30, 15, 123));  // 08:30:15.123 in Beijing
    const std::pair<const char*, const char*> cases[] = {
        {"{dd:日期}", "20190109"},
        {"{DD:日期yyyy-mm-dd}", "2019-01-09"},
        {"{Dd:日期yyyymmdd hhnnss}", "20190109 083015"},
        {"{dd:时间戳}", "1546993815123"},
        {"{DD:时间戳2}", "1546993815"},
        {"C:\\data\\{dd:日期}.txt", "C:/data/20190109.txt"},
        {"a\\b", "a/b"},
        {"{dd:日期}-{dd:日期}", "20190109-20190109"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(expand(text), expected) << text;
}

TEST_F(TokensTest, DatesAndTimeStampsInUtc) {
    ScopedTimeZone tz("UTC");
    clock.set(utc(2019, 1, 9, 0, 30, 15, 123));
    EXPECT_EQ(expand("{dd:日期yyyymmdd hhnnss}"), "20190109 003015");
    // Counted from 08:00 local on 1970-01-01, so eight hours short of Unix time off Beijing time.
    EXPECT_EQ(expand("{dd:时间戳}"), "1546965015123");
    EXPECT_EQ(expand("{dd:时间戳2}"), "1546965015");
    clock.set(utc(2019, 1, 8, 20, 0, 0));
    EXPECT_EQ(expand("{dd:日期}"), "20190108");
    ScopedTimeZone beijing(shanghai());
    EXPECT_EQ(expand("{dd:日期}"), "20190109");
}

TEST_F(TokensTest, OneMonthLater) {
    ScopedTimeZone tz("UTC");
    clock.set(utc(2019, 1, 31, 12, 0, 0));
    EXPECT_EQ(expand("{dd:日期yyyy-mm+1}"), "2019-02");
    EXPECT_EQ(expand("{dd:日期yyyy-mm-dd+1}"), "2019-02-28");
    EXPECT_EQ(expand("{dd:日期yyyy+1-mm+1}"), "2019-02");
    // "+1" as the very first character is no month shift, just text.
    EXPECT_EQ(expand("{dd:日期+1yyyy}"), "+12019");
    clock.set(utc(2019, 12, 31, 12, 0, 0));
    EXPECT_EQ(expand("{dd:日期yyyymmdd+1}"), "20200131");
}

TEST_F(TokensTest, RandomValues) {
    EXPECT_EQ(expand("{dd:随机数[1,50]}"), "7");
    EXPECT_EQ(random.asked().back(), (std::pair<std::int64_t, std::int64_t>{1, 50}));
    // Every copy of one token text gets the same draw.
    EXPECT_EQ(expand("{dd:随机数[1,50]}/{dd:随机数[1,50]}"), "9/9");
    EXPECT_EQ(expand("{dd:随机数[ 10 , 20 ]}"), "10");
    // Reversed bounds draw from the same range.
    expand("{dd:随机数[50,1]}");
    EXPECT_EQ(random.asked().back(), (std::pair<std::int64_t, std::int64_t>{1, 50}));
    for (const char* stays :
         {"{dd:随机数[a,5]}", "{dd:随机数[1]}", "{dd:随机数[1,2,3]}", "{dd:随机数[]}", "{dd:随机字母0}",
          "{dd:随机字母x}", "{dd:随机字母-3}", "{dd:随机字母}", "{dd:随机字母999999999}"})
        EXPECT_EQ(expand(stays), stays);

    for (const char* text : {"{dd:随机字母12}", "{DD:随机字母12}"}) {
        std::string letters = ExpandTokens(text);
        EXPECT_TRUE(std::regex_match(letters, std::regex("[a-z]{12}"))) << text << " -> " << letters;
    }
    std::string n = ExpandTokens("{dd:随机数[1,50]}");
    EXPECT_TRUE(std::stoi(n) >= 1 && std::stoi(n) <= 50) << n;
}

TEST_F(TokensTest, FileAddressTokens) {
    struct Case {
        const char* text;
        const char* file;
        const char* expected;
    };
    const Case cases[] = {
        {"{dd:原文件扩展名}", "/pic/a/b.jpeg", ".jpeg"},
        {"{dd:原文件扩展名}", "/pic/a/b.c", ".c"},
        {"{dd:原文件扩展名}", "/pic/a/b.", "{dd:原文件扩展名}"},
        {"{dd:原文件扩展名}", "/pic/a/b", "{dd:原文件扩展名}"},
        {"{dd:原文件扩展名}", "abc", "abc"},
        {"{dd:原文件扩展名}", "/a/b.中文扩展", ".中文扩展"},
        {"{dd:原文件扩展名}", "/a/b.三个字符长扩展名", "{dd:原文件扩展名}"},
        {"{dd:原文件名}", "/pic/a/b.jpeg", "b.jpeg"},
        {"{DD:原文件名}", "/图片/新闻图.png", "新闻图.png"},
        {"{dd:原文件名}", "b.jpeg", "b.jpeg"},
        {"{dd:原文件名}", "", "{dd:原文件名}"},
        {"x/{dd:原文件名}", "/pic/", "x/{dd:原文件名}"},
        {"/up/{dd:原文件名}{dd:原文件扩展名}", "http://h.com/a/b.gif", "/up/b.gif.gif"},
    };
    for (const auto& c : cases) EXPECT_EQ(expand(c.text, c.file), c.expected) << c.text << " with " << c.file;
}

TEST_F(TokensTest, UnknownAndMalformedTokensStay) {
    ScopedTimeZone tz("UTC");
    clock.set(utc(2019, 1, 9, 0, 0, 0));
    const std::pair<const char*, const char*> cases[] = {
        {"{dd:自增id}", "{dd:自增id}"},
        {"{dd:whatever}", "{dd:whatever}"},
        {"{DD:字段=作者}", "{DD:字段=作者}"},
        {"{dd:日期", "{dd:日期"},
        {"{dd:日期''}", "{dd:日期''}"},
        // A token runs to the next "}" and never across a "{".
        {"{dd:日期}}", "20190109}"},
        {"{dd:{dd:日期}", "{dd:20190109"},
        {"{d:日期}", "{d:日期}"},
        {"no tokens", "no tokens"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(expand(text), expected) << text;
}

TEST_F(TokensTest, Md5NamesAFile) {
    std::string path = expand("/d/file/{dd:日期yyyymmdd}/{dd:MD5}.gif");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(path, m, std::regex("/d/file/[0-9]{8}/([0-9a-f]{32})\\.gif"))) << path;
    std::string twice = expand("{dd:MD5}-{dd:MD5}");
    EXPECT_EQ(twice.substr(0, 32), twice.substr(33));
    EXPECT_NE(twice.substr(0, 32), m[1].str());
}

TEST(Md5Token, UniqueAcrossThreadsInTheSameMillisecond) {
    // The clock stands still: only the process-wide uniqueness can keep the names apart.
    test::ManualClock clock(utc(2019, 1, 9, 0, 30, 15, 123));
    constexpr int kThreads = 10, kEach = 200;
    std::vector<std::vector<std::string>> names(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) names[t].push_back(ExpandTokens("{dd:md5}", {}, clock));
        });
    for (auto& th : threads) th.join();
    std::set<std::string> all;
    for (const auto& list : names)
        for (const auto& n : list) {
            ASSERT_TRUE(std::regex_match(n, std::regex("[0-9a-f]{32}"))) << n;
            all.insert(n);
        }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
}

TEST(ExpandFieldRefs, FillsKnownFields) {
    const FieldValueList values{
        {"作者", "张三"}, {"正文", "第一行<临时换行替换换行><临时换行2替换换行2>第二行"}, {"Title", "T $1 \\0"}};
    const std::pair<const char*, std::string> cases[] = {
        {"作者：{DD:字段=作者}", "作者：张三"},
        {"{dd:字段=作者}/{Dd:字段=作者}", "张三/张三"},
        {"{DD:字段=正文}", "第一行\r\n第二行"},
        {"{DD:字段=title}|{DD:字段=Title}", "T $1 \\0|T $1 \\0"},
        {"[{DD:字段=没有}]", "[]"},
        {"{DD:字段=}", ""},
        {"{DD:字段=作者", "{DD:字段=作者"},
        {"{DD:字段=作{者}", ""},
        {"{dd:日期}{DD:字段=作者}", "{dd:日期}张三"},
        {"no reference", "no reference"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(ExpandFieldRefs(text, values), expected) << text;
}

TEST(ExpandFieldRefs, EmptyListLeavesReferences) {
    EXPECT_EQ(ExpandFieldRefs("作者：{DD:字段=作者}", {}), "作者：{DD:字段=作者}");
    EXPECT_EQ(ExpandFieldRefs("作者：{DD:字段=作者}", {{"来源", "x"}}), "作者：");
}

}  // namespace
}  // namespace tarvex::engine
