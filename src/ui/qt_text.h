#pragma once
// Text between the core (UTF-8 std::string) and Qt (QString).
#include <QString>
#include <string>

namespace tarvex::ui {

inline QString toQt(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
inline std::string fromQt(const QString& text) {
    return text.toStdString();
}

}  // namespace tarvex::ui
