#include "ui/qt/window_fit.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QTableView>
#include <QTreeView>
#include <QWidget>

#include "ui/main/help_window.h"
#include "ui/qt/tooltips.h"

namespace tarvex::ui {

namespace {

constexpr const char* kFittedProperty = "tarvexFitted";
constexpr const char* kKeyProperty = "tarvexWindowKey";

// Room left for the title bar and the frame the desktop draws around a window.
constexpr QMargins kDecoration(4, 32, 4, 4);

QString& stateFile() {
    static QString path;
    return path;
}

QString keyOf(const QWidget* window) {
    const QString given = window->property(kKeyProperty).toString();
    if (!given.isEmpty()) return given;
    QString name = QString::fromLatin1(window->metaObject()->className());
    return name.mid(name.lastIndexOf(':') + 1);
}

// A row of buttons at the foot of a dialog: a button box, a button, or a layout that holds
// nothing but buttons, labels and spacing.
bool isButtonRow(QLayoutItem* item) {
    if (item->spacerItem()) return true;
    if (QWidget* w = item->widget()) return qobject_cast<QDialogButtonBox*>(w) || qobject_cast<QAbstractButton*>(w);
    if (QLayout* l = item->layout()) {
        bool anyButton = false;
        for (int i = 0; i < l->count(); ++i) {
            QLayoutItem* child = l->itemAt(i);
            if (child->spacerItem()) continue;
            QWidget* w = child->widget();
            if (!w) return false;
            if (qobject_cast<QDialogButtonBox*>(w) || qobject_cast<QAbstractButton*>(w))
                anyButton = true;
            else if (!w->inherits("QLabel"))
                return false;
        }
        return anyButton;
    }
    return false;
}

// Moves the items above the trailing button rows of a vertical top layout into a scroll area,
// so the body scrolls while the buttons stay in view. False when the layout has no such shape.
bool wrapBody(QWidget* window) {
    auto* top = qobject_cast<QBoxLayout*>(window->layout());
    if (!top || top->direction() != QBoxLayout::TopToBottom) return false;
    int bodyCount = top->count();
    while (bodyCount > 0 && isButtonRow(top->itemAt(bodyCount - 1))) --bodyCount;
    if (bodyCount == 0) return false;

    auto* body = new QWidget;
    body->setObjectName("fittedBody");
    auto* bodyLay = new QVBoxLayout(body);
    bodyLay->setContentsMargins(0, 0, 0, 0);
    bodyLay->setSpacing(top->spacing());
    for (int i = 0; i < bodyCount; ++i) {
        const int stretch = top->stretch(0);
        QLayoutItem* item = top->takeAt(0);
        if (QWidget* w = item->widget()) {
            bodyLay->addWidget(w, stretch, item->alignment());
            delete item;
        } else if (QLayout* l = item->layout()) {
            bodyLay->addLayout(l, stretch);
        } else {
            bodyLay->addItem(item);
            bodyLay->setStretch(bodyLay->count() - 1, stretch);
        }
    }
    auto* scroll = new QScrollArea;
    scroll->setObjectName("fittedScrollArea");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(body);
    top->insertWidget(0, scroll, 1);
    return true;
}

void restoreOrBound(QWidget* window, QSize natural) {
    const QRect area = availableArea(window);
    const QRect usable = area.marginsRemoved(kDecoration);
    if (!stateFile().isEmpty()) {
        QSettings store(stateFile(), QSettings::IniFormat);
        const QByteArray saved = store.value(keyOf(window) + "/geometry").toByteArray();
        if (!saved.isEmpty() && window->restoreGeometry(saved)) {
            window->setGeometry(keptInside(window->geometry(), usable));
            return;
        }
    }
    const QSize bounded =
        natural.boundedTo(usable.size()).expandedTo(window->minimumSizeHint().boundedTo(usable.size()));
    window->resize(bounded);
    if (window->testAttribute(Qt::WA_Moved)) window->move(keptInside(window->geometry(), usable).topLeft());
}

bool isProgramWindow(QObject* o) {
    if (!o->isWidgetType()) return false;
    auto* w = static_cast<QWidget*>(o);
    if (!w->isWindow()) return false;
    const Qt::WindowType type = w->windowType();
    if (type != Qt::Window && type != Qt::Dialog) return false;
    return QByteArray(w->metaObject()->className()).startsWith("tarvex::");
}

}  // namespace

QRect availableArea(const QWidget* window) {
    QScreen* screen = window ? window->screen() : nullptr;
    if (window && window->parentWidget() && window->parentWidget()->window()->isVisible())
        screen = window->parentWidget()->window()->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1366, 768);
}

QRect keptInside(const QRect& rect, const QRect& area) {
    QRect r = rect;
    r.setWidth(std::min(r.width(), area.width()));
    r.setHeight(std::min(r.height(), area.height()));
    if (r.right() > area.right()) r.moveRight(area.right());
    if (r.bottom() > area.bottom()) r.moveBottom(area.bottom());
    if (r.left() < area.left()) r.moveLeft(area.left());
    if (r.top() < area.top()) r.moveTop(area.top());
    return r;
}

void setWindowStateFile(const QString& path) {
    stateFile() = path;
}

QString windowStateFile() {
    return stateFile();
}

void rememberGeometry(QWidget* window) {
    if (stateFile().isEmpty() || !window || !window->property(kFittedProperty).toBool()) return;
    QSettings store(stateFile(), QSettings::IniFormat);
    store.setValue(keyOf(window) + "/geometry", window->saveGeometry());
}

void fitWindow(QWidget* window, const QString& key) {
    if (!window || window->property(kFittedProperty).toBool()) return;
    window->setProperty(kFittedProperty, true);
    if (!key.isEmpty()) window->setProperty(kKeyProperty, key);
    if (window->layout()) window->layout()->activate();
    const QSize natural = window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint();
    const QRect usable = availableArea(window).marginsRemoved(kDecoration);
    // Only a body that cannot shrink to the screen is put into a scroll area; the others already
    // give way when the window is made smaller.
    const QSize least = window->minimumSizeHint();
    if (!qobject_cast<QMainWindow*>(window) && (least.height() > usable.height() || least.width() > usable.width()) &&
        wrapBody(window)) {
        // The window's minimum size still is the one of the unwrapped body until the layout is redone.
        window->layout()->invalidate();
        window->layout()->activate();
    }
    restoreOrBound(window, natural);
}

void stretchColumns(QAbstractItemView* view, std::initializer_list<int> stretch) {
    QHeaderView* header = nullptr;
    if (auto* table = qobject_cast<QTableView*>(view))
        header = table->horizontalHeader();
    else if (auto* tree = qobject_cast<QTreeView*>(view))
        header = tree->header();
    if (!header) return;
    header->setStretchLastSection(stretch.size() == 0);
    header->resizeSections(QHeaderView::ResizeToContents);
    for (int column : stretch)
        if (column < header->count()) header->setSectionResizeMode(column, QHeaderView::Stretch);
}

void WindowCare::install() {
    static WindowCare* care = [] {
        auto* c = new WindowCare(qApp);
        qApp->installEventFilter(c);
        return c;
    }();
    (void)care;
}

bool WindowCare::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1 &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier && watched->isWidgetType()) {
        // F1 anywhere in a window of the program: the guide at the chapter of that window.
        QWidget* window = static_cast<QWidget*>(watched)->window();
        if (isProgramWindow(window)) {
            showGuide(window);
            return true;
        }
    }
    if ((type == QEvent::Show || type == QEvent::Hide) && isProgramWindow(watched)) {
        auto* window = static_cast<QWidget*>(watched);
        if (type == QEvent::Show) {
            applyTooltips(window);
            fitWindow(window);
        } else {
            rememberGeometry(window);
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tarvex::ui
