#include "wizard/ProbeNoticeDialog.h"

#include "widgets/ProductIcon.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QThread>
#include <QWindow>

namespace kbr::wizard {

namespace {
// 132 x 24 dialog units at 96 dpi.
constexpr int NOTICE_WIDTH = 198;
constexpr int NOTICE_HEIGHT = 39;
// How long painting waits for the window system to show a new window.
constexpr int EXPOSE_WAIT_MS = 1000;
}  // namespace

ProbeNoticeDialog::ProbeNoticeDialog() : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("ProbeNoticeDialog");
    setWindowTitle(CAPTION);
    setWindowIcon(ProductIcon());
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* layout = new QHBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(ProductIcon().pixmap(32, 32));
    auto* text = new QLabel(TEXT, this);
    text->setObjectName("noticeText");
    layout->addWidget(icon);
    layout->addWidget(text, 1);
    setMinimumSize(NOTICE_WIDTH, NOTICE_HEIGHT);
    resize(sizeHint().expandedTo(QSize(NOTICE_WIDTH, NOTICE_HEIGHT)));
}

void ProbeNoticeDialog::ShowAndPaint() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    PaintNow(this);
}

void ProbeNoticeDialog::PaintNow(QWidget* window) {
    if (window == nullptr || !window->isVisible()) {
        return;
    }
    // A new window is mapped asynchronously; paint only once it can be seen, or the blocking work
    // that follows would leave an empty frame on screen.
    QDeadlineTimer deadline(EXPOSE_WAIT_MS);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QWindow* handle = window->windowHandle();
        if (handle != nullptr && handle->isExposed()) {
            break;
        }
        QThread::msleep(5);
    }
    window->repaint();
    // Hand the painted frame to the window system.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace kbr::wizard
