#include "browser/StartupTrace.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <cstdio>

namespace kbr {
namespace {

bool g_tracing = false;
QElapsedTimer g_origin;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables): one per process

}  // namespace

void StartupTraceBegin() {
    const QByteArray value = qgetenv("KBR_STARTUP_TRACE");
    g_tracing = !value.isEmpty() && value != "0";
    if (g_tracing) g_origin.start();
}

void StartupTrace(const char* step) {
    if (!g_tracing) return;
    std::fprintf(stderr, "startup-trace: %.1f %s\n", static_cast<double>(g_origin.nsecsElapsed()) / 1e6, step);
    std::fflush(stderr);
}

}  // namespace kbr
