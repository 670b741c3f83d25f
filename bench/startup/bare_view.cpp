// The yardstick of the start-up benchmark: the browser engine's own start-up, with nothing of
// ours around it. One QWebEngineView, one local page (the file named on the command line), the
// configuration program's first window size; no scheme handler, no injected script, no profile of
// its own, no device, no helper.
//
//   kbr3300-bare-view PAGE.html

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QUrl>
#include <QWebEngineView>

#include <cstdio>

namespace {

// The main window's first size: 447 x 277 dialog units at 96 dpi.
constexpr int WINDOW_WIDTH = 670;
constexpr int WINDOW_HEIGHT = 450;

// The same trace lines as KBR3300's (KBR_STARTUP_TRACE), for the steps the two have in common.
QElapsedTimer g_origin;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables): one per process
bool g_tracing = false;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables): one per process

void Trace(const char* step) {
    if (g_tracing)
        std::fprintf(stderr, "startup-trace: %.1f %s\n", static_cast<double>(g_origin.nsecsElapsed()) / 1e6, step);
}

}  // namespace

int main(int argc, char** argv) {
    g_tracing = !qEnvironmentVariableIsEmpty("KBR_STARTUP_TRACE");
    g_origin.start();
    Trace("main");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    Trace("application object made");
    if (argc != 2 || !QFileInfo(QString::fromLocal8Bit(argv[1])).isFile()) {
        std::fprintf(stderr, "usage: kbr3300-bare-view PAGE.html\n");
        return 2;
    }
    QWebEngineView view;
    Trace("view made");
    QObject::connect(&view, &QWebEngineView::loadStarted, [] { Trace("first document: load started"); });
    QObject::connect(&view, &QWebEngineView::loadFinished, [] { Trace("first document: load finished"); });
    view.resize(WINDOW_WIDTH, WINDOW_HEIGHT);
    view.load(QUrl::fromLocalFile(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath()));
    Trace("url set");
    view.show();
    Trace("shown");
    return QApplication::exec();
}
