#pragma once
// The multi-level page settings ("Morepage2") as the "多页提取" window edits them: the list of
// levels, one level's fields, the window's refusals, and its "测试提取" over a test address. No
// Qt: the window in ui/ and the tests share these rules.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvex::app {

// One level of "MorePageAll".
struct LevelForm {
    std::string title;                  // "title"
    std::string parent = "顶级内容页";  // "fatherurl"
    bool fromText = true;               // "radio_1" (true) or "radio_2" (false)
    bool byPattern = false;             // "radio_1_check"
    std::string begin, end;             // "radio_1_begin", "radio_1_end"
    std::string find, replace;          // "radio_2_url1", "radio_2_url2"
    std::string testUrl;                // "testurl"
    bool hasPages = false;              // "check_mulpage"
    std::string pagerBegin, pagerEnd;   // "Mul_begin", "Mul_end"
    std::string include, exclude;       // "Mul_include", "Mul_exclude"

    static LevelForm fromJson(const std::string& text);
    // The level's JSON text, check boxes as "-1"/"0".
    std::string toJson() const;
    // The window's refusal of this level on its own, or nullopt.
    std::optional<std::string> validate() const;
    bool operator==(const LevelForm&) const = default;
};

class MultiLevelForm {
public:
    // The levels of a "Morepage2" text; entries that are no JSON objects are left out.
    static MultiLevelForm fromJson(const std::string& morepage2);
    // {"MorePageAll": [level texts]}; "" when there are no levels (the key is then omitted).
    std::string toJson() const;

    const std::vector<LevelForm>& levels() const { return m_levels; }
    // The parents a level may name: "顶级内容页" and every other level's title. `index` is the
    // level being edited, or -1 for a new one.
    std::vector<std::string> parentChoices(int index) const;

    // Saves `level` as a new level (index -1) or over the level at `index`. A renamed level's
    // children follow it. Returns the refusal, or nullopt when saved.
    std::optional<std::string> saveLevel(int index, const LevelForm& level);
    // Deletes the level at `index` unless another level names it as parent.
    std::optional<std::string> removeLevel(int index);
    // "保存返回": the refusal when nothing was added or changed, else nullopt.
    std::optional<std::string> finish() const;
    bool changed() const { return m_changed; }

private:
    std::vector<LevelForm> m_levels;
    bool m_changed = false;
};

// What "测试提取" shows for one level: its address and the beginning of its text.
struct LevelTestResult {
    std::string address;
    std::string text;
    std::string error;  // why nothing could be tested; "" when the test ran
};
using TestFetch = std::function<std::string(const std::string& url, const std::string& options)>;
// Fetches `testUrl` as a content page and follows the levels up to and including `level`
// (the saved levels before it, then `level` itself) as a run would. `options` is the fetch
// option block of the task.
LevelTestResult TestLevel(const std::vector<LevelForm>& before, const LevelForm& level, const std::string& testUrl,
                          const std::string& options, const TestFetch& fetch);

}  // namespace tarvex::app
