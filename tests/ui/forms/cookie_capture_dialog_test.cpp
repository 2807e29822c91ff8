// The cookie window "获取COOKIE" on the real embedded browser against a loopback site that sets an
// ordinary and an HttpOnly cookie after a form login: the document cookie, all cookies of the
// store, the user-agent choice, and what the task settings receive.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <functional>

#include "qt_app.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "ui/forms/cookie_capture_dialog.h"

using namespace tarvex;

namespace {

// Runs the event loop until `done` holds or `ms` pass.
bool spinUntil(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A site with a login form: the right name and password set two cookies and lead to /home,
// which answers only with the session cookie.
void serveLoginSite(test::LocalHttpServer& server) {
    server.respond([](const test::RecordedRequest& r) -> std::optional<test::Reply> {
        if (r.path == "/login" && r.method == "GET")
            return test::Reply::html(
                "<html><body><form method='post' action='/login'><input name='user'><input name='pass' "
                "type='password'><input type='submit' value='登录'></form></body></html>",
                "utf-8");
        if (r.path == "/login" && r.method == "POST") {
            if (r.field("user") != "tom" || r.field("pass") != "secret") return test::Reply::withStatus(403, "no");
            test::Reply reply = test::Reply::redirect("/home");
            reply.headers = {{"Set-Cookie", "sid=s3cr3t; Path=/; HttpOnly"}, {"Set-Cookie", "theme=dark; Path=/"}};
            return reply;
        }
        if (r.path == "/home") {
            if (r.header("Cookie").find("sid=s3cr3t") == std::string::npos)
                return test::Reply::withStatus(403, "login");
            return test::Reply::html("<html><body>欢迎</body></html>", "utf-8");
        }
        return std::nullopt;
    });
}

}  // namespace

TEST(CookieCaptureUi, LoginThenCaptureOrdinaryAndHttpOnlyCookies) {
    test::qtApp();
    test::LocalHttpServer server;
    serveLoginSite(server);
    test::ScriptedDialogs dialogs;
    ui::CookieCaptureDialog dlg(dialogs);
    dlg.show();
    EXPECT_EQ(dlg.view()->url().toString(), "about:blank");

    // The user agent must be 30 characters or more; a good one is sent from the next request on.
    const QString agent = "TarvexTestBrowser/1.0 (X11; Linux x86_64)";
    dlg.userAgentBox()->setEditText("Mozilla/5.0 too short");
    dlg.chooseUserAgent();
    EXPECT_TRUE(dialogs.sawMessage("UserAgent太短,不符合要求！"));
    dlg.userAgentBox()->setEditText(agent);

    bool loaded = false;
    QObject::connect(dlg.view(), &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
    dlg.addressEdit()->setText(QString::fromStdString(server.url("/login")));
    dlg.findChild<QPushButton*>("openAddress")->click();
    ASSERT_TRUE(spinUntil([&] { return loaded; })) << "the login page did not load";
    ASSERT_FALSE(server.requestsTo("/login").empty());
    EXPECT_EQ(server.requestsTo("/login").back().header("User-Agent"), agent.toStdString());

    loaded = false;
    dlg.view()->page()->runJavaScript(
        "document.querySelector('[name=user]').value='tom';"
        "document.querySelector('[name=pass]').value='secret';"
        "document.forms[0].submit();");
    ASSERT_TRUE(spinUntil([&] { return dlg.view()->url().path() == "/home" && loaded; })) << "no login";
    ASSERT_TRUE(spinUntil([&] { return ui::CookieCaptureDialog::jar().cookies().size() >= 2; }))
        << "the store reported no cookies";
    if (const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR")) dlg.grab().save(QString(dir) + "/cookie_capture.png");

    // Without "httponly属性" only what the page's script can see.
    dlg.findChild<QPushButton*>("captureCookie")->click();
    ASSERT_TRUE(spinUntil([&] { return !dlg.cookieText()->toPlainText().isEmpty(); }));
    EXPECT_EQ(dlg.cookieText()->toPlainText(), "theme=dark");

    // With it, every cookie of the store for the site, the HttpOnly session included.
    dlg.httpOnlyBox()->setChecked(true);
    dlg.findChild<QPushButton*>("captureCookie")->click();
    EXPECT_EQ(dlg.cookieText()->toPlainText(), "sid=s3cr3t; theme=dark");

    dlg.accept();
    ASSERT_TRUE(dlg.result());
    EXPECT_EQ(dlg.result()->cookie, "sid=s3cr3t; theme=dark");
    EXPECT_EQ(dlg.result()->userAgent, agent.toStdString());

    // A second window of the same program still knows the login.
    ui::CookieCaptureDialog again(dialogs);
    again.addressEdit()->setText(QString::fromStdString(server.url("/home")));
    loaded = false;
    QObject::connect(again.view(), &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
    again.openAddress();
    ASSERT_TRUE(spinUntil([&] { return loaded; }));
    again.httpOnlyBox()->setChecked(true);
    again.findChild<QPushButton*>("captureCookie")->click();
    EXPECT_EQ(again.cookieText()->toPlainText(), "sid=s3cr3t; theme=dark");
    // The window opened without a choice sends the browser's own agent again.
    EXPECT_NE(server.requestsTo("/home").back().header("User-Agent"), agent.toStdString());
}

TEST(CookieCaptureUi, EmptyTextAreaReturnsNoCookie) {
    test::qtApp();
    test::ScriptedDialogs dialogs;
    ui::CookieCaptureDialog dlg(dialogs);
    dlg.userAgentBox()->setEditText(QString(29, 'a'));
    dlg.accept();
    EXPECT_TRUE(dialogs.sawMessage("UserAgent太短,不符合要求！"));
    EXPECT_FALSE(dlg.result());
    dlg.userAgentBox()->setEditText(QString(30, 'a'));
    dlg.accept();
    ASSERT_TRUE(dlg.result());
    EXPECT_EQ(dlg.result()->cookie, "");
    std::string cookie = "keep=1", ua = "keep";
    EXPECT_FALSE(app::ApplyCookieCapture(*dlg.result(), cookie, ua));
}
