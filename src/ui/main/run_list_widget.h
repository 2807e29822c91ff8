#pragma once
// The run list of the main window over app::RunList: six columns with the three stage check
// boxes, the start/pause/stop buttons set by the button table, the "移除此任务" menu, and
// tasks dropped from the task tree. Rebuilt from the model on the UI thread after every change.
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>

#include "app/run/run_list.h"

namespace tarvex::ui {

class RunListWidget : public QWidget {
    Q_OBJECT
public:
    RunListWidget(app::RunList& model, QWidget* parent = nullptr);

    QTreeWidget* tree() const { return m_tree; }
    QPushButton* startButton() const { return m_start; }
    QPushButton* pauseButton() const { return m_pause; }
    QPushButton* stopButton() const { return m_stop; }
    QWidget* buttonBar() const { return m_buttonBar; }
    // The selected row, if any.
    std::optional<int> selectedRow() const;
    void selectRow(int row);

signals:
    // A row was selected: the page of its slot should be shown.
    void rowSelected(int slot);
    // Rows or slot pages changed (captions, shown pages).
    void modelChanged();

public slots:
    void start();
    void pause();
    void stop();
    void removeSelected();
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refreshButtons();

    app::RunList& m_model;
    QTreeWidget* m_tree;
    QPushButton* m_start;
    QPushButton* m_pause;
    QPushButton* m_stop;
    QWidget* m_buttonBar;
    bool m_rebuilding = false;
};

}  // namespace tarvex::ui
