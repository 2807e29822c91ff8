#pragma once
// The one QApplication of the GUI test executable, made on first use (GoogleTest owns main).
#include <QApplication>
#include <QVariant>
#include <chrono>
#include <functional>

class QWebEngineView;

namespace tarvex::test {
QApplication& qtApp();
// Runs the Qt event loop for a while so queued updates reach the widgets.
void processEvents(int ms = 50);
// Processes events until `pred` holds or the time-out passes (WebEngine answers arrive as
// events); returns its last value.
bool pump(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(30));
// Runs a script in the page and waits for its result.
QVariant runJs(QWebEngineView* view, const QString& script);
}  // namespace tarvex::test
