#include "platform/error_hints.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace tarvex::platform {

namespace {

bool containsNoCase(std::string_view text, std::string_view word) {
    auto it = std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return it != text.end();
}

bool containsAny(std::string_view text, std::initializer_list<std::string_view> words) {
    return std::any_of(words.begin(), words.end(), [&](std::string_view w) { return containsNoCase(text, w); });
}

// The status of a status line inside the text ("HTTP/1.1 404 Not Found", "HTTP/2 503"); 0 when none.
int httpStatusIn(std::string_view text) {
    for (std::size_t at = text.find("HTTP/"); at != std::string_view::npos; at = text.find("HTTP/", at + 1)) {
        std::size_t i = at + 5;
        while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.')) ++i;
        if (i == at + 5 || i >= text.size() || text[i] != ' ') continue;
        ++i;
        if (i + 3 > text.size()) continue;
        const std::string_view code = text.substr(i, 3);
        if (!std::all_of(code.begin(), code.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            continue;
        if (i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 3]))) continue;
        return std::stoi(std::string(code));
    }
    return 0;
}

FailureHint hint(FailureKind kind, std::string what, std::string check) {
    return {kind, std::move(what), std::move(check)};
}

}  // namespace

std::optional<FailureHint> ExplainFailure(std::string_view t) {
    // The storage failures come first: their messages may quote a path or an address.
    if (containsAny(t, {"database or disk is full", "No space left on device", "disk is full", "Disk quota exceeded",
                        "磁盘已满"}))
        return hint(FailureKind::DiskFull, "磁盘已满，数据无法写入",
                    "请清理磁盘空间（例如删除不再需要的附件和导出文件），或把工作目录移到空间更大的磁盘，然后再试一次");
    if (containsAny(t, {"database is locked", "database table is locked", "数据库被锁定"}))
        return hint(FailureKind::DatabaseLocked, "任务数据库被锁定：另一个程序正打开着这个任务",
                    "请关闭正在使用这个任务数据库的其他程序（例如另一个Tarvex采集器、数据库查看工具），"
                    "或等正在运行的任务结束，然后再试一次");
    // Upper case only: "ssl" and "tls" also occur inside ordinary words and addresses.
    if (t.find("SSL") != std::string_view::npos || t.find("TLS") != std::string_view::npos ||
        containsNoCase(t, "certificate"))
        return hint(FailureKind::Tls, "与网站建立安全连接（HTTPS）失败",
                    "请检查网址应该是http还是https、网站的证书是否有效，以及本机的日期和时间是否正确");
    if (containsAny(t, {"Could not resolve host", "Couldn't resolve host", "Could not resolve proxy",
                        "Couldn't resolve proxy", "Name or service not known", "Temporary failure in name resolution"}))
        return hint(FailureKind::NameNotResolved, "找不到网址中的域名（域名无法解析）",
                    "请检查网址中的域名是否拼写正确，以及本机的网络和DNS设置是否正常");
    if (containsAny(t, {"timed out", "Timeout was reached", "Request took longer than", "Operation too slow"}))
        return hint(FailureKind::TimedOut, "网站在规定的时间内没有应答（超时）",
                    "请检查网站能否在浏览器中打开；网站较慢时可调大超时时间，或稍后再试");
    if (containsAny(t, {"Failed to connect", "Couldn't connect", "Could not connect", "Connection refused",
                        "No route to host", "Network is unreachable"}))
        return hint(FailureKind::CannotConnect, "无法连接到网站",
                    "请检查网址（域名和端口）是否写对、网站是否已经开启，以及本机能否上网");
    const int status = httpStatusIn(t);
    if (status == 401)
        return hint(FailureKind::Http401, "网站要求登录（HTTP 401 未授权）",
                    "请检查用户名、密码或Cookie是否正确；需要登录的网站可在“高级设置”中点“获取”取得Cookie");
    if (status == 403)
        return hint(
            FailureKind::Http403, "网站拒绝了访问（HTTP 403 禁止访问）",
            "请检查是否需要登录或Cookie、浏览器UA是否被网站屏蔽、接口文件是否允许访问，以及本机IP是否被网站封禁");
    if (status == 404)
        return hint(FailureKind::Http404, "网址指向的页面不存在（HTTP 404）",
                    "请检查网址的路径和文件名是否写对；发布时请确认接口文件已上传到网站，且接口网址正确");
    if (status >= 500 && status <= 599)
        return hint(FailureKind::Http5xx, "网站内部出错（HTTP " + std::to_string(status) + " 服务器错误）",
                    "这是网站一方的问题，请稍后再试；若是自己的网站，请查看网站的错误日志和接口文件");
    return std::nullopt;
}

std::string WithFailureHint(const std::string& technical) {
    if (technical.find("技术信息：") != std::string::npos) return technical;
    const auto h = ExplainFailure(technical);
    if (!h) return technical;
    return h->what + "。" + h->check + "。\n技术信息：" + technical;
}

std::string PaneHintFor(std::string_view line) {
    const auto h = ExplainFailure(line);
    if (!h) return {};
    return "提示：" + h->what + "。" + h->check + "。";
}

MessageSeverity SeverityOf(std::string_view text) {
    if (ExplainFailure(text)) return MessageSeverity::Error;
    if (containsAny(text, {"错误", "出错", "异常", "损坏", "丢失", "被锁", "fail"})) return MessageSeverity::Error;
    if (containsAny(
            text, {"失败",   "无法", "不能", "不存在", "请先", "必须", "没有",   "无效",   "不支持", "未能",    "太多",
                   "已存在", "仅能", "不得", "未停止", "不可", "有误", "未开启", "无有效", "不大于", "不能大于"}))
        return MessageSeverity::Warning;
    return MessageSeverity::Information;
}

}  // namespace tarvex::platform
