#include "shell/ProgramIcon.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace kbr {

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(0x1f, 0x4e, 0x9a));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 6.0, size / 6.0);
        p.setPen(Qt::white);
        QFont font;
        font.setBold(true);
        font.setPixelSize(size * 2 / 3);
        p.setFont(font);
        p.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("K"));
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace kbr
