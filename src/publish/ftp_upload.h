#pragma once
// FTP upload of a record's attachments and the two test buttons of the upload settings window.
// Each attachment goes into the folder path of its newurl under the base folder "ftp_dir" on a
// fresh connection; missing folders are created, a file that is already there is never
// overwritten, names travel in GBK. Runs on the calling thread (the runner, or a background
// thread of the settings window); never throws.
#include <functional>
#include <string>
#include <vector>

#include "collect/run_context.h"
#include "publish/attachment_upload.h"
#include "publish/upload_settings.h"

namespace tarvex::publish {

// The folders an attachment goes into: the base folder, then the path of its newurl (the
// scheme and host dropped from an http address) without its last segment, which names the file.
struct FtpTarget {
    std::vector<std::string> folders;
    std::string fileName;  // the newurl's last segment
};
FtpTarget FtpTargetOf(const std::string& ftpDir, const std::string& newUrl);

// Stores every attachment, in order, under its local file's name in the folders of its newurl,
// polling the run's stop. A name refused by RefusedAttachment is not sent; a failed connection
// (message box "连接失败：…") stops the remaining ones; any other failure is shown in the pane and
// the next attachment goes on. A file already on the server counts as uploaded (it is never
// overwritten).
UploadReport uploadAttachmentsFtp(const collect::RunContext& run, const std::vector<Attachment>& files,
                                  const UploadSettings& settings);

// "测试连接": "连接成功！" or "连接失败：" + the reason.
std::string FtpTestConnection(const UploadSettings& settings, const std::function<bool()>& cancelled = {});

// "测试上传附件": writes "tarvex_ftp.txt" into `programFolder` when it is missing, walks into the
// base folder (creating what is missing) and stores the file there unless a file of that name
// exists. `message` is what the window shows; `log` holds every folder listing ("FTP测试日志:").
struct FtpTestResult {
    std::string message;
    std::string log;
};
FtpTestResult FtpTestUpload(const UploadSettings& settings, const std::string& programFolder,
                            const std::function<bool()>& cancelled = {});

// The test file's name in the program folder and on the server.
inline constexpr const char* kFtpTestFile = "tarvex_ftp.txt";

}  // namespace tarvex::publish
