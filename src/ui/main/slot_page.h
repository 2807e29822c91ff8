#pragma once
// One run slot's page: the status pane, the two labels and the two progress bars, named as
// the runner addresses them ("RichEditGet1", "LableGet11", "ProgressBarGet11", …).
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QWidget>

namespace tarvex::ui {

class SlotPage : public QWidget {
    Q_OBJECT
public:
    SlotPage(int slot, QWidget* parent = nullptr);
    int slot() const { return m_slot; }
    QPlainTextEdit* pane() const { return m_pane; }
    QLabel* label(int which) const { return which == 1 ? m_label1 : m_label2; }
    QProgressBar* bar(int which) const { return which == 1 ? m_bar1 : m_bar2; }

private:
    int m_slot;
    QPlainTextEdit* m_pane;
    QLabel* m_label1;
    QLabel* m_label2;
    QProgressBar* m_bar1;
    QProgressBar* m_bar2;
};

}  // namespace tarvex::ui
