#include "ui/forms/cookie_capture_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkCookie>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace tarvex::ui {

namespace {

app::BrowserCookie fromNetworkCookie(const QNetworkCookie& c) {
    app::BrowserCookie b;
    b.name = c.name().toStdString();
    b.value = c.value().toStdString();
    b.domain = c.domain().toStdString();
    b.path = c.path().isEmpty() ? "/" : c.path().toStdString();
    b.secure = c.isSecure();
    b.httpOnly = c.isHttpOnly();
    return b;
}

// The browser of the process: its profile, its own user agent (put back whenever a window opens
// without a choice), and the cookies its store reported. The store tells of a cookie once, when
// it is set, so the jar lives as long as the profile, not as long as a window.
struct BrowserSession {
    QWebEngineProfile* profile = nullptr;
    QString defaultUserAgent;
    app::CookieJar jar;
};

BrowserSession& session() {
    static BrowserSession* s = [] {
        auto* b = new BrowserSession;
        // No storage name: an off-the-record profile that keeps its cookies in memory only.
        b->profile = new QWebEngineProfile(qApp);
        b->defaultUserAgent = b->profile->httpUserAgent();
        QWebEngineCookieStore* store = b->profile->cookieStore();
        QObject::connect(store, &QWebEngineCookieStore::cookieAdded, b->profile,
                         [b](const QNetworkCookie& c) { b->jar.add(fromNetworkCookie(c)); });
        QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, b->profile,
                         [b](const QNetworkCookie& c) { b->jar.remove(fromNetworkCookie(c)); });
        return b;
    }();
    return *s;
}

}  // namespace

QWebEngineProfile* CookieCaptureDialog::browserProfile() {
    return session().profile;
}

const app::CookieJar& CookieCaptureDialog::jar() {
    return session().jar;
}

CookieCaptureDialog::CookieCaptureDialog(platform::Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs) {
    setWindowTitle("获取COOKIE");
    setObjectName("CookieCaptureDialog");

    QWebEngineProfile* profile = browserProfile();
    profile->setHttpUserAgent(session().defaultUserAgent);

    m_address = new QLineEdit;
    m_address->setObjectName("address");
    m_address->setPlaceholderText("http://");
    auto* open = new QPushButton("打开网址");
    open->setObjectName("openAddress");
    open->setAutoDefault(false);
    connect(open, &QPushButton::clicked, this, &CookieCaptureDialog::openAddress);
    connect(m_address, &QLineEdit::returnPressed, this, &CookieCaptureDialog::openAddress);

    m_userAgent = new QComboBox;
    m_userAgent->setObjectName("userAgent");
    m_userAgent->setEditable(true);
    m_userAgent->setInsertPolicy(QComboBox::NoInsert);
    m_userAgent->addItem("");
    for (const char* agent : app::kUserAgentChoices) m_userAgent->addItem(agent);
    m_userAgent->setCurrentIndex(0);
    m_userAgent->setMinimumContentsLength(40);
    m_userAgent->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // A choice counts when it is picked from the list or the typing is finished, not at
    // every key press (the length rule would interrupt typing).
    connect(m_userAgent, &QComboBox::activated, this, &CookieCaptureDialog::chooseUserAgent);
    connect(m_userAgent->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (m_userAgent->lineEdit()->isModified()) {
            m_userAgent->lineEdit()->setModified(false);
            chooseUserAgent();
        }
    });
    m_httpOnly = new QCheckBox("httponly属性");
    m_httpOnly->setObjectName("httpOnly");
    auto* capture = new QPushButton("获取COOKIE");
    capture->setObjectName("captureCookie");
    capture->setAutoDefault(false);
    connect(capture, &QPushButton::clicked, this, &CookieCaptureDialog::captureCookie);

    m_view = new QWebEngineView;
    m_view->setObjectName("browser");
    m_view->setPage(new QWebEnginePage(profile, m_view));
    m_view->setUrl(QUrl("about:blank"));
    // The address box follows the browser, as in any browser, once the user has opened a page.
    connect(m_view, &QWebEngineView::urlChanged, this, [this](const QUrl& url) {
        if (url.scheme().startsWith("http")) m_address->setText(url.toString());
    });

    m_cookie = new QPlainTextEdit;
    m_cookie->setObjectName("cookieText");
    m_cookie->setMaximumHeight(80);

    auto* save = new QPushButton("保存COOKIE并退出");
    save->setObjectName("saveCookie");
    save->setAutoDefault(false);
    auto* cancel = new QPushButton("取消");
    cancel->setAutoDefault(false);
    connect(save, &QPushButton::clicked, this, &CookieCaptureDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(new QLabel("输入需要登陆的网址"));
    addressRow->addWidget(m_address, 1);
    addressRow->addWidget(open);
    auto* agentRow = new QHBoxLayout;
    agentRow->addWidget(new QLabel("自定义UserAgent(默认不要选)"));
    agentRow->addWidget(m_userAgent, 1);
    agentRow->addWidget(m_httpOnly);
    agentRow->addWidget(capture);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_cookie, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    bottom->addLayout(buttons);

    auto* lay = new QVBoxLayout(this);
    lay->addLayout(addressRow);
    lay->addLayout(agentRow);
    lay->addWidget(m_view, 1);
    lay->addLayout(bottom);
    resize(1000, 720);
}

CookieCaptureDialog::~CookieCaptureDialog() = default;

void CookieCaptureDialog::openAddress() {
    const QString agent = m_userAgent->currentText().trimmed();
    if (!agent.isEmpty() && !app::UserAgentRefusal(agent.toStdString())) browserProfile()->setHttpUserAgent(agent);
    QString address = m_address->text().trimmed();
    if (address.isEmpty()) return;
    m_view->setUrl(QUrl::fromUserInput(address));
}

void CookieCaptureDialog::chooseUserAgent() {
    const QString agent = m_userAgent->currentText().trimmed();
    if (auto refusal = app::UserAgentRefusal(agent.toStdString())) {
        m_dialogs.message(*refusal, platform::kAppTitle);
        return;
    }
    browserProfile()->setHttpUserAgent(agent.isEmpty() ? session().defaultUserAgent : agent);
    m_view->reload();
}

void CookieCaptureDialog::captureCookie() {
    if (m_httpOnly->isChecked()) {
        m_cookie->setPlainText(
            QString::fromStdString(jar().textFor(app::CookieSiteRoot(m_view->url().toString().toStdString()))));
        return;
    }
    QPointer<QPlainTextEdit> target = m_cookie;
    m_view->page()->runJavaScript("document.cookie", [target](const QVariant& cookie) {
        if (target) target->setPlainText(cookie.toString());
    });
}

void CookieCaptureDialog::accept() {
    auto outcome =
        app::SaveCookieCapture(m_cookie->toPlainText().toStdString(), m_userAgent->currentText().toStdString());
    if (!outcome.result) {
        m_dialogs.message(outcome.refusal, platform::kAppTitle);
        return;
    }
    m_result = outcome.result;
    QDialog::accept();
}

}  // namespace tarvex::ui
