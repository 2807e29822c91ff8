#include "app/schedule/schedule.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine/field_rule.h"
#include "platform/utf8.h"

namespace tarvex::app {

namespace {
std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        auto pos = s.find(sep, start);
        out.push_back(s.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
        if (pos == std::string::npos) break;
        start = pos + 1;
    }
    return out;
}

// The integers of a comma-separated list; nullopt when a part is not one.
std::optional<std::vector<long long>> numbers(const std::string& text) {
    std::vector<long long> out;
    for (const auto& part : split(text, ',')) {
        auto n = engine::ParseInteger(part);
        if (!n) return std::nullopt;
        out.push_back(*n);
    }
    return out;
}

// An empty field matches every value; otherwise the value must be one of its numbers.
bool matches(const std::string& field, long long value) {
    if (field.empty()) return true;
    auto list = numbers(field);
    return list && std::find(list->begin(), list->end(), value) != list->end();
}

std::string pad2(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}
}  // namespace

ScheduleLine ScheduleLine::parse(const std::string& text) {
    ScheduleLine line;
    line.text = text;
    line.queueEntry = text.find(kQueueMarker) != std::string::npos;
    auto parts = split(text, '|');
    for (std::size_t i = 0; i < line.fields.size() && i < parts.size(); ++i) line.fields[i] = parts[i];
    return line;
}

std::optional<TaskKey> ParseTaskKey(const std::string& field0) {
    auto comma = field0.find(',');
    if (comma == std::string::npos) return std::nullopt;
    auto id = engine::ParseInteger(field0.substr(0, comma));
    std::string name = field0.substr(comma + 1);
    if (!id || *id <= 0 || name.empty()) return std::nullopt;
    return TaskKey{*id, name};
}

std::array<bool, 3> ParseStageFlags(const std::string& field1) {
    std::array<bool, 3> stages{false, false, false};
    auto parts = split(field1, ',');
    for (std::size_t i = 0; i < 3 && i < parts.size(); ++i) stages[i] = engine::TrimText(parts[i]) == "1";
    return stages;
}

std::string StageFlagsText(const std::array<bool, 3>& stages) {
    return std::string(stages[0] ? "1" : "0") + "," + (stages[1] ? "1" : "0") + "," + (stages[2] ? "1" : "0");
}

std::string ScheduleLineProblem(const ScheduleLine& line) {
    if (line.queueEntry) return {};
    static const char* const names[] = {"", "", "分钟", "日", "星期", "小时"};
    for (std::size_t i = 2; i <= 5; ++i) {
        if (!line.fields[i].empty() && !numbers(line.fields[i])) return std::string(names[i]) + ":" + line.fields[i];
    }
    return {};
}

bool IsScheduleDue(const ScheduleLine& line, const std::tm& local) {
    if (line.queueEntry) return true;
    if (!ScheduleLineProblem(line).empty()) return false;
    const int weekday = local.tm_wday == 0 ? 7 : local.tm_wday;
    return matches(line.fields[3], local.tm_mday) && matches(line.fields[4], weekday) &&
           matches(line.fields[5], local.tm_hour) && matches(line.fields[2], local.tm_min);
}

std::tm LocalTime(std::chrono::system_clock::time_point t) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    return tm;
}

std::string MinuteStamp(const std::tm& t) {
    return std::to_string(t.tm_year + 1900) + "-" + pad2(t.tm_mon + 1) + "-" + pad2(t.tm_mday) + "-" + pad2(t.tm_hour) +
           "-" + pad2(t.tm_min);
}

std::string TimeStamp(const std::tm& t) {
    return std::to_string(t.tm_year + 1900) + "-" + pad2(t.tm_mon + 1) + "-" + pad2(t.tm_mday) + " " + pad2(t.tm_hour) +
           ":" + pad2(t.tm_min) + ":" + pad2(t.tm_sec);
}

NumberListResult NormaliseNumberList(const std::string& text) {
    if (text.empty()) return {};
    auto list = numbers(text);
    if (!list) return {text, text + "   中,包含非数字"};
    std::vector<long long> unique;
    for (long long n : *list)
        if (std::find(unique.begin(), unique.end(), n) == unique.end()) unique.push_back(n);
    std::stable_sort(unique.begin(), unique.end());
    std::string out;
    for (std::size_t i = 0; i < unique.size(); ++i) out += (i ? "," : "") + std::to_string(unique[i]);
    return {out, {}};
}

std::optional<std::vector<std::string>> ReadScheduleFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string content(platform::utf8::stripBom(ss.str()));
    std::vector<std::string> lines;
    for (auto line : split(content, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!engine::TrimText(line).empty()) lines.push_back(line);
    }
    return lines;
}

bool WriteScheduleFile(const std::string& path, const std::vector<std::string>& lines) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << platform::utf8::kBom;
        for (const auto& l : lines) out << l << "\r\n";
        if (!out.flush()) return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string QueueEntryText(std::int64_t taskId, const std::string& name, const std::array<bool, 3>& stages) {
    return std::to_string(taskId) + "," + engine::TrimText(name) + "|" + StageFlagsText(stages) + "|临时任务|||";
}

}  // namespace tarvex::app
