// kbr3300-devsim: a simulated KBR3300 in configuration mode, serving the device protocol over TCP.
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/devsim/DeviceModel.h"
#include "tools/devsim/Options.h"
#include "tools/devsim/Server.h"

namespace {

kbr::devsim::Server* g_server = nullptr;

void OnSignal(int) {
    if (g_server) g_server->Stop();
}

// One whole line per write, so lines never interleave; client text is already made printable.
// A parent that never reads our standard error must not stall the device: while the pipe is
// full, lines are counted instead of written, and the count is reported once it drains.
void WriteLine(const std::string& text) {
    static unsigned long dropped = 0;
    pollfd fd{STDERR_FILENO, POLLOUT, 0};
    if (::poll(&fd, 1, 0) != 1 || !(fd.revents & POLLOUT)) {
        ++dropped;
        return;
    }
    std::string line;
    if (dropped > 0) {
        line = "kbr3300-devsim: (" + std::to_string(dropped) + " lines dropped: standard error was not read)\n";
        dropped = 0;
    }
    line += "kbr3300-devsim: " + text + "\n";
    size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + written, line.size() - written);
        if (n <= 0) return;
        written += static_cast<size_t>(n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kbr::devsim;
    std::string error;
    const auto options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!options) {
        std::fprintf(stderr, "kbr3300-devsim: %s\n\n%s", error.c_str(), UsageText().c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }

    Logger logger;
    logger.problem = WriteLine;
    if (options->verbose) logger.info = WriteLine;

    DeviceModel device(options->identity, options->settings, options->statePath, options->dumpDir, &logger);
    if (!device.LoadState(&error)) {
        WriteLine(error);
        return 2;
    }
    Server server(device, options->faults, &logger, options->rebootTime, options->idleTimeout);
    if (!server.Listen(options->listen, &error)) {
        WriteLine(error);
        return 1;
    }

    std::signal(SIGPIPE, SIG_IGN);
    g_server = &server;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::printf("listening on %s\n", server.ListenAddress().c_str());
    std::fflush(stdout);
    logger.Info("product id " + device.ProductId() + ", firmware " + device.FirmwareText());

    const bool ok = server.Run();
    g_server = nullptr;
    return ok ? 0 : 1;
}
