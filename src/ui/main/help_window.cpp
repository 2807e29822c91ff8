#include "ui/main/help_window.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/ports.h"
#include "ui/qt/qt_ports.h"

#ifndef TARVEX_VERSION
#define TARVEX_VERSION "0"
#endif
#ifndef TARVEX_GUIDE_SOURCE_DIR
#define TARVEX_GUIDE_SOURCE_DIR ""
#endif
#ifndef TARVEX_GUIDE_INSTALL_REL
#define TARVEX_GUIDE_INSTALL_REL "../share/doc/tarvex/guide"
#endif

namespace tarvex::ui {

namespace {

QPointer<HelpWindow>& guideWindow() {
    static QPointer<HelpWindow> window;
    return window;
}

QString shortClassName(const QWidget* w) {
    QString name = QString::fromLatin1(w->metaObject()->className());
    return name.mid(name.lastIndexOf(':') + 1);
}

// The caption of the open tab of the named tab widget inside `window`, "" when there is none.
QString openTab(const QWidget* window, const char* name) {
    auto* tabs = window->findChild<QTabWidget*>(name);
    return tabs && tabs->isVisible() ? tabs->tabText(tabs->currentIndex()) : QString();
}

}  // namespace

const std::vector<GuideChapter>& guideChapters() {
    static const std::vector<GuideChapter> chapters = {
        {"index.md", "目录"},
        {"01-first-task.md", "第一个任务"},
        {"02-list-rules.md", "列表规则"},
        {"03-field-rules.md", "字段规则与占位符"},
        {"04-post-processing.md", "内容处理"},
        {"05-attachments-watermarks.md", "附件、缩略图与水印"},
        {"06-publish-wordpress.md", "用WordPress插件发布"},
        {"07-site-groups.md", "站群发布"},
        {"08-scheduler.md", "计划任务"},
        {"09-data-browser.md", "数据库查看器"},
        {"10-command-line.md", "命令行与服务器"},
        {"11-troubleshooting.md", "出错时怎么办"},
    };
    return chapters;
}

QString guideFolder() {
    QStringList candidates;
    const QString given = qEnvironmentVariable("TARVEX_GUIDE_DIR");
    if (!given.isEmpty()) candidates << given;
    candidates << QCoreApplication::applicationDirPath() + "/" + TARVEX_GUIDE_INSTALL_REL;
    candidates << QString::fromUtf8(TARVEX_GUIDE_SOURCE_DIR);
    for (const QString& c : candidates)
        if (!c.isEmpty() && QFileInfo::exists(c + "/index.md")) return QDir(c).absolutePath();
    return {};
}

QString chapterFor(const QWidget* window) {
    if (!window) return "index.md";
    const QString name = shortClassName(window);
    if (name == "ListSettingsDialog" || name == "PaginationDialog") return "02-list-rules.md";
    if (name == "FieldEditorDialog") {
        const QString tab = openTab(window, "fieldTabs");
        if (tab == "内容处理" || tab == "筛选过滤") return "04-post-processing.md";
        if (tab == "附件下载" || tab == "水印和缩略图") return "05-attachments-watermarks.md";
        return "03-field-rules.md";
    }
    if (name == "MultiLevelDialog") return "03-field-rules.md";
    if (name == "ModuleEditorDialog" || name == "UploadSettingsDialog" || name == "CookieCaptureDialog")
        return "06-publish-wordpress.md";
    if (name == "SiteGroupDialog" || name == "SiteEntryDialog") return "07-site-groups.md";
    if (name == "ScheduleDialog" || name == "AddToQueueDialog" || name == "WaitingQueueWindow")
        return "08-scheduler.md";
    if (name == "DataBrowserWindow" || name == "TextExportDialog") return "09-data-browser.md";
    if (name == "VisualEditorDialog") return "01-first-task.md";
    if (name == "MainWindow") {
        const QString tab = openTab(window, "settingsTabs");
        if (tab == "发布内容") return "06-publish-wordpress.md";
        if (!tab.isEmpty()) return "03-field-rules.md";
        return "01-first-task.md";
    }
    return "index.md";
}

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
    setObjectName("HelpWindow");
    setWindowTitle("Tarvex采集器 用户指南");
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    m_chapters = new QListWidget;
    m_chapters->setObjectName("guideChapters");
    for (const auto& c : guideChapters()) {
        auto* item = new QListWidgetItem(QString::fromUtf8(c.title), m_chapters);
        item->setData(Qt::UserRole, QString::fromUtf8(c.file));
    }
    m_chapters->setMaximumWidth(200);
    m_browser = new QTextBrowser;
    m_browser->setObjectName("guideText");
    m_browser->setOpenExternalLinks(true);
    connect(m_chapters, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { showChapter(item->data(Qt::UserRole).toString()); });
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this] {
        const QString file = currentChapter();
        for (int i = 0; i < m_chapters->count(); ++i)
            if (m_chapters->item(i)->data(Qt::UserRole).toString() == file) m_chapters->setCurrentRow(i);
    });

    auto* back = new QPushButton("后退");
    auto* forward = new QPushButton("前进");
    auto* close = new QPushButton("关闭");
    connect(back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    back->setEnabled(false);
    forward->setEnabled(false);

    auto* split = new QSplitter;
    split->addWidget(m_chapters);
    split->addWidget(m_browser);
    split->setStretchFactor(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(forward);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(split, 1);
    lay->addLayout(buttons);
    resize(960, 680);
}

bool HelpWindow::showChapter(const QString& chapter) {
    const QString folder = guideFolder();
    if (folder.isEmpty()) return false;
    const QString path = folder + "/" + (chapter.isEmpty() ? QString("index.md") : chapter);
    if (!QFileInfo::exists(path)) return false;
    m_browser->setSource(QUrl::fromLocalFile(path), QTextDocument::MarkdownResource);
    fitPictures();
    return true;
}

// The pictures are screenshots of whole windows: shown no wider than the text beside them.
void HelpWindow::fitPictures() {
    QTextDocument* doc = m_browser->document();
    const int widest = 640;
    QTextCursor cursor(doc);
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat()) continue;
            QTextImageFormat picture = fragment.charFormat().toImageFormat();
            const QVariant data = m_browser->loadResource(QTextDocument::ImageResource, QUrl(picture.name()));
            QImage image;
            if (data.typeId() == QMetaType::QByteArray)
                image = QImage::fromData(data.toByteArray());
            else if (data.typeId() == QMetaType::QPixmap)
                image = data.value<QPixmap>().toImage();
            else
                image = data.value<QImage>();
            if (image.isNull() || image.width() <= widest) continue;
            picture.setWidth(widest);
            picture.setHeight(image.height() * widest / image.width());
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(picture);
        }
    }
}

QString HelpWindow::currentChapter() const {
    return QFileInfo(m_browser->source().toLocalFile()).fileName();
}

HelpWindow* openGuide() {
    return guideWindow();
}

HelpWindow* showGuide(QWidget* from) {
    QWidget* window = from ? from->window() : nullptr;
    if (qobject_cast<HelpWindow*>(window)) return static_cast<HelpWindow*>(window);
    const QString chapter = chapterFor(window);
    QPointer<HelpWindow>& open = guideWindow();
    // The guide belongs to the window it was asked from, so a modal dialog does not block it.
    if (open && open->parentWidget() != window) delete open.data();
    if (!open) {
        open = new HelpWindow(window);
        open->setAttribute(Qt::WA_DeleteOnClose, true);
    }
    if (!open->showChapter(chapter)) {
        QtDialogs(window).message(
            "没有找到用户指南（docs/guide）。请重新安装程序，或设置环境变量 TARVEX_GUIDE_DIR "
            "指向指南所在的文件夹。",
            platform::kAppTitle);
        delete open.data();
        return nullptr;
    }
    open->show();
    open->raise();
    open->activateWindow();
    return open;
}

QString programVersion() {
    return QString::fromLatin1(TARVEX_VERSION);
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutDialog");
    setWindowTitle("关于 Tarvex采集器");
    auto* icon = new QLabel;
    icon->setPixmap(parent ? parent->windowIcon().pixmap(64, 64) : QPixmap());
    auto* text = new QLabel(
        "<h2>Tarvex采集器</h2>"
        "<p>版本 " +
        programVersion().toHtmlEscaped() +
        "</p>"
        "<p>网站内容采集与发布工具：按规则采集网页的列表和内容，处理后通过接口文件发布到自己的网站。</p>"
        "<p>按 F1 或点菜单“帮助 → 用户指南”查看使用说明。<br>"
        "命令行版本：<code>tarvex-cli --help</code></p>"
        "<p>界面使用 Qt " +
        QString::fromLatin1(qVersion()) + "。</p>");
    text->setObjectName("aboutText");
    text->setTextFormat(Qt::RichText);
    text->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    nameStandardButtons(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(text, 1);
    auto* lay = new QVBoxLayout(this);
    lay->addLayout(row, 1);
    lay->addWidget(buttons);
    resize(460, 260);
}

}  // namespace tarvex::ui
