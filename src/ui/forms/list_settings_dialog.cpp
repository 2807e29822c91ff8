#include "ui/forms/list_settings_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QSplitter>
#include <QVBoxLayout>

#include "app/forms/rule_preview.h"
#include "app/forms/rule_test.h"
#include "app/tasks/settings_document.h"

#include "platform/ports.h"
#include "ui/forms/pagination_dialog.h"
#include "ui/forms/source_pane.h"
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

ListSettingsDialog::ListSettingsDialog(const std::string& json, std::vector<std::string> contentFields,
                                       std::string programFolder, platform::Dialogs& dialogs, QWidget* parent)
    : QDialog(parent),
      m_dialogs(dialogs),
      m_contentFields(std::move(contentFields)),
      m_programFolder(std::move(programFolder)) {
    setWindowTitle("列表设置");
    setObjectName("ListSettingsDialog");

    // Sources
    m_address = new QLineEdit;
    m_address->setPlaceholderText("http://");
    auto* addAddress = new QPushButton("添加网址");
    m_template = new QLineEdit;
    m_template->setPlaceholderText("http://www.example.com/list_{参数}.html");
    m_first = new QLineEdit("1");
    m_last = new QLineEdit("100");
    m_step = new QLineEdit("1");
    for (auto* e : {m_first, m_last, m_step}) e->setMaximumWidth(70);
    auto* addComposition = new QPushButton("添加");
    m_import = new QLineEdit("列表网址.txt");
    auto* browse = new QPushButton("浏览…");
    auto* addImport = new QPushButton("导入");
    m_sources = new QListWidget;
    m_sources->setObjectName("sourceList");
    auto* remove = new QPushButton("删除选中网址");

    auto* addrRow = new QHBoxLayout;
    addrRow->addWidget(new QLabel("单个网址："));
    addrRow->addWidget(m_address, 1);
    addrRow->addWidget(addAddress);
    auto* compRow = new QHBoxLayout;
    compRow->addWidget(new QLabel("列表网址格式："));
    compRow->addWidget(m_template, 1);
    compRow->addWidget(new QLabel("首项："));
    compRow->addWidget(m_first);
    compRow->addWidget(new QLabel("尾项："));
    compRow->addWidget(m_last);
    compRow->addWidget(new QLabel("间隔："));
    compRow->addWidget(m_step);
    compRow->addWidget(addComposition);
    auto* importRow = new QHBoxLayout;
    importRow->addWidget(new QLabel("文本导入："));
    importRow->addWidget(m_import, 1);
    importRow->addWidget(browse);
    importRow->addWidget(addImport);
    auto* sourcesBox = new QGroupBox("列表网址");
    auto* sourcesLay = new QVBoxLayout(sourcesBox);
    sourcesLay->addLayout(addrRow);
    sourcesLay->addLayout(compRow);
    sourcesLay->addLayout(importRow);
    sourcesLay->addWidget(m_sources, 1);
    sourcesLay->addWidget(remove, 0, Qt::AlignRight);

    // List area and links
    m_begin = new QLineEdit;
    m_end = new QLineEdit;
    m_rewriteFrom = new QPlainTextEdit;
    m_rewriteTo = new QPlainTextEdit;
    m_pattern = new QPlainTextEdit;
    for (auto* e : {m_rewriteFrom, m_rewriteTo, m_pattern}) e->setMaximumHeight(60);
    m_include = new QLineEdit;
    m_exclude = new QLineEdit;
    m_noReferer = new QCheckBox("不带访问来源");
    m_timeout = new QLineEdit;
    m_timeout->setMaximumWidth(70);
    m_uniqueTitles = new QCheckBox("列表标题不能重复");
    m_sort = new QButtonGroup(this);
    auto* sortRow = new QHBoxLayout;
    int id = 0;
    for (const char* caption : {"正序", "反序", "乱序"}) {
        auto* r = new QRadioButton(caption);
        m_sort->addButton(r, id++);
        sortRow->addWidget(r);
    }
    sortRow->addStretch(1);
    m_paginationButton = new QPushButton("分页设置");
    auto* clearPagination = new QPushButton("清除分页");
    auto* pageRow = new QHBoxLayout;
    pageRow->addWidget(m_paginationButton);
    pageRow->addWidget(clearPagination);
    pageRow->addStretch(1);
    auto* optionsRow = new QHBoxLayout;
    optionsRow->addWidget(m_noReferer);
    optionsRow->addWidget(m_uniqueTitles);
    optionsRow->addWidget(new QLabel("超时时间(s)："));
    optionsRow->addWidget(m_timeout);
    optionsRow->addStretch(1);

    auto* form = new QFormLayout;
    form->addRow("前边字符", m_begin);
    form->addRow("后边字符", m_end);
    form->addRow("区域替换前", m_rewriteFrom);
    form->addRow("区域替换后", m_rewriteTo);
    form->addRow(new QLabel("指定采集目标页链接规则（留空将自动提取网址）"));
    auto* patternRow = new QHBoxLayout;
    patternRow->addWidget(m_pattern, 1);
    auto* inserts = new QVBoxLayout;
    for (const char* token : {"{*}", "{DD:采集网址}"}) {
        auto* b = new QPushButton(token);
        connect(b, &QPushButton::clicked, this, [this, token] { insertIntoPattern(token); });
        inserts->addWidget(b);
    }
    auto* fieldButton = new QPushButton("{DD:字段=…}");
    fieldButton->setObjectName("insertListField");
    connect(fieldButton, &QPushButton::clicked, this, &ListSettingsDialog::insertListField);
    inserts->addWidget(fieldButton);
    patternRow->addLayout(inserts);
    form->addRow(patternRow);
    form->addRow("网址包含：（多个请逗号隔开）", m_include);
    form->addRow("不可包含：", m_exclude);
    form->addRow(optionsRow);
    form->addRow("排序：", sortRow);
    form->addRow(pageRow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    nameStandardButtons(buttons);
    auto* settingsSide = new QWidget;
    auto* lay = new QVBoxLayout(settingsSide);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(sourcesBox, 1);
    lay->addLayout(form);
    auto* split = new QSplitter;
    split->addWidget(settingsSide);
    split->addWidget(buildTestPanel());
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    split->setSizes({760, 560});
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(split, 1);
    outer->addWidget(buttons);
    resize(1320, 740);

    connect(addAddress, &QPushButton::clicked, this, &ListSettingsDialog::addAddress);
    connect(addComposition, &QPushButton::clicked, this, &ListSettingsDialog::addComposition);
    connect(addImport, &QPushButton::clicked, this, &ListSettingsDialog::addImport);
    connect(remove, &QPushButton::clicked, this, &ListSettingsDialog::removeSource);
    connect(browse, &QPushButton::clicked, this, [this] {
        QString f =
            QFileDialog::getOpenFileName(this, "文本导入", q(m_programFolder), "文本文件 (*.txt);;所有文件 (*)");
        if (!f.isEmpty()) m_import->setText(f);
    });
    connect(m_paginationButton, &QPushButton::clicked, this, &ListSettingsDialog::editPagination);
    connect(clearPagination, &QPushButton::clicked, this, [this] {
        m_pagination.clear();
        m_paginationButton->setText("分页设置");
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &ListSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    setForm(app::ListSettingsForm::fromJson(json));

    // The highlight follows the typing, a moment after the last key.
    m_previewTimer.setSingleShot(true);
    m_previewTimer.setInterval(250);
    connect(&m_previewTimer, &QTimer::timeout, this, &ListSettingsDialog::updatePreview);
    for (auto* e : {m_begin, m_end, m_include, m_exclude})
        connect(e, &QLineEdit::textChanged, this, [this] { m_previewTimer.start(); });
    for (auto* e : {m_rewriteFrom, m_rewriteTo, m_pattern})
        connect(e, &QPlainTextEdit::textChanged, this, [this] { m_previewTimer.start(); });
    connect(m_pane, &SourcePane::pageLoaded, this, &ListSettingsDialog::updatePreview);
    connect(m_pane, &SourcePane::frontChosen, this, [this](const std::string& t) { m_begin->setText(q(t)); });
    connect(m_pane, &SourcePane::backChosen, this, [this](const std::string& t) { m_end->setText(q(t)); });
    setTaskSettings({});
}

QWidget* ListSettingsDialog::buildTestPanel() {
    auto* panel = new QWidget;
    m_pane = new SourcePane;
    auto* test = new QPushButton("测试列表");
    test->setObjectName("testList");
    m_testOutput = new QPlainTextEdit;
    m_testOutput->setObjectName("listTestOutput");
    m_testOutput->setReadOnly(true);
    m_testOutput->setPlaceholderText("“测试列表”显示列表区域、提取到的链接及列表字段，以及规则的问题");
    auto* lay = new QVBoxLayout(panel);
    lay->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel("网页源码（选中文字后可设为前边字符/后边字符，当前规则匹配处高亮显示）");
    title->setWordWrap(true);
    lay->addWidget(title);
    lay->addWidget(m_pane, 3);
    lay->addWidget(test, 0, Qt::AlignLeft);
    lay->addWidget(m_testOutput, 2);
    connect(test, &QPushButton::clicked, this, &ListSettingsDialog::testList);
    return panel;
}

void ListSettingsDialog::setTaskSettings(std::string settingsJson) {
    m_settingsJson = std::move(settingsJson);
    m_pane->setFetch([this](const std::string& url) { return app::FetchTestPage(testDocument(), url, true); });
    if (m_pane->address().empty()) {
        const auto addresses = app::ListAddresses(testDocument(), m_programFolder);
        if (!addresses.empty()) m_pane->setAddress(addresses.front());
    }
}

std::string ListSettingsDialog::testDocument() const {
    auto doc = app::ParseSettings(m_settingsJson).value_or(app::SettingsJson::object());
    doc["Morepage"] = form().toJson();
    return app::DumpJson(doc);
}

void ListSettingsDialog::updatePreview() {
    if (m_pane->shownText().empty()) return;
    m_pane->showPreview(app::PreviewListRule(m_pane->shownText(), form(), m_pane->loadedAddress()));
}

void ListSettingsDialog::testList() {
    const std::string address = m_pane->address();
    // The page is fetched once, into the pane, and tested as the pane shows it.
    if (!address.empty() && (m_pane->rawPage().empty() || address != m_pane->loadedAddress())) m_pane->load();
    app::PageFetch fetch = app::DefaultPageFetch();
    if (!m_pane->rawPage().empty() && address == m_pane->loadedAddress()) {
        const std::string page = m_pane->rawPage();
        fetch = [page](const std::string&, const std::string&) { return "succ:" + page; };
    }
    const app::ListTest test = app::TestList(testDocument(), m_programFolder, address, {}, fetch);
    QStringList lines;
    for (const auto& line : app::ListTestLines(test)) lines << q(line);
    m_testOutput->setPlainText(lines.join("\n"));
    updatePreview();
}

void ListSettingsDialog::insertIntoPattern(const QString& text) {
    m_pattern->insertPlainText(text);
    m_pattern->setFocus();
}

void ListSettingsDialog::insertListField() {
    auto name = m_dialogs.askText("插入列表字段", "列表页字段名称（最多7个字，如：列表标题）：", "列表标题");
    if (!name) return;
    const std::string trimmed = app::TrimText(*name);
    if (trimmed.empty()) return;
    insertIntoPattern(q("{DD:字段=" + trimmed + "}"));
}

void ListSettingsDialog::setForm(const app::ListSettingsForm& f) {
    m_sources->clear();
    for (const auto& e : f.sources) m_sources->addItem(q(e));
    m_begin->setText(q(f.begin));
    m_end->setText(q(f.end));
    m_rewriteFrom->setPlainText(q(f.rewriteFrom));
    m_rewriteTo->setPlainText(q(f.rewriteTo));
    m_pattern->setPlainText(q(f.linkPattern));
    m_include->setText(q(f.include));
    m_exclude->setText(q(f.exclude));
    m_noReferer->setChecked(f.noReferer);
    m_timeout->setText(q(f.readTimeout));
    m_uniqueTitles->setChecked(f.uniqueTitles);
    if (auto* b = m_sort->button(f.sort)) b->setChecked(true);
    m_pagination = f.pagination;
    m_paginationButton->setText(m_pagination.empty() ? "分页设置" : "分页设置（已设置）");
}

app::ListSettingsForm ListSettingsDialog::form() const {
    app::ListSettingsForm f;
    for (int i = 0; i < m_sources->count(); ++i) f.sources.push_back(s(m_sources->item(i)->text()));
    f.begin = s(m_begin->text());
    f.end = s(m_end->text());
    f.rewriteFrom = s(m_rewriteFrom->toPlainText());
    f.rewriteTo = s(m_rewriteTo->toPlainText());
    f.linkPattern = s(m_pattern->toPlainText());
    f.include = s(m_include->text());
    f.exclude = s(m_exclude->text());
    f.noReferer = m_noReferer->isChecked();
    f.readTimeout = s(m_timeout->text().trimmed());
    f.uniqueTitles = m_uniqueTitles->isChecked();
    f.sort = std::max(0, m_sort->checkedId());
    f.pagination = m_pagination;
    return f;
}

void ListSettingsDialog::refuse(const std::string& text) {
    m_dialogs.message(text, platform::kAppTitle);
}

void ListSettingsDialog::addEntry(const app::SourceEntry& e) {
    if (!e.entry) {
        refuse(e.refusal);
        return;
    }
    std::vector<std::string> current;
    for (int i = 0; i < m_sources->count(); ++i) current.push_back(s(m_sources->item(i)->text()));
    if (app::addSource(current, *e.entry)) m_sources->addItem(q(*e.entry));
}

void ListSettingsDialog::addAddress() {
    addEntry(app::addressEntry(s(m_address->text())));
}

void ListSettingsDialog::addComposition() {
    addEntry(app::composeEntry(s(m_template->text().trimmed()), s(m_first->text().trimmed()),
                               s(m_last->text().trimmed()), s(m_step->text().trimmed())));
}

void ListSettingsDialog::addImport() {
    addEntry(app::importEntry(s(m_import->text().trimmed()), m_programFolder));
}

void ListSettingsDialog::removeSource() {
    qDeleteAll(m_sources->selectedItems());
}

void ListSettingsDialog::editPagination() {
    PaginationDialog dlg(m_pagination, m_dialogs, this);
    if (dlg.exec() == QDialog::Accepted) {
        m_pagination = dlg.json();
        m_paginationButton->setText("分页设置（已设置）");
    }
}

void ListSettingsDialog::accept() {
    auto f = form();
    if (auto refusal = f.validate(m_contentFields)) {
        refuse(*refusal);
        return;
    }
    m_json = f.toJson();
    QDialog::accept();
}

}  // namespace tarvex::ui
