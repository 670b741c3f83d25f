// The yardstick of the start-up benchmark: the browser engine's own start-up, with nothing of
// ours around it. One QWebEngineView, one local page (the file named on the command line), the
// configuration program's first window size; no scheme handler, no injected script, no profile of
// its own, no device, no helper.
//
//   kbr3300-bare-view PAGE.html [WIDTHxHEIGHT]
//
// With a size, the view is moved and resized to it as soon as the page starts to load, and painted
// at once: what the login page asks of the program's window while it loads, which the engine pays
// for in any program.

#include "browser/StartupTrace.h"
#include "testkit/EngineSanitizerDefaults.h"

#include <QApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QWebEngineView>

#include <cstdio>
#include <optional>

namespace {

// The main window's first size: 447 x 277 dialog units at 96 dpi.
constexpr int WINDOW_WIDTH = 670;
constexpr int WINDOW_HEIGHT = 450;
// Where the program puts its window on the page's first resize.
constexpr int FIRST_LEFT = 30;
constexpr int FIRST_TOP = 20;

std::optional<QSize> SizeArgument(const char* text) {
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^([0-9]{1,5})x([0-9]{1,5})$")).match(QString::fromLatin1(text));
    if (!match.hasMatch()) return std::nullopt;
    return QSize(match.captured(1).toInt(), match.captured(2).toInt());
}

}  // namespace

int main(int argc, char** argv) {
    kbr::StartupTraceBegin();  // the same trace as KBR3300's, for the steps the two have in common
    kbr::StartupTrace("main");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    kbr::StartupTrace("application object made");
    const std::optional<QSize> pageSize = argc == 3 ? SizeArgument(argv[2]) : std::nullopt;
    if (argc < 2 || argc > 3 || (argc == 3 && !pageSize) || !QFileInfo(QString::fromLocal8Bit(argv[1])).isFile()) {
        std::fprintf(stderr, "usage: kbr3300-bare-view PAGE.html [WIDTHxHEIGHT]\n");
        return 2;
    }
    QWebEngineView view;
    kbr::StartupTrace("view made");
    QObject::connect(&view, &QWebEngineView::loadStarted, [&view, pageSize] {
        kbr::StartupTrace("first document: load started");
        if (!pageSize) return;
        view.setGeometry(QRect(QPoint(FIRST_LEFT, FIRST_TOP), *pageSize));
        view.repaint();
        kbr::StartupTrace("resized as the page asks");
    });
    QObject::connect(&view, &QWebEngineView::loadFinished, [] { kbr::StartupTrace("first document: load finished"); });
    view.resize(WINDOW_WIDTH, WINDOW_HEIGHT);
    view.load(QUrl::fromLocalFile(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath()));
    kbr::StartupTrace("url set");
    view.show();
    kbr::StartupTrace("shown");
    return QApplication::exec();
}
