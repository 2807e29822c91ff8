#include "ui/qt_ports.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QThread>

namespace tarvex::ui {

void runOnUiThread(QObject* context, const std::function<void()>& fn) {
    if (!context || QThread::currentThread() == context->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context, fn, Qt::BlockingQueuedConnection);
}

void QtDialogs::message(const std::string& text, const std::string& caption) {
    // Messages break their lines with CR (or CR LF); a message box breaks only at LF.
    QString shown = QString::fromStdString(text).replace("\r\n", "\n").replace('\r', '\n');
    runOnUiThread(qApp, [&] { QMessageBox::information(m_parent, QString::fromStdString(caption), shown); });
}

bool QtDialogs::confirm(const std::string& text, const std::string& title) {
    bool ok = false;
    runOnUiThread(qApp, [&] {
        ok = QMessageBox::question(m_parent, QString::fromStdString(title), QString::fromStdString(text),
                                   QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    });
    return ok;
}

std::optional<std::string> QtDialogs::askText(const std::string& title, const std::string& prompt,
                                              const std::string& initial) {
    std::optional<std::string> answer;
    runOnUiThread(qApp, [&] {
        bool ok = false;
        QString s = QInputDialog::getText(m_parent, QString::fromStdString(title), QString::fromStdString(prompt),
                                          QLineEdit::Normal, QString::fromStdString(initial), &ok);
        if (ok) answer = s.toStdString();
    });
    return answer;
}

}  // namespace tarvex::ui
