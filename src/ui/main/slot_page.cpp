#include "ui/main/slot_page.h"

#include <QGridLayout>
#include <QVBoxLayout>

namespace tarvex::ui {

SlotPage::SlotPage(int slot, QWidget* parent) : QWidget(parent), m_slot(slot) {
    const QString n = QString::number(slot);
    setObjectName("GetSheet" + n);
    m_pane = new QPlainTextEdit(this);
    m_pane->setObjectName("RichEditGet" + n);
    m_pane->setReadOnly(true);
    m_pane->setMaximumBlockCount(0);
    m_label1 = new QLabel("运行状态：", this);
    m_label1->setObjectName("LableGet" + n + "1");
    m_label2 = new QLabel("附件状态：", this);
    m_label2->setObjectName("LableGet" + n + "2");
    m_bar1 = new QProgressBar(this);
    m_bar1->setObjectName("ProgressBarGet" + n + "1");
    m_bar2 = new QProgressBar(this);
    m_bar2->setObjectName("ProgressBarGet" + n + "2");
    for (auto* b : {m_bar1, m_bar2}) {
        b->setRange(0, 100);
        b->setValue(0);
    }
    auto* grid = new QGridLayout;
    grid->addWidget(m_label1, 0, 0);
    grid->addWidget(m_bar1, 0, 1);
    grid->addWidget(m_label2, 1, 0);
    grid->addWidget(m_bar2, 1, 1);
    grid->setColumnStretch(1, 1);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(m_pane, 1);
    lay->addLayout(grid);
}

}  // namespace tarvex::ui
