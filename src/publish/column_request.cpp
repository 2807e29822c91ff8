#include "publish/column_request.h"

#include "platform/text_codec.h"
#include "platform/utf8.h"
#include "publish/attachment_upload.h"
#include "publish/publisher.h"

namespace tarvex::publish {

ColumnReply RequestColumnList(const PublishModule& module, const std::function<bool()>& cancelled) {
    std::string cookie, userAgent = kPublishUserAgent, sslVersion;
    for (const auto& [name, content] : module.fields()) {
        const std::string n = platform::utf8::lowerAscii(name);
        if (n == "jcookie") cookie = content;
        if (n == "juseragent") userAgent = content;
        if (n == "jsslversion") sslVersion = content;
    }
    const std::string address = module.address();
    const bool verifyTls = ModuleVerifiesTls(module.fields());
    auto request = FormPost(address, userAgent, 5000, sslVersion, verifyTls, cancelled);
    // The wait for the list is bounded as a whole, so the request always ends.
    request.totalTimeoutMs = 30000;
    request.cookie = cookie;
    platform::FormPart field = TextPart("tarvex", "GetAllClass", module.utf8() ? "UTF-8" : "GBK");
    field.transferEncoding = module.utf8() ? "8bit" : "binary";
    request.multipart.push_back(std::move(field));

    ColumnReply reply;
    const platform::HttpResponse response = platform::httpPerform(request);
    if (!response.transportOk()) {
        reply.error = "POST提交URL:" + RedactForLog(address) + ",提示错误：" + TransportErrorText(response, verifyTls);
        return reply;
    }
    if (!ReplyArrived(response)) {
        reply.error = "POST提交URL:" + RedactForLog(address) + ",提示错误：" + response.statusLine;
        return reply;
    }
    reply.text = module.utf8() ? platform::decodeToUtf8(response.body, "UTF-8").value_or(response.body)
                               : platform::gb18030ToUtf8(response.body);
    return reply;
}

}  // namespace tarvex::publish
