#pragma once
// An HTML editing page of the workspace ("Plugin/kindeditor/…") shown in Qt WebEngine, spoken
// to through the page contract: the variable `all_textarea`, `set_textarea()` (load it into the
// editor) and `get_all_textarea()` (store the editor's text into it). The page reports itself
// ready and edited over Qt WebChannel (object "tarvexHost"). When the page file is missing a
// plain text box takes its place so values can still be read and corrected. UI thread only.
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <functional>
#include <optional>
#include <string>

class QWebEngineView;

namespace tarvex::ui {

class EditPageView : public QStackedWidget {
    Q_OBJECT
public:
    explicit EditPageView(const std::string& pagePath, QWidget* parent = nullptr);

    bool pageAvailable() const { return m_available; }
    const std::string& pagePath() const { return m_path; }
    // The page has loaded and defines the contract (always true for the plain text box).
    bool isReady() const { return m_ready; }
    QWebEngineView* webView() const { return m_web; }
    QPlainTextEdit* plainEditor() const { return m_plain; }

    // Puts a value into the editor; a value given before the page is ready is loaded then.
    void setText(const std::string& text);
    // Asks the editor for its text; `done` receives it (nullopt when the page could not answer).
    // A value the user did not change comes back byte for byte as it was given.
    void requestText(std::function<void(std::optional<std::string>)> done);
    // Whether the user changed the value since it was given (as the page last reported).
    bool edited() const { return m_edited; }

signals:
    void ready();
    void editedChanged(bool edited);

private:
    friend class EditPageHost;
    void pageLoaded(bool ok);
    void markEdited();
    void push();

    std::string m_path;
    bool m_available = false;
    bool m_ready = false;
    bool m_edited = false;
    std::optional<std::string> m_pending;  // given before the page was ready
    std::string m_given;                   // the value last given
    QWebEngineView* m_web = nullptr;
    QPlainTextEdit* m_plain = nullptr;
};

// The object the page reaches over Qt WebChannel as "tarvexHost".
class EditPageHost : public QObject {
    Q_OBJECT
public:
    explicit EditPageHost(EditPageView* view) : QObject(view), m_view(view) {}
public slots:
    void pageReady();
    void edited();

private:
    EditPageView* m_view;
};

}  // namespace tarvex::ui
