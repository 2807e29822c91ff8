// The Qt answer to the core's message port: what the message box shows.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <functional>

#include "qt_app.h"
#include "ui/qt/qt_ports.h"

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

// Message, question and input boxes carry the program's Chinese button captions whether or
// not Qt's own Chinese catalogue is installed.
TEST(QtDialogs, BoxesCarryChineseButtonCaptions) {
    test::qtApp();
    ui::QtDialogs dialogs(nullptr);
    struct Case {
        const char* what;
        std::function<void()> open;
        QStringList captions;
    };
    const std::vector<Case> cases = {
        {"message", [&] { dialogs.message("提示", "Tarvex采集器"); }, {"确定"}},
        {"confirm", [&] { dialogs.confirm("确定删除吗？", "Tarvex采集器"); }, {"取消", "确定"}},
        {"askText", [&] { dialogs.askText("新建分类", "名称", "甲"); }, {"取消", "确定"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QStringList seen;
        QTimer::singleShot(50, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box) return;
            for (auto* b : box->findChildren<QAbstractButton*>())
                if (b->isVisible()) seen << b->text().remove('&');
            qobject_cast<QDialog*>(box)->reject();
        });
        c.open();
        seen.sort();
        EXPECT_EQ(seen, c.captions) << seen.join(",").toStdString();
    }
}
