#include "ui/forms/multi_level_dialog.h"

#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>
#include <thread>

#include "app/forms/rule_preview.h"
#include "ui/forms/source_pane.h"
#include "ui/qt/qt_text.h"

namespace tarvex::ui {

namespace {
// Templates are typed on Linux with LF; the rule language matches line breaks as CR LF.
std::string crlf(const QString& text) {
    std::string out;
    for (char c : stdstr(text)) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}
QString plain(const std::string& text) {
    QString t = qstr(text);
    t.replace("\r\n", "\n");
    return t;
}
QPlainTextEdit* smallEdit() {
    auto* e = new QPlainTextEdit;
    e->setMaximumHeight(60);
    return e;
}
}  // namespace

MultiLevelDialog::MultiLevelDialog(const std::string& morepage2, const std::string& options, app::TestFetch fetch,
                                   platform::Dialogs& dialogs, QWidget* parent)
    : QDialog(parent),
      m_form(app::MultiLevelForm::fromJson(morepage2)),
      m_options(options),
      m_fetch(std::move(fetch)),
      m_dialogs(dialogs) {
    setWindowTitle("多页提取");
    setObjectName("MultiLevelDialog");

    m_list = new QListWidget;
    m_list->setObjectName("levelList");
    auto* addButton = new QPushButton("新建");
    auto* deleteButton = new QPushButton("删除");
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel("多级页面："));
    left->addWidget(m_list, 1);
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(addButton);
    listButtons->addWidget(deleteButton);
    left->addLayout(listButtons);

    m_title = new QLineEdit;
    m_parent = new QComboBox;
    m_source = new QButtonGroup(this);
    auto* fromText = new QRadioButton("从页面内容中采集提取");
    auto* fromAddress = new QRadioButton("从网址中提取");
    m_source->addButton(fromText, 1);
    m_source->addButton(fromAddress, 2);
    m_byPattern = new QCheckBox("正则匹配模式");
    m_begin = smallEdit();
    m_end = smallEdit();
    m_find = new QLineEdit;
    m_replace = new QLineEdit;
    m_hasPages = new QCheckBox("包含分页");
    m_pagerBegin = new QLineEdit;
    m_pagerEnd = new QLineEdit;
    m_include = new QLineEdit;
    m_exclude = new QLineEdit;
    m_testUrl = new QLineEdit;
    m_testUrl->setPlaceholderText("http://");
    m_testOutput = new QPlainTextEdit;
    m_testOutput->setReadOnly(true);
    m_testOutput->setObjectName("testOutput");

    auto* textBox = new QGroupBox;
    auto* textLay = new QFormLayout(textBox);
    textLay->addRow(fromText, m_byPattern);
    textLay->addRow("前边字符（正则）：", m_begin);
    textLay->addRow("后边字符（输出）：", m_end);
    auto* addressBox = new QGroupBox;
    auto* addressLay = new QFormLayout(addressBox);
    addressLay->addRow(fromAddress);
    addressLay->addRow("网址中查找：", m_find);
    addressLay->addRow("替换为：", m_replace);
    auto* pagerBox = new QGroupBox("分页设置");
    auto* pagerLay = new QFormLayout(pagerBox);
    pagerLay->addRow(m_hasPages);
    pagerLay->addRow("分页区间开始：", m_pagerBegin);
    pagerLay->addRow("分页区间结束：", m_pagerEnd);
    pagerLay->addRow("必须包含：（多个请用逗号隔开）", m_include);
    pagerLay->addRow("不得包含：", m_exclude);

    auto* saveButton = new QPushButton("保存");
    saveButton->setObjectName("saveLevel");
    auto* testButton = new QPushButton("测试提取");
    testButton->setObjectName("testLevel");
    auto* testRow = new QHBoxLayout;
    testRow->addWidget(new QLabel("测试网址："));
    testRow->addWidget(m_testUrl, 1);
    testRow->addWidget(testButton);

    auto* head = new QFormLayout;
    head->addRow("标题：", m_title);
    head->addRow("上级页面：", m_parent);
    auto* right = new QVBoxLayout;
    right->addLayout(head);
    right->addWidget(textBox);
    right->addWidget(addressBox);
    right->addWidget(pagerBox);
    right->addWidget(saveButton, 0, Qt::AlignRight);
    right->addLayout(testRow);
    right->addWidget(m_testOutput, 1);

    m_pane = new SourcePane;
    m_pane->setFetch([this](const std::string& url) {
        app::TestPage page;
        const std::string r = m_fetch ? m_fetch(url, m_options) : std::string("fail:");
        page.ok = r.compare(0, 5, "succ:") == 0 && r.size() > 5;
        if (page.ok)
            page.text = r.substr(5);
        else
            page.error = "抓取网页:" + url + ",返回错误：" + (r.size() > 5 ? r.substr(5) : std::string("空页面"));
        return page;
    });
    auto* paneBox = new QVBoxLayout;
    auto* paneTitle = new QLabel("网页源码（选中文字后可设为前边字符/后边字符，当前规则匹配处高亮显示）");
    paneTitle->setWordWrap(true);
    paneBox->addWidget(paneTitle);
    paneBox->addWidget(m_pane, 1);

    auto* body = new QHBoxLayout;
    body->addLayout(left, 1);
    body->addLayout(right, 3);
    body->addLayout(paneBox, 3);

    auto* buttons = new QDialogButtonBox;
    buttons->addButton("保存返回", QDialogButtonBox::AcceptRole);
    buttons->addButton("取消", QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &MultiLevelDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* lay = new QVBoxLayout(this);
    lay->addLayout(body, 1);
    lay->addWidget(buttons);

    connect(addButton, &QPushButton::clicked, this, &MultiLevelDialog::newLevel);
    connect(deleteButton, &QPushButton::clicked, this, &MultiLevelDialog::deleteLevel);
    connect(saveButton, &QPushButton::clicked, this, &MultiLevelDialog::saveLevel);
    connect(testButton, &QPushButton::clicked, this, &MultiLevelDialog::testLevel);
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row != m_current) select(row);
    });
    connect(m_source, &QButtonGroup::idClicked, this, [this] { updateEnabled(); });
    connect(m_hasPages, &QCheckBox::toggled, this, [this] { updateEnabled(); });

    m_previewTimer.setSingleShot(true);
    m_previewTimer.setInterval(250);
    connect(&m_previewTimer, &QTimer::timeout, this, &MultiLevelDialog::updatePreview);
    for (auto* box : {m_begin, m_end})
        connect(box, &QPlainTextEdit::textChanged, this, [this] { m_previewTimer.start(); });
    connect(m_byPattern, &QCheckBox::toggled, this, [this] { m_previewTimer.start(); });
    connect(m_pane, &SourcePane::pageLoaded, this, &MultiLevelDialog::updatePreview);
    connect(m_pane, &SourcePane::frontChosen, this, [this](const std::string& t) { m_begin->setPlainText(plain(t)); });
    connect(m_pane, &SourcePane::backChosen, this, [this](const std::string& t) { m_end->setPlainText(plain(t)); });
    // The pane shows the level's test address unless the user typed another one into it.
    connect(m_testUrl, &QLineEdit::textChanged, this, [this](const QString& url) { m_pane->setAddress(stdstr(url)); });

    resize(1320, 680);
    showList();
    if (!m_form.levels().empty())
        select(0);
    else
        newLevel();
}

app::LevelForm MultiLevelDialog::level() const {
    app::LevelForm f;
    f.title = stdstr(m_title->text());
    f.parent = stdstr(m_parent->currentText());
    f.fromText = m_source->checkedId() != 2;
    f.byPattern = m_byPattern->isChecked();
    f.begin = crlf(m_begin->toPlainText());
    f.end = crlf(m_end->toPlainText());
    f.find = stdstr(m_find->text());
    f.replace = stdstr(m_replace->text());
    f.testUrl = stdstr(m_testUrl->text().trimmed());
    f.hasPages = m_hasPages->isChecked();
    f.pagerBegin = stdstr(m_pagerBegin->text());
    f.pagerEnd = stdstr(m_pagerEnd->text());
    f.include = stdstr(m_include->text());
    f.exclude = stdstr(m_exclude->text());
    return f;
}

void MultiLevelDialog::setLevel(const app::LevelForm& f) {
    m_title->setText(qstr(f.title));
    showParents(f.parent);
    m_source->button(f.fromText ? 1 : 2)->setChecked(true);
    m_byPattern->setChecked(f.byPattern);
    m_begin->setPlainText(plain(f.begin));
    m_end->setPlainText(plain(f.end));
    m_find->setText(qstr(f.find));
    m_replace->setText(qstr(f.replace));
    m_testUrl->setText(qstr(f.testUrl));
    m_hasPages->setChecked(f.hasPages);
    m_pagerBegin->setText(qstr(f.pagerBegin));
    m_pagerEnd->setText(qstr(f.pagerEnd));
    m_include->setText(qstr(f.include));
    m_exclude->setText(qstr(f.exclude));
    updateEnabled();
}

void MultiLevelDialog::updatePreview() {
    if (m_pane->shownText().empty()) return;
    const std::string begin = crlf(m_begin->toPlainText()), end = crlf(m_end->toPlainText());
    if (m_source->checkedId() == 2) {
        app::RulePreview none;
        none.summary = "从网址中提取，不从页面内容中截取";
        m_pane->showPreview(none);
    } else if (m_byPattern->isChecked()) {
        m_pane->showPreview(app::PreviewRegex(m_pane->shownText(), begin, end, false));
    } else {
        m_pane->showPreview(app::PreviewFrontBack(m_pane->shownText(), begin, end, false));
    }
}

void MultiLevelDialog::showList() {
    QSignalBlocker block(m_list);
    m_list->clear();
    for (const auto& l : m_form.levels()) m_list->addItem(qstr(l.title + "（上级：" + l.parent + "）"));
    m_list->setCurrentRow(m_current);
}

void MultiLevelDialog::showParents(const std::string& selected) {
    m_parent->clear();
    for (const auto& p : m_form.parentChoices(m_current)) m_parent->addItem(qstr(p));
    int at = m_parent->findText(qstr(selected));
    m_parent->setCurrentIndex(at >= 0 ? at : 0);
}

void MultiLevelDialog::updateEnabled() {
    const bool fromText = m_source->checkedId() != 2;
    for (QWidget* w : std::initializer_list<QWidget*>{m_byPattern, m_begin, m_end}) w->setEnabled(fromText);
    for (QWidget* w : std::initializer_list<QWidget*>{m_find, m_replace}) w->setEnabled(!fromText);
    for (QWidget* w : std::initializer_list<QWidget*>{m_pagerBegin, m_pagerEnd, m_include, m_exclude})
        w->setEnabled(m_hasPages->isChecked());
}

void MultiLevelDialog::select(int index) {
    if (index < 0 || index >= static_cast<int>(m_form.levels().size())) return newLevel();
    m_current = index;
    setLevel(m_form.levels()[static_cast<std::size_t>(index)]);
    QSignalBlocker block(m_list);
    m_list->setCurrentRow(index);
    m_testOutput->clear();
}

void MultiLevelDialog::newLevel() {
    m_current = -1;
    {
        QSignalBlocker block(m_list);
        m_list->clearSelection();
        m_list->setCurrentRow(-1);
    }
    app::LevelForm fresh;
    fresh.testUrl = stdstr(m_testUrl->text().trimmed());
    setLevel(fresh);
    m_testOutput->clear();
    m_title->setFocus();
}

void MultiLevelDialog::saveLevel() {
    const bool adding = m_current < 0;
    if (auto refusal = m_form.saveLevel(m_current, level())) {
        m_dialogs.message(*refusal, platform::kAppTitle);
        return;
    }
    if (adding) m_current = static_cast<int>(m_form.levels().size()) - 1;
    showList();
    select(m_current);
}

void MultiLevelDialog::deleteLevel() {
    if (m_current < 0) return;
    if (auto refusal = m_form.removeLevel(m_current)) {
        m_dialogs.message(*refusal, platform::kAppTitle);
        return;
    }
    const int next = std::min(m_current, static_cast<int>(m_form.levels().size()) - 1);
    m_current = -1;
    showList();
    select(next);
}

void MultiLevelDialog::testLevel() {
    const app::LevelForm edited = level();
    if (auto refusal = edited.validate()) {
        m_dialogs.message(*refusal, platform::kAppTitle);
        return;
    }
    const auto& all = m_form.levels();
    const std::size_t upTo = m_current < 0 ? all.size() : static_cast<std::size_t>(m_current);
    std::vector<app::LevelForm> before(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(upTo));
    m_testOutput->setPlainText("正在测试提取…");
    setEnabled(false);
    // The pages are fetched off the window's thread, which keeps drawing while it waits.
    app::LevelTestResult result;
    QEventLoop wait;
    std::thread worker([&] {
        result = app::TestLevel(before, edited, edited.testUrl, m_options, m_fetch);
        QMetaObject::invokeMethod(&wait, "quit", Qt::QueuedConnection);
    });
    wait.exec();
    worker.join();
    setEnabled(true);
    if (!result.error.empty()) {
        m_testOutput->setPlainText(qstr(result.error));
        return;
    }
    m_testOutput->setPlainText(qstr("网址：" +
                                    (result.address.empty() ? std::string("（没有提取到有效网址）") : result.address) +
                                    "\n\n" + result.text));
}

void MultiLevelDialog::accept() {
    if (auto refusal = m_form.finish()) {
        m_dialogs.message(*refusal, platform::kAppTitle);
        return;
    }
    m_json = m_form.toJson();
    QDialog::accept();
}

}  // namespace tarvex::ui
