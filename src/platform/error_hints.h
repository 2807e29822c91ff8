#pragma once
// Failures a person can cause or mend (a mistyped address, a site that is down, a task
// database another program holds, a full disk), recognised in the technical text that the
// transport or the database gave, and said in Chinese with what to check. The technical
// text always follows, unchanged, so nothing is lost for whoever reads the log. Pure
// functions, safe from any thread.
#include <optional>
#include <string>
#include <string_view>

namespace tarvex::platform {

enum class FailureKind {
    CannotConnect,  // refused, unreachable
    NameNotResolved,
    TimedOut,
    Tls,
    Http401,
    Http403,
    Http404,
    Http5xx,
    DatabaseLocked,  // another program (or window) has the task database open
    DiskFull,
};

struct FailureHint {
    FailureKind kind;
    std::string what;   // what happened, one short sentence
    std::string check;  // what to check, beginning with "请检查" or "请"
};

// The hint for a technical failure text ("Failed to connect to …", "HTTP/1.1 404 Not Found",
// "database is locked", …), also when it is embedded in a longer message. nullopt when the
// text names no failure of the kinds above.
[[nodiscard]] std::optional<FailureHint> ExplainFailure(std::string_view technical);

// The text shown to a person: what happened and what to check, then a line "技术信息：" with the
// technical text. A text ExplainFailure does not recognise comes back unchanged; so does a
// text that already carries a hint.
[[nodiscard]] std::string WithFailureHint(const std::string& technical);

// One line for a run's pane after a failure line: "提示：" + what happened and what to check;
// "" when the line names no failure ExplainFailure knows.
[[nodiscard]] std::string PaneHintFor(std::string_view line);

enum class MessageSeverity { Information, Warning, Error };

// How a message box should look: Error for a recognised failure or a database or transport
// error, Warning for a refusal or a failed step ("请先…", "…失败", "…不存在", …), Information
// for everything else (confirmations of success, notices).
[[nodiscard]] MessageSeverity SeverityOf(std::string_view text);

}  // namespace tarvex::platform
