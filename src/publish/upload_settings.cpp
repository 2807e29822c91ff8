#include "publish/upload_settings.h"

#include <algorithm>

#include "engine/field_rule.h"
#include "engine/rule_json.h"

namespace tarvex::publish {

UploadSettings UploadDialogDefaults() {
    UploadSettings s;
    s.webCheck = true;
    s.webCheck1 = true;
    s.webPartSize = "1";
    s.ftpIp = "192.168.1.100";
    s.ftpPort = "21";
    s.ftpUser = "ftpuser";
    s.ftpPass = "123456";
    s.ftpDir = "/";
    s.ftpPassive = true;
    return s;
}

UploadSettings ReadUploadSettings(const std::string& text, UploadSettings base) {
    auto doc = engine::ParseRuleJson(text);
    if (!doc) return base;
    auto flag = [&](const char* key, bool& out) {
        if (engine::RuleHas(*doc, key)) out = engine::RuleFlag(*doc, key);
    };
    auto str = [&](const char* key, std::string& out) {
        if (engine::RuleHas(*doc, key)) out = engine::RuleText(*doc, key);
    };
    flag("web_check", base.webCheck);
    flag("web_check1", base.webCheck1);
    flag("web_check2", base.webCheck2);
    flag("web_check3", base.webCheck3);
    flag("web_checkpart", base.webCheckPart);
    str("web_partsize", base.webPartSize);
    str("web_url", base.webUrl);
    flag("ftp_check", base.ftpCheck);
    str("ftp_ip", base.ftpIp);
    str("ftp_port", base.ftpPort);
    str("ftp_user", base.ftpUser);
    str("ftp_pass", base.ftpPass);
    str("ftp_dir", base.ftpDir);
    flag("ftp_Passive", base.ftpPassive);
    return base;
}

std::string ComposeUploadSettings(const UploadSettings& s) {
    engine::RuleJson o = engine::RuleJson::object();
    auto f = [](bool on) { return std::string(on ? "-1" : "0"); };
    o["web_check"] = f(s.webCheck);
    o["web_check1"] = f(s.webCheck1);
    o["web_check2"] = f(s.webCheck2);
    o["web_check3"] = f(s.webCheck3);
    o["web_checkpart"] = f(s.webCheckPart);
    o["web_partsize"] = engine::TrimText(s.webPartSize);
    o["web_url"] = engine::TrimText(s.webUrl);
    o["ftp_check"] = f(s.ftpCheck);
    o["ftp_ip"] = engine::TrimText(s.ftpIp);
    o["ftp_port"] = engine::TrimText(s.ftpPort);
    o["ftp_user"] = engine::TrimText(s.ftpUser);
    o["ftp_pass"] = engine::TrimText(s.ftpPass);
    o["ftp_dir"] = engine::TrimText(s.ftpDir);
    o["ftp_Passive"] = f(s.ftpPassive);
    return o.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::optional<std::string> UploadSettingsRefusal(const UploadSettings& s) {
    if (s.webCheck && s.ftpCheck) return "web上传与FTP上传不能同时选择";
    auto part = engine::ParseInteger(engine::TrimText(s.webPartSize));
    if (s.webCheck && s.webCheckPart && (!part || *part < 1)) return "分片大小必须是大于0的整数";
    auto port = engine::ParseInteger(engine::TrimText(s.ftpPort));
    if (s.ftpCheck && (!port || *port < 1 || *port > 65535)) return "FTP端口必须是1到65535之间的整数";
    return std::nullopt;
}

UploadMode SelectUploadMode(bool autoUpload, const std::string& uploadSetText) {
    if (!autoUpload || uploadSetText.empty()) return UploadMode::Inline;
    UploadSettings s = ReadUploadSettings(uploadSetText);
    if (s.webCheck && (s.webCheck2 || s.webCheck3)) return UploadMode::Web;
    if (!s.webCheck && s.ftpCheck) return UploadMode::Ftp;
    return UploadMode::Inline;
}

std::string FtpBaseFolder(const std::string& ftpDir) {
    std::string d = ftpDir;
    std::replace(d.begin(), d.end(), '\\', '/');
    if (!d.empty() && d.front() == '/') d.erase(0, 1);
    if (!d.empty() && d.back() == '/') d.pop_back();
    return d;
}

long long PieceBytes(const std::string& webPartSize) {
    // A size of 0, a negative or unreadable one would divide by zero; 1 KiB is the smallest.
    long long units = engine::ParseInteger(webPartSize).value_or(1);
    return std::max(1LL, units) * 1024;
}

}  // namespace tarvex::publish
