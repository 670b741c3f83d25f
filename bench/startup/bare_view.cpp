// The yardstick of the start-up benchmark: the browser engine's own start-up, with nothing of
// ours around it. One QWebEngineView, one local page (the file named on the command line), the
// configuration program's first window size; no scheme handler, no injected script, no profile of
// its own, no device, no helper.
//
//   kbr3300-bare-view PAGE.html

#include "browser/StartupTrace.h"
#include "testkit/EngineSanitizerDefaults.h"

#include <QApplication>
#include <QFileInfo>
#include <QUrl>
#include <QWebEngineView>

#include <cstdio>

namespace {

// The main window's first size: 447 x 277 dialog units at 96 dpi.
constexpr int WINDOW_WIDTH = 670;
constexpr int WINDOW_HEIGHT = 450;

}  // namespace

int main(int argc, char** argv) {
    kbr::StartupTraceBegin();  // the same trace as KBR3300's, for the steps the two have in common
    kbr::StartupTrace("main");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    kbr::StartupTrace("application object made");
    if (argc != 2 || !QFileInfo(QString::fromLocal8Bit(argv[1])).isFile()) {
        std::fprintf(stderr, "usage: kbr3300-bare-view PAGE.html\n");
        return 2;
    }
    QWebEngineView view;
    kbr::StartupTrace("view made");
    QObject::connect(&view, &QWebEngineView::loadStarted, [] { kbr::StartupTrace("first document: load started"); });
    QObject::connect(&view, &QWebEngineView::loadFinished, [] { kbr::StartupTrace("first document: load finished"); });
    view.resize(WINDOW_WIDTH, WINDOW_HEIGHT);
    view.load(QUrl::fromLocalFile(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath()));
    kbr::StartupTrace("url set");
    view.show();
    kbr::StartupTrace("shown");
    return QApplication::exec();
}
