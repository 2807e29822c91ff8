#include "publish/attachment_upload.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

#include "collect/http_fetch.h"
#include "engine/field_rule.h"
#include "platform/ftp_client.h"
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
    platform::HttpRequest r;
    r.method = "POST";
    r.url = url;
    r.userAgent = userAgent;
    r.connectTimeoutMs = timeoutMs;
    r.idleTimeoutMs = timeoutMs;
    r.followRedirects = true;
    r.tls.verifyPeer = false;
    if (url.rfind("https://", 0) == 0) collect::SetTlsVersion(sslVersion, r.tls);
    const collect::RunContext* ctx = &run;
    r.cancelled = [ctx] { return ctx->stopRequested(); };
    return r;
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
        std::ifstream in(f.localPath, std::ios::binary);
        if (!in) {
            run.pane("分片上传异常,返回：Cannot open " + f.localPath);
            continue;
        }
        in.seekg(0, std::ios::end);
        const long long size = static_cast<long long>(in.tellg());
        in.seekg(0, std::ios::beg);
        const long long piece = PieceBytes(settings.webPartSize);
        const long long parts = (size + piece - 1) / piece;
        // One piece in memory at a time: a large attachment is read as it is sent.
        std::string buffer;
        for (long long k = 1; k <= parts && !run.stopRequested(); ++k) {
            run.pane("正在上传分片：" + std::to_string(k) + "/" + std::to_string(parts));
            const long long n = std::min(piece, size - (k - 1) * piece);
            buffer.resize(static_cast<std::size_t>(n));
            in.read(buffer.data(), n);
            auto request = FormPost(url, kUploadUserAgent, 10000, upload.sslVersion, run);
            request.multipart.push_back(TextPart("tarvex", "upsingle_part", cs));
            request.multipart.push_back(TextPart("parts", std::to_string(parts), cs));
            request.multipart.push_back(TextPart("part", std::to_string(k), cs));
            request.multipart.push_back(TextPart("upload_name[]", BaseName(f.localPath), cs));
            request.multipart.push_back(TextPart("upload_newurl[]", f.newUrl, cs));
            platform::FormPart data;
            data.name = "upload_file[]";
            data.filename = inCharset(BaseName(f.newUrl), cs);
            data.contentType = "image/JPEG";
            data.transferEncoding = "binary";
            data.value = std::move(buffer);
            request.multipart.push_back(std::move(data));
            buffer.clear();
            std::string reply = send(run, request, cs, upload.progress, "分片上传异常,返回：");
            run.pane(isSuccess(reply) ? "上传分片成功!" : "上传分片返回错误：" + reply);
        }
    }
}

FtpTarget FtpTargetOf(const std::string& ftpDir, const std::string& newUrl) {
    std::string path = newUrl;
    if (path.rfind("http", 0) == 0) {
        auto scheme = path.find("://");
        auto slash = path.find('/', scheme == std::string::npos ? 0 : scheme + 3);
        path = slash == std::string::npos ? std::string() : path.substr(slash);
    }
    std::string whole = FtpBaseFolder(ftpDir) + "/" + path;
    std::replace(whole.begin(), whole.end(), '\\', '/');
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= whole.size()) {
        auto end = whole.find('/', start);
        if (end == std::string::npos) end = whole.size();
        if (end > start) segments.push_back(whole.substr(start, end - start));
        start = end + 1;
    }
    FtpTarget t;
    // Only the last segment names the file; a folder such as "ver1.2" is a folder.
    if (!segments.empty()) {
        t.fileName = segments.back();
        segments.pop_back();
    }
    t.folders = std::move(segments);
    return t;
}

int uploadAttachmentsFtp(const collect::RunContext& run, const std::vector<Attachment>& files,
                         const UploadSettings& settings) {
    int stored = 0;
    for (const auto& f : files) {
        if (run.stopRequested()) break;
        run.pane("正在FTP上传附件：" + f.newUrl);
        auto port = engine::ParseInteger(settings.ftpPort);
        if (!port || *port <= 0 || *port > 65535) {
            run.message("连接失败：'" + settings.ftpPort + "' is not a valid port number");
            break;
        }
        platform::FtpSettings fs;
        fs.host = settings.ftpIp;
        fs.port = static_cast<int>(*port);
        fs.user = settings.ftpUser;
        fs.password = settings.ftpPass;
        fs.passive = settings.ftpPassive;
        const collect::RunContext* ctx = &run;
        fs.cancelled = [ctx] { return ctx->stopRequested(); };
        platform::FtpClient client(fs);
        if (auto c = client.connect(); !c.ok) {
            run.message("连接失败：" + c.error);
            break;
        }
        FtpTarget target = FtpTargetOf(settings.ftpDir, f.newUrl);
        std::string failure;
        auto has = [&](const std::string& name) -> std::optional<bool> {
            auto list = client.listCurrent();
            if (!list.ok) {
                failure = list.error;
                return std::nullopt;
            }
            for (const auto& n : platform::MlsdNames(platform::gb18030ToUtf8(list.text)))
                if (n == name) return true;
            return false;
        };
        for (const auto& folder : target.folders) {
            auto present = has(folder);
            if (!present) break;
            const std::string wire = platform::utf8ToGb18030(folder);
            if (!*present) {
                if (auto r = client.makeDir(wire); !r.ok) {
                    failure = r.error;
                    break;
                }
            }
            if (auto r = client.changeDir(wire); !r.ok) {
                failure = r.error;
                break;
            }
        }
        if (failure.empty() && !target.fileName.empty()) {
            auto present = has(target.fileName);
            if (present && !*present) {
                if (auto r = client.store(f.localPath, platform::utf8ToGb18030(target.fileName)); r.ok)
                    ++stored;
                else
                    failure = r.error;
            }
        }
        if (!failure.empty()) {
            run.pane("FTP上传失败：" + failure);
            platform::WriteLog("TMyThread:FTP上传失败：" + f.newUrl + "," + failure, 0);
        }
    }
    return stored;
}

}  // namespace tarvex::publish
