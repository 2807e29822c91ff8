#pragma once
// Text between the core (UTF-8 std::string) and Qt (QString).
#include <QString>
#include <string>

namespace tarvex::ui {

inline QString qstr(const std::string& text) {
    return QString::fromStdString(text);
}

inline std::string stdstr(const QString& text) {
    return text.toStdString();
}

}  // namespace tarvex::ui
