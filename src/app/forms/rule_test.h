#pragma once
// Trying a task's rules without a run: "测试列表" over the first list page (the area, the links
// it yields with their list-page fields, warnings), the fields of one content page with the
// reason of every empty one, and the page text the rule windows show, fetched with the task's
// own options, charset and cookie. The windows and `tarvex-cli test` call the same routines,
// so both show the same thing. Nothing is stored. Any thread (the fetch blocks).
#include <functional>
#include <string>
#include <vector>

#include "app/single_page/single_page.h"
#include "app/workspace/workspace.h"
#include "collect/list_links.h"

namespace tarvex::app {

// Fetches one page: "succ:" + text or "fail:" + message, as HttpGet answers.
using PageFetch = std::function<std::string(const std::string& url, const std::string& options)>;
// HttpGet.
PageFetch DefaultPageFetch();

struct TestPage {
    bool ok = false;
    std::string text;   // the decoded page
    std::string error;  // why there is no page
};
// The page at `url` fetched as the run fetches a list page (`asList`, with the list settings'
// referer and time-out) or a content page, with the options of `settingsJson`.
TestPage FetchTestPage(const std::string& settingsJson, const std::string& url, bool asList,
                       const PageFetch& fetch = DefaultPageFetch());

// The list addresses of the settings' list sources, in order.
std::vector<std::string> ListAddresses(const std::string& settingsJson, const std::string& programFolder);

struct ListTest {
    std::string address;  // the list page tried; "" when the task has none
    std::string error;    // the page could not be had; the preview is then empty
    collect::ListPagePreview preview;
    // The first content address the list yields (the list address itself in direct mode).
    std::string firstContentAddress() const;
};
// "测试列表": `address` ("" = the first list address) fetched and cut with the settings' list
// settings; `listSettingsJson` overrides the document's "Morepage" (the window's unsaved form).
ListTest TestList(const std::string& settingsJson, const std::string& programFolder, const std::string& address = {},
                  const std::string& listSettingsJson = {}, const PageFetch& fetch = DefaultPageFetch());

struct FieldTest {
    std::string address;
    std::string error;  // the page could not be collected
    std::vector<FieldCheck> fields;
    std::vector<std::string> lines;  // what the collection showed on the way
};
// The fields of the content page at `address` as the single-page mode collects them (its pages
// and multi-level pages included, attachments not downloaded), every empty one with its reason.
FieldTest TestFields(const Workspace& ws, std::int64_t taskId, const std::string& settingsJson,
                     const std::string& address);

struct TaskTest {
    ListTest list;
    FieldTest content;
};
// `tarvex-cli test`: the list test of the first list address, then the fields of `contentAddress`
// ("" = the first address the list test yields).
TaskTest TestTask(const Workspace& ws, std::int64_t taskId, const std::string& settingsJson,
                  const std::string& contentAddress = {});

// The reports as text lines (the windows and the command line) and as JSON.
std::vector<std::string> ListTestLines(const ListTest& test);
std::vector<std::string> FieldTestLines(const FieldTest& test);
std::string TaskTestJson(const TaskTest& test);
// Fields that came out empty; the command line's exit status depends on them.
std::vector<std::string> EmptyFieldNames(const FieldTest& test);

}  // namespace tarvex::app
