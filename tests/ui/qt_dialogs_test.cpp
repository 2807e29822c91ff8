// The Qt answer to the core's message port: what the message box shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "qt_app.h"
#include "ui/qt_ports.h"

using namespace tarvex;

TEST(QtDialogs, MessageLineBreaksWrittenWithCrShowAsLines) {
    test::qtApp();
    ui::QtDialogs dialogs(nullptr);
    QString shown, title;
    QTimer::singleShot(50, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            title = box->windowTitle();
            box->accept();
        }
    });
    dialogs.message("新文件名如下：\r/d/1.gif\r\n第三行", "Tarvex采集器");
    EXPECT_EQ(shown, "新文件名如下：\n/d/1.gif\n第三行");
    EXPECT_EQ(title, "Tarvex采集器");
}
