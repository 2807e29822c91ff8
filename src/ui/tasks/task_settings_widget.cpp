#include "ui/tasks/task_settings_widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/forms/column_loading.h"
#include "app/forms/cookie_capture.h"
#include "app/tasks/column_tree.h"
#include "app/tasks/field_list.h"
#include "collect/http_fetch.h"
#include "publish/publish_module.h"
#include "ui/forms/column_tree_view.h"
#include "ui/forms/cookie_capture_dialog.h"
#include "ui/forms/field_editor_dialog.h"
#include "ui/forms/list_settings_dialog.h"
#include "ui/forms/module_editor_dialog.h"
#include "ui/forms/multi_level_dialog.h"
#include "ui/forms/pagination_dialog.h"
#include "ui/forms/site_group_dialog.h"
#include "ui/forms/upload_settings_dialog.h"
#include "ui/qt/task_icons.h"

namespace tarvex::ui {

namespace {
QString q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string s(const QString& q) {
    return q.toStdString();
}

QPushButton* button(const char* caption, const char* name = nullptr) {
    auto* b = new QPushButton(caption);
    if (name) b->setObjectName(name);
    return b;
}

}  // namespace

TaskSettingsWidget::TaskSettingsWidget(const app::Workspace& ws, platform::Dialogs& dialogs,
                                       app::ClipboardPort& clipboard, QWidget* parent)
    : QWidget(parent), m_ws(ws), m_dialogs(dialogs), m_clipboard(clipboard) {
    setObjectName("taskSettings");

    m_name = new QLabel;
    m_name->setObjectName("taskName");
    QFont bold = m_name->font();
    bold.setBold(true);
    m_name->setFont(bold);
    m_testUrl = lineEdit("other_testurl");
    auto* single = button("单页采集", "singleCollect");
    auto* singlePost = button("单页发布", "singlePublish");
    m_singleCollect = single;
    m_singlePublish = singlePost;
    m_save = button("保存", "save");
    m_cancel = button("取消", "cancel");
    connect(m_save, &QPushButton::clicked, this, &TaskSettingsWidget::saveRequested);
    connect(m_cancel, &QPushButton::clicked, this, &TaskSettingsWidget::cancelRequested);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("任务名称："));
    top->addWidget(m_name);
    top->addSpacing(16);
    top->addWidget(new QLabel("输入网址："));
    top->addWidget(m_testUrl, 1);
    top->addWidget(single);
    top->addWidget(singlePost);
    top->addSpacing(16);
    top->addWidget(m_save);
    top->addWidget(m_cancel);

    m_tabs = new QTabWidget;
    m_tabs->setObjectName("settingsTabs");
    m_tabs->addTab(buildCollectTab(), "采集内容");
    m_tabs->addTab(buildPublishTab(), "发布内容");
    m_tabs->addTab(buildAdvancedTab(), "高级设置");

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(4, 4, 4, 4);
    lay->addLayout(top);
    lay->addWidget(m_tabs, 1);
}

QLineEdit* TaskSettingsWidget::lineEdit(const char* key) {
    auto* e = new QLineEdit;
    e->setObjectName(key);
    return e;
}

QCheckBox* TaskSettingsWidget::checkBox(const char* key, const char* caption) {
    auto* c = new QCheckBox(caption);
    c->setObjectName(key);
    return c;
}

QWidget* TaskSettingsWidget::buildCollectTab() {
    auto* page = new QWidget;
    m_fieldList = new QTreeWidget;
    m_fieldList->setObjectName("fieldList");
    m_fieldList->setColumnCount(2);
    m_fieldList->setHeaderLabels({"序", "字段名称"});
    m_fieldList->setRootIsDecorated(false);
    m_fieldList->header()->setStretchLastSection(true);
    m_fieldList->setColumnWidth(0, 50);
    m_fieldList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_fieldList, &QTreeWidget::itemDoubleClicked, this, [this] { editField(); });

    m_fieldMenu = new QMenu(this);
    m_fieldMenu->addAction("编辑", this, &TaskSettingsWidget::editField);
    m_fieldMenu->addAction("↑ 上移", this, [this] { moveField(-1); });
    m_fieldMenu->addAction("↓ 下移", this, [this] { moveField(1); });
    m_fieldMenu->addAction("删除", this, &TaskSettingsWidget::deleteField);
    m_fieldMenu->addSeparator();
    m_fieldMenu->addAction("导出字段到剪贴板", this, &TaskSettingsWidget::copyFieldToClipboard);
    m_fieldMenu->addAction("从剪贴板粘贴字段（覆盖）", this, [this] { pasteField(false); });
    m_fieldMenu->addAction("从剪贴板粘贴字段（新建）", this, [this] { pasteField(true); });
    connect(m_fieldList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { m_fieldMenu->popup(m_fieldList->viewport()->mapToGlobal(pos)); });

    auto* side = new QVBoxLayout;
    const std::vector<std::pair<const char*, std::function<void()>>> commands = {
        {"添加字段", [this] { addField(); }},    {"编辑", [this] { editField(); }},
        {"↑", [this] { moveField(-1); }},        {"↓", [this] { moveField(1); }},
        {"删除", [this] { deleteField(); }},     {"导入规则", [this] { importRules(); }},
        {"导出规则", [this] { exportRules(); }},
    };
    for (const auto& [caption, run] : commands) {
        auto* b = button(caption);
        connect(b, &QPushButton::clicked, this, run);
        side->addWidget(b);
    }
    side->addStretch(1);

    auto* sections = new QHBoxLayout;
    auto* list = button("列表设置", "listSettings");
    auto* paging = button("分页设置", "pageSettings");
    auto* multi = button("多页提取", "multiPage");
    connect(list, &QPushButton::clicked, this, [this] {
        ListSettingsDialog dialog(m_morepage, fieldTitles(), m_ws.programFolder, m_dialogs, this);
        dialog.setTaskSettings(app::ComposeSettings(form()));
        if (dialog.exec() == QDialog::Accepted) m_morepage = dialog.json();
    });
    connect(paging, &QPushButton::clicked, this, [this] {
        PaginationDialog dialog(m_mulpage, m_dialogs, this);
        if (dialog.exec() == QDialog::Accepted) m_mulpage = dialog.json();
    });
    connect(multi, &QPushButton::clicked, this, [this] {
        const std::string options = collect::BuildFetchOptions(app::ComposeSettings(form()));
        auto fetch = [](const std::string& url, const std::string& opts) { return collect::HttpGet(url, opts); };
        MultiLevelDialog dialog(m_morepage2, options, fetch, m_dialogs, this);
        if (dialog.exec() == QDialog::Accepted) m_morepage2 = dialog.json();
    });
    sections->addWidget(list);
    sections->addWidget(paging);
    sections->addWidget(multi);
    sections->addStretch(1);

    auto* grid = new QGridLayout(page);
    grid->addLayout(sections, 0, 0, 1, 2);
    grid->addWidget(m_fieldList, 1, 0);
    grid->addLayout(side, 1, 1);
    grid->setColumnStretch(0, 1);
    return page;
}

QWidget* TaskSettingsWidget::buildPublishTab() {
    auto* page = new QWidget;
    m_publishInterface = new QComboBox;
    m_publishInterface->setObjectName("PostRuleName");
    m_publishInterface->setMinimumContentsLength(16);
    auto* load = button("加载栏目", "loadColumns");
    connect(load, &QPushButton::clicked, this, [this, load] {
        load->setEnabled(false);
        app::ColumnLoadOptions options;
        options.keepResponsive = [] { QCoreApplication::processEvents(); };
        auto list = app::LoadColumns(m_ws, chosenModule(), m_dialogs, options);
        load->setEnabled(true);
        if (!list) return;
        const std::string keep = selectedColumn();
        m_postClassTree = *list;
        showColumns(keep);
    });
    auto* siteGroup = button("站群发布", "siteGroup");
    connect(siteGroup, &QPushButton::clicked, this, [this] {
        auto editModule = [this, titles = fieldTitles()](QWidget* parent, const std::string& module) {
            ModuleEditorDialog editor(m_ws.publishFolder, module, titles, m_dialogs, parent);
            editor.exec();
        };
        SiteGroupDialog dialog(m_postMorepost, m_ws, m_dialogs, editModule, this);
        if (dialog.exec() == QDialog::Accepted) m_postMorepost = dialog.json();
    });

    m_editModule = button("编辑", "editModule");
    connect(m_editModule, &QPushButton::clicked, this, &TaskSettingsWidget::editModules);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("发布接口："));
    row->addWidget(m_publishInterface, 1);
    row->addWidget(m_editModule);
    row->addWidget(load);
    row->addWidget(siteGroup);

    m_columnTree = new QTreeWidget;
    m_columnTree->setObjectName("columnTree");
    m_columnTree->setHeaderHidden(true);
    connect(m_columnTree, &QTreeWidget::itemClicked, this, [](QTreeWidgetItem* item) {
        if (item->childCount() > 0) item->setExpanded(!item->isExpanded());
    });
    auto icon = [this](const char* name, const char* tip, const QIcon& ic, void (TaskSettingsWidget::*slot)()) {
        auto* b = iconButton(name, tip, ic);
        connect(b, &QToolButton::clicked, this, slot);
        return b;
    };
    auto* icons = new QHBoxLayout;
    icons->addWidget(icon("addColumnNode", "增加栏目节点", addNodeIcon(), &TaskSettingsWidget::addColumnNode));
    icons->addWidget(icon("deleteColumnNode", "删除栏目节点", deleteNodeIcon(), &TaskSettingsWidget::deleteColumnNode));
    icons->addWidget(icon("clearColumnNodes", "清空栏目节点", clearNodesIcon(), &TaskSettingsWidget::clearColumnNodes));
    icons->addStretch(1);

    auto* options = new QFormLayout;
    options->addRow(checkBox("other_check_classid", "发布栏目为空"));
    options->addRow(checkBox("other_autoupload", "发布内容自动上传附件"));
    options->addRow(checkBox("other_check_rengong", "开启人工审核"));
    options->addRow("单次发布数量：", lineEdit("other_post_max"));
    options->addRow("发布内容ID起始值：", lineEdit("other_minid_post"));

    auto* columns = new QVBoxLayout;
    columns->addWidget(new QLabel("发布栏目："));
    columns->addWidget(m_columnTree, 1);
    columns->addLayout(icons);
    auto* body = new QHBoxLayout;
    body->addLayout(columns, 1);
    body->addLayout(options);

    auto* lay = new QVBoxLayout(page);
    lay->addLayout(row);
    lay->addLayout(body, 1);
    return page;
}

QWidget* TaskSettingsWidget::buildAdvancedTab() {
    auto* page = new QWidget;
    auto* pauses = new QGroupBox("间隔时间（毫秒）");
    auto* pauseLay = new QFormLayout(pauses);
    pauseLay->addRow("列表采集", lineEdit("other_time1"));
    pauseLay->addRow("内容采集", lineEdit("other_time2"));
    pauseLay->addRow("内容发布", lineEdit("other_time3"));

    auto* cookieRow = new QHBoxLayout;
    auto* cookie = lineEdit("other_cookie");
    auto* capture = button("获取", "captureCookie");
    connect(capture, &QPushButton::clicked, this, [this, cookie] {
        CookieCaptureDialog dialog(m_dialogs, this);
        if (dialog.exec() != QDialog::Accepted || !dialog.result()) return;
        auto* agent = findChild<QLineEdit*>("other_ua");
        std::string cookieText = s(cookie->text()), agentText = s(agent->text());
        if (!app::ApplyCookieCapture(*dialog.result(), cookieText, agentText)) return;
        cookie->setText(q(cookieText));
        agent->setText(q(agentText));
    });
    cookieRow->addWidget(cookie, 1);
    cookieRow->addWidget(capture);

    auto* pathRow = new QHBoxLayout;
    auto* savePath = lineEdit("other_savepath");
    auto* choose = button("选择", "chooseSavePath");
    connect(choose, &QPushButton::clicked, this, [this, savePath] {
        QString dir = QFileDialog::getExistingDirectory(this, "请指定附件保存的文件夹", savePath->text());
        if (!dir.isEmpty()) savePath->setText(dir.endsWith('/') ? dir : dir + "/");
    });
    pathRow->addWidget(savePath, 1);
    pathRow->addWidget(choose);

    m_charset = new QComboBox;
    m_charset->setObjectName("other_charset");
    m_charset->addItems({"", "GBK", "UTF-8"});

    auto* form = new QFormLayout;
    form->addRow("Cookie设置：", cookieRow);
    form->addRow("浏览器UA：", lineEdit("other_ua"));
    form->addRow("附件保存路径：", pathRow);
    form->addRow("分页连接符：", lineEdit("other_joinpage"));
    form->addRow("重复连接符：", lineEdit("other_join_repeat"));
    form->addRow("采集内容ID起始值：", lineEdit("other_minid_get"));
    form->addRow("强制编码：", m_charset);
    form->addRow("列表获取内容页数量：", lineEdit("other_url_max"));

    auto* checks = new QVBoxLayout;
    checks->addWidget(checkBox("other_gzip", "Gzip压缩"));
    checks->addWidget(checkBox("other_open_editform", "关闭可视编辑框"));
    checks->addWidget(checkBox("other_check_repeatget", "内容页重复采集"));
    // Kept in the document and passed on, but not offered to the user.
    auto* title = checkBox("other_check_title", "标题不得重复");
    auto* url = checkBox("other_check_url", "网址不得重复");
    title->setVisible(false);
    url->setVisible(false);
    checks->addWidget(title);
    checks->addWidget(url);
    auto* upload = button("高级", "uploadSettings");
    upload->setToolTip("附件上传设置");
    connect(upload, &QPushButton::clicked, this, [this] {
        UploadSettingsDialog dialog(m_uploadSet, m_ws.programFolder, m_dialogs, this);
        if (dialog.exec() == QDialog::Accepted) m_uploadSet = dialog.json();
    });
    checks->addWidget(upload);
    checks->addStretch(1);

    auto* left = new QVBoxLayout;
    left->addWidget(pauses);
    left->addStretch(1);
    auto* lay = new QHBoxLayout(page);
    lay->addLayout(left);
    lay->addLayout(form, 1);
    lay->addLayout(checks);
    return page;
}

bool TaskSettingsWidget::openTask(std::int64_t taskId, const std::string& taskName, const std::string& document) {
    app::SettingsForm f = form();
    std::string error;
    if (!app::LoadSettings(document, m_ws, taskId, f, &error)) {
        m_dialogs.message(error, platform::kAppTitle);
        return false;
    }
    m_taskId = taskId;
    m_name->setText(q(taskName));
    setForm(f);
    m_tabs->setCurrentIndex(0);
    return true;
}

void TaskSettingsWidget::closeTask() {
    m_taskId = 0;
    m_name->clear();
}

std::string TaskSettingsWidget::taskName() const {
    return s(m_name->text());
}

app::SettingsForm TaskSettingsWidget::form() const {
    auto text = [this](const char* key) { return s(findChild<QLineEdit*>(key)->text()); };
    auto flag = [this](const char* key) { return findChild<QCheckBox*>(key)->isChecked(); };
    app::SettingsForm f;
    f.fields = m_fields;
    f.mulpage = m_mulpage;
    f.morepage = m_morepage;
    f.morepage2 = m_morepage2;
    f.uploadSet = m_uploadSet;
    for (int i = 0; i < m_publishInterface->count(); ++i)
        f.publishInterfaces.push_back(s(m_publishInterface->itemText(i)));
    f.postRuleName = chosenModule();
    f.postClassTree = m_postClassTree;
    f.postClassSelected = selectedColumn();
    f.postMorepost = m_postMorepost;
    f.time1 = text("other_time1");
    f.time2 = text("other_time2");
    f.time3 = text("other_time3");
    f.checkTitle = flag("other_check_title");
    f.checkUrl = flag("other_check_url");
    f.cookie = text("other_cookie");
    f.userAgent = text("other_ua");
    f.savePath = text("other_savepath");
    f.joinPage = text("other_joinpage");
    f.testUrl = text("other_testurl");
    f.joinRepeat = text("other_join_repeat");
    f.autoUpload = flag("other_autoupload");
    f.minIdGet = text("other_minid_get");
    f.minIdPost = text("other_minid_post");
    f.charset = s(m_charset->currentText());
    f.urlMax = text("other_url_max");
    f.postMax = text("other_post_max");
    f.gzip = flag("other_gzip");
    f.manualReview = flag("other_check_rengong");
    f.closeEditForm = flag("other_open_editform");
    f.noClassNeeded = flag("other_check_classid");
    f.collectAgain = flag("other_check_repeatget");
    return f;
}

void TaskSettingsWidget::setForm(const app::SettingsForm& f) {
    auto setText = [this](const char* key, const std::string& value) { findChild<QLineEdit*>(key)->setText(q(value)); };
    auto setFlag = [this](const char* key, bool on) { findChild<QCheckBox*>(key)->setChecked(on); };
    m_fields = f.fields;
    m_mulpage = f.mulpage;
    m_morepage = f.morepage;
    m_morepage2 = f.morepage2;
    m_uploadSet = f.uploadSet;
    m_postMorepost = f.postMorepost;
    m_postClassTree = f.postClassTree;
    showFields(-1);
    m_publishInterface->clear();
    for (const auto& name : f.publishInterfaces) m_publishInterface->addItem(q(name));
    m_publishInterface->setCurrentIndex(f.postRuleName.empty() ? -1 : m_publishInterface->findText(q(f.postRuleName)));
    // A task without a chosen column starts on column 0 when the list has one.
    showColumns(f.postClassSelected.empty() ? "0" : f.postClassSelected);
    setText("other_time1", f.time1);
    setText("other_time2", f.time2);
    setText("other_time3", f.time3);
    setFlag("other_check_title", f.checkTitle);
    setFlag("other_check_url", f.checkUrl);
    setText("other_cookie", f.cookie);
    setText("other_ua", f.userAgent);
    setText("other_savepath", f.savePath);
    setText("other_joinpage", f.joinPage);
    setText("other_testurl", f.testUrl);
    setText("other_join_repeat", f.joinRepeat);
    setFlag("other_autoupload", f.autoUpload);
    setText("other_minid_get", f.minIdGet);
    setText("other_minid_post", f.minIdPost);
    m_charset->setCurrentIndex(std::max(0, m_charset->findText(q(f.charset))));
    setText("other_url_max", f.urlMax);
    setText("other_post_max", f.postMax);
    setFlag("other_gzip", f.gzip);
    setFlag("other_check_rengong", f.manualReview);
    setFlag("other_open_editform", f.closeEditForm);
    setFlag("other_check_classid", f.noClassNeeded);
    setFlag("other_check_repeatget", f.collectAgain);
}

void TaskSettingsWidget::showFields(int select) {
    m_fieldList->clear();
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        auto* item = new QTreeWidgetItem(m_fieldList);
        item->setText(0, QString::number(i + 1));
        const std::string title = app::FieldTitle(m_fields[i]);
        item->setText(1, title.empty() && !app::ParseSettings(m_fields[i]) ? "(无效的字段规则)" : q(title));
    }
    selectField(select);
}

int TaskSettingsWidget::selectedField() const {
    auto* item = m_fieldList->currentItem();
    if (!item || !item->isSelected()) return -1;
    return m_fieldList->indexOfTopLevelItem(item);
}

void TaskSettingsWidget::selectField(int index) {
    if (index < 0 || index >= m_fieldList->topLevelItemCount()) {
        m_fieldList->clearSelection();
        m_fieldList->setCurrentItem(nullptr);
        return;
    }
    m_fieldList->setCurrentItem(m_fieldList->topLevelItem(index));
}

void TaskSettingsWidget::showColumns(const std::string& select) {
    showColumnTree(m_columnTree, m_postClassTree);
    if (select.empty()) return;
    for (QTreeWidgetItemIterator it(m_columnTree); *it; ++it) {
        if (columnIdOf(*it) == select) {
            m_columnTree->setCurrentItem(*it);
            return;
        }
    }
}

std::string TaskSettingsWidget::selectedColumn() const {
    auto* item = m_columnTree->currentItem();
    if (!item || !item->isSelected()) return {};
    return app::ColumnIdOfCaption(s(item->text(0)));
}

void TaskSettingsWidget::addField() {
    FieldEditorDialog dialog("新建字段", "", app::ComposeSettings(form()), -1, m_ws.programFolder, m_dialogs, this);
    if (dialog.exec() != QDialog::Accepted) return;
    m_fields.push_back(dialog.json());
    showFields(static_cast<int>(m_fields.size()) - 1);
}

void TaskSettingsWidget::editField() {
    const int index = selectedField();
    if (index < 0) {
        m_dialogs.message("请先选择一个字段", platform::kAppTitle);
        return;
    }
    auto& field = m_fields[static_cast<std::size_t>(index)];
    FieldEditorDialog dialog("字段设置", field, app::ComposeSettings(form()), index, m_ws.programFolder, m_dialogs,
                             this);
    if (dialog.exec() != QDialog::Accepted) return;
    field = dialog.json();
    showFields(index);
}

void TaskSettingsWidget::moveField(int delta) {
    if (auto moved = app::MoveField(m_fields, selectedField(), delta, m_dialogs)) showFields(*moved);
}

void TaskSettingsWidget::deleteField() {
    const int index = selectedField();
    if (app::DeleteField(m_fields, index, m_dialogs))
        showFields(std::min(index, static_cast<int>(m_fields.size()) - 1));
}

std::vector<std::string> TaskSettingsWidget::fieldTitles() const {
    std::vector<std::string> titles;
    for (const auto& f : m_fields) titles.push_back(app::FieldTitle(f));
    return titles;
}

std::string TaskSettingsWidget::chosenModule() const {
    return m_publishInterface->currentIndex() >= 0 ? s(m_publishInterface->currentText()) : std::string();
}

std::string TaskSettingsWidget::rulesFolder() const {
    QDir().mkpath(q(m_ws.rulesFolder));
    return m_ws.rulesFolder;
}

void TaskSettingsWidget::editModules() {
    const std::string chosen = chosenModule();
    {
        ModuleEditorDialog dialog(m_ws.publishFolder, chosen, fieldTitles(), m_dialogs, this);
        dialog.exec();
    }
    m_publishInterface->clear();
    for (const auto& name : publish::ListModules(m_ws.publishFolder)) m_publishInterface->addItem(q(name));
    m_publishInterface->setCurrentIndex(chosen.empty() ? -1 : m_publishInterface->findText(q(chosen)));
}

void TaskSettingsWidget::importRules() {
    QString path = QFileDialog::getOpenFileName(this, "导入规则", q(rulesFolder()), "Tarvex采集规则 (*.g)");
    if (path.isEmpty()) return;
    app::SettingsForm f = form();
    if (!app::ImportRulesInto(f, s(path), m_dialogs)) return;
    m_fields = f.fields;
    m_mulpage = f.mulpage;
    m_morepage = f.morepage;
    m_morepage2 = f.morepage2;
    showFields(-1);
}

void TaskSettingsWidget::exportRules() {
    QString path = QFileDialog::getSaveFileName(this, "导出规则", q(rulesFolder() + "/" + taskName() + ".g"),
                                                "Tarvex采集规则 (*.g)");
    if (path.isEmpty()) return;
    if (!path.endsWith(".g", Qt::CaseInsensitive)) path += ".g";
    app::ExportRulesFrom(form(), s(path), m_dialogs);
}

void TaskSettingsWidget::copyFieldToClipboard() {
    app::CopyFieldToClipboard(m_fields, selectedField(), m_clipboard, m_dialogs);
}

void TaskSettingsWidget::pasteField(bool asNew) {
    auto index = asNew ? app::PasteFieldAsNew(m_fields, m_clipboard, m_dialogs)
                       : app::PasteFieldOverwrite(m_fields, m_clipboard, m_dialogs);
    if (index) showFields(*index);
}

void TaskSettingsWidget::addColumnNode() {
    if (auto id = app::AddColumnNode(m_postClassTree, m_dialogs)) showColumns(*id);
}

void TaskSettingsWidget::deleteColumnNode() {
    if (app::DeleteColumnNode(m_postClassTree, selectedColumn(), m_dialogs)) showColumns("");
}

void TaskSettingsWidget::clearColumnNodes() {
    if (app::ClearColumnNodes(m_postClassTree, m_dialogs)) showColumns("");
}

}  // namespace tarvex::ui
