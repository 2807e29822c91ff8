#pragma once
// The test publication of the publish module editor: the module's fields as they stand on
// screen (not a saved file) posted once to its interface address as "tarvex=AddInfo", with
// the module's special lines applied and no record behind it. Any thread; blocks for the request.
#include <string>
#include <utility>
#include <vector>

#include "platform/ports.h"

namespace tarvex::publish {

struct TestPublishResult {
    bool succeeded = false;
    // What the editor shows: "发布成功", "发布异常，返回:" + CR + reply (after the status line and a CR
    // when the status is an error), "访问异常：" + message
    // or "可能编码有误".
    std::string message;
    std::string reply;  // appended to the editor's reply box ("" when no reply arrived)
};

// `fields`: name and content of each row in list order. Every row is sent as a form field,
// special names included; contents with "{dd:" have their text tokens expanded. The log line
// of the request hides cookie and password values.
TestPublishResult TestPublish(const std::string& address, bool utf8,
                              const std::vector<std::pair<std::string, std::string>>& fields,
                              const platform::Clock& clock = platform::SystemClock::instance());

}  // namespace tarvex::publish
