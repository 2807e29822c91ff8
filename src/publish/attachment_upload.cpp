#include "publish/attachment_upload.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "collect/attachment_safety.h"
#include "collect/http_fetch.h"
#include "engine/field_rule.h"
#include "platform/run_log.h"
#include "platform/text_codec.h"
#include "platform/utf8.h"

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
                 const SendProgress& progress, const std::string& errorPrefix, bool verifyTls) {
    if (progress)
        request.progress = [progress](std::uint64_t sent, std::uint64_t total, std::uint64_t, std::uint64_t) {
            progress(sent, total);
            return true;
        };
    SetOverallDeadline(request);
    platform::HttpResponse response = platform::httpPerform(request);
    if (!response.transportOk()) {
        if (response.error == platform::HttpError::Cancelled) return {};
        const std::string why = TransportErrorText(response, verifyTls);
        run.pane(errorPrefix + why);
        run.message(errorPrefix + why);
        return {};
    }
    std::string text = decodeReply(response.body, charset);
    // An error status is a failure whatever the body says.
    if (!ReplyArrived(response)) return response.statusLine + "\r" + text;
    return text;
}

}  // namespace

platform::HttpRequest FormPost(const std::string& url, const std::string& userAgent, int timeoutMs,
                               const std::string& sslVersion, bool verifyTls, const collect::RunContext& run) {
    const collect::RunContext* ctx = &run;
    return FormPost(url, userAgent, timeoutMs, sslVersion, verifyTls, [ctx] { return ctx->stopRequested(); });
}

platform::HttpRequest FormPost(const std::string& url, const std::string& userAgent, int timeoutMs,
                               const std::string& sslVersion, bool verifyTls, std::function<bool()> cancelled) {
    platform::HttpRequest r;
    r.method = "POST";
    r.url = url;
    r.userAgent = userAgent;
    r.connectTimeoutMs = timeoutMs;
    r.idleTimeoutMs = timeoutMs;
    r.followRedirects = true;
    // A form carries the record and the address carries the secret: neither goes to a site
    // the user never named.
    r.keepPostOnOrigin = true;
    r.tls.verifyPeer = verifyTls;
    if (url.rfind("https://", 0) == 0) collect::SetTlsVersion(sslVersion, r.tls);
    r.cancelled = std::move(cancelled);
    return r;
}

bool ModuleVerifiesTls(const std::vector<std::pair<std::string, std::string>>& fields) {
    bool verify = true;
    for (const auto& [name, value] : fields) {
        if (platform::utf8::lowerAscii(name) != "sslverify") continue;
        const std::string v = platform::utf8::lowerAscii(engine::TrimText(value));
        verify = !(v == "0" || v == "false" || v == "off" || v == "no");
    }
    return verify;
}

std::string TransportErrorText(const platform::HttpResponse& response, bool verifyTls) {
    if (response.error == platform::HttpError::Tls && verifyTls)
        return response.errorText +
               "（证书校验失败：网站证书不受信任或与域名不符。若该站使用自签名证书，可在发布模块中加一行 sslverify=0 "
               "关闭校验）";
    return response.errorText;
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

std::string RefusedAttachment(const Attachment& file) {
    std::string why = collect::UnsafeUploadPath(file.newUrl);
    if (why.empty()) why = collect::UnsafeFileName(BaseName(file.localPath));
    return why.empty() ? std::string() : "附件拒绝上传：" + why;
}

UploadReport uploadAttachmentsWeb(const collect::RunContext& run, const WebUpload& upload,
                                  const UploadSettings& settings) {
    UploadReport report(upload.files.size());
    if (upload.files.empty()) return report;
    const std::string url = !settings.webUrl.empty() ? settings.webUrl : upload.postUrl;
    if (url.empty()) {
        run.message("单附件批量上传，接口地址不存在！");
        report.problems.push_back("单附件批量上传，接口地址不存在！");
        return report;
    }
    const std::string& cs = upload.charset;
    auto isSuccess = [](const std::string& reply) { return reply.find("succ|") != std::string::npos; };
    // Names that would put a script on the site or leave the upload folder never go out.
    std::vector<bool> refused(upload.files.size(), false);
    for (std::size_t i = 0; i < upload.files.size(); ++i) {
        const std::string why = RefusedAttachment(upload.files[i]);
        if (why.empty()) continue;
        refused[i] = true;
        run.pane(why);
        platform::WriteLog("TMyThread:" + why, 0);
        report.problems.push_back(why);
    }
    auto failed = [&](std::size_t i, const std::string& why) {
        report.problems.push_back(upload.files[i].newUrl + "：" + why);
    };

    if (settings.webCheck3) {
        run.pane("先批量上传[" + std::to_string(upload.files.size()) + "]个附件");
        auto request = FormPost(url, kUploadUserAgent, 30000, upload.sslVersion, upload.verifyTls, run);
        request.multipart.push_back(TextPart("tarvex", "upall", cs));
        std::vector<std::size_t> sent;
        for (std::size_t i = 0; i < upload.files.size(); ++i) {
            const auto& f = upload.files[i];
            if (refused[i]) continue;
            if (!std::ifstream(f.localPath, std::ios::binary)) {
                failed(i, "本地文件不存在");
                continue;
            }
            AppendAttachmentParts(request.multipart, f, cs);
            sent.push_back(i);
            pauseMs(10);
        }
        if (sent.empty()) return report;
        std::string reply = send(run, request, cs, upload.progress, "单附件上传异常,返回：", upload.verifyTls);
        if (run.stopRequested()) report.cancelled = true;
        const bool ok = isSuccess(reply);
        run.pane(ok ? "上传附件成功!" : "上传返回错误：" + reply);
        // The batch reply does not say which files it kept: all of them or none.
        for (std::size_t i : sent) {
            if (ok)
                report.uploaded[i] = true;
            else
                failed(i, "批量上传失败");
        }
        return report;
    }

    const std::size_t count = upload.files.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (run.stopRequested()) {
            report.cancelled = true;
            break;
        }
        const Attachment& f = upload.files[i];
        if (refused[i]) continue;
        if (!settings.webCheckPart) {
            run.pane("正在上传附件[" + std::to_string(i + 1) + "/" + std::to_string(count) + "]:" + f.newUrl);
            auto request = FormPost(url, kUploadUserAgent, 30000, upload.sslVersion, upload.verifyTls, run);
            request.multipart.push_back(TextPart("tarvex", "upsingle", cs));
            if (std::ifstream(f.localPath, std::ios::binary)) AppendAttachmentParts(request.multipart, f, cs);
            std::string reply = send(run, request, cs, upload.progress, "单附件上传异常,返回：", upload.verifyTls);
            const bool ok = isSuccess(reply);
            run.pane(ok ? "上传附件成功!" : "上传返回错误：" + reply);
            if (ok)
                report.uploaded[i] = true;
            else
                failed(i, reply.empty() ? "上传失败" : reply);
            continue;
        }
        run.pane("准备上传附件：" + f.newUrl);
        std::error_code ec;
        const auto size = std::filesystem::file_size(f.localPath, ec);
        if (ec) {
            run.pane("分片上传异常,返回：Cannot open " + f.localPath);
            failed(i, "本地文件不存在");
            continue;
        }
        const std::uint64_t piece = static_cast<std::uint64_t>(PieceBytes(settings.webPartSize));
        const std::uint64_t parts = (size + piece - 1) / piece;
        bool allPieces = true;
        for (std::uint64_t k = 1; k <= parts; ++k) {
            if (run.stopRequested()) {
                report.cancelled = true;
                allPieces = false;
                break;
            }
            run.pane("正在上传分片：" + std::to_string(k) + "/" + std::to_string(parts));
            auto request = FormPost(url, kUploadUserAgent, 10000, upload.sslVersion, upload.verifyTls, run);
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
            std::string reply = send(run, request, cs, upload.progress, "分片上传异常,返回：", upload.verifyTls);
            const bool ok = isSuccess(reply);
            run.pane(ok ? "上传分片成功!" : "上传分片返回错误：" + reply);
            if (!ok) {
                // The pieces after a lost one cannot make the file: the next run sends it anew.
                allPieces = false;
                failed(i, "分片" + std::to_string(k) + "/" + std::to_string(parts) + "上传失败");
                break;
            }
        }
        report.uploaded[i] = allPieces;
    }
    return report;
}

}  // namespace tarvex::publish
