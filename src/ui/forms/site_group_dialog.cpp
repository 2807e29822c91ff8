#include "ui/forms/site_group_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "app/forms/column_loading.h"
#include "publish/publish_module.h"
#include "ui/forms/column_tree_view.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/task_icons.h"

namespace tarvex::ui {

SiteEntryDialog::SiteEntryDialog(const app::Workspace& ws, platform::Dialogs& dialogs,
                                 std::vector<publish::SiteEntry> sites, int editing, ModuleEditorHook editModule,
                                 QWidget* parent)
    : QDialog(parent),
      m_ws(ws),
      m_dialogs(dialogs),
      m_sites(std::move(sites)),
      m_editing(editing),
      m_editModule(std::move(editModule)) {
    setWindowTitle("发布站点设置");
    setObjectName("SiteEntryDialog");

    m_name = new QLineEdit;
    m_mark = new QLineEdit;
    m_mark->setMaxLength(4);
    m_mark->setValidator(new QRegularExpressionValidator(QRegularExpression("[A-Za-z0-9_]{0,4}"), m_mark));
    m_module = new QComboBox;
    m_module->setMinimumContentsLength(16);
    auto* edit = new QPushButton("编辑");
    edit->setEnabled(static_cast<bool>(m_editModule));
    m_column = new QLineEdit;
    m_column->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_column));
    m_load = new QPushButton("加载栏目");
    m_tree = new QTreeWidget;
    m_tree->setHeaderHidden(true);
    m_tree->setMinimumHeight(160);
    m_remark = new QLineEdit;

    auto* markRow = new QHBoxLayout;
    markRow->addWidget(m_mark);
    markRow->addWidget(new QLabel("（每个网站唯一的标记）"), 1);
    auto* moduleRow = new QHBoxLayout;
    moduleRow->addWidget(m_module, 1);
    moduleRow->addWidget(edit);
    auto* columnRow = new QHBoxLayout;
    columnRow->addWidget(m_column, 1);
    columnRow->addWidget(m_load);
    auto* form = new QFormLayout;
    form->addRow("名称:", m_name);
    form->addRow("标记:", markRow);
    form->addRow("发布规则:", moduleRow);
    form->addRow("栏目id:", columnRow);
    form->addRow("", m_tree);
    form->addRow("备注(可不写):", m_remark);

    auto* saveButton = new QPushButton("保存");
    saveButton->setObjectName("save");
    saveButton->setDefault(true);
    auto* cancel = new QPushButton("取消");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(saveButton);
    buttons->addWidget(cancel);
    auto* lay = new QVBoxLayout(this);
    lay->addLayout(form, 1);
    lay->addLayout(buttons);
    resize(460, 440);

    connect(saveButton, &QPushButton::clicked, this, &SiteEntryDialog::save);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_load, &QPushButton::clicked, this, &SiteEntryDialog::loadColumns);
    connect(edit, &QPushButton::clicked, this, [this] {
        const std::string module = stdstr(m_module->currentText());
        m_editModule(this, module);
        listModules(module);
    });
    // A click on a column takes its id; a column with children opens or closes as well.
    connect(m_tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        m_column->setText(qstr(columnIdOf(item)));
        if (item->childCount() > 0) item->setExpanded(!item->isExpanded());
    });

    publish::SiteEntry e{"站点名称", "1", "", "0", ""};
    if (m_editing >= 0 && m_editing < static_cast<int>(m_sites.size()))
        e = m_sites[static_cast<std::size_t>(m_editing)];
    setEntry(e);
}

void SiteEntryDialog::listModules(const std::string& select) {
    m_module->clear();
    for (const auto& name : publish::ListModules(m_ws.publishFolder)) m_module->addItem(qstr(name));
    m_module->setCurrentIndex(m_module->findText(qstr(select)));
}

void SiteEntryDialog::setEntry(const publish::SiteEntry& e) {
    m_name->setText(qstr(e.name));
    m_mark->setText(qstr(e.mark));
    listModules(e.module);
    // A module whose file has gone stays named, so the check below can say which it was.
    if (!e.module.empty() && m_module->findText(qstr(e.module)) < 0) {
        m_module->addItem(qstr(e.module));
        m_module->setCurrentIndex(m_module->count() - 1);
    }
    m_column->setText(qstr(e.columnId));
    m_remark->setText(qstr(e.remark));
}

void SiteEntryDialog::save() {
    publish::SiteEntry e{stdstr(m_name->text()), stdstr(m_mark->text()), stdstr(m_module->currentText()),
                         stdstr(m_column->text()), stdstr(m_remark->text())};
    const std::string path = publish::ModulePath(m_ws.publishFolder, e.module);
    std::error_code ec;
    const bool exists = !e.module.empty() && std::filesystem::is_regular_file(path, ec);
    if (auto refusal = publish::CheckSiteEntry(e, m_sites, m_editing, exists, path)) {
        m_dialogs.message(*refusal, platform::kAppTitle);
        return;
    }
    m_entry = e;
    accept();
}

void SiteEntryDialog::loadColumns() {
    m_load->setEnabled(false);
    app::ColumnLoadOptions options;
    options.keepResponsive = [] { QCoreApplication::processEvents(); };
    auto list = app::LoadColumns(m_ws, stdstr(m_module->currentText()), m_dialogs, options);
    m_load->setEnabled(true);
    if (!list) return;
    showColumnTree(m_tree, *list);
    const std::string current = stdstr(m_column->text());
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it)
        if (columnIdOf(*it) == current) m_tree->setCurrentItem(*it);
}

SiteGroupDialog::SiteGroupDialog(const std::string& json, const app::Workspace& ws, platform::Dialogs& dialogs,
                                 ModuleEditorHook editModule, QWidget* parent)
    : QDialog(parent), m_ws(ws), m_dialogs(dialogs), m_editModule(std::move(editModule)) {
    setWindowTitle("多站点发布");
    setObjectName("SiteGroupDialog");

    m_enabled = new QCheckBox("启用多站发布");
    m_enabled->setObjectName("check1");
    m_table = new QTableWidget(0, 6);
    m_table->setObjectName("sites");
    m_table->setHorizontalHeaderLabels({"序号", "名称", "标记", "对应规则", "栏目id", "说明"});
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(0, 50);
    m_table->setColumnWidth(1, 140);
    m_table->setColumnWidth(2, 60);
    m_table->setColumnWidth(3, 140);
    m_table->setColumnWidth(4, 70);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this] { editSite(); });

    auto icon = [this](const char* name, const char* tip, const QIcon& ic, void (SiteGroupDialog::*slot)()) {
        auto* b = iconButton(name, tip, ic);
        connect(b, &QToolButton::clicked, this, slot);
        return b;
    };
    auto* icons = new QHBoxLayout;
    icons->addWidget(m_enabled);
    icons->addStretch(1);
    icons->addWidget(icon("addSite", "增加栏目节点", addNodeIcon(), &SiteGroupDialog::addSite));
    icons->addWidget(icon("deleteSite", "删除栏目节点", deleteNodeIcon(), &SiteGroupDialog::deleteSite));
    icons->addWidget(icon("clearSites", "清空栏目节点", clearNodesIcon(), &SiteGroupDialog::clearSites));

    auto* saveButton = new QPushButton("保存");
    saveButton->setObjectName("save");
    auto* quit = new QPushButton("退出");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel("双击一行可修改站点"));
    buttons->addStretch(1);
    buttons->addWidget(saveButton);
    buttons->addWidget(quit);

    auto* lay = new QVBoxLayout(this);
    lay->addLayout(icons);
    lay->addWidget(m_table, 1);
    lay->addLayout(buttons);
    resize(640, 380);

    connect(saveButton, &QPushButton::clicked, this, &SiteGroupDialog::save);
    connect(quit, &QPushButton::clicked, this, &QDialog::reject);

    const publish::SiteGroup g = publish::ParseSiteGroup(json);
    m_enabled->setChecked(g.enabled);
    m_sites = g.sites;
    showSites(-1);
}

publish::SiteGroup SiteGroupDialog::group() const {
    return {m_enabled->isChecked(), m_sites};
}

void SiteGroupDialog::showSites(int select) {
    m_table->setRowCount(static_cast<int>(m_sites.size()));
    for (std::size_t r = 0; r < m_sites.size(); ++r) {
        const auto& e = m_sites[r];
        const std::string cells[] = {std::to_string(r + 1), e.name, e.mark, e.module, e.columnId, e.remark};
        for (int c = 0; c < 6; ++c) m_table->setItem(static_cast<int>(r), c, new QTableWidgetItem(qstr(cells[c])));
    }
    if (select >= 0 && select < m_table->rowCount())
        m_table->selectRow(select);
    else
        m_table->clearSelection();
}

int SiteGroupDialog::selectedRow() const {
    auto rows = m_table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

std::optional<publish::SiteEntry> SiteGroupDialog::runEntry(int editing) {
    SiteEntryDialog entry(m_ws, m_dialogs, m_sites, editing, m_editModule, this);
    if (m_runEntry) return m_runEntry(entry);
    if (entry.exec() != QDialog::Accepted) return std::nullopt;
    return entry.entry();
}

void SiteGroupDialog::addSite() {
    if (auto e = runEntry(-1)) {
        m_sites.push_back(*e);
        showSites(static_cast<int>(m_sites.size()) - 1);
    }
}

void SiteGroupDialog::editSite() {
    const int row = selectedRow();
    if (row < 0) {
        m_dialogs.message("请先选择一个站点", platform::kAppTitle);
        return;
    }
    if (auto e = runEntry(row)) {
        m_sites[static_cast<std::size_t>(row)] = *e;
        showSites(row);
    }
}

void SiteGroupDialog::deleteSite() {
    const int row = selectedRow();
    if (row < 0) {
        m_dialogs.message("请先选择一个站点后再删除！", platform::kAppTitle);
        return;
    }
    m_sites.erase(m_sites.begin() + row);
    showSites(std::min(row, static_cast<int>(m_sites.size()) - 1));
}

void SiteGroupDialog::clearSites() {
    if (m_sites.empty() || !m_dialogs.confirm("确认清空全部站点吗？", "删除节点")) return;
    m_sites.clear();
    showSites(-1);
}

void SiteGroupDialog::save() {
    m_json = publish::ComposeSiteGroup(group());
    accept();
}

}  // namespace tarvex::ui
