#include "publish/upload_settings.h"

#include <algorithm>

#include "engine/field_rule.h"
#include "engine/rule_json.h"

namespace tarvex::publish {
namespace {
std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}
}  // namespace

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
    o["web_partsize"] = trim(s.webPartSize);
    o["web_url"] = trim(s.webUrl);
    o["ftp_check"] = f(s.ftpCheck);
    o["ftp_ip"] = trim(s.ftpIp);
    o["ftp_port"] = trim(s.ftpPort);
    o["ftp_user"] = trim(s.ftpUser);
    o["ftp_pass"] = trim(s.ftpPass);
    o["ftp_dir"] = trim(s.ftpDir);
    o["ftp_Passive"] = f(s.ftpPassive);
    return o.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
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
