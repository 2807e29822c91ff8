#pragma once
// The program started on a workspace folder with its main window shown, as the window tests
// use it; the messages of both go to `dialogs`.
#include <gtest/gtest.h>

#include <QSize>
#include <functional>
#include <memory>
#include <string>

#include "app/workspace/startup.h"
#include "support/fakes.h"
#include "ui/main/main_window.h"

namespace tarvex::test {

struct MainWindowTest : ::testing::Test {
    ScriptedDialogs dialogs;
    std::unique_ptr<app::Session> session;
    std::unique_ptr<ui::MainWindow> window;

    // Starts the program on `folder` and shows its main window, at `size` when one is given.
    // `beforeShow` sets up the window before it is shown. Use inside ASSERT_NO_FATAL_FAILURE.
    void openWindow(const std::string& folder, app::StartOptions options = {}, QSize size = {},
                    const std::function<void(ui::MainWindow&)>& beforeShow = {});
    // Stops every run still going, as the stop button does, and closes the window.
    void closeWindow();
};

}  // namespace tarvex::test
