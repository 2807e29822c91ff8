#pragma once
// The column request ("tarvex=GetAllClass"): asks the target site's interface script, through
// a publish module, for its column list. Blocks the calling thread (callers run it on a thread
// of its own); never throws.
#include <functional>
#include <string>

#include "publish/publish_module.h"

namespace tarvex::publish {

struct ColumnReply {
    std::string text;   // the reply decoded by the module's charset; "" after an error
    std::string error;  // "POST提交URL:" + address + ",提示错误：" + reason; "" when a reply came
};

// One multipart POST of the single field "tarvex" = "GetAllClass" to the module's address, in
// the module's charset (UTF-8 "8bit", or GBK "binary"), with the module's "jcookie",
// "juseragent" and "jsslversion" lines; connect and read time-outs of 5 s, the whole request
// at most 30 s. A reply with an error status (400 or above) is an error. `cancelled` is polled.
ColumnReply RequestColumnList(const PublishModule& module, const std::function<bool()>& cancelled = {});

}  // namespace tarvex::publish
