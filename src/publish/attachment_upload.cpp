#include "publish/attachment_upload.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "collect/http_fetch.h"
#include "engine/field_rule.h"
#include "platform/run_log.h"
#include "platform/text_codec.h"

namespace tarvex::publish {
namespace {

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
    return s;
}

std::string inCharset(const std::string& utf8, const std::string& charset) {
    if (charset == "GBK") return platform::encodeFromUtf8(utf8, "GBK").value_or(utf8);
    return utf8;
}

std::string decodeReply(const std::string& body, const std::string& charset) {
    if (charset == "GBK") return platform::gb18030ToUtf8(body);
    return platform::decodeToUtf8(body, "UTF-8").value_or(body);
}

void pauseMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// One upload request; the reply text ("" after a request error, which is shown and boxed).
std::string send(const collect::RunContext& run, platform::HttpRequest& request, const std::string& charset,
                 const SendProgress& progress, const std::string& errorPrefix) {
    if (progress)
        request.progress = [progress](std::uint64_t sent, std::uint64_t total, std::uint64_t, std::uint64_t) {
            progress(sent, total);
            return true;
        };
    SetOverallDeadline(request);
    platform::HttpResponse response = platform::httpPerform(request);
    if (!response.transportOk()) {
        if (response.error == platform::HttpError::Cancelled) return {};
        run.pane(errorPrefix + response.errorText);
        run.message(errorPrefix + response.errorText);
        return {};
    }
    std::string text = decodeReply(response.body, charset);
    // An error status is a failure whatever the body says.
    if (!ReplyArrived(response)) return response.statusLine + "\r" + text;
    return text;
}

}  // namespace

platform::HttpRequest FormPost(const std::string& url, const std::string& userAgent, int timeoutMs,
                               const std::string& sslVersion, const collect::RunContext& run) {
    const collect::RunContext* ctx = &run;
    return FormPost(url, userAgent, timeoutMs, sslVersion, [ctx] { return ctx->stopRequested(); });
}

platform::HttpRequest FormPost(const std::string& url, const std::string& userAgent, int timeoutMs,
                               const std::string& sslVersion, std::function<bool()> cancelled) {
    platform::HttpRequest r;
    r.method = "POST";
    r.url = url;
    r.userAgent = userAgent;
    r.connectTimeoutMs = timeoutMs;
    r.idleTimeoutMs = timeoutMs;
    r.followRedirects = true;
    r.tls.verifyPeer = false;
    if (url.rfind("https://", 0) == 0) collect::SetTlsVersion(sslVersion, r.tls);
    r.cancelled = std::move(cancelled);
    return r;
}

void SetOverallDeadline(platform::HttpRequest& request) {
    std::uint64_t bytes = 0;
    for (const auto& part : request.multipart) {
        if (part.filePath.empty()) {
            bytes += part.value.size();
        } else if (part.fileLength) {
            bytes += *part.fileLength;
        } else {
            std::error_code ec;
            const auto size = std::filesystem::file_size(part.filePath, ec);
            if (!ec) bytes += size;
        }
    }
    const std::uint64_t base = std::max<std::uint64_t>(60000, 10ULL * static_cast<unsigned>(request.idleTimeoutMs));
    const std::uint64_t forFiles = bytes / (4ULL * 1024 * 1024) * 60000 + 60000;
    request.totalTimeoutMs = static_cast<int>(std::min<std::uint64_t>(base + forFiles, INT32_MAX));
}

bool ReplyArrived(const platform::HttpResponse& response) {
    return response.transportOk() && response.status > 0 && response.status < 400;
}

std::vector<Attachment> AttachmentsFromPending(const std::vector<std::string>& lines) {
    std::vector<Attachment> out;
    for (const auto& line : lines) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        out.push_back({replaceAll(line.substr(0, eq), "<临时等号>", "="), line.substr(eq + 1)});
    }
    return out;
}

std::string BaseName(const std::string& path) {
    auto p = path.find_last_of("/\\");
    return p == std::string::npos ? path : path.substr(p + 1);
}

platform::FormPart TextPart(const std::string& name, const std::string& value, const std::string& charset) {
    platform::FormPart p;
    p.name = inCharset(name, charset);
    p.value = inCharset(value, charset);
    p.contentType = "text/plain; charset=" + charset;
    p.transferEncoding = "8bit";
    return p;
}

void AppendAttachmentParts(std::vector<platform::FormPart>& parts, const Attachment& file, const std::string& charset) {
    parts.push_back(TextPart("upload_name[]", BaseName(file.localPath), charset));
    parts.push_back(TextPart("upload_newurl[]", file.newUrl, charset));
    platform::FormPart data;
    data.name = "upload_file[]";
    data.filename = inCharset(BaseName(file.localPath), charset);
    data.contentType = "image/JPEG";
    data.filePath = file.localPath;
    parts.push_back(std::move(data));
}

void uploadAttachmentsWeb(const collect::RunContext& run, const WebUpload& upload, const UploadSettings& settings) {
    if (upload.files.empty()) return;
    const std::string url = !settings.webUrl.empty() ? settings.webUrl : upload.postUrl;
    if (url.empty()) {
        run.message("单附件批量上传，接口地址不存在！");
        return;
    }
    const std::string& cs = upload.charset;
    auto isSuccess = [](const std::string& reply) { return reply.find("succ|") != std::string::npos; };

    if (settings.webCheck3) {
        run.pane("先批量上传[" + std::to_string(upload.files.size()) + "]个附件");
        auto request = FormPost(url, kUploadUserAgent, 30000, upload.sslVersion, run);
        request.multipart.push_back(TextPart("tarvex", "upall", cs));
        for (const auto& f : upload.files) {
            if (!std::ifstream(f.localPath, std::ios::binary)) continue;
            AppendAttachmentParts(request.multipart, f, cs);
            pauseMs(10);
        }
        std::string reply = send(run, request, cs, upload.progress, "单附件上传异常,返回：");
        run.pane(isSuccess(reply) ? "上传附件成功!" : "上传返回错误：" + reply);
        return;
    }

    const std::size_t count = upload.files.size();
    for (std::size_t i = 0; i < count && !run.stopRequested(); ++i) {
        const Attachment& f = upload.files[i];
        if (!settings.webCheckPart) {
            run.pane("正在上传附件[" + std::to_string(i + 1) + "/" + std::to_string(count) + "]:" + f.newUrl);
            auto request = FormPost(url, kUploadUserAgent, 30000, upload.sslVersion, run);
            request.multipart.push_back(TextPart("tarvex", "upsingle", cs));
            if (std::ifstream(f.localPath, std::ios::binary)) AppendAttachmentParts(request.multipart, f, cs);
            std::string reply = send(run, request, cs, upload.progress, "单附件上传异常,返回：");
            run.pane(isSuccess(reply) ? "上传附件成功!" : "上传返回错误：" + reply);
            continue;
        }
        run.pane("准备上传附件：" + f.newUrl);
        std::error_code ec;
        const auto size = std::filesystem::file_size(f.localPath, ec);
        if (ec) {
            run.pane("分片上传异常,返回：Cannot open " + f.localPath);
            continue;
        }
        const std::uint64_t piece = static_cast<std::uint64_t>(PieceBytes(settings.webPartSize));
        const std::uint64_t parts = (size + piece - 1) / piece;
        for (std::uint64_t k = 1; k <= parts && !run.stopRequested(); ++k) {
            run.pane("正在上传分片：" + std::to_string(k) + "/" + std::to_string(parts));
            auto request = FormPost(url, kUploadUserAgent, 10000, upload.sslVersion, run);
            request.multipart.push_back(TextPart("tarvex", "upsingle_part", cs));
            request.multipart.push_back(TextPart("parts", std::to_string(parts), cs));
            request.multipart.push_back(TextPart("part", std::to_string(k), cs));
            request.multipart.push_back(TextPart("upload_name[]", BaseName(f.localPath), cs));
            request.multipart.push_back(TextPart("upload_newurl[]", f.newUrl, cs));
            // The piece is read from disk as it is sent: a large attachment never sits in memory.
            platform::FormPart data;
            data.name = "upload_file[]";
            data.filename = inCharset(BaseName(f.newUrl), cs);
            data.contentType = "image/JPEG";
            data.transferEncoding = "binary";
            data.filePath = f.localPath;
            data.fileOffset = (k - 1) * piece;
            data.fileLength = std::min(piece, size - (k - 1) * piece);
            request.multipart.push_back(std::move(data));
            std::string reply = send(run, request, cs, upload.progress, "分片上传异常,返回：");
            run.pane(isSuccess(reply) ? "上传分片成功!" : "上传分片返回错误：" + reply);
        }
    }
}

}  // namespace tarvex::publish
