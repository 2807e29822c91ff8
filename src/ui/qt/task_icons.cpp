#include "ui/qt/task_icons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QToolButton>
#include <functional>

namespace tarvex::ui {

namespace {
QIcon drawn(const std::function<void(QPainter&)>& paint) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    return QIcon(pm);
}

void badge(QPainter& p, const QColor& color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(3, 3, 26, 26);
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
}
}  // namespace

QIcon rootIcon() {
    return drawn([](QPainter& p) {
        p.setPen(QPen(QColor(0x2b, 0x57, 0x9a), 2));
        p.setBrush(QColor(0xd6, 0xe4, 0xf5));
        p.drawRoundedRect(3, 6, 26, 20, 3, 3);
        p.setBrush(QColor(0x2b, 0x57, 0x9a));
        p.drawRect(7, 10, 18, 3);
        p.drawRect(7, 16, 12, 3);
    });
}

QIcon folderIcon() {
    return QApplication::style()->standardIcon(QStyle::SP_DirIcon);
}

QIcon taskIcon() {
    return drawn([](QPainter& p) {
        p.setPen(QPen(QColor(0x55, 0x55, 0x55), 1.5));
        p.setBrush(Qt::white);
        p.drawRect(7, 3, 18, 26);
        p.setPen(QPen(QColor(0x1f, 0x6f, 0xb5), 2));
        for (int y : {10, 15, 20}) p.drawLine(11, y, 21, y);
    });
}

QIcon columnIcon() {
    return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
}

QIcon addNodeIcon() {
    return drawn([](QPainter& p) {
        badge(p, QColor(0x2e, 0x8b, 0x57));
        p.drawLine(16, 9, 16, 23);
        p.drawLine(9, 16, 23, 16);
    });
}

QIcon deleteNodeIcon() {
    return drawn([](QPainter& p) {
        badge(p, QColor(0xd9, 0x82, 0x1e));
        p.drawLine(9, 16, 23, 16);
    });
}

QIcon clearNodesIcon() {
    return drawn([](QPainter& p) {
        badge(p, QColor(0xc0, 0x39, 0x2b));
        p.drawLine(11, 11, 21, 21);
        p.drawLine(21, 11, 11, 21);
    });
}

QToolButton* iconButton(const char* objectName, const char* caption, const QIcon& icon) {
    auto* b = new QToolButton;
    b->setObjectName(objectName);
    b->setIcon(icon);
    b->setIconSize(QSize(20, 20));
    b->setToolTip(caption);
    b->setText(caption);
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    return b;
}

}  // namespace tarvex::ui
