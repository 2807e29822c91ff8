#include "publish/module_test.h"

#include <algorithm>
#include <cctype>

#include "engine/field_rule.h"
#include "engine/text_tokens.h"
#include "platform/http_client.h"
#include "platform/run_log.h"
#include "platform/text_codec.h"
#include "platform/utf8.h"
#include "publish/attachment_upload.h"
#include "publish/publish_module.h"
#include "publish/publisher.h"
#include "publish/record_delivery.h"

namespace tarvex::publish {

namespace {}  // namespace

TestPublishResult TestPublish(const std::string& address, bool utf8,
                              const std::vector<std::pair<std::string, std::string>>& fields,
                              const platform::Clock& clock) {
    TestPublishResult out;
    std::string cookie, userAgent = kPublishUserAgent, successMarker, sslVersion;
    std::vector<std::pair<std::string, std::string>> form{{"tarvex", "AddInfo"}};
    std::string logged = "tarvex=AddInfo";
    for (const auto& [name, content] : fields) {
        std::string value =
            content.find("{dd:") != std::string::npos ? engine::ExpandTokens(content, {}, clock) : content;
        const std::string n = platform::utf8::lowerAscii(name);
        if (n == "cookie" || n == "jcookie")
            cookie = value;
        else if (n == "juseragent")
            userAgent = value;
        else if (n == "jsuccess")
            successMarker = value;
        else if (n == "jsslversion")
            sslVersion = value;
        form.emplace_back(name, value);
        logged += "\r\n" + name + "=" + value;
    }
    const std::string charset = utf8 ? "utf-8" : "gbk";
    const std::string url = engine::TrimText(address);
    // The same test content is the same test post: a second try is recognised by the site.
    std::string formText;
    for (const auto& [name, value] : form) formText += name + "=" + value + "\n";
    form.emplace_back(kRecordKeyField, RecordKey(0, url + "\n" + formText, "module-test"));
    const bool verifyTls = ModuleVerifiesTls(fields);
    auto request = FormPost(url, userAgent, 20000, sslVersion, verifyTls, std::function<bool()>{});
    request.cookie = cookie;
    request.contentType = "application/x-www-form-urlencoded";
    for (const auto& [name, value] : form) {
        if (utf8)
            request.formFields.emplace_back(name, value);
        else
            request.formFields.emplace_back(platform::utf8ToGb18030(name), platform::utf8ToGb18030(value));
    }
    request.totalTimeoutMs = 120000;
    platform::WriteLog("发布规则配置:测试发布:" + RedactForLog(url) + "\r\n" + RedactForLog(logged), 0);
    const platform::HttpResponse response = platform::httpPerform(request);
    if (!response.transportOk()) {
        out.message = "访问异常：" + TransportErrorText(response, verifyTls);
        return out;
    }
    auto decoded = platform::decodeToUtf8(response.body, charset);
    if (!decoded || (utf8 && !platform::utf8::isValid(response.body))) {
        out.message = "可能编码有误";
        out.reply = decoded.value_or(std::string());
        return out;
    }
    out.reply = *decoded;
    out.succeeded = ReplyArrived(response) &&
                    out.reply.find(successMarker.empty() ? std::string("succ|") : successMarker) != std::string::npos;
    // An error status (401, 404, 500, …) is named before the reply: the page a server sends with
    // it rarely says what went wrong, the status does.
    const std::string status = ReplyArrived(response) ? std::string() : response.statusLine + "\r";
    out.message = out.succeeded ? "发布成功" : "发布异常，返回:\r" + status + out.reply;
    return out;
}

}  // namespace tarvex::publish
