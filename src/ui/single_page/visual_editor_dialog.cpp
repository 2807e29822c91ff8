#include "ui/single_page/visual_editor_dialog.h"

#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <nlohmann/json.hpp>

namespace tarvex::ui {

VisualEditorDialog::VisualEditorDialog(const std::string& pagePath, app::FieldValues values, QWidget* parent)
    : QDialog(parent), m_values(std::move(values)) {
    setObjectName("visualEditor");
    setWindowTitle("Tarvex采集编辑器");
    m_web = new QWebEngineView(this);
    m_web->setObjectName("visualEditorPage");
    m_web->page()->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    connect(m_web, &QWebEngineView::loadFinished, this, [this](bool ok) { m_loaded = ok; });
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(m_web);
    resize(900, 700);
    m_web->load(QUrl::fromLocalFile(QString::fromStdString(pagePath)));
}

std::optional<app::FieldValues> VisualEditorDialog::readValues() {
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (!m_loaded) {
        auto c = connect(m_web, &QWebEngineView::loadFinished, &loop, &QEventLoop::quit);
        limit.start(10000);
        loop.exec();
        disconnect(c);
        if (!m_loaded) return std::nullopt;
    }
    std::optional<std::string> json;
    bool answered = false;
    m_web->page()->runJavaScript("typeof tarvex_field_values === 'function' ? tarvex_field_values() : null",
                                 [&json, &answered, &loop](const QVariant& v) {
                                     answered = true;
                                     if (v.isValid() && !v.isNull()) json = v.toString().toStdString();
                                     loop.quit();
                                 });
    if (!answered) {
        limit.start(5000);
        loop.exec();
    }
    if (!json) return std::nullopt;
    auto parsed = nlohmann::json::parse(*json, nullptr, false);
    if (!parsed.is_object()) return std::nullopt;
    app::FieldValues out;
    for (const auto& [name, given] : m_values) {
        auto it = parsed.find(name);
        if (it == parsed.end() || !it->is_string()) {
            out.emplace_back(name, given);
            continue;
        }
        out.emplace_back(name, app::ValueFromEditor(given, it->get<std::string>()));
    }
    return out;
}

void VisualEditorDialog::done(int r) {
    if (!m_read) {
        m_read = true;
        m_result = readValues();
    }
    QDialog::done(r);
}

}  // namespace tarvex::ui
