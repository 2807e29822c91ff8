#pragma once
// Text tokens "{dd:…}" (dates, time stamps, random values, digests, parts of a file address)
// and field references "{DD:字段=name}", filled in at the moment a template text is used, and
// the date format language those tokens, the time-conversion rule and attachment prefixes
// share. Safe on any thread; the clock and the random source are injected.
#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/random_source.h"
#include "platform/ports.h"

namespace tarvex::engine {

// A broken-down local time as the date format language sees it.
struct LocalDateTime {
    int year = 1970;
    int month = 1;  // 1–12
    int day = 1;    // 1–31
    int hour = 0;   // 0–23
    int minute = 0;
    int second = 0;
    int millisecond = 0;  // 0–999
    int weekday = 4;      // 0 = Sunday … 6 = Saturday
};

// The moment in the process's local time zone (TZ).
LocalDateTime ToLocalDateTime(std::chrono::system_clock::time_point t);
// The same wall-clock time one or more calendar months later (or earlier), the day clamped
// to the last day of the target month (2019-01-31 + 1 month = 2019-02-28).
LocalDateTime AddMonths(const LocalDateTime& t, int months);

// Formats a moment with the date format language: yyyy yy m mm mmm mmmm d dd ddd dddd h hh
// n nn s ss z zzz am/pm a/p, "/" ":" separators, quoted literals; "m"/"mm" right after an
// hour code mean minutes; other characters are copied. Locale forms follow zh-CN.
std::string FormatDateTime(std::string_view format, const LocalDateTime& t);

// Expands every text token in `text` (after turning each "\" into "/"); `fileAddress` feeds
// "{dd:原文件名}" and "{dd:原文件扩展名}". A token whose value comes out empty stays as written.
// "{dd:MD5}" values are unique across the process, also between threads in the same millisecond.
std::string ExpandTokens(std::string_view text, std::string_view fileAddress = {},
                         const platform::Clock& clock = platform::SystemClock::instance(),
                         RandomSource& random = DefaultRandom());

// The record's values so far, by field name, in field order. Values may carry the
// line-break markers of name=value lists; they are turned back into CR/LF when filled in.
using FieldValueList = std::vector<std::pair<std::string, std::string>>;

// Replaces every "{DD:字段=name}" (any case in "DD") by the value of field `name` (an exact
// name first, else one equal without regard to ASCII letter case); references to unknown
// fields are removed. With an empty list the text comes back unchanged.
std::string ExpandFieldRefs(std::string_view text, const FieldValueList& values);

}  // namespace tarvex::engine
