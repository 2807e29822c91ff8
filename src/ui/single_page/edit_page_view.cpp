#include "ui/single_page/edit_page_view.h"

#include <QFile>
#include <QUrl>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <nlohmann/json.hpp>

#include "app/workspace/workspace.h"

namespace tarvex::ui {

namespace {
// A JavaScript string literal for any text: JSON with every non-ASCII character escaped, so
// line separators and broken UTF-8 (replaced) cannot end the literal early.
std::string jsString(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

// What the plain text box shows for a value: it keeps line ends as LF only.
QString asShown(const std::string& text) {
    return QString::fromStdString(text).replace("\r\n", "\n").replace('\r', '\n');
}

// qwebchannel.js from Qt's own resources, run before the page's scripts.
QWebEngineScript webChannelScript() {
    QFile f(":/qtwebchannel/qwebchannel.js");
    QWebEngineScript script;
    if (f.open(QIODevice::ReadOnly)) script.setSourceCode(QString::fromUtf8(f.readAll()));
    script.setName("qwebchannel");
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    return script;
}
}  // namespace

void EditPageHost::pageReady() {
    // loadFinished arrives as well; whichever comes first loads a pending value.
    m_view->pageLoaded(true);
}

void EditPageHost::edited() {
    m_view->markEdited();
}

EditPageView::EditPageView(const std::string& pagePath, QWidget* parent) : QStackedWidget(parent), m_path(pagePath) {
    m_available = app::pathExists(pagePath);
    m_plain = new QPlainTextEdit;
    m_plain->setObjectName("plainCellEditor");
    connect(m_plain, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_web && !m_edited && m_plain->toPlainText() != asShown(m_given)) markEdited();
    });
    if (!m_available) {
        addWidget(m_plain);
        m_ready = true;
        return;
    }
    m_web = new QWebEngineView;
    m_web->setObjectName("editPage");
    auto* page = m_web->page();
    page->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    page->scripts().insert(webChannelScript());
    auto* channel = new QWebChannel(page);
    channel->registerObject("tarvexHost", new EditPageHost(this));
    page->setWebChannel(channel);
    connect(m_web, &QWebEngineView::loadFinished, this, &EditPageView::pageLoaded);
    addWidget(m_web);
    m_web->load(QUrl::fromLocalFile(QString::fromStdString(pagePath)));
}

void EditPageView::pageLoaded(bool ok) {
    if (!ok || !m_web) return;
    if (!m_ready) {
        // The page's own scroll bars are off; the editor scrolls inside itself.
        m_web->page()->runJavaScript(
            "document.documentElement.style.overflow='hidden';document.body.style.overflow='hidden';");
        m_web->page()->runJavaScript("typeof set_textarea === 'function' && typeof get_all_textarea === 'function'",
                                     [this](const QVariant& v) {
                                         if (m_ready || !v.toBool()) return;
                                         m_ready = true;
                                         push();
                                         emit ready();
                                     });
    }
}

void EditPageView::markEdited() {
    if (m_edited) return;
    m_edited = true;
    emit editedChanged(true);
}

void EditPageView::setText(const std::string& text) {
    m_given = text;
    const bool wasEdited = m_edited;
    m_edited = false;
    if (!m_web) {
        m_plain->setPlainText(QString::fromStdString(text));
    } else {
        m_pending = text;
        if (m_ready) push();
    }
    if (wasEdited) emit editedChanged(false);
}

void EditPageView::push() {
    if (!m_pending || !m_web) return;
    m_web->page()->runJavaScript(
        QString::fromStdString("all_textarea = " + jsString(*m_pending) + "; set_textarea();"));
    m_pending.reset();
}

void EditPageView::requestText(std::function<void(std::optional<std::string>)> done) {
    if (!m_web) {
        QString text = m_plain->toPlainText();
        if (text == asShown(m_given)) return done(m_given);
        // A value stored with CR LF keeps CR LF.
        if (m_given.find("\r\n") != std::string::npos) text.replace("\n", "\r\n");
        done(text.toStdString());
        return;
    }
    if (!m_ready) {
        done(std::nullopt);
        return;
    }
    const std::string given = m_given;
    m_web->page()->runJavaScript("get_all_textarea(); all_textarea;", [done, given](const QVariant& v) {
        if (!v.isValid()) {
            done(std::nullopt);
            return;
        }
        const QString text = v.toString();
        // Unchanged text keeps the exact bytes it came with (the page only holds UTF-16).
        done(text == QString::fromStdString(given) ? given : text.toStdString());
    });
}

}  // namespace tarvex::ui
