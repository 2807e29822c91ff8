#include "qt_app.h"

#include <QElapsedTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdlib>

#include "support/fakes.h"

namespace tarvex::test {

QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "tarvex_ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
        // Qt WebEngine pages (the editor pages, the cookie window) under the offscreen platform: no GPU.
        setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        return new QApplication(argc, argv);
    }();
    return *app;
}

void processEvents(int ms) {
    qtApp();
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    } while (t.elapsed() < ms);
}

bool pump(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    return waitFor(
        [&] {
            processEvents(20);
            return pred();
        },
        timeout);
}

QVariant runJs(QWebEngineView* view, const QString& script) {
    QVariant result;
    bool done = false;
    view->page()->runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    pump([&] { return done; });
    return result;
}

}  // namespace tarvex::test
