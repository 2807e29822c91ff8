#pragma once
// The cookie window "获取COOKIE": an embedded browser (Qt WebEngine) in which the user opens a
// site and logs in, then copies the site's cookies (the page's document cookies, or with
// "httponly属性" every cookie of the browser's store for the site, HttpOnly ones included) and
// optionally the user agent into the task settings. The rules are the core's
// (app/forms/cookie_capture.h). UI thread only.
#include <QDialog>
#include <optional>

#include "app/forms/cookie_capture.h"
#include "platform/ports.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QWebEngineProfile;
class QWebEngineView;

namespace tarvex::ui {

class CookieCaptureDialog : public QDialog {
    Q_OBJECT
public:
    // `dialogs` must outlive the window.
    explicit CookieCaptureDialog(platform::Dialogs& dialogs, QWidget* parent = nullptr);
    ~CookieCaptureDialog() override;

    // "打开网址": sends the chosen user agent from now on, then opens the address.
    void openAddress();
    // A change of the user-agent choice: refused when too short, else used and the page reloaded.
    void chooseUserAgent();
    // "获取COOKIE": fills the text area (the document cookie arrives from the page a moment later).
    void captureCookie();
    // "保存COOKIE并退出".
    void accept() override;
    // What the window handed back; nullopt after "取消" or before saving.
    const std::optional<app::CookieCaptureResult>& result() const { return m_result; }

    QLineEdit* addressEdit() const { return m_address; }
    QComboBox* userAgentBox() const { return m_userAgent; }
    QCheckBox* httpOnlyBox() const { return m_httpOnly; }
    QPlainTextEdit* cookieText() const { return m_cookie; }
    QWebEngineView* view() const { return m_view; }
    // The cookies of the browser's store, as its notices reported them.
    static const app::CookieJar& jar();

    // The browser profile every cookie window of the process shares, so a login holds until the
    // program ends. Nothing of it is written to disk.
    static QWebEngineProfile* browserProfile();

private:
    platform::Dialogs& m_dialogs;
    std::optional<app::CookieCaptureResult> m_result;
    QLineEdit* m_address = nullptr;
    QComboBox* m_userAgent = nullptr;
    QCheckBox* m_httpOnly = nullptr;
    QPlainTextEdit* m_cookie = nullptr;
    QWebEngineView* m_view = nullptr;
};

}  // namespace tarvex::ui
