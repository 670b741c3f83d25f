#include "browser/StartupTrace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kbr {
namespace {

// Set once, first thing in main, before any other thread runs.
bool g_tracing = false;                          // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
std::chrono::steady_clock::time_point g_origin;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

}  // namespace

void StartupTraceBegin() {
    const char* value = std::getenv("KBR_STARTUP_TRACE");  // NOLINT(concurrency-mt-unsafe): before any thread
    g_tracing = value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
    g_origin = std::chrono::steady_clock::now();
}

void StartupTrace(const char* step) {
    if (!g_tracing) return;
    const std::chrono::duration<double, std::milli> since = std::chrono::steady_clock::now() - g_origin;
    std::fprintf(stderr, "startup-trace: %.1f %s\n", since.count(), step);
    std::fflush(stderr);
}

}  // namespace kbr
