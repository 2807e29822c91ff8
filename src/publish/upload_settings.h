#pragma once
// The task's upload settings object ("other_UploadSet": web upload, pieces, FTP server), the
// upload mode it selects, and the form model of the dialog "附件上传-高级设置". Pure; any thread.
#include <optional>
#include <string>

namespace tarvex::publish {

struct UploadSettings {
    bool webCheck = false, webCheck1 = false, webCheck2 = false, webCheck3 = false, webCheckPart = false;
    std::string webPartSize, webUrl;
    bool ftpCheck = false;
    std::string ftpIp, ftpPort, ftpUser, ftpPass, ftpDir;
    bool ftpPassive = false;
};

// What the dialog shows for a task without upload settings.
UploadSettings UploadDialogDefaults();
// Reads an upload settings text over `base`: keys that are present replace base's values
// (booleans by the system's flag reading). A text that is not a JSON object leaves base.
UploadSettings ReadUploadSettings(const std::string& text, UploadSettings base = {});
// The object the dialog writes: every key, booleans "-1"/"0", texts trimmed.
std::string ComposeUploadSettings(const UploadSettings& s);
// "保存设置" of the window: the refusal to show ("web上传与FTP上传不能同时选择", a piece size or a
// port that is no positive number), or nullopt when the settings may be stored.
std::optional<std::string> UploadSettingsRefusal(const UploadSettings& s);

enum class UploadMode { Inline = 0, Web = 1, Ftp = 2 };
// The mode of a run's main site from "other_autoupload" and "other_UploadSet".
UploadMode SelectUploadMode(bool autoUpload, const std::string& uploadSetText);

// "ftp_dir" as a base folder: "\" → "/", one leading and one trailing "/" removed.
std::string FtpBaseFolder(const std::string& ftpDir);
// Piece size in bytes: "web_partsize" × 1024, at least 1024.
long long PieceBytes(const std::string& webPartSize);

}  // namespace tarvex::publish
