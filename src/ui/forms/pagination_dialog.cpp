#include "ui/forms/pagination_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "platform/ports.h"
#include "ui/qt/qt_ports.h"

namespace tarvex::ui {

namespace {
QString q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string s(const QString& t) {
    return t.toStdString();
}
}  // namespace

PaginationDialog::PaginationDialog(const std::string& json, platform::Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs) {
    setWindowTitle("分页设置");
    setObjectName("PaginationDialog");
    m_begin = new QLineEdit;
    m_end = new QLineEdit;
    m_include = new QLineEdit;
    m_exclude = new QLineEdit;
    m_max = new QSpinBox;
    m_max->setRange(0, 100000);
    m_time = new QLineEdit;
    m_regex = new QLineEdit;
    m_rewriteFrom = new QPlainTextEdit;
    m_rewriteTo = new QPlainTextEdit;
    for (auto* e : {m_rewriteFrom, m_rewriteTo}) e->setMaximumHeight(70);

    m_mode = new QButtonGroup(this);
    auto* smart = new QRadioButton("智能提取模式");
    auto* byAddress = new QRadioButton("分页网址匹配");
    auto* all = new QRadioButton("全部列出模式");
    byAddress->setToolTip("按智能提取模式处理分页；分页规则正则只作记录");
    m_mode->addButton(smart, 1);
    m_mode->addButton(byAddress, 2);
    m_mode->addButton(all, 3);
    auto* modes = new QHBoxLayout;
    modes->addWidget(smart);
    modes->addWidget(byAddress);
    modes->addWidget(all);
    modes->addStretch(1);

    auto* form = new QFormLayout;
    form->addRow("分页区间开始：", m_begin);
    form->addRow("分页区间结束：", m_end);
    form->addRow("必须包含：（多个请用逗号隔开）", m_include);
    form->addRow("不得包含：", m_exclude);
    form->addRow("最大分页数：", m_max);
    form->addRow("间隔(ms)：", m_time);
    form->addRow("模式：", modes);
    form->addRow("分页规则正则", m_regex);
    form->addRow(new QLabel("分页网址提取前内容处理(一般留空)"));
    form->addRow("区域替换前", m_rewriteFrom);
    form->addRow("区域替换后", m_rewriteTo);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    nameStandardButtons(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &PaginationDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* lay = new QVBoxLayout(this);
    lay->addLayout(form);
    lay->addWidget(buttons);
    resize(560, 480);
    setForm(app::PaginationForm::fromJson(json));
}

void PaginationDialog::setForm(const app::PaginationForm& f) {
    m_begin->setText(q(f.begin));
    m_end->setText(q(f.end));
    m_include->setText(q(f.include));
    m_exclude->setText(q(f.exclude));
    m_max->setValue(static_cast<int>(f.maxPages));
    m_time->setText(q(f.time));
    if (auto* b = m_mode->button(f.mode)) b->setChecked(true);
    m_regex->setText(q(f.regex));
    m_rewriteFrom->setPlainText(q(f.rewriteFrom));
    m_rewriteTo->setPlainText(q(f.rewriteTo));
}

app::PaginationForm PaginationDialog::form() const {
    app::PaginationForm f;
    f.begin = s(m_begin->text());
    f.end = s(m_end->text());
    f.include = s(m_include->text());
    f.exclude = s(m_exclude->text());
    f.maxPages = m_max->value();
    f.time = s(m_time->text().trimmed());
    f.mode = m_mode->checkedId() > 0 ? m_mode->checkedId() : 1;
    f.regex = s(m_regex->text());
    f.rewriteFrom = s(m_rewriteFrom->toPlainText());
    f.rewriteTo = s(m_rewriteTo->toPlainText());
    return f;
}

void PaginationDialog::accept() {
    auto f = form();
    if (auto refusal = f.validate()) {
        m_dialogs.message(*refusal, platform::kAppTitle);
        return;
    }
    m_json = f.toJson();
    QDialog::accept();
}

}  // namespace tarvex::ui
