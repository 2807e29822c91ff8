#pragma once
// Sending a record's pending attachments: the three form parts per attachment and the web
// upload interface ("upall", "upsingle", "upsingle_part"). Runs on the
// runner thread; reports to the run's slot pane (and message boxes on request errors); every
// request polls the run's stop. Never throws.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "collect/run_context.h"
#include "platform/http_client.h"
#include "publish/upload_settings.h"

namespace tarvex::publish {

struct Attachment {
    std::string localPath;
    std::string newUrl;
};

// The lines of collect::PendingDownloads (localurl=newurl, "=" in the path as "<临时等号>").
std::vector<Attachment> AttachmentsFromPending(const std::vector<std::string>& lines);

// The upload client's User-Agent (it differs from the publishing request's in "4522").
inline constexpr const char* kUploadUserAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 5.1; SV1; Maxthon; .NET CLR 1.1.4522)";

// The file-name part of a path or address, "/" and "\" both separating.
std::string BaseName(const std::string& path);
// A text part in the form's charset ("GBK" or "utf-8"), 8bit.
platform::FormPart TextPart(const std::string& name, const std::string& value, const std::string& charset);
// "upload_name[]", "upload_newurl[]" and "upload_file[]" (the file streamed from disk).
void AppendAttachmentParts(std::vector<platform::FormPart>& parts, const Attachment& file, const std::string& charset);

// What became of the files of one upload call: which reached the site, and why the others did
// not (one pane-ready line each). A record is published only when every file arrived.
struct UploadReport {
    std::vector<bool> uploaded;         // per file, in the order given
    std::vector<std::string> problems;  // a file refused before sending, or failed on the way
    bool cancelled = false;             // the run's stop ended the uploads
    explicit UploadReport(std::size_t files = 0) : uploaded(files, false) {}
    bool complete() const {
        return problems.empty() && !cancelled && std::find(uploaded.begin(), uploaded.end(), false) == uploaded.end();
    }
};

// Why the attachment must not leave the machine: its newurl leaves its folder, hides or names
// a script, or its local file's name does. "" when it may go; the text names the file.
std::string RefusedAttachment(const Attachment& file);

// Observes the bytes sent of each upload request (bar 2 of the slot page).
using SendProgress = std::function<void(std::uint64_t sent, std::uint64_t total)>;

struct WebUpload {
    std::vector<Attachment> files;
    std::string postUrl;     // the module's interface address (used when "web_url" is empty)
    std::string charset;     // "GBK" or "utf-8"
    std::string sslVersion;  // "1.2" forces TLS 1.2
    bool verifyTls = true;   // the module's "sslverify=0" turns certificate checks off
    SendProgress progress;
};

// `uploadAttachmentsWeb`: batch, one request per file, or one per piece, as the settings say.
// Refused names are not sent (the rest go on); a file counts as uploaded when its request (or
// every one of its pieces) was answered with success.
UploadReport uploadAttachmentsWeb(const collect::RunContext& run, const WebUpload& upload,
                                  const UploadSettings& settings);

}  // namespace tarvex::publish

namespace tarvex::publish {
// A multipart POST as every publishing request is made: HTTP/1.1, redirects followed within
// the address's own site (a 307/308 to another host or port is refused, never re-sent there),
// the given connect and idle time-outs, TLS 1.2 forced for https when `sslVersion` is "1.2",
// certificates checked against the system's store unless `verifyTls` is false, the run's stop
// polled. The parts are added by the caller.
platform::HttpRequest FormPost(const std::string& url, const std::string& userAgent, int timeoutMs,
                               const std::string& sslVersion, bool verifyTls, const collect::RunContext& run);
// The same for a request outside a run: `cancelled` is polled instead of the run's stop.
platform::HttpRequest FormPost(const std::string& url, const std::string& userAgent, int timeoutMs,
                               const std::string& sslVersion, bool verifyTls, std::function<bool()> cancelled);
// Whether a module's lines leave certificate checks on: off only for "sslverify=0" (or
// "false", "off", "no").
bool ModuleVerifiesTls(const std::vector<std::pair<std::string, std::string>>& fields);
// A transport failure as the user reads it: a certificate failure says how to turn the check
// off for a site with its own certificate.
std::string TransportErrorText(const platform::HttpResponse& response, bool verifyTls);
// Bounds a built request as a whole: ten idle time-outs (at least a minute) plus a minute for
// every 4 MB of files it sends, so a server that trickles its reply cannot hold a run for ever
// while a large upload over a slow line still gets its time.
void SetOverallDeadline(platform::HttpRequest& request);
// A reply counts as the interface's answer when it arrived with a status below 400.
bool ReplyArrived(const platform::HttpResponse& response);
}  // namespace tarvex::publish
