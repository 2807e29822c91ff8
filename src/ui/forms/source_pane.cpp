#include "ui/forms/source_pane.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>

namespace tarvex::ui {

namespace {

// Beyond this many places the highlight would slow typing down more than it helps.
constexpr std::size_t kMostHighlights = 2000;

class NumberArea : public QWidget {
public:
    explicit NumberArea(NumberedTextView* view) : QWidget(view), m_view(view) {}
    QSize sizeHint() const override { return {m_view->numberAreaWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent* event) override { m_view->paintNumbers(event); }

private:
    NumberedTextView* m_view;
};

}  // namespace

NumberedTextView::NumberedTextView(QWidget* parent) : QPlainTextEdit(parent), m_numbers(new NumberArea(this)) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Keep the selection visible while the user presses a button beside the pane.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { setViewportMargins(numberAreaWidth(), 0, 0, 0); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
        if (dy)
            m_numbers->scroll(0, dy);
        else
            m_numbers->update(0, rect.y(), m_numbers->width(), rect.height());
    });
    setViewportMargins(numberAreaWidth(), 0, 0, 0);
}

int NumberedTextView::numberAreaWidth() const {
    int digits = 1;
    for (int n = std::max(1, blockCount()); n >= 10; n /= 10) ++digits;
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
}

void NumberedTextView::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect cr = contentsRect();
    m_numbers->setGeometry(QRect(cr.left(), cr.top(), numberAreaWidth(), cr.height()));
}

void NumberedTextView::paintNumbers(QPaintEvent* event) {
    QPainter painter(m_numbers);
    painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid() && top <= event->rect().bottom()) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible() && top + height >= event->rect().top())
            painter.drawText(0, top, m_numbers->width() - 4, fontMetrics().height(), Qt::AlignRight,
                             QString::number(block.blockNumber() + 1));
        block = block.next();
        top += height;
    }
}

SourcePane::SourcePane(QWidget* parent) : QWidget(parent) {
    setObjectName("sourcePane");
    m_address = new QLineEdit;
    m_address->setObjectName("sourceAddress");
    m_address->setPlaceholderText("测试网址 http://");
    auto* open = new QPushButton("打开网页");
    open->setObjectName("sourceLoad");
    m_status = new QLabel;
    m_status->setWordWrap(true);
    m_view = new NumberedTextView;
    m_view->setObjectName("sourceView");
    m_search = new QLineEdit;
    m_search->setObjectName("sourceSearch");
    m_search->setPlaceholderText("查找");
    auto* next = new QPushButton("查找下一个");
    m_front = new QPushButton("设为前边字符");
    m_front->setObjectName("setFront");
    m_back = new QPushButton("设为后边字符");
    m_back->setObjectName("setBack");
    m_count = new QLabel;
    m_count->setObjectName("matchCount");

    auto* top = new QHBoxLayout;
    top->addWidget(m_address, 1);
    top->addWidget(open);
    auto* find = new QHBoxLayout;
    find->addWidget(m_search, 1);
    find->addWidget(next);
    auto* choose = new QHBoxLayout;
    choose->addWidget(m_front);
    choose->addWidget(m_back);
    choose->addWidget(m_count, 1);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addLayout(top);
    lay->addWidget(m_status);
    lay->addWidget(m_view, 1);
    lay->addLayout(find);
    lay->addLayout(choose);

    connect(open, &QPushButton::clicked, this, &SourcePane::load);
    connect(m_address, &QLineEdit::returnPressed, this, &SourcePane::load);
    connect(next, &QPushButton::clicked, this, &SourcePane::findNext);
    connect(m_search, &QLineEdit::returnPressed, this, &SourcePane::findNext);
    connect(m_front, &QPushButton::clicked, this, [this] {
        const std::string text = selectedRuleText();
        if (text.empty())
            m_status->setText("请先在网页源码中选中一段文字");
        else
            emit frontChosen(text);
    });
    connect(m_back, &QPushButton::clicked, this, [this] {
        const std::string text = selectedRuleText();
        if (text.empty())
            m_status->setText("请先在网页源码中选中一段文字");
        else
            emit backChosen(text);
    });
}

void SourcePane::setAddress(const std::string& url) {
    m_address->setText(QString::fromStdString(url));
}

std::string SourcePane::address() const {
    return m_address->text().trimmed().toStdString();
}

void SourcePane::load() {
    if (!m_fetch) return;
    const std::string url = address();
    m_status->setText("正在打开：" + QString::fromStdString(url));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    app::TestPage page = m_fetch(url);
    QApplication::restoreOverrideCursor();
    if (!page.ok) {
        m_status->setText(QString::fromStdString(page.error));
        return;
    }
    showPage(url, page.text);
}

void SourcePane::showPage(const std::string& address, const std::string& page) {
    m_raw = page;
    m_shown = app::PaneText(page);
    m_loaded = address;
    m_view->setPlainText(QString::fromStdString(m_shown));
    m_status->setText(QString("%1（%2行）").arg(QString::fromStdString(address)).arg(m_view->blockCount()));
    emit pageLoaded();
}

void SourcePane::showPreview(const app::RulePreview& preview) {
    QList<QTextEdit::ExtraSelection> marks;
    const int length = m_view->document()->characterCount();
    auto mark = [&](const app::TextRange& r, const QColor& colour) {
        if (r.end <= r.begin || static_cast<int>(r.end) >= length + 1) return;
        QTextEdit::ExtraSelection sel;
        sel.cursor = QTextCursor(m_view->document());
        sel.cursor.setPosition(static_cast<int>(r.begin));
        sel.cursor.setPosition(static_cast<int>(r.end), QTextCursor::KeepAnchor);
        sel.format.setBackground(colour);
        marks.append(sel);
    };
    mark(preview.area, QColor(255, 244, 200));
    for (std::size_t i = 0; i < preview.ranges.size() && i < kMostHighlights; ++i)
        mark(preview.ranges[i], QColor(150, 230, 150));
    m_view->setExtraSelections(marks);
    m_count->setText(QString::fromStdString(preview.summary));
    if (!preview.ranges.empty() && m_view->textCursor().selectedText().isEmpty()) {
        // Scroll to the first match so the user sees what the rule takes.
        QTextCursor c(m_view->document());
        c.setPosition(static_cast<int>(std::min<std::size_t>(preview.ranges.front().begin, length - 1)));
        m_view->setTextCursor(c);
        m_view->centerCursor();
    }
}

std::string SourcePane::selectedRuleText() const {
    QString text = m_view->textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, "\r\n");
    return text.toStdString();
}

bool SourcePane::findNext() {
    const QString what = m_search->text();
    if (what.isEmpty()) return false;
    if (m_view->find(what)) return true;
    QTextCursor c = m_view->textCursor();
    c.movePosition(QTextCursor::Start);
    m_view->setTextCursor(c);
    const bool found = m_view->find(what);
    m_count->setText(found ? QString() : "没有找到：" + what);
    return found;
}

}  // namespace tarvex::ui
