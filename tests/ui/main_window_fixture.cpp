#include "main_window_fixture.h"

#include "qt_app.h"
#include "support/stop_runs.h"

namespace tarvex::test {

void MainWindowTest::openWindow(const std::string& folder, app::StartOptions options, QSize size,
                                const std::function<void(ui::MainWindow&)>& beforeShow) {
    qtApp();
    auto started = app::startProcess(folder, dialogs, options);
    ASSERT_EQ(started.status, app::StartStatus::Started);
    session = std::move(started.session);
    window = std::make_unique<ui::MainWindow>(*session, nullptr, &dialogs);
    if (size.isValid()) window->resize(size);
    if (beforeShow) beforeShow(*window);
    window->show();
    processEvents();
}

void MainWindowTest::closeWindow() {
    if (session) stopAllRuns(*session->state, app::ThreadRegistry::global());
    processEvents();
    window.reset();
}

}  // namespace tarvex::test
