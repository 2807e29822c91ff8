#include "ui/data/data_browser_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QSplitter>
#include <QUrl>
#include <QVBoxLayout>

namespace tarvex::ui {

namespace {
QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// Keeps the window painted and its caption current during a long export or import.
void breathe() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

constexpr const char* kDefaultCondition = "id>999 and id>0";
}  // namespace

BrowserHooks BrowserHooks::desktop() {
    BrowserHooks h;
    h.chooseFile = [](QWidget* parent, FileKind kind, const QString& suggested) {
        if (kind == FileKind::SaveCsv) {
            QString path = QFileDialog::getSaveFileName(parent, "导出", suggested, "Excel表格 (*.csv)");
            if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += ".csv";
            return path;
        }
        return QFileDialog::getOpenFileName(parent, "批量导入", suggested, "excel文件(xls,xlsx) (*.xls *.xlsx)");
    };
    h.openFolder = [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
    return h;
}

DataBrowserWindow::DataBrowserWindow(const app::Workspace& ws, std::int64_t taskId, const std::string& taskName,
                                     platform::Dialogs& dialogs, BrowserHooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_ws(ws),
      m_dialogs(dialogs),
      m_hooks(std::move(hooks)),
      m_model(ws, taskId, taskName, dialogs) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(q(m_model.caption()));
    resize(1100, 760);

    // Filters, query and statements.
    m_filter = new QComboBox;
    m_filter->setObjectName("filterBox");
    for (const auto& f : app::BrowserFilterNames()) m_filter->addItem(q(f));
    connect(m_filter, &QComboBox::activated, this, &DataBrowserWindow::filterChosen);
    m_condition = new QLineEdit(kDefaultCondition);
    m_condition->setObjectName("conditionBox");
    auto* query = new QPushButton("查询");
    connect(query, &QPushButton::clicked, this, &DataBrowserWindow::runQuery);
    m_statements = new QComboBox;
    m_statements->setObjectName("statementBox");
    m_statements->addItems({"选择执行语句", "批量替换字段内容", "人工审核条件", "按所选列模糊查询"});
    m_statements->setToolTip("选择后填入上面的条件框");
    connect(m_statements, &QComboBox::activated, this, &DataBrowserWindow::statementChosen);
    auto* exec = new QPushButton("执行SQL语句");
    connect(exec, &QPushButton::clicked, this, &DataBrowserWindow::executeSql);
    auto* exportButton = new QToolButton;
    exportButton->setText("导出");
    exportButton->setPopupMode(QToolButton::InstantPopup);
    auto* exportMenu = new QMenu(exportButton);
    exportMenu->addAction("Excel表格", this, &DataBrowserWindow::exportCsv);
    exportMenu->addAction("TXT文本文件", this, &DataBrowserWindow::exportText);
    exportButton->setMenu(exportMenu);
    auto* import = new QPushButton("批量导入");
    connect(import, &QPushButton::clicked, this, &DataBrowserWindow::importSpreadsheet);

    auto* top = new QHBoxLayout;
    top->addWidget(m_filter);
    top->addWidget(new QLabel("条件："));
    top->addWidget(m_condition, 1);
    top->addWidget(query);
    top->addWidget(m_statements);
    top->addWidget(exec);
    top->addSpacing(12);
    top->addWidget(exportButton);
    top->addWidget(import);

    // The grid.
    m_grid = new QTableWidget;
    m_grid->setObjectName("rowGrid");
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setWordWrap(false);
    m_grid->horizontalHeader()->setDefaultSectionSize(150);
    // The last field column takes the room the others leave, so no blank band stays at the right.
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_grid->verticalHeader()->setDefaultSectionSize(24);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!m_showing) showCellInEditor();
    });
    connect(m_grid->verticalHeader(), &QHeaderView::sectionClicked, this, [this] { showCellInEditor(); });

    // The edit page and the row commands.
    m_edit = new EditPageView(ws.pluginFolder + "/kindeditor/report.html");
    m_editState = new QLabel;
    m_editState->setObjectName("editState");
    connect(m_edit, &EditPageView::editedChanged, this,
            [this](bool edited) { m_editState->setText(edited ? "已修改，未保存" : ""); });
    auto* save = new QPushButton("保存");
    auto* done = new QPushButton("已采已发");
    auto* undone = new QPushButton("未采未发");
    auto* approve = new QPushButton("通过审核");
    connect(save, &QPushButton::clicked, this, &DataBrowserWindow::saveCell);
    connect(done, &QPushButton::clicked, this, &DataBrowserWindow::markCollectedPublished);
    connect(undone, &QPushButton::clicked, this, &DataBrowserWindow::markNotCollected);
    connect(approve, &QPushButton::clicked, this, &DataBrowserWindow::approve);
    auto* rowButtons = new QHBoxLayout;
    rowButtons->addWidget(save);
    rowButtons->addWidget(m_editState);
    rowButtons->addStretch(1);
    rowButtons->addWidget(done);
    rowButtons->addWidget(undone);
    rowButtons->addWidget(approve);
    auto* editArea = new QWidget;
    auto* editLay = new QVBoxLayout(editArea);
    editLay->setContentsMargins(0, 0, 0, 0);
    if (!m_edit->pageAvailable())
        editLay->addWidget(new QLabel("编辑页面不存在：" + q(m_edit->pagePath()) + "，以纯文本方式编辑"));
    editLay->addWidget(m_edit, 1);
    editLay->addLayout(rowButtons);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(m_grid);
    split->addWidget(editArea);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setSizes({420, 300});

    // Paging.
    auto* first = new QPushButton("首页");
    auto* prev = new QPushButton("上页");
    auto* next = new QPushButton("下页");
    auto* last = new QPushButton("末页");
    connect(first, &QPushButton::clicked, this, &DataBrowserWindow::firstPage);
    connect(prev, &QPushButton::clicked, this, &DataBrowserWindow::previousPage);
    connect(next, &QPushButton::clicked, this, &DataBrowserWindow::nextPage);
    connect(last, &QPushButton::clicked, this, &DataBrowserWindow::lastPage);
    m_pageBox = new QLineEdit;
    m_pageBox->setObjectName("pageBox");
    m_pageBox->setMaximumWidth(60);
    connect(m_pageBox, &QLineEdit::editingFinished, this, &DataBrowserWindow::pageBoxLeft);
    m_count = new QLabel;
    m_count->setObjectName("countLabel");
    auto* paging = new QHBoxLayout;
    for (auto* b : {first, prev, next, last}) paging->addWidget(b);
    paging->addWidget(new QLabel("页码："));
    paging->addWidget(m_pageBox);
    paging->addSpacing(12);
    paging->addWidget(m_count);
    paging->addStretch(1);

    auto* lay = new QVBoxLayout(this);
    lay->addLayout(top);
    lay->addWidget(split, 1);
    lay->addLayout(paging);
}

DataBrowserWindow::~DataBrowserWindow() = default;

bool DataBrowserWindow::open() {
    if (!m_edit->pageAvailable()) m_dialogs.message("编辑页面不存在：" + m_edit->pagePath(), platform::kAppTitle);
    if (!m_model.open()) return false;
    showPage();
    return true;
}

QPushButton* DataBrowserWindow::button(const QString& text) const {
    for (auto* b : findChildren<QPushButton*>())
        if (b->text() == text) return b;
    return nullptr;
}

void DataBrowserWindow::showPage() {
    m_showing = true;
    const auto& cols = m_model.columns();
    const auto& rows = m_model.rows();
    const auto current = selectedCell();
    m_grid->clear();
    m_grid->setColumnCount(static_cast<int>(cols.size()));
    m_grid->setRowCount(static_cast<int>(rows.size()));
    QStringList headers;
    for (const auto& c : cols) headers << q(c.caption);
    m_grid->setHorizontalHeaderLabels(headers);
    for (std::size_t r = 0; r < rows.size(); ++r) refreshRow(static_cast<int>(r));
    m_grid->setColumnWidth(0, 60);
    m_grid->setColumnWidth(1, 44);
    m_grid->setColumnWidth(2, 44);
    m_pageBox->setText(QString::number(m_model.currentPage()));
    m_count->setText(q(m_model.countLabel()));
    m_showing = false;
    // The same cell of the new page stays selected, so arrow keys and the editor carry on.
    if (current && !rows.empty())
        selectCell(std::min(current->first, static_cast<int>(rows.size()) - 1), std::max(current->second, 0));
    else
        m_edit->setText("");
}

void DataBrowserWindow::refreshRow(int row) {
    const auto& values = m_model.rows().at(static_cast<std::size_t>(row));
    for (std::size_t c = 0; c < values.size(); ++c) {
        QString text = q(values[c]);
        auto* item = new QTableWidgetItem(text.left(300).replace('\r', ' ').replace('\n', ' '));
        if (text.size() < 2000) item->setToolTip(text);
        m_grid->setItem(row, static_cast<int>(c), item);
    }
}

std::optional<std::pair<int, int>> DataBrowserWindow::selectedCell() const {
    const QModelIndex index = m_grid->currentIndex();
    if (!index.isValid()) return std::nullopt;
    const bool wholeRow =
        m_grid->selectionModel()->isRowSelected(index.row(), QModelIndex()) && m_grid->columnCount() > 1;
    return std::make_pair(index.row(), wholeRow ? -1 : index.column());
}

void DataBrowserWindow::selectCell(int row, int column) {
    m_grid->setCurrentCell(row, column);
}

void DataBrowserWindow::showCellInEditor() {
    const auto cell = selectedCell();
    if (!cell || cell->second < 0) {
        m_edit->setText("");
        return;
    }
    const auto& rows = m_model.rows();
    if (cell->first >= static_cast<int>(rows.size())) return;
    const auto& row = rows[static_cast<std::size_t>(cell->first)];
    if (cell->second < static_cast<int>(row.size())) m_edit->setText(row[static_cast<std::size_t>(cell->second)]);
}

void DataBrowserWindow::firstPage() {
    m_model.firstPage();
    showPage();
}

void DataBrowserWindow::previousPage() {
    m_model.previousPage();
    showPage();
}

void DataBrowserWindow::nextPage() {
    m_model.nextPage();
    showPage();
}

void DataBrowserWindow::lastPage() {
    m_model.lastPage();
    showPage();
}

void DataBrowserWindow::pageBoxLeft() {
    if (m_model.pageBoxLeft(m_pageBox->text().trimmed().toStdString()))
        showPage();
    else
        m_pageBox->setText(QString::number(m_model.currentPage()));
}

void DataBrowserWindow::filterChosen(int index) {
    m_model.setFilter(index);
    showPage();
}

void DataBrowserWindow::runQuery() {
    if (m_model.query(m_condition->text().toStdString())) showPage();
}

void DataBrowserWindow::executeSql() {
    if (m_model.execSql(m_condition->text().toStdString())) showPage();
}

void DataBrowserWindow::statementChosen(int index) {
    if (index <= 0) return;
    std::optional<int> column;
    if (auto cell = selectedCell(); cell && cell->second >= 0) column = cell->second;
    m_condition->setText(q(m_model.presetStatement(index, column)));
    m_statements->setCurrentIndex(0);
}

void DataBrowserWindow::saveCell() {
    const auto cell = selectedCell();
    if (!cell || cell->second <= 0) {
        // Refused with the model's own message ("该项不支持修改").
        m_model.saveCell(cell ? cell->first : -1, -1, "");
        emit cellSaved(false);
        return;
    }
    const int row = cell->first, column = cell->second;
    const std::int64_t page = m_model.currentPage();
    m_edit->requestText([this, row, column, page](std::optional<std::string> text) {
        if (!text) {
            m_dialogs.message("编辑页面没有应答，未保存", platform::kAppTitle);
            emit cellSaved(false);
            return;
        }
        // The page answers later: the grid must still show the page the save was asked on.
        if (page != m_model.currentPage() || row >= static_cast<int>(m_model.rows().size())) {
            emit cellSaved(false);
            return;
        }
        const bool stored = m_model.saveCell(row, column, *text);
        refreshRow(row);
        if (stored) m_edit->setText(*text);
        emit cellSaved(stored);
    });
}

void DataBrowserWindow::onSelectedRow(bool (app::DataBrowser::*command)(int, int)) {
    const auto cell = selectedCell();
    const int row = cell ? cell->first : -1;
    (m_model.*command)(row, cell ? cell->second : -1);
    if (row >= 0) refreshRow(row);
}

void DataBrowserWindow::markCollectedPublished() {
    onSelectedRow(&app::DataBrowser::markCollectedPublished);
}

void DataBrowserWindow::markNotCollected() {
    onSelectedRow(&app::DataBrowser::markNotCollected);
}

void DataBrowserWindow::approve() {
    onSelectedRow(&app::DataBrowser::approve);
}

void DataBrowserWindow::exportCsv() {
    try {
        if (app::CountRows(m_model.dbPath(), "") == 0) {
            m_dialogs.message("当前无有效数据！", platform::kAppTitle);
            return;
        }
    } catch (const std::exception& e) {
        m_dialogs.message(std::string("查询数据出错：") + e.what(), platform::kAppTitle);
        return;
    }
    const QString path =
        m_hooks.chooseFile(this, BrowserHooks::FileKind::SaveCsv, q(m_ws.programFolder + "Tarvex.csv"));
    if (path.isEmpty()) return;
    const QString title = windowTitle();
    auto r = app::ExportCsv(m_model.dbPath(), m_model.fieldColumns(), path.toStdString(), {},
                            [this](long long i, long long n) {
                                setWindowTitle("正在导出" + QString::number(i) + "/" + QString::number(n));
                                breathe();
                            });
    setWindowTitle(title);
    m_dialogs.message(r.message, platform::kAppTitle);
}

void DataBrowserWindow::exportText() {
    if (!m_textExport) {
        const std::string folder = m_ws.taskFolder(m_model.taskId()) + "/";
        m_textExport = new TextExportDialog(m_model.dbPath(), folder, m_model.taskName(), m_model.fieldColumns(),
                                            m_dialogs, m_hooks, this);
    }
    m_textExport->show();
    m_textExport->raise();
}

void DataBrowserWindow::importSpreadsheet() {
    const QString file = m_hooks.chooseFile(this, BrowserHooks::FileKind::OpenSpreadsheet, q(m_ws.programFolder));
    if (file.isEmpty()) return;
    const QString title = windowTitle();
    auto r = app::ImportSpreadsheet(m_model.dbPath(), m_model.fieldColumns(), file.toStdString(),
                                    [this](long long row, long long) {
                                        setWindowTitle("正在读取EXCEL行数：" + QString::number(row));
                                        breathe();
                                    });
    setWindowTitle(title);
    m_dialogs.message(r.ok ? r.message + "。" + app::kImportReopenHint : r.message, platform::kAppTitle);
    // The new rows are counted and paged at once as well.
    m_model.setFilter(m_filter->currentIndex());
    showPage();
}

// ---------------------------------------------------------------------------------------------
// Tarvex采集器 数据导出文本文件

TextExportDialog::TextExportDialog(const std::string& dbPath, const std::string& folder, const std::string& taskName,
                                   std::vector<std::string> fieldColumns, platform::Dialogs& dialogs,
                                   BrowserHooks hooks, QWidget* parent)
    : QDialog(parent),
      m_db(dbPath),
      m_folder(folder),
      m_fields(std::move(fieldColumns)),
      m_dialogs(dialogs),
      m_hooks(std::move(hooks)) {
    m_title = "Tarvex采集器 数据导出文本文件(" + q(taskName) + ")";
    setWindowTitle(m_title);
    resize(640, 520);

    m_name = new QLineEdit;
    m_content = new QPlainTextEdit;
    m_shortcuts = new QToolButton;
    m_shortcuts->setText("快捷菜单");
    m_shortcuts->setPopupMode(QToolButton::InstantPopup);
    auto* tokens = new QMenu(m_shortcuts);
    std::vector<std::string> names = {"id", "url"};
    names.insert(names.end(), m_fields.begin(), m_fields.end());
    for (const auto& n : names) {
        const QString token = "{采集字段:" + q(n) + "}";
        tokens->addAction(token, this, [this, token] { m_content->insertPlainText(token); });
    }
    m_shortcuts->setMenu(tokens);
    auto* defaults = new QPushButton("还原默认规则");
    connect(defaults, &QPushButton::clicked, this, &TextExportDialog::restoreDefaults);

    m_condition = new QLineEdit("id>0");
    m_presets = new QToolButton;
    m_presets->setText("常用查询语句");
    m_presets->setPopupMode(QToolButton::InstantPopup);
    auto* presets = new QMenu(m_presets);
    const std::pair<const char*, const char*> presetList[] = {
        {"所有纪录(留空或id>0)", ""}, {"按id获取(id>100)", "id>100"}, {"内容不能为空", "length(内容)>0"}};
    for (const auto& [caption, text] : presetList) {
        const QString t = text;
        presets->addAction(caption, this, [this, t] { m_condition->setText(t); });
    }
    m_presets->setMenu(presets);
    auto* test = new QPushButton("测试获取数据");
    connect(test, &QPushButton::clicked, this, &TextExportDialog::testCondition);

    m_fileMode = new QRadioButton("把每条记录导出到一个TXT");
    m_folderMode = new QRadioButton("把每条记录导出到单个文件夹(附件直接放在文件夹下)");
    m_fileMode->setChecked(true);
    auto* modes = new QButtonGroup(this);
    modes->addButton(m_fileMode);
    modes->addButton(m_folderMode);
    auto* start = new QPushButton("开始导出");
    connect(start, &QPushButton::clicked, this, &TextExportDialog::startExport);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("文件名规则:"), 0, 0);
    grid->addWidget(m_name, 0, 1, 1, 2);
    grid->addWidget(new QLabel("内容规则:"), 1, 0, Qt::AlignTop);
    grid->addWidget(m_content, 1, 1, 1, 2);
    auto* templateButtons = new QHBoxLayout;
    templateButtons->addWidget(m_shortcuts);
    templateButtons->addWidget(defaults);
    templateButtons->addStretch(1);
    grid->addLayout(templateButtons, 2, 1, 1, 2);
    grid->addWidget(new QLabel("附加查询语句:"), 3, 0);
    grid->addWidget(m_condition, 3, 1);
    auto* conditionButtons = new QHBoxLayout;
    conditionButtons->addWidget(m_presets);
    conditionButtons->addWidget(test);
    grid->addLayout(conditionButtons, 3, 2);
    grid->addWidget(m_fileMode, 4, 1, 1, 2);
    grid->addWidget(m_folderMode, 5, 1, 1, 2);
    grid->addWidget(new QLabel("导出目录：" + q(m_folder)), 6, 0, 1, 2);
    grid->addWidget(start, 6, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);
    restoreDefaults();
}

void TextExportDialog::restoreDefaults() {
    const app::TextExportOptions defaults;
    m_name->setText(q(defaults.nameTemplate));
    QString content = q(defaults.contentTemplate);
    m_content->setPlainText(content.replace("\r\n", "\n"));
}

void TextExportDialog::testCondition() {
    m_dialogs.message(app::TestExportCondition(m_db, m_condition->text().toStdString()), platform::kAppTitle);
}

void TextExportDialog::startExport() {
    app::TextExportOptions o;
    o.nameTemplate = m_name->text().toStdString();
    // The template box shows line ends as LF; the files get CR LF like the default template.
    o.contentTemplate = m_content->toPlainText().replace("\n", "\r\n").toStdString();
    o.condition = m_condition->text().toStdString();
    o.folderPerRow = m_folderMode->isChecked();
    m_last = app::ExportText(m_db, m_fields, o, m_folder, [this](long long i, long long n) {
        setWindowTitle("正在导出" + QString::number(i) + "/" + QString::number(n));
        if (i % 50 == 0 || i == n) breathe();
    });
    setWindowTitle(m_title);
    m_dialogs.message(m_last.message, platform::kAppTitle);
    if (m_last.ok && m_hooks.openFolder) m_hooks.openFolder(q(m_folder));
}

}  // namespace tarvex::ui
