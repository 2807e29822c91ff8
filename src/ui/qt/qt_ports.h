#pragma once
// ui/qt: the Qt answers to the core's ports, the clipboard, text conversion and task icons, shared
// by every ui/ folder; includes no other ui/ folder.
//
// Qt answers to the core's ports. Calls from background threads are marshalled to the UI
// thread and wait there (BlockingQueuedConnection), so status texts keep their order and a
// message box blocks the thread that raised it, as the core expects.
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "platform/ports.h"

namespace tarvex::ui {

// Runs fn on the UI thread of `context` and waits for it; runs it at once on that thread.
void runOnUiThread(QObject* context, const std::function<void()>& fn);

// Like runOnUiThread for a thread that must not wait for ever: fn is queued to the UI thread
// of `context`, and the caller waits until it has run or `abandon()` turns true while it is
// still queued (the program is closing, the window has gone). True when fn ran; an abandoned
// fn never runs later. The scheduler hands its run-list changes over this way.
bool runOnUiThreadUnless(QObject* context, const std::function<void()>& fn, const std::function<bool()>& abandon);

// Gives a box's standard OK and Cancel buttons the program's captions "确定" and "取消": Qt's own
// Chinese catalogue for them is not installed on every system.
void nameStandardButtons(QDialogButtonBox* box);

// How a message box shows `text`: the failure hint of platform/error_hints.h before the
// technical text, and the icon of its severity (error, warning or information).
QString messageBoxText(const std::string& text);
QMessageBox::Icon messageIcon(const std::string& text);

class QtDialogs final : public platform::Dialogs {
public:
    explicit QtDialogs(QWidget* parent) : m_parent(parent) {}
    void message(const std::string& text, const std::string& caption) override;
    bool confirm(const std::string& text, const std::string& title) override;
    std::optional<std::string> askText(const std::string& title, const std::string& prompt,
                                       const std::string& initial) override;

private:
    QPointer<QWidget> m_parent;
};

}  // namespace tarvex::ui
