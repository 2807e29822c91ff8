#include "ui/forms/field_editor_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/forms/rule_preview.h"
#include "app/forms/rule_test.h"
#include "app/tasks/settings_document.h"
#include "engine/word_libraries.h"
#include "ui/forms/source_pane.h"
#include "ui/forms/template_edit.h"
#include "ui/qt/qt_text.h"

namespace tarvex::ui {

namespace {

// A caption for a button or check box: "&" shown as itself, not as a shortcut mark.
QString caption(const std::string& text) {
    return qstr(text).replace("&", "&&");
}

QLineEdit* shortEdit(int width = 70) {
    auto* e = new QLineEdit;
    e->setMaximumWidth(width);
    return e;
}

TemplateEdit* templateBox(const char* name, int height = 70) {
    auto* t = new TemplateEdit;
    t->setObjectName(name);
    t->setMinimumHeight(height);
    return t;
}

// A placeholder button that inserts its caption into `box`.
QPushButton* placeholderButton(const char* caption, TemplateEdit* box) {
    auto* b = new QPushButton(caption);
    b->setFocusPolicy(Qt::NoFocus);
    QObject::connect(b, &QPushButton::clicked, box,
                     [box, caption] { box->insertAtCursor(QString::fromUtf8(caption)); });
    return b;
}

// A template box with its placeholder buttons on the right.
QWidget* withButtons(TemplateEdit* box, std::initializer_list<const char*> placeholders) {
    auto* w = new QWidget;
    auto* lay = new QHBoxLayout(w);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(box, 1);
    auto* buttons = new QVBoxLayout;
    for (const char* p : placeholders) buttons->addWidget(placeholderButton(p, box));
    buttons->addStretch(1);
    lay->addLayout(buttons);
    return w;
}

QWidget* row(std::initializer_list<QWidget*> widgets) {
    auto* w = new QWidget;
    auto* lay = new QHBoxLayout(w);
    lay->setContentsMargins(0, 0, 0, 0);
    for (auto* x : widgets) lay->addWidget(x);
    lay->addStretch(1);
    return w;
}

}  // namespace

FieldEditorDialog::FieldEditorDialog(const QString& title, const std::string& ruleJson, std::string settingsJson,
                                     int editingIndex, std::string programFolder, platform::Dialogs& dialogs,
                                     QWidget* parent)
    : QDialog(parent),
      m_settingsJson(std::move(settingsJson)),
      m_editingIndex(editingIndex),
      m_programFolder(std::move(programFolder)),
      m_dialogs(dialogs) {
    setWindowTitle(title);
    setObjectName("FieldEditorDialog");
    m_levels = app::MultiLevelPageTitles(m_settingsJson);

    m_name = new QLineEdit;
    m_name->setObjectName("title");
    // Spaces are taken out as they are typed; the cursor stays where the user was.
    connect(m_name, &QLineEdit::textEdited, this, [this](const QString& typed) {
        const QString clean = qstr(app::NameBoxText(stdstr(typed)));
        if (clean == typed) return;
        const int removedBefore =
            static_cast<int>(typed.left(m_name->cursorPosition()).size()) -
            static_cast<int>(qstr(app::NameBoxText(stdstr(typed.left(m_name->cursorPosition())))).size());
        const int cursor = m_name->cursorPosition() - removedBefore;
        m_name->setText(clean);
        m_name->setCursorPosition(std::clamp(cursor, 0, static_cast<int>(clean.size())));
    });
    m_notEmpty = new QCheckBox("不能为空");
    m_everyPage = new QCheckBox("分页循环匹配");
    m_repeat = new QCheckBox("单页重复提取");
    m_fromLevel = new QCheckBox("多级页面获取");
    m_level = new QComboBox;
    m_level->setObjectName("check_morepageindex");
    m_level->setMinimumContentsLength(10);
    for (const auto& level : m_levels) m_level->addItem(qstr(level));
    m_level->setCurrentIndex(-1);
    m_level->setEnabled(false);
    connect(m_fromLevel, &QCheckBox::toggled, m_level, &QWidget::setEnabled);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("字段名称"));
    top->addWidget(m_name, 1);
    top->addWidget(m_notEmpty);
    top->addWidget(m_everyPage);
    top->addWidget(m_repeat);
    top->addWidget(m_fromLevel);
    top->addWidget(m_level);

    m_tabs = new QTabWidget;
    m_tabs->setObjectName("fieldTabs");
    m_tabs->addTab(buildRuleTab(), "采集规则");
    m_tabs->addTab(buildPostTab(), "内容处理");
    m_tabs->addTab(buildFilterTab(), "筛选过滤");
    m_tabs->addTab(buildAttachmentTab(), "附件下载");
    m_tabs->addTab(buildImageTab(), "水印和缩略图");

    auto* save = new QPushButton("保存");
    save->setObjectName("saveField");
    save->setDefault(false);
    save->setAutoDefault(false);
    auto* quit = new QPushButton("退出");
    quit->setObjectName("quitField");
    quit->setAutoDefault(false);
    connect(save, &QPushButton::clicked, this, &FieldEditorDialog::accept);
    connect(quit, &QPushButton::clicked, this, &QDialog::reject);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(save);
    bottom->addWidget(quit);

    auto* split = new QSplitter;
    split->addWidget(m_tabs);
    split->addWidget(buildSourcePanel());
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    split->setSizes({700, 600});
    auto* lay = new QVBoxLayout(this);
    lay->addLayout(top);
    lay->addWidget(split, 1);
    lay->addLayout(bottom);
    resize(1320, 680);

    auto form = app::FieldEditorForm::fromJson(ruleJson, m_levels);
    if (!form) {
        m_dialogs.message("字段规则不是有效的JSON对象，将按新字段打开", platform::kAppTitle);
        form = app::FieldEditorForm();
    }
    setForm(*form);

    m_previewTimer.setSingleShot(true);
    m_previewTimer.setInterval(250);
    connect(&m_previewTimer, &QTimer::timeout, this, &FieldEditorDialog::updatePreview);
    for (auto* box : {m_front, m_back, m_pattern, m_output})
        connect(box, &QPlainTextEdit::textChanged, this, [this] { m_previewTimer.start(); });
    connect(m_repeat, &QCheckBox::toggled, this, [this] { m_previewTimer.start(); });
    connect(m_method, &QButtonGroup::idToggled, this, [this] { m_previewTimer.start(); });
}

QWidget* FieldEditorDialog::buildSourcePanel() {
    auto* panel = new QWidget;
    m_pane = new SourcePane;
    const std::string settings = m_settingsJson;
    m_pane->setFetch([settings](const std::string& url) { return app::FetchTestPage(settings, url, false); });
    {
        // The single-page test address when the task has one, else its first list address.
        const auto doc = app::ParseSettings(m_settingsJson);
        std::string address = doc ? app::TrimText(app::SettingText(*doc, "other_testurl")) : std::string();
        if (address.empty()) {
            const auto list = app::ListAddresses(m_settingsJson, m_programFolder);
            if (!list.empty()) address = list.front();
        }
        m_pane->setAddress(address);
    }
    auto* test = new QPushButton("测试字段");
    test->setObjectName("testFields");
    test->setAutoDefault(false);
    m_fieldTestOutput = new QPlainTextEdit;
    m_fieldTestOutput->setObjectName("fieldTestOutput");
    m_fieldTestOutput->setReadOnly(true);
    m_fieldTestOutput->setPlaceholderText("“测试字段”用当前规则采集上方网址，显示每个字段的结果，为空的字段注明原因");
    auto* title = new QLabel("内容页源码（选中文字后可设为前边字符/后边字符，当前规则匹配处高亮显示）");
    title->setWordWrap(true);
    auto* lay = new QVBoxLayout(panel);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(title);
    lay->addWidget(m_pane, 3);
    lay->addWidget(test, 0, Qt::AlignLeft);
    lay->addWidget(m_fieldTestOutput, 2);
    connect(test, &QPushButton::clicked, this, &FieldEditorDialog::testFields);
    connect(m_pane, &SourcePane::pageLoaded, this, &FieldEditorDialog::updatePreview);
    connect(m_pane, &SourcePane::frontChosen, this, [this](const std::string& text) {
        m_method->button(static_cast<int>(app::FieldMethod::FrontBack))->setChecked(true);
        m_front->setText(text);
    });
    connect(m_pane, &SourcePane::backChosen, this, [this](const std::string& text) {
        m_method->button(static_cast<int>(app::FieldMethod::FrontBack))->setChecked(true);
        m_back->setText(text);
    });
    return panel;
}

void FieldEditorDialog::updatePreview() {
    if (m_pane->shownText().empty()) return;
    const std::string& page = m_pane->shownText();
    const bool repeat = m_repeat->isChecked();
    app::RulePreview preview;
    switch (static_cast<app::FieldMethod>(m_method->checkedId())) {
        case app::FieldMethod::FrontBack:
            preview = app::PreviewFrontBack(page, m_front->text(), m_back->text(), repeat);
            break;
        case app::FieldMethod::Regex:
            preview = app::PreviewRegex(page, m_pattern->text(), m_output->text(), repeat);
            break;
        default:
            preview.summary = "自定义字符串不从网页中提取";
            break;
    }
    m_pane->showPreview(preview);
}

std::string FieldEditorDialog::settingsWithThisField() const {
    auto doc = app::ParseSettings(m_settingsJson).value_or(app::SettingsJson::object());
    if (!doc.contains("fieldsAll") || !doc["fieldsAll"].is_array()) doc["fieldsAll"] = app::SettingsJson::array();
    auto& fields = doc["fieldsAll"];
    const std::string rule = form().toJson();
    if (m_editingIndex >= 0 && m_editingIndex < static_cast<int>(fields.size()))
        fields[static_cast<std::size_t>(m_editingIndex)] = rule;
    else
        fields.push_back(rule);
    return app::DumpJson(doc);
}

void FieldEditorDialog::testFields() {
    const std::string address = m_pane->address();
    if (address.empty()) {
        m_fieldTestOutput->setPlainText("请先在上方填写一个内容页网址");
        return;
    }
    if (m_pane->rawPage().empty() || m_pane->loadedAddress() != address) m_pane->load();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const app::FieldTest test =
        app::TestFields(app::Workspace::at(m_programFolder), 0, settingsWithThisField(), address);
    QApplication::restoreOverrideCursor();
    QStringList lines;
    for (const auto& line : app::FieldTestLines(test)) lines << qstr(line);
    m_fieldTestOutput->setPlainText(lines.join("\n"));
}

QWidget* FieldEditorDialog::buildRuleTab() {
    auto* page = new QWidget;
    m_method = new QButtonGroup(this);
    auto* methods = new QHBoxLayout;
    const std::pair<const char*, app::FieldMethod> choices[] = {{"前后采集", app::FieldMethod::FrontBack},
                                                                {"正则采集", app::FieldMethod::Regex},
                                                                {"自定义字符串", app::FieldMethod::MadeUp},
                                                                {"智能识别", app::FieldMethod::Smart}};
    for (const auto& [caption, id] : choices) {
        auto* r = new QRadioButton(caption);
        m_method->addButton(r, static_cast<int>(id));
        methods->addWidget(r);
    }
    methods->addStretch(1);
    connect(m_method, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on) showMethodPage();
    });

    m_front = templateBox("front");
    m_back = templateBox("back");
    auto* cut = new QWidget;
    auto* cutLay = new QFormLayout(cut);
    cutLay->addRow("前边字符:", withButtons(m_front, {"{*}"}));
    cutLay->addRow("后边字符:", withButtons(m_back, {"{*}"}));

    m_pattern = templateBox("pattern", 110);
    m_output = templateBox("output");
    auto* regex = new QWidget;
    auto* regexLay = new QFormLayout(regex);
    regexLay->addRow("正则规则", withButtons(m_pattern, {"{*}", "{参数1}"}));
    regexLay->addRow("合成结果", withButtons(m_output, {"{参数1}"}));

    m_madeUpKind = new QButtonGroup(this);
    auto* kinds = new QHBoxLayout;
    int id = 1;
    for (const char* caption : {"固定字符串", "随机字符串", "随机数"}) {
        auto* r = new QRadioButton(caption);
        m_madeUpKind->addButton(r, id++);
        kinds->addWidget(r);
    }
    kinds->addStretch(1);
    m_madeUpText = templateBox("madeUpText", 110);
    m_madeUpText->setTokens(app::FixedTextTokens(m_settingsJson));
    m_madeUpText->setToolTip("固定字符串，或随机字符串的各行（右键可插入标签）");
    m_min = shortEdit(90);
    m_min->setObjectName("radio_3_content_min");
    m_max = shortEdit(90);
    m_max->setObjectName("radio_3_content_max");
    auto* test = new QPushButton("测试");
    test->setObjectName("testMadeUp");
    connect(test, &QPushButton::clicked, this, &FieldEditorDialog::testMadeUp);
    auto* made = new QWidget;
    auto* madeLay = new QVBoxLayout(made);
    madeLay->addLayout(kinds);
    madeLay->addWidget(m_madeUpText, 1);
    madeLay->addWidget(row({new QLabel("最小值："), m_min, new QLabel("最大值："), m_max, test}));

    m_smartPart = new QComboBox;
    m_smartPart->setObjectName("radio_4_content");
    for (const char* part : app::kSmartParts) m_smartPart->addItem(part);
    auto* smart = new QWidget;
    auto* smartLay = new QFormLayout(smart);
    smartLay->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    smartLay->addRow("识别内容:", m_smartPart);
    smartLay->addRow(new QLabel("不用规则，自动识别网页中文章的正文、标题、发布时间或作者。"));

    m_methodPages = new QStackedWidget;
    m_methodPages->addWidget(cut);
    m_methodPages->addWidget(regex);
    m_methodPages->addWidget(made);
    m_methodPages->addWidget(smart);

    auto* lay = new QVBoxLayout(page);
    lay->addLayout(methods);
    lay->addWidget(m_methodPages, 1);
    return page;
}

QWidget* FieldEditorDialog::buildPostTab() {
    auto* page = new QWidget;
    m_ruleList = new QTreeWidget;
    m_ruleList->setObjectName("ruleList");
    m_ruleList->setHeaderLabels({"序", "规则", "内容"});
    m_ruleList->setRootIsDecorated(false);
    m_ruleList->setColumnWidth(0, 36);
    m_ruleList->setColumnWidth(1, 100);
    m_ruleList->header()->setStretchLastSection(true);
    connect(m_ruleList, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { selectRule(m_ruleList->indexOfTopLevelItem(item)); });

    m_newMenu = new QMenu(this);
    m_newMenu->setObjectName("newRuleMenu");
    std::map<std::string, QMenu*> groups;
    for (const auto& p : app::RulePages()) {
        QMenu* target = m_newMenu;
        if (!p.group.empty()) {
            auto& sub = groups[p.group];
            if (!sub) sub = m_newMenu->addMenu(qstr(p.group));
            target = sub;
        }
        const std::string type = p.type;
        target->addAction(qstr(p.menu), this, [this, type] { newRule(type); });
    }
    auto* add = new QPushButton("新建");
    add->setObjectName("newRule");
    add->setMenu(m_newMenu);
    auto* remove = new QPushButton("删除");
    remove->setObjectName("deleteRule");
    auto* up = new QPushButton("↑");
    up->setObjectName("ruleUp");
    auto* down = new QPushButton("↓");
    down->setObjectName("ruleDown");
    connect(remove, &QPushButton::clicked, this, &FieldEditorDialog::deleteRule);
    connect(up, &QPushButton::clicked, this, [this] { moveRule(-1); });
    connect(down, &QPushButton::clicked, this, [this] { moveRule(1); });
    auto* commands = new QHBoxLayout;
    for (auto* b : {add, remove, up, down}) commands->addWidget(b);
    commands->addStretch(1);

    m_rulePages = new QStackedWidget;
    m_rulePages->setObjectName("rulePages");
    auto* empty = new QLabel("点击“新建”添加处理规则，或点击列表中的规则进行修改。");
    empty->setAlignment(Qt::AlignCenter);
    empty->setWordWrap(true);
    m_rulePages->addWidget(empty);
    for (const auto& p : app::RulePages()) m_pageIndex[p.type] = m_rulePages->addWidget(buildRulePage(p));

    auto* left = new QVBoxLayout;
    left->addLayout(commands);
    left->addWidget(m_ruleList, 1);
    auto* box = new QGroupBox("规则设置");
    auto* boxLay = new QVBoxLayout(box);
    boxLay->addWidget(m_rulePages);
    auto* lay = new QHBoxLayout(page);
    lay->addLayout(left, 3);
    lay->addWidget(box, 2);
    return page;
}

QWidget* FieldEditorDialog::buildRulePage(const app::RulePage& p) {
    auto* page = new QWidget;
    page->setObjectName(qstr("rulePage_" + p.type));
    auto* form = new QFormLayout(page);
    form->addRow(new QLabel("<b>" + qstr(p.menu).toHtmlEscaped() + "</b>"));
    auto& inputs = m_inputs[p.type];
    for (const auto& in : p.inputs) {
        QWidget* control = nullptr;
        QWidget* shown = nullptr;
        switch (in.kind) {
            case app::RuleInputKind::Line: {
                auto* e = new QLineEdit;
                control = shown = e;
                if (in.resetButton) {
                    auto* reset = new QPushButton("默认");
                    const std::string initial = in.initial;
                    connect(reset, &QPushButton::clicked, e, [e, initial] { e->setText(qstr(initial)); });
                    auto* w = new QWidget;
                    auto* lay = new QHBoxLayout(w);
                    lay->setContentsMargins(0, 0, 0, 0);
                    lay->addWidget(e, 1);
                    lay->addWidget(reset);
                    shown = w;
                }
                break;
            }
            case app::RuleInputKind::Template: {
                auto* t = templateBox("", 60);
                control = t;
                shown = withButtons(t, {"{*}", "{参数1}"});
                break;
            }
            case app::RuleInputKind::Text:
                control = shown = templateBox("", 60);
                break;
            case app::RuleInputKind::Check:
                control = shown = new QCheckBox(caption(in.caption));
                break;
            case app::RuleInputKind::Choice: {
                auto* w = new QWidget;
                auto* lay = new QVBoxLayout(w);
                lay->setContentsMargins(0, 0, 0, 0);
                auto* group = new QButtonGroup(w);
                for (std::size_t i = 0; i < in.choices.size(); ++i) {
                    auto* r = new QRadioButton(caption(in.choices[i]));
                    group->addButton(r, static_cast<int>(i));
                    lay->addWidget(r);
                }
                control = shown = w;
                break;
            }
            case app::RuleInputKind::WordList: {
                auto* c = new QComboBox;
                c->setMinimumContentsLength(12);
                control = shown = c;
                break;
            }
            case app::RuleInputKind::File: {
                auto* e = new QLineEdit;
                auto* choose = new QPushButton("选择");
                connect(choose, &QPushButton::clicked, e, [this, e] {
                    QString f = QFileDialog::getOpenFileName(this, "选择文本文件", qstr(m_programFolder),
                                                             "文本文件 (*.txt);;所有文件 (*)");
                    if (!f.isEmpty()) e->setText(f);
                });
                auto* w = new QWidget;
                auto* lay = new QHBoxLayout(w);
                lay->setContentsMargins(0, 0, 0, 0);
                lay->addWidget(e, 1);
                lay->addWidget(choose);
                control = e;
                shown = w;
                break;
            }
            case app::RuleInputKind::HtmlFilter: {
                auto* w = new QWidget;
                auto* grid = new QGridLayout(w);
                grid->setContentsMargins(0, 0, 0, 0);
                const auto& captions = app::HtmlFilterCaptions();
                for (std::size_t i = 0; i < captions.size(); ++i) {
                    auto* c = new QCheckBox(caption(captions[i]));
                    c->setObjectName(QString("filter%1").arg(i));
                    grid->addWidget(c, static_cast<int>(i / 3), static_cast<int>(i % 3));
                }
                control = shown = w;
                break;
            }
        }
        control->setObjectName(qstr(in.key));
        inputs[in.key] = control;
        if (in.kind == app::RuleInputKind::Check || in.kind == app::RuleInputKind::HtmlFilter)
            form->addRow(shown);
        else
            form->addRow(qstr(in.caption), shown);
    }
    auto* ok = new QPushButton("确定");
    ok->setObjectName("commitRule");
    ok->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &FieldEditorDialog::commitRule);
    form->addRow(row({ok}));
    return page;
}

QWidget* FieldEditorDialog::buildFilterTab() {
    auto* page = new QWidget;
    m_filterOn = new QCheckBox("开启过滤功能");
    m_filterOn->setObjectName("filter_open_check");
    m_filterEmpty = new QCheckBox("内容不能为空");
    m_filterMin = new QCheckBox("文字长度不能小于");
    m_filterMax = new QCheckBox("文字长度不能大于");
    m_filterInclude = new QCheckBox("内容必须包含");
    m_filterExclude = new QCheckBox("内容不得包含");
    m_filterImages = new QCheckBox("图片最大张数");
    m_neverAgain = new QCheckBox("附加操作：下次不再采集");
    m_minLength = shortEdit(90);
    m_maxLength = shortEdit(90);
    m_include = new QLineEdit;
    m_include->setPlaceholderText("多个请使用英文逗号,隔开");
    m_exclude = new QLineEdit;
    m_exclude->setPlaceholderText("多个请使用英文逗号,隔开");
    m_maxImages = shortEdit(90);

    auto* checks = new QGroupBox;
    auto* grid = new QGridLayout(checks);
    grid->addWidget(m_filterEmpty, 0, 0);
    grid->addWidget(m_filterMin, 1, 0);
    grid->addWidget(m_minLength, 1, 1);
    grid->addWidget(m_filterMax, 2, 0);
    grid->addWidget(m_maxLength, 2, 1);
    grid->addWidget(m_filterInclude, 3, 0);
    grid->addWidget(m_include, 3, 1);
    grid->addWidget(m_filterExclude, 4, 0);
    grid->addWidget(m_exclude, 4, 1);
    grid->addWidget(m_filterImages, 5, 0);
    grid->addWidget(m_maxImages, 5, 1);
    grid->addWidget(m_neverAgain, 6, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    checks->setEnabled(false);
    connect(m_filterOn, &QCheckBox::toggled, checks, &QWidget::setEnabled);

    auto* lay = new QVBoxLayout(page);
    lay->addWidget(m_filterOn);
    lay->addWidget(checks);
    lay->addStretch(1);
    return page;
}

QWidget* FieldEditorDialog::buildAttachmentTab() {
    auto* page = new QWidget;
    m_downloadImages = new QCheckBox("开启图片自动识别并下载");
    m_downloadImages->setObjectName("downloadImages");
    m_downloadAttachment = new QCheckBox("附件下载");
    m_downloadAttachment->setObjectName("downloadAttachment");
    m_downloadAttachment->setToolTip("把整个字段内容当作一个文件的地址直接下载");
    m_fileName = new QLineEdit;
    m_fileName->setObjectName("fileName");
    attachTokenMenu(m_fileName, app::FileNameTokens());
    auto* style = new QPushButton("样式1");
    connect(style, &QPushButton::clicked, this, [this] { m_fileName->setText(app::kDefaultFileName); });
    m_prefix = new QComboBox;
    m_prefix->setObjectName("prefix");
    m_prefix->setEditable(true);
    // A typed prefix is a value of this field, not a new entry of the list.
    m_prefix->setInsertPolicy(QComboBox::NoInsert);
    for (const char* choice : app::kPrefixChoices) m_prefix->addItem(choice);
    m_prefix->setMinimumContentsLength(18);
    connect(m_prefix, &QComboBox::activated, this, [this](int index) { m_prefixChoice = index; });
    connect(m_prefix->lineEdit(), &QLineEdit::textEdited, this, [this] { m_prefixChoice = -1; });
    m_sendReferer = new QCheckBox("防盗链");
    m_blankInPath = new QCheckBox("图片路径包含空格");

    m_sample = new QLineEdit;
    m_sample->setObjectName("sampleAddress");
    auto* preview = new QPushButton("预览");
    preview->setObjectName("previewFileName");
    connect(preview, &QPushButton::clicked, this, &FieldEditorDialog::previewFileName);
    m_sampleGroup = new QGroupBox("测试规则");
    m_sampleGroup->setObjectName("sampleGroup");
    auto* sampleLay = new QHBoxLayout(m_sampleGroup);
    sampleLay->addWidget(new QLabel("测试地址："));
    sampleLay->addWidget(m_sample, 1);
    sampleLay->addWidget(preview);
    connect(m_downloadImages, &QCheckBox::toggled, this, &FieldEditorDialog::showSampleGroup);
    connect(m_downloadAttachment, &QCheckBox::toggled, this, &FieldEditorDialog::showSampleGroup);

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(m_fileName, 1);
    nameRow->addWidget(style);
    auto* form = new QFormLayout;
    form->addRow(row({m_downloadImages, m_downloadAttachment}));
    form->addRow("新文件全名:", nameRow);
    form->addRow("附件前缀:", row({m_prefix}));
    form->addRow(row({m_sendReferer, m_blankInPath}));
    auto* hint = new QLabel("新文件全名可右键插入标签，如 {dd:日期yyyymmdd}、{dd:MD5}、{dd:原文件名}。");
    hint->setWordWrap(true);
    auto* lay = new QVBoxLayout(page);
    lay->addLayout(form);
    lay->addWidget(hint);
    lay->addWidget(m_sampleGroup);
    lay->addStretch(1);
    return page;
}

QWidget* FieldEditorDialog::buildImageTab() {
    auto* page = new QWidget;
    m_pictureMark = new QCheckBox("图片水印");
    m_pictureMark->setObjectName("pic_waterpic_check");
    m_markFile = new QLineEdit;
    m_markFile->setObjectName("pic_water_filepath");
    auto* open = new QPushButton("打开");
    connect(open, &QPushButton::clicked, this, [this] {
        QString f = QFileDialog::getOpenFileName(this, "选择水印图片", m_markFile->text(),
                                                 "图片 (*.png *.jpg *.jpeg *.gif *.bmp);;所有文件 (*)");
        if (!f.isEmpty()) m_markFile->setText(f);
    });
    m_transparency = shortEdit();
    m_transparency->setObjectName("pic_transparent");
    m_quality = shortEdit();
    m_quality->setObjectName("pic_quality");
    m_methodTwo = new QCheckBox("方式2");
    m_position = shortEdit(50);
    m_position->setObjectName("pic_waterpic_origin");
    m_position->setToolTip("1 左上 2 上中 3 右上 4 左中 5 居中 6 右中 7 左下 8 下中 9 右下");
    m_offsetX = shortEdit(50);
    m_offsetY = shortEdit(50);
    auto* picture = new QGroupBox;
    auto* picLay = new QFormLayout(picture);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(m_pictureMark);
    fileRow->addWidget(m_markFile, 1);
    fileRow->addWidget(open);
    picLay->addRow(fileRow);
    picLay->addRow(row({new QLabel("透明度："), m_transparency, new QLabel("压缩质量："), m_quality}));
    picLay->addRow(row({m_methodTwo, new QLabel("位置:"), m_position, new QLabel("偏移XY:"), m_offsetX, m_offsetY}));

    m_textMark = new QCheckBox("文字水印");
    m_textMark->setObjectName("pic_waterstring_check");
    m_markText = new QLineEdit;
    m_markText->setObjectName("pic_water_string");
    m_color = shortEdit(90);
    m_color->setObjectName("pic_water_color");
    auto* pick = new QPushButton("…");
    pick->setMaximumWidth(30);
    connect(pick, &QPushButton::clicked, this, [this] {
        QColor c = QColorDialog::getColor(QColor(m_color->text()), this, "颜色");
        if (c.isValid()) m_color->setText(c.name().toUpper());
    });
    m_fontSize = shortEdit(50);
    m_fontSize->setObjectName("pic_water_fontsize");
    auto* text = new QGroupBox;
    auto* textLay = new QFormLayout(text);
    auto* textRow = new QHBoxLayout;
    textRow->addWidget(m_textMark);
    textRow->addWidget(m_markText, 1);
    textLay->addRow(textRow);
    textLay->addRow(row({new QLabel("颜色："), m_color, pick, new QLabel("大小:"), m_fontSize}));

    m_thumbnail = new QCheckBox("提取首张图片为缩略图");
    m_thumbnail->setObjectName("pic_smallpic_check");
    m_thumbWidth = shortEdit(60);
    m_thumbWidth->setObjectName("pic_smallpic_width");
    m_thumbHeight = shortEdit(60);
    m_thumbHeight->setObjectName("pic_smallpic_height");
    m_thumbName = new QLineEdit;
    m_thumbName->setObjectName("pic_smallpic_newname");
    attachTokenMenu(m_thumbName, app::FileNameTokens());
    auto* style = new QPushButton("样式1");
    connect(style, &QPushButton::clicked, this, [this] { m_thumbName->setText(app::kDefaultThumbnailName); });
    auto* thumb = new QGroupBox;
    auto* thumbLay = new QFormLayout(thumb);
    thumbLay->addRow(row({m_thumbnail, new QLabel("宽："), m_thumbWidth, new QLabel("高："), m_thumbHeight}));
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(m_thumbName, 1);
    nameRow->addWidget(style);
    thumbLay->addRow("新文件全名:", nameRow);

    auto* lay = new QVBoxLayout(page);
    lay->addWidget(picture);
    lay->addWidget(text);
    lay->addWidget(thumb);
    lay->addStretch(1);
    return page;
}

app::FieldEditorForm FieldEditorDialog::form() const {
    app::FieldEditorForm f;
    f.name = stdstr(m_name->text());
    f.notEmpty = m_notEmpty->isChecked();
    f.everyPage = m_everyPage->isChecked();
    f.fromLevel = m_fromLevel->isChecked();
    f.level = m_level->currentIndex() >= 0 ? stdstr(m_level->currentText()) : "";
    f.repeat = m_repeat->isChecked();
    f.method = static_cast<app::FieldMethod>(std::max(1, m_method->checkedId()));
    f.front = m_front->text();
    f.back = m_back->text();
    f.pattern = m_pattern->text();
    f.output = m_output->text();
    f.smartPart = stdstr(m_smartPart->currentText());
    f.madeUp = static_cast<app::MadeUpKind>(std::max(0, m_madeUpKind->checkedId()));
    f.madeUpText = m_madeUpText->text();
    f.minText = stdstr(m_min->text());
    f.maxText = stdstr(m_max->text());
    f.rules = m_rules;

    f.downloadImages = m_downloadImages->isChecked();
    f.downloadAttachment = m_downloadAttachment->isChecked();
    f.fileName = stdstr(m_fileName->text());
    f.prefixChoice = m_prefixChoice;
    f.prefixText = m_prefixChoice == -1 ? stdstr(m_prefix->currentText()) : "";
    f.sendReferer = m_sendReferer->isChecked();
    f.blankInPath = m_blankInPath->isChecked();
    f.sampleAddress = stdstr(m_sample->text());

    f.pictureMark = m_pictureMark->isChecked();
    f.markFile = stdstr(m_markFile->text());
    f.transparency = stdstr(m_transparency->text());
    f.quality = stdstr(m_quality->text());
    f.methodTwo = m_methodTwo->isChecked();
    f.position = stdstr(m_position->text());
    f.offsetX = stdstr(m_offsetX->text());
    f.offsetY = stdstr(m_offsetY->text());
    f.textMark = m_textMark->isChecked();
    f.markText = stdstr(m_markText->text());
    f.color = stdstr(m_color->text());
    f.fontSize = stdstr(m_fontSize->text());
    f.thumbnail = m_thumbnail->isChecked();
    f.thumbWidth = stdstr(m_thumbWidth->text());
    f.thumbHeight = stdstr(m_thumbHeight->text());
    f.thumbName = stdstr(m_thumbName->text());

    f.filterOn = m_filterOn->isChecked();
    f.filterEmpty = m_filterEmpty->isChecked();
    f.filterMin = m_filterMin->isChecked();
    f.minLength = stdstr(m_minLength->text());
    f.filterMax = m_filterMax->isChecked();
    f.maxLength = stdstr(m_maxLength->text());
    f.filterInclude = m_filterInclude->isChecked();
    f.includeWords = stdstr(m_include->text());
    f.filterExclude = m_filterExclude->isChecked();
    f.excludeWords = stdstr(m_exclude->text());
    f.filterImages = m_filterImages->isChecked();
    f.maxImages = stdstr(m_maxImages->text());
    f.neverAgain = m_neverAgain->isChecked();
    return f;
}

void FieldEditorDialog::setForm(const app::FieldEditorForm& f) {
    m_name->setText(qstr(f.name));
    m_notEmpty->setChecked(f.notEmpty);
    m_everyPage->setChecked(f.everyPage);
    m_fromLevel->setChecked(f.fromLevel);
    m_level->setEnabled(f.fromLevel);
    m_level->setCurrentIndex(m_level->findText(qstr(f.level)));
    m_repeat->setChecked(f.repeat);
    m_method->button(static_cast<int>(f.method))->setChecked(true);
    showMethodPage();
    m_smartPart->setCurrentIndex(std::max(0, m_smartPart->findText(qstr(f.smartPart))));
    m_front->setText(f.front);
    m_back->setText(f.back);
    m_pattern->setText(f.pattern);
    m_output->setText(f.output);
    if (f.madeUp == app::MadeUpKind::None) {
        m_madeUpKind->setExclusive(false);
        for (auto* b : m_madeUpKind->buttons()) b->setChecked(false);
        m_madeUpKind->setExclusive(true);
    } else {
        m_madeUpKind->button(static_cast<int>(f.madeUp))->setChecked(true);
    }
    m_madeUpText->setText(f.madeUpText);
    m_min->setText(qstr(f.minText));
    m_max->setText(qstr(f.maxText));
    m_rules = f.rules;
    showRules(-1);

    m_downloadImages->setChecked(f.downloadImages);
    m_downloadAttachment->setChecked(f.downloadAttachment);
    m_fileName->setText(qstr(f.fileName));
    m_prefixChoice = f.prefixChoice;
    if (f.prefixChoice >= 0) {
        m_prefix->setCurrentIndex(f.prefixChoice);
    } else {
        m_prefix->setCurrentIndex(-1);
        m_prefix->setEditText(qstr(f.prefixText));
    }
    m_sendReferer->setChecked(f.sendReferer);
    m_blankInPath->setChecked(f.blankInPath);
    m_sample->setText(qstr(f.sampleAddress));
    showSampleGroup();

    m_pictureMark->setChecked(f.pictureMark);
    m_markFile->setText(qstr(f.markFile));
    m_transparency->setText(qstr(f.transparency));
    m_quality->setText(qstr(f.quality));
    m_methodTwo->setChecked(f.methodTwo);
    m_position->setText(qstr(f.position));
    m_offsetX->setText(qstr(f.offsetX));
    m_offsetY->setText(qstr(f.offsetY));
    m_textMark->setChecked(f.textMark);
    m_markText->setText(qstr(f.markText));
    m_color->setText(qstr(f.color));
    m_fontSize->setText(qstr(f.fontSize));
    m_thumbnail->setChecked(f.thumbnail);
    m_thumbWidth->setText(qstr(f.thumbWidth));
    m_thumbHeight->setText(qstr(f.thumbHeight));
    m_thumbName->setText(qstr(f.thumbName));

    m_filterOn->setChecked(f.filterOn);
    m_filterEmpty->setChecked(f.filterEmpty);
    m_filterMin->setChecked(f.filterMin);
    m_minLength->setText(qstr(f.minLength));
    m_filterMax->setChecked(f.filterMax);
    m_maxLength->setText(qstr(f.maxLength));
    m_filterInclude->setChecked(f.filterInclude);
    m_include->setText(qstr(f.includeWords));
    m_filterExclude->setChecked(f.filterExclude);
    m_exclude->setText(qstr(f.excludeWords));
    m_filterImages->setChecked(f.filterImages);
    m_maxImages->setText(qstr(f.maxImages));
    m_neverAgain->setChecked(f.neverAgain);
}

void FieldEditorDialog::accept() {
    auto result = app::SaveField(form(), m_settingsJson, m_editingIndex);
    if (!result.json) {
        m_dialogs.message(result.refusal, platform::kAppTitle);
        return;
    }
    m_json = *result.json;
    QDialog::accept();
}

void FieldEditorDialog::showMethodPage() {
    const int id = m_method->checkedId();
    m_methodPages->setCurrentIndex(std::clamp(id, 1, 4) - 1);
}

void FieldEditorDialog::showSampleGroup() {
    m_sampleGroup->setVisible(m_downloadImages->isChecked() || m_downloadAttachment->isChecked());
}

void FieldEditorDialog::showRules(int select) {
    m_ruleList->clear();
    for (const auto& r : m_rules.rows()) {
        auto* item = new QTreeWidgetItem(m_ruleList);
        item->setText(0, qstr(r.number));
        item->setText(1, qstr(r.type));
        item->setText(2, qstr(r.content));
        item->setToolTip(2, qstr(r.content));
    }
    if (select >= 0 && select < m_ruleList->topLevelItemCount())
        m_ruleList->setCurrentItem(m_ruleList->topLevelItem(select));
    else
        m_ruleList->clearSelection();
}

void FieldEditorDialog::refreshWordLists(const app::RulePage& page) {
    for (const auto& in : page.inputs) {
        if (in.kind != app::RuleInputKind::WordList) continue;
        auto* box = static_cast<QComboBox*>(m_inputs[page.type][in.key]);
        box->clear();
        for (const auto& name : engine::WordListNames(m_programFolder, page.folder)) box->addItem(qstr(name));
    }
}

void FieldEditorDialog::showRulePage() {
    const auto& shown = m_rules.page();
    if (!shown) {
        m_rulePages->setCurrentIndex(0);
        return;
    }
    const app::RulePage* page = app::RulePageOf(shown->type);
    refreshWordLists(*page);
    auto& inputs = m_inputs[page->type];
    for (const auto& in : page->inputs) {
        const std::string value = shown->value(in.key);
        QWidget* control = inputs[in.key];
        switch (in.kind) {
            case app::RuleInputKind::Line:
            case app::RuleInputKind::File:
                static_cast<QLineEdit*>(control)->setText(qstr(value));
                break;
            case app::RuleInputKind::Template:
            case app::RuleInputKind::Text:
                static_cast<TemplateEdit*>(control)->setText(value);
                break;
            case app::RuleInputKind::Check:
                static_cast<QCheckBox*>(control)->setChecked(value == "-1");
                break;
            case app::RuleInputKind::Choice: {
                auto* group = control->findChild<QButtonGroup*>();
                if (auto* b = group->button(std::atoi(value.c_str()))) b->setChecked(true);
                break;
            }
            case app::RuleInputKind::WordList: {
                auto* box = static_cast<QComboBox*>(control);
                // A list whose file is gone still shows its name; saving the rule then says so.
                if (!value.empty() && box->findText(qstr(value)) < 0) box->addItem(qstr(value));
                box->setCurrentIndex(value.empty() ? -1 : box->findText(qstr(value)));
                break;
            }
            case app::RuleInputKind::HtmlFilter: {
                for (auto* c : control->findChildren<QCheckBox*>()) c->setChecked(false);
                for (const auto& number : QString::fromStdString(value).split(',', Qt::SkipEmptyParts))
                    if (auto* c = control->findChild<QCheckBox*>("filter" + number.trimmed())) c->setChecked(true);
                break;
            }
        }
    }
    m_rulePages->setCurrentIndex(m_pageIndex[page->type]);
}

void FieldEditorDialog::readRulePage() {
    app::PostRuleForm* shown = m_rules.editPage();
    if (!shown) return;
    const app::RulePage* page = app::RulePageOf(shown->type);
    auto& inputs = m_inputs[page->type];
    for (const auto& in : page->inputs) {
        QWidget* control = inputs[in.key];
        std::string value;
        switch (in.kind) {
            case app::RuleInputKind::Line:
            case app::RuleInputKind::File:
                value = stdstr(static_cast<QLineEdit*>(control)->text());
                break;
            case app::RuleInputKind::Template:
            case app::RuleInputKind::Text:
                value = static_cast<TemplateEdit*>(control)->text();
                break;
            case app::RuleInputKind::Check:
                value = app::FlagText(static_cast<QCheckBox*>(control)->isChecked());
                break;
            case app::RuleInputKind::Choice:
                value = std::to_string(std::max(0, control->findChild<QButtonGroup*>()->checkedId()));
                break;
            case app::RuleInputKind::WordList: {
                auto* box = static_cast<QComboBox*>(control);
                value = box->currentIndex() >= 0 ? stdstr(box->currentText()) : "";
                break;
            }
            case app::RuleInputKind::HtmlFilter:
                for (std::size_t i = 0; i < app::HtmlFilterCaptions().size(); ++i)
                    if (control->findChild<QCheckBox*>(QString("filter%1").arg(i))->isChecked())
                        value += std::to_string(i) + ",";
                break;
        }
        shown->set(in.key, value);
    }
}

void FieldEditorDialog::newRule(const std::string& type) {
    m_rules.create(type);
    m_ruleList->clearSelection();
    m_ruleList->setCurrentItem(nullptr);
    showRulePage();
}

void FieldEditorDialog::selectRule(int index) {
    m_rules.select(index);
    showRulePage();
}

void FieldEditorDialog::commitRule() {
    readRulePage();
    if (auto refusal = m_rules.commit(m_programFolder)) {
        m_dialogs.message(*refusal, platform::kAppTitle);
        return;
    }
    showRules(m_rules.selected());
}

void FieldEditorDialog::deleteRule() {
    if (!m_rules.remove()) {
        m_dialogs.message("请先选择一条规则", platform::kAppTitle);
        return;
    }
    showRules(-1);
    showRulePage();
}

void FieldEditorDialog::moveRule(int delta) {
    if (m_rules.move(delta)) showRules(m_rules.selected());
}

void FieldEditorDialog::testMadeUp() {
    m_dialogs.message(app::TestMadeUp(form()), platform::kAppTitle);
}

void FieldEditorDialog::previewFileName() {
    m_dialogs.message(app::PreviewFileName(stdstr(m_fileName->text()), stdstr(m_sample->text())), platform::kAppTitle);
}

QWidget* FieldEditorDialog::rulePage(const std::string& type) const {
    auto it = m_pageIndex.find(type);
    return it == m_pageIndex.end() ? nullptr : m_rulePages->widget(it->second);
}

QWidget* FieldEditorDialog::ruleInput(const std::string& type, const std::string& key) const {
    auto page = m_inputs.find(type);
    if (page == m_inputs.end()) return nullptr;
    auto in = page->second.find(key);
    return in == page->second.end() ? nullptr : in->second;
}

}  // namespace tarvex::ui
