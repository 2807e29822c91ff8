// tarvex: the desktop program. Its workspace is the folder given with --workspace, else the
// executable's folder when it holds config/config.db3 (a portable copy), else the user's
// $XDG_DATA_HOME/tarvex, made from the installed template at first start.
#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/workspace/startup.h"
#include "app/workspace/user_workspace.h"
#include "platform/ports.h"
#include "platform/run_log.h"
#include "ui/main/main_window.h"
#include "ui/qt/qt_ports.h"
#include "ui/qt/window_fit.h"

using namespace tarvex;

int main(int argc, char** argv) {
    // Qt WebEngine (the editor pages, the cookie window) needs the shared OpenGL contexts set up first.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Tarvex采集器");
    QApplication::setQuitOnLastWindowClosed(false);
    // Standard buttons and dialogs (OK, Cancel, file dialogs) in Chinese like the rest of the program.
    QTranslator qtTranslator;
    if (qtTranslator.load("qtbase_zh_CN", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    std::string given;
    const QStringList args = QApplication::arguments();
    int w = args.indexOf("--workspace");
    if (w >= 0 && w + 1 < args.size()) given = args[w + 1].toStdString();

    ui::QtDialogs startDialogs(nullptr);
    const auto choice = app::ChooseWorkspace(app::WorkspaceSourcesFromEnvironment(given));
    std::string error = choice.error;
    if (error.empty() && choice.kind == app::WorkspaceKind::User)
        error = app::PrepareWorkspace(choice.folder, choice.templateFolder);
    if (!error.empty()) {
        startDialogs.message(error, platform::kAppTitle);
        return 1;
    }
    auto started = app::startProcess(choice.folder, startDialogs);
    if (started.status != app::StartStatus::Started) return 1;

    // Every window fits the screen, remembers where it was and carries its tooltips; F1 opens the guide.
    ui::setWindowStateFile(QString::fromStdString(started.session->workspace.programFolder + "config/windows.ini"));
    ui::WindowCare::install();
    auto window = std::make_unique<ui::MainWindow>(*started.session);
    platform::RunLog::global().setDialogs(&window->dialogs());
    app::logStartComplete();
    window->show();
    int rc = QApplication::exec();
    platform::RunLog::global().setDialogs(nullptr);
    // Runners and workers use the window's slot model and the session's state: they are told
    // to stop and waited for before either is destroyed.
    if (!app::CloseBackgroundWork(*started.session->state, app::ThreadRegistry::global())) {
        // Threads that did not end in time still use the window and the state, so neither is
        // destroyed; rows they were collecting stay queued for the next run.
        platform::CloseLog();
        std::fflush(nullptr);
        std::_Exit(rc);
    }
    window.reset();
    platform::CloseLog();
    return rc;
}
