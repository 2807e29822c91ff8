#include "ui/qt/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace tarvex::ui {

std::string QtClipboard::text() {
    return QGuiApplication::clipboard()->text().toStdString();
}

void QtClipboard::setText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

}  // namespace tarvex::ui
