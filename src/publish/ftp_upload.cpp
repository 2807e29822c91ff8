#include "publish/ftp_upload.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "engine/field_rule.h"
#include "platform/ftp_client.h"
#include "platform/run_log.h"
#include "platform/text_codec.h"

namespace tarvex::publish {
namespace {

std::vector<std::string> pathSegments(const std::string& path) {
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return segments;
}

// A client for the settings, or the reason there can be none (a port that is no port).
std::optional<platform::FtpSettings> clientSettings(const UploadSettings& s, const std::function<bool()>& cancelled,
                                                    std::string& error) {
    auto port = engine::ParseInteger(engine::TrimText(s.ftpPort));
    if (!port || *port <= 0 || *port > 65535) {
        error = "'" + s.ftpPort + "' is not a valid port number";
        return std::nullopt;
    }
    platform::FtpSettings fs;
    fs.host = engine::TrimText(s.ftpIp);
    fs.port = static_cast<int>(*port);
    fs.user = s.ftpUser;
    fs.password = s.ftpPass;
    fs.passive = s.ftpPassive;
    fs.cancelled = cancelled;
    return fs;
}

// The names of the current folder, or nullopt with the reason in `error`.
std::optional<std::vector<std::string>> listNames(platform::FtpClient& client, std::string& error,
                                                  std::string* listing = nullptr) {
    auto list = client.listCurrent();
    if (!list.ok) {
        error = list.error;
        return std::nullopt;
    }
    std::string text = platform::gb18030ToUtf8(list.text);
    auto names = platform::MlsdNames(text);
    if (listing) *listing = std::move(text);
    return names;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Enters each folder in turn from the current one, creating it when the listing lacks it.
// `onListing` sees every listing taken on the way. False with the reason in `error`.
bool enterFolders(platform::FtpClient& client, const std::vector<std::string>& folders, std::string& error,
                  const std::function<void(const std::string&)>& onListing = {}) {
    for (const auto& folder : folders) {
        std::string listing;
        auto names = listNames(client, error, &listing);
        if (!names) return false;
        if (onListing) onListing(listing);
        const std::string wire = platform::utf8ToGb18030(folder);
        if (!contains(*names, folder)) {
            if (auto r = client.makeDir(wire); !r.ok) {
                error = r.error;
                return false;
            }
        }
        if (auto r = client.changeDir(wire); !r.ok) {
            error = r.error;
            return false;
        }
    }
    return true;
}

}  // namespace

FtpTarget FtpTargetOf(const std::string& ftpDir, const std::string& newUrl) {
    std::string path = newUrl;
    if (path.rfind("http", 0) == 0) {
        auto scheme = path.find("://");
        auto slash = path.find('/', scheme == std::string::npos ? 0 : scheme + 3);
        path = slash == std::string::npos ? std::string() : path.substr(slash);
    }
    std::string whole = FtpBaseFolder(ftpDir) + "/" + path;
    std::replace(whole.begin(), whole.end(), '\\', '/');
    std::vector<std::string> segments = pathSegments(whole);
    FtpTarget t;
    // Only the last segment names the file; a folder such as "ver1.2" is a folder.
    if (!segments.empty()) {
        t.fileName = segments.back();
        segments.pop_back();
    }
    t.folders = std::move(segments);
    return t;
}

UploadReport uploadAttachmentsFtp(const collect::RunContext& run, const std::vector<Attachment>& files,
                                  const UploadSettings& settings) {
    UploadReport report(files.size());
    const collect::RunContext* ctx = &run;
    const std::function<bool()> stop = [ctx] { return ctx->stopRequested(); };
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Attachment& f = files[i];
        if (run.stopRequested()) {
            report.cancelled = true;
            break;
        }
        run.pane("正在FTP上传附件：" + f.newUrl);
        // A name with ".." would leave the base folder; a script would run on the site.
        if (const std::string why = RefusedAttachment(f); !why.empty()) {
            run.pane(why);
            platform::WriteLog("TMyThread:" + why, 0);
            report.problems.push_back(why);
            continue;
        }
        std::string failure;
        auto fs = clientSettings(settings, stop, failure);
        if (!fs) {
            run.message("连接失败：" + failure);
            report.problems.push_back("连接失败：" + failure);
            break;
        }
        platform::FtpClient client(*fs);
        if (auto c = client.connect(); !c.ok) {
            if (run.stopRequested()) {
                report.cancelled = true;
                break;
            }
            run.message("连接失败：" + c.error);
            report.problems.push_back("连接失败：" + c.error);
            break;
        }
        const FtpTarget target = FtpTargetOf(settings.ftpDir, f.newUrl);
        const std::string name = BaseName(f.localPath);
        if (enterFolders(client, target.folders, failure)) {
            auto names = listNames(client, failure);
            if (names && contains(*names, name)) {
                // Already there (an earlier run stored it): it is not overwritten.
                report.uploaded[i] = true;
            } else if (names) {
                if (auto r = client.store(f.localPath, platform::utf8ToGb18030(name)); r.ok)
                    report.uploaded[i] = true;
                else
                    failure = r.error.empty() ? std::string("STOR failed") : r.error;
            }
        }
        if (!report.uploaded[i] && failure.empty()) failure = "未知错误";
        if (!report.uploaded[i] && !run.stopRequested()) {
            run.pane("FTP上传失败：" + failure);
            platform::WriteLog("TMyThread:FTP上传失败：" + f.newUrl + "," + failure, 0);
            report.problems.push_back(f.newUrl + "：FTP上传失败：" + failure);
        }
        if (run.stopRequested() && !report.uploaded[i]) report.cancelled = true;
    }
    return report;
}

std::string FtpTestConnection(const UploadSettings& settings, const std::function<bool()>& cancelled) {
    std::string error;
    auto fs = clientSettings(settings, cancelled, error);
    if (!fs) return "连接失败：" + error;
    platform::FtpClient client(*fs);
    auto r = client.connect();
    return r.ok ? "连接成功！" : "连接失败：" + r.error;
}

FtpTestResult FtpTestUpload(const UploadSettings& settings, const std::string& programFolder,
                            const std::function<bool()>& cancelled) {
    FtpTestResult result;
    const std::string local = programFolder + kFtpTestFile;
    std::error_code ec;
    if (!std::filesystem::exists(local, ec)) {
        std::ofstream out(local, std::ios::binary);
        out << "Tarvex采集器 FTP上传测试文件，可以删除。\r\n";
    }
    std::string error;
    auto fs = clientSettings(settings, cancelled, error);
    if (!fs) {
        result.message = "连接失败：" + error;
        return result;
    }
    platform::FtpClient client(*fs);
    if (auto c = client.connect(); !c.ok) {
        result.message = "连接失败：" + c.error;
        return result;
    }
    auto addToLog = [&](const std::string& listing) { result.log += listing + (listing.empty() ? "" : "\r\n"); };
    const std::string base = FtpBaseFolder(settings.ftpDir);
    std::string listing;
    std::optional<std::vector<std::string>> names;
    if (enterFolders(client, pathSegments(base), error, addToLog)) names = listNames(client, error, &listing);
    if (!names) {
        result.message = "上传失败！" + error;
        return result;
    }
    addToLog(listing);
    if (listing.find(kFtpTestFile) != std::string::npos) {
        result.message =
            std::string("测试失败。测试文件已存在！路径是:/") + (base.empty() ? "" : base + "/") + kFtpTestFile;
        return result;
    }
    if (auto r = client.store(local, kFtpTestFile); !r.ok) {
        result.message = "上传失败！" + r.error;
        return result;
    }
    names = listNames(client, error, &listing);
    if (names) addToLog(listing);
    result.message = names && listing.find(kFtpTestFile) != std::string::npos ? "上传成功！" : "上传失败！";
    return result;
}

}  // namespace tarvex::publish
