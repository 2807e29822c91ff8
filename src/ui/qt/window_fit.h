#pragma once
// Windows that fit the screen they open on. One helper for every window of the program:
// the body of a dialog is put into a scroll area (its button row stays below it, always in
// view), the first size is no larger than the screen's free area, size and position are
// remembered per window class and, when restored, kept on the screen. UI thread only.
#include <QObject>
#include <QRect>
#include <QString>

class QAbstractItemView;
class QWidget;

namespace tarvex::ui {

// Makes `window` (a top-level widget) fit its screen, once: wraps its body in a scroll area,
// bounds its size to the screen's free area and restores the geometry remembered under `key`
// (the window's class name when empty). Safe to call again: later calls do nothing.
void fitWindow(QWidget* window, const QString& key = {});

// The screen area a window at `window` may use (the free area of its screen or the primary one).
QRect availableArea(const QWidget* window);

// `rect` moved (and shrunk when needed) so that it lies inside `area`.
QRect keptInside(const QRect& rect, const QRect& area);

// Where sizes and positions are remembered (an INI file, e.g. the workspace's
// "config/windows.ini"). Empty (the default): nothing is remembered.
void setWindowStateFile(const QString& path);
QString windowStateFile();
// Stores the geometry of `window` under its key now (also done when it is hidden or closed).
void rememberGeometry(QWidget* window);

// Column widths of a table that fill its width: every column gets its contents' width, the
// columns in `stretch` share what is left (the last column when none is given).
void stretchColumns(QAbstractItemView* view, std::initializer_list<int> stretch = {});

// Applies the program's care to every window of the program when it is first shown: fitting
// (above) and the tooltips of ui/tooltips.h. Installed once on the application (main and the
// window tests); windows of Qt's own (message boxes, file dialogs, menus) are left alone.
class WindowCare : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    static void install();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tarvex::ui
