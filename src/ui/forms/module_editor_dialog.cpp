#include "ui/forms/module_editor_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <future>

#include "app/tasks/settings_document.h"
#include "publish/module_test.h"
#include "publish/publish_module.h"
#include "ui/forms/cookie_capture_dialog.h"
#include "ui/qt/qt_text.h"

namespace tarvex::ui {

ModuleEditorDialog::ModuleEditorDialog(const std::string& publishFolder, const std::string& currentModule,
                                       const std::vector<std::string>& taskFields, platform::Dialogs& dialogs,
                                       QWidget* parent)
    : QDialog(parent), m_form(publishFolder), m_dialogs(dialogs) {
    setObjectName("moduleEditor");
    setWindowTitle("发布规则配置");
    resize(860, 560);

    m_modules = new QListWidget;
    m_modules->setObjectName("moduleList");
    connect(m_modules, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { openModule(stdstr(item->text())); });
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel("接口名称"));
    left->addWidget(m_modules, 1);

    m_address = new QLineEdit;
    m_address->setObjectName("moduleAddress");
    m_charset = new QComboBox;
    m_charset->setObjectName("moduleCharset");
    m_charset->addItems({"GBK", "UTF-8"});
    auto* head = new QHBoxLayout;
    head->addWidget(new QLabel("接口网址："));
    head->addWidget(m_address, 1);
    head->addWidget(new QLabel("编码："));
    head->addWidget(m_charset);

    m_fields = new QTreeWidget;
    m_fields->setObjectName("moduleFields");
    m_fields->setColumnCount(3);
    m_fields->setHeaderLabels({"序号", "发布字段名称", "内容"});
    m_fields->setRootIsDecorated(false);
    m_fields->setColumnWidth(0, 50);
    m_fields->setColumnWidth(1, 180);
    m_fields->header()->setStretchLastSection(true);
    // Renaming starts on a double click or F2 only: a click on a selected row (often the first half
    // of a right click's selection) must not open a text box that then takes the tag menu's place.
    m_fields->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_fields->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_fields, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (m_showing || column == 0) return;
        const int row = m_fields->indexOfTopLevelItem(item);
        m_form.setCell(row, column, stdstr(item->text(column)));
        const QString trimmed = qstr(column == 1 ? m_form.rows[static_cast<std::size_t>(row)].name
                                                 : m_form.rows[static_cast<std::size_t>(row)].content);
        if (item->text(column) != trimmed) {
            m_showing = true;
            item->setText(column, trimmed);
            m_showing = false;
        }
    });

    m_menu = new QMenu(this);
    QMenu* builtIn = nullptr;
    QMenu* dateTime = nullptr;
    for (const auto& [path, tag] : app::ModuleTagEntries()) {
        const std::string t = tag;
        QMenu* into = m_menu;
        std::string caption = path;
        if (path.rfind("内置语法/", 0) == 0) {
            if (!builtIn) builtIn = m_menu->addMenu("内置语法");
            into = builtIn;
            caption = path.substr(std::string("内置语法/").size());
            if (caption.rfind("日期时间/", 0) == 0) {
                if (!dateTime) dateTime = builtIn->addMenu("日期时间");
                into = dateTime;
                caption = caption.substr(std::string("日期时间/").size());
            }
        }
        into->addAction(qstr(caption), this, [this, t] { appendTag(t); });
    }
    if (taskFields.size() >= 2) {
        auto* names = m_menu->addMenu("复制内容字段名称");
        for (const auto& name : taskFields) {
            const std::string tag = app::FieldNameTag(name);
            names->addAction(qstr(name), this, [this, tag] { appendTag(tag); });
        }
    }
    m_menu->addSeparator();
    m_menu->addAction("登陆后台获取COOKIE", this, &ModuleEditorDialog::captureCookie);
    connect(m_fields, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (!m_form.editing()) return;
        // The tag goes to the row under the mouse; a cell still being edited is committed first,
        // so the tag is not overwritten when the text box closes.
        if (QWidget* f = QApplication::focusWidget(); f && m_fields->viewport()->isAncestorOf(f)) m_fields->setFocus();
        if (auto* item = m_fields->itemAt(pos)) m_fields->setCurrentItem(item);
        m_menu->popup(m_fields->viewport()->mapToGlobal(pos));
    });

    auto button = [this](const char* caption, const char* name, void (ModuleEditorDialog::*slot)()) {
        auto* b = new QPushButton(caption);
        b->setObjectName(name);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    auto* add = button("添加发布字段", "addModuleField", &ModuleEditorDialog::addField);
    auto* del = button("删除发布字段", "deleteModuleField", &ModuleEditorDialog::deleteField);
    auto* saveButton = button("保存", "saveModule", &ModuleEditorDialog::save);
    auto* cancel = button("取消", "cancelModule", &ModuleEditorDialog::cancelEdit);
    auto* test = button("测试发布", "testPublish", &ModuleEditorDialog::testPublish);
    auto* exit = new QPushButton("退出");
    exit->setObjectName("exitModuleEditor");
    connect(exit, &QPushButton::clicked, this, &QDialog::accept);
    m_editButtons = {add, del, cancel, test};
    auto* buttons = new QHBoxLayout;
    for (auto* b : {add, del, test}) buttons->addWidget(b);
    buttons->addStretch(1);
    for (auto* b : {saveButton, cancel, exit}) buttons->addWidget(b);

    m_reply = new QPlainTextEdit;
    m_reply->setObjectName("testReply");
    m_reply->setReadOnly(true);
    m_reply->setMaximumHeight(110);

    auto* right = new QVBoxLayout;
    right->addLayout(head);
    right->addWidget(m_fields, 1);
    right->addLayout(buttons);
    right->addWidget(new QLabel("返回错误信息："));
    right->addWidget(m_reply);

    auto* lay = new QHBoxLayout(this);
    lay->addLayout(left);
    lay->addLayout(right, 1);
    lay->setStretch(0, 1);
    lay->setStretch(1, 3);

    chooseSavePath = [this](const std::string& folder, const std::string& defaultName) {
        QDir().mkpath(qstr(folder));
        QFileDialog dialog(this, "保存发布规则", qstr(folder + "/" + defaultName), "Tarvex发布规则 (*.p)");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("p");
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::string();
        return stdstr(dialog.selectedFiles().first());
    };
    chooseCookie = [this]() -> std::optional<std::string> {
        CookieCaptureDialog dialog(m_dialogs, this);
        if (dialog.exec() != QDialog::Accepted || !dialog.result() || dialog.result()->cookie.empty())
            return std::nullopt;
        return dialog.result()->cookie;
    };

    setEditing(false);
    showModules(currentModule);
    if (!currentModule.empty()) {
        // The task's module is selected and shown, ready to edit.
        auto found = m_modules->findItems(qstr(currentModule), Qt::MatchExactly);
        if (!found.isEmpty()) openModule(currentModule);
    }
}

void ModuleEditorDialog::showModules(const std::string& select) {
    m_modules->clear();
    for (const auto& name : m_form.modules()) {
        auto* item = new QListWidgetItem(qstr(name), m_modules);
        if (name == select) m_modules->setCurrentItem(item);
    }
}

void ModuleEditorDialog::showRows(int select) {
    m_showing = true;
    m_fields->clear();
    for (std::size_t i = 0; i < m_form.rows.size(); ++i) {
        auto* item = new QTreeWidgetItem(m_fields);
        item->setText(0, QString::number(i + 1));
        item->setText(1, qstr(m_form.rows[i].name));
        item->setText(2, qstr(m_form.rows[i].content));
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    if (select >= 0 && select < m_fields->topLevelItemCount()) m_fields->setCurrentItem(m_fields->topLevelItem(select));
    m_showing = false;
}

void ModuleEditorDialog::setEditing(bool on) {
    m_fields->setEnabled(on);
    m_address->setEnabled(on);
    m_charset->setEnabled(on);
    m_modules->setEnabled(!on);
    for (auto* b : m_editButtons) b->setEnabled(on);
    if (!on) {
        m_address->clear();
        m_charset->setCurrentIndex(0);
        setWindowTitle("发布规则配置");
    }
}

int ModuleEditorDialog::selectedRow() const {
    auto* item = m_fields->currentItem();
    if (!item || !item->isSelected()) return -1;
    return m_fields->indexOfTopLevelItem(item);
}

void ModuleEditorDialog::readControls() {
    m_form.address = stdstr(m_address->text());
    m_form.utf8 = m_charset->currentIndex() == 1;
}

void ModuleEditorDialog::openModule(const std::string& name) {
    if (auto error = m_form.open(name); !error.empty()) {
        m_dialogs.message(error, platform::kAppTitle);
        return;
    }
    setWindowTitle(qstr(m_form.caption()));
    setEditing(true);
    m_address->setText(qstr(m_form.address));
    m_charset->setCurrentIndex(m_form.utf8 ? 1 : 0);
    showRows(-1);
}

void ModuleEditorDialog::addField() {
    if (!m_form.editing()) return;
    m_form.addField();
    showRows(static_cast<int>(m_form.rows.size()) - 1);
}

void ModuleEditorDialog::deleteField() {
    const int row = selectedRow();
    if (row < 0) return;
    if (!m_dialogs.confirm("确认删除字段吗？", "删除字段")) return;
    m_form.deleteField(row);
    showRows(std::min(row, static_cast<int>(m_form.rows.size()) - 1));
}

void ModuleEditorDialog::appendTag(const std::string& tag) {
    const int row = selectedRow();
    if (!m_form.appendTag(row, tag)) return;
    showRows(row);
}

void ModuleEditorDialog::captureCookie() {
    const int row = selectedRow();
    if (row < 0 || !chooseCookie) return;
    auto cookie = chooseCookie();
    if (!cookie) return;
    m_form.rows[static_cast<std::size_t>(row)].content = *cookie;
    showRows(row);
}

void ModuleEditorDialog::save() {
    readControls();
    if (auto refusal = m_form.saveRefusal(); !refusal.empty()) {
        m_dialogs.message(refusal, platform::kAppTitle);
        return;
    }
    const std::string path = chooseSavePath ? chooseSavePath(m_form.publishFolder(), m_form.moduleName()) : "";
    if (path.empty()) return;
    const std::string saved = path.size() > 2 && path.substr(path.size() - 2) == ".p" ? path : path + ".p";
    if (auto error = m_form.saveTo(saved); !error.empty()) {
        m_dialogs.message(error, platform::kAppTitle);
        return;
    }
    m_fields->clear();
    setEditing(false);
    std::string name = QFileInfo(qstr(saved)).completeBaseName().toStdString();
    showModules(name);
}

void ModuleEditorDialog::cancelEdit() {
    m_form.cancel();
    m_fields->clear();
    setEditing(false);
}

void ModuleEditorDialog::testPublish() {
    if (!m_form.editing()) return;
    readControls();
    std::vector<std::pair<std::string, std::string>> fields;
    for (const auto& r : m_form.rows) fields.emplace_back(r.name, r.content);
    const std::string address = m_form.address;
    const bool utf8 = m_form.utf8;
    auto pending =
        std::async(std::launch::async, [address, utf8, fields] { return publish::TestPublish(address, utf8, fields); });
    // The window stays responsive while the request runs.
    while (pending.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    const publish::TestPublishResult result = pending.get();
    if (!result.reply.empty()) m_reply->appendPlainText(qstr(result.reply));
    m_dialogs.message(result.message, platform::kAppTitle);
}

}  // namespace tarvex::ui
