#pragma once
// The one QApplication of the GUI test executable, made on first use (GoogleTest owns main).
#include <QApplication>

namespace tarvex::test {
QApplication& qtApp();
// Runs the Qt event loop for a while so queued updates reach the widgets.
void processEvents(int ms = 50);
}  // namespace tarvex::test
