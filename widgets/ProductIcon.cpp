#include "widgets/ProductIcon.h"

#include <QApplication>

#include "ProgramVersion.h"

namespace kbr {

QIcon ProductIcon() {
    return QIcon::fromTheme(QString::fromLatin1(PRODUCT_ICON_NAME), QIcon(QStringLiteral(":/kbr3300/kbr3300.svg")));
}

void ApplyDesktopIdentity() {
    // X11 takes the window class from the application name: one class for both programs, the one
    // the desktop entry names.
    QApplication::setApplicationName(QString::fromLatin1(WINDOW_CLASS));
    QApplication::setDesktopFileName(QString::fromLatin1(DESKTOP_APP_ID));
    QApplication::setWindowIcon(ProductIcon());
}

}  // namespace kbr
