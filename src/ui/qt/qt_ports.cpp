#include "ui/qt/qt_ports.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/error_hints.h"
#include "platform/run_log.h"

namespace tarvex::ui {

void runOnUiThread(QObject* context, const std::function<void()>& fn) {
    if (!context || QThread::currentThread() == context->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context, fn, Qt::BlockingQueuedConnection);
}

bool runOnUiThreadUnless(QObject* context, const std::function<void()>& fn, const std::function<bool()>& abandon) {
    if (!context) return false;
    if (QThread::currentThread() == context->thread()) {
        fn();
        return true;
    }
    struct HandOver {
        std::mutex lock;
        std::condition_variable changed;
        enum { Queued, Running, Done, Abandoned } state = Queued;
    };
    auto h = std::make_shared<HandOver>();
    // fn refers to the caller's stack: it runs only while the caller still waits for it.
    const std::function<void()>* call = &fn;
    QMetaObject::invokeMethod(
        context,
        [h, call] {
            {
                std::lock_guard<std::mutex> g(h->lock);
                if (h->state != HandOver::Queued) return;
                h->state = HandOver::Running;
            }
            try {
                (*call)();
            } catch (const std::exception& e) {
                platform::WriteLog(std::string("界面调用出错:") + e.what(), 0);
            }
            std::lock_guard<std::mutex> g(h->lock);
            h->state = HandOver::Done;
            h->changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> g(h->lock);
    while (h->state != HandOver::Done) {
        if (h->state == HandOver::Queued && abandon && abandon()) {
            h->state = HandOver::Abandoned;
            return false;
        }
        h->changed.wait_for(g, std::chrono::milliseconds(50));
    }
    return true;
}

namespace {
void nameMessageButtons(QMessageBox& box) {
    if (auto* ok = box.button(QMessageBox::Ok)) ok->setText("确定");
    if (auto* cancel = box.button(QMessageBox::Cancel)) cancel->setText("取消");
}
}  // namespace

void nameStandardButtons(QDialogButtonBox* box) {
    if (auto* ok = box->button(QDialogButtonBox::Ok)) ok->setText("确定");
    if (auto* cancel = box->button(QDialogButtonBox::Cancel)) cancel->setText("取消");
}

QMessageBox::Icon messageIcon(const std::string& text) {
    switch (platform::SeverityOf(text)) {
        case platform::MessageSeverity::Error:
            return QMessageBox::Critical;
        case platform::MessageSeverity::Warning:
            return QMessageBox::Warning;
        case platform::MessageSeverity::Information:
            break;
    }
    return QMessageBox::Information;
}

QString messageBoxText(const std::string& text) {
    // Messages break their lines with CR (or CR LF); a message box breaks only at LF.
    return QString::fromStdString(platform::WithFailureHint(text)).replace("\r\n", "\n").replace('\r', '\n');
}

void QtDialogs::message(const std::string& text, const std::string& caption) {
    const QString shown = messageBoxText(text);
    const QMessageBox::Icon icon = messageIcon(text);
    runOnUiThread(qApp, [&] {
        QMessageBox box(icon, QString::fromStdString(caption), shown, QMessageBox::Ok, m_parent);
        nameMessageButtons(box);
        box.exec();
    });
}

bool QtDialogs::confirm(const std::string& text, const std::string& title) {
    bool ok = false;
    runOnUiThread(qApp, [&] {
        QMessageBox box(QMessageBox::Question, QString::fromStdString(title), QString::fromStdString(text),
                        QMessageBox::Ok | QMessageBox::Cancel, m_parent);
        nameMessageButtons(box);
        ok = box.exec() == QMessageBox::Ok;
    });
    return ok;
}

std::optional<std::string> QtDialogs::askText(const std::string& title, const std::string& prompt,
                                              const std::string& initial) {
    std::optional<std::string> answer;
    runOnUiThread(qApp, [&] {
        QInputDialog dialog(m_parent);
        dialog.setWindowTitle(QString::fromStdString(title));
        dialog.setLabelText(QString::fromStdString(prompt));
        dialog.setTextValue(QString::fromStdString(initial));
        dialog.setOkButtonText("确定");
        dialog.setCancelButtonText("取消");
        if (dialog.exec() == QDialog::Accepted) answer = dialog.textValue().toStdString();
    });
    return answer;
}

}  // namespace tarvex::ui
