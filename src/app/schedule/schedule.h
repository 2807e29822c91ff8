#pragma once
// Schedule lines of "config/autotask.txt" and waiting-queue entries: their format, the due
// test, the number lists the schedule dialog normalises, and reading and writing the file.
// Pure functions over text and a local time; any thread.
#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace tarvex::app {

// The marker that makes a line a waiting-queue entry: always due, no once-per-minute rule.
inline constexpr const char* kQueueMarker = "|临时任务|";

// One line split at "|": 0 id + "," + name, 1 stage flags, 2 minutes, 3 days of the month,
// 4 weekdays (1 = Monday … 7 = Sunday), 5 hours. Missing fields are empty.
struct ScheduleLine {
    std::string text;                   // the line as stored
    std::array<std::string, 6> fields;  // fields 0–5
    bool queueEntry = false;            // contains "|临时任务|"

    static ScheduleLine parse(const std::string& text);
    const std::string& key() const { return fields[0]; }
};

// Field 0 read as id and name; nullopt when it is not a positive integer, a comma and a name.
struct TaskKey {
    std::int64_t id = 0;
    std::string name;
};
std::optional<TaskKey> ParseTaskKey(const std::string& field0);

// Stage flags "1,1,0" as list, content and publish; a missing part is off.
std::array<bool, 3> ParseStageFlags(const std::string& field1);
std::string StageFlagsText(const std::array<bool, 3>& stages);

// Why a line cannot be judged: a number field that is not a list of integers. Empty when the
// line is well formed (a queue entry always is).
std::string ScheduleLineProblem(const ScheduleLine& line);

// `IsScheduleDue` at a local time. A queue entry is always due; a malformed line never is.
bool IsScheduleDue(const ScheduleLine& line, const std::tm& local);
std::tm LocalTime(std::chrono::system_clock::time_point t);
// "yyyy-mm-dd-hh-nn": the minute a schedule line last started.
std::string MinuteStamp(const std::tm& local);
// "yyyy-mm-dd hh:nn:ss".
std::string TimeStamp(const std::tm& local);

// `NormaliseNumberList`: duplicates removed (the first kept), sorted by value, joined with ",".
// An empty text stays empty. A part that is not an integer yields the error
// text + "   中,包含非数字".
struct NumberListResult {
    std::string text;   // the normalised list
    std::string error;  // non-empty when refused
};
NumberListResult NormaliseNumberList(const std::string& text);

// The lines of the schedule file (byte-order mark removed, CR LF or LF, empty lines dropped);
// nullopt when the file cannot be read (missing).
std::optional<std::vector<std::string>> ReadScheduleFile(const std::string& path);
// Writes the lines as UTF-8 with a byte-order mark, one per line (CR LF), replacing the file
// in one step so a reader never sees half of it. False when it cannot be written.
bool WriteScheduleFile(const std::string& path, const std::vector<std::string>& lines);

// A waiting-queue entry: id + "," + name (blanks trimmed) + "|" + flags + "|临时任务|||".
std::string QueueEntryText(std::int64_t taskId, const std::string& name, const std::array<bool, 3>& stages);

}  // namespace tarvex::app
