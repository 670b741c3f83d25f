// A small program for the platform tests, built for each system, so that they can start, find and
// end a process without relying on the system's own tools:
//   platform_helper sleep MS             sleeps, then exits 0
//   platform_helper exit CODE            exits with CODE
//   platform_helper args FILE ARG...     writes each ARG on a line of its own to FILE
//   platform_helper print OUT ERR        writes OUT to standard output, ERR to standard error, exits 3
//   platform_helper until-stopped        says "ready", then exits 0 when asked to end (at most 30 s;
//                                        1 when nobody asked)
//   platform_helper deaf FILE            ignores requests to end (SIGTERM), then makes FILE and
//                                        sleeps 30 s
#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Platform.h"

namespace {

std::atomic<bool> g_stopped{false};

void OnStop() { g_stopped = true; }

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "sleep" && argc == 3) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return 0;
    }
    if (mode == "exit" && argc == 3) return std::atoi(argv[2]);
    if (mode == "args" && argc >= 3) {
        std::ofstream out(argv[2], std::ios::binary);
        for (int i = 3; i < argc; ++i) out << argv[i] << '\n';
        return out ? 0 : 1;
    }
    if (mode == "print" && argc == 4) {
        std::fputs(argv[2], stdout);
        std::fputs(argv[3], stderr);
        return 3;
    }
    if (mode == "until-stopped") {
        kbr::platform::CallOnStopRequest(OnStop);
        std::puts("ready");
        std::fflush(stdout);
        for (int i = 0; i < 3000 && !g_stopped; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return g_stopped ? 0 : 1;
    }
    if (mode == "deaf" && argc == 3) {
        (void)std::signal(SIGTERM, SIG_IGN);
        std::ofstream(argv[2]) << "ready\n";
        std::this_thread::sleep_for(std::chrono::seconds(30));
        return 1;
    }
    std::fputs(
        "usage: platform_helper sleep MS | exit CODE | args FILE ARG... | print OUT ERR | until-stopped | deaf FILE\n",
        stderr);
    return 64;
}
