#pragma once
// ui/schedule: the timetable and waiting-queue windows over app/schedule. Uses ui/tasks (the task
// picker) and ui/qt.
//
// The scheduler's windows: "计划任务设置" (the timetable of config/autotask.txt and the scheduling
// switch), "添加到任务队列" (the stages of a queued run) and "等待运行的任务" (the waiting queue and
// the ran list). Each shows an app/ model and forwards clicks to it; messages go through the
// Dialogs port. UI thread only.
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <array>
#include <memory>

#include "app/schedule/schedule_forms.h"
#include "app/tasks/catalogue.h"

namespace tarvex::ui {

class ScheduleDialog : public QDialog {
    Q_OBJECT
public:
    // `tree` is copied into the dialog's own task tree.
    ScheduleDialog(const app::Workspace& ws, app::ProcessState& state, platform::Dialogs& dialogs,
                   const app::TaskTree& tree, QWidget* parent = nullptr);

    app::ScheduleForm& form() { return m_form; }
    QTreeWidget* scheduleList() const { return m_list; }
    QTreeWidget* taskTree() const { return m_tasks; }
    QWidget* editorPanel() const { return m_editor; }
    QLineEdit* taskNameBox() const { return m_taskName; }
    QCheckBox* stageBox(int stage) const { return m_stages.at(static_cast<std::size_t>(stage)); }
    QListWidget* minuteList() const { return m_minutes; }
    QLineEdit* daysBox() const { return m_days; }
    QLineEdit* weekdaysBox() const { return m_weekdays; }
    QLineEdit* hoursBox() const { return m_hours; }
    QPushButton* button(const QString& text) const;

public slots:
    void newSchedule();
    void takeTask();
    void saveSchedule();
    void deleteSchedule();
    void cancelEdit();
    void startScheduling();
    void stopScheduling();

private:
    void showRows();
    void showEditor();
    // Copies the editor's controls into the form's editor.
    void readEditor();
    void refreshSwitch();

    app::ScheduleForm m_form;
    QTreeWidget* m_list;
    QTreeWidget* m_tasks;
    QWidget* m_editor;
    QLineEdit* m_taskName;
    std::array<QCheckBox*, 3> m_stages{};
    QListWidget* m_minutes;
    QLineEdit* m_days;
    QLineEdit* m_weekdays;
    QLineEdit* m_hours;
    QPushButton* m_start;
    QPushButton* m_stop;
    bool m_showing = false;
};

// "添加到任务队列": the three stage boxes, all ticked; "确定" queues the task.
class AddToQueueDialog : public QDialog {
    Q_OBJECT
public:
    AddToQueueDialog(app::ProcessState& state, platform::Dialogs& dialogs, std::int64_t taskId, std::string taskName,
                     QWidget* parent = nullptr);
    QCheckBox* stageBox(int stage) const { return m_stages.at(static_cast<std::size_t>(stage)); }
    bool queued() const { return m_queued; }

public slots:
    void accept() override;

private:
    app::ProcessState& m_state;
    platform::Dialogs& m_dialogs;
    std::int64_t m_taskId;
    std::string m_taskName;
    std::array<QCheckBox*, 3> m_stages{};
    bool m_queued = false;
};

// "等待运行的任务": the queue's entries and the ran list, kept current while the window is open
// (the scheduler takes entries from the queue as it starts them).
class WaitingQueueWindow : public QDialog {
    Q_OBJECT
public:
    WaitingQueueWindow(app::ProcessState& state, QWidget* parent = nullptr);
    QListWidget* waitingList() const { return m_waiting; }
    QListWidget* ranList() const { return m_ran; }

public slots:
    void moveUp();
    void moveDown();
    void deleteSelected();
    void refresh();

private:
    void move(int delta);

    app::ProcessState& m_state;
    QListWidget* m_waiting;
    QListWidget* m_ran;
    QTimer m_timer;
};

}  // namespace tarvex::ui
