#include "about_dialog.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include <algorithm>

namespace {

// A framed picture: sky, sun and a hill, in a handful of flat colours.
QPixmap IconImage(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    const qreal s = size / 16.0;
    p.scale(s, s);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x80, 0x80, 0x80));
    p.drawRect(QRectF(0, 1, 16, 14));
    p.setBrush(QColor(0x00, 0xFF, 0xFF));
    p.drawRect(QRectF(1, 2, 14, 12));
    p.setBrush(QColor(0xFF, 0xFF, 0x00));
    p.drawEllipse(QRectF(9.5, 3, 3.5, 3.5));
    p.setBrush(QColor(0x00, 0x80, 0x00));
    p.drawPolygon(QPolygonF({QPointF(1, 14), QPointF(1, 10), QPointF(5, 6.5), QPointF(10, 11),
                             QPointF(15, 9), QPointF(15, 14)}));
    return pm;
}

}  // namespace

QIcon PlixrefIcon() {
    QIcon icon;
    icon.addPixmap(IconImage(32));
    icon.addPixmap(IconImage(16));
    return icon;
}

CAboutDialog::CAboutDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint) {
    setWindowTitle(QStringLiteral("About Plixref"));
    const QFontMetrics fm(font());
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int baseX = std::max(1, (fm.horizontalAdvance(alphabet) / 26 + 1) / 2);
    const int baseY = std::max(1, fm.height());
    auto x = [baseX](int u) { return (u * baseX + 2) / 4; };
    auto y = [baseY](int u) { return (u * baseY + 4) / 8; };

    auto *icon = new QLabel(this);
    icon->setPixmap(IconImage(32));
    icon->setGeometry(x(5), y(5), std::max(32, x(20)), std::max(32, y(20)));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto *line1 = new QLabel(QStringLiteral("PLIX reference code version 1.0"), this);
    line1->setTextFormat(Qt::PlainText);
    line1->setGeometry(x(33), y(4), x(119), y(8));
    auto *line2 = new QLabel(QStringLiteral("Copyright (C) the PLIX developers"), this);
    line2->setTextFormat(Qt::PlainText);
    line2->setGeometry(x(33), y(18), x(119), y(8));
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setGeometry(x(107), y(32), x(50), y(14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(x(159), std::max(y(48), y(32) + y(14) + 4));
}
