// kbr3300-devsim: a simulated KBR3300 in configuration mode, serving the device protocol over TCP.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/Socket.h"
#include "devtools/devsim/DeviceModel.h"
#include "devtools/devsim/Options.h"
#include "devtools/devsim/Server.h"

namespace {

kbr::devsim::Server* g_server = nullptr;

void OnStopRequest() {
    if (g_server) g_server->Stop();
}

// One whole line per write, so lines never interleave; client text is already made printable.
// A parent that never reads our standard error must not stall the device: while the pipe is
// full, lines are counted instead of written, and the count is reported once it drains.
void WriteLine(const std::string& text) {
    static unsigned long dropped = 0;
    if (!kbr::platform::StandardErrorWritable()) {
        ++dropped;
        return;
    }
    std::string line;
    if (dropped > 0) {
        line = "kbr3300-devsim: (" + std::to_string(dropped) + " lines dropped: standard error was not read)\n";
        dropped = 0;
    }
    line += "kbr3300-devsim: " + text + "\n";
    kbr::platform::WriteStandardError(line);
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
    if (!kbr::platform::StartSockets(2, 2).started) {
        WriteLine("cannot start the system's sockets");
        return 1;
    }
    if (options->verbose) logger.info = WriteLine;

    DeviceModel device(options->identity, options->settings, options->statePath, options->dumpDir, &logger);
    if (!device.LoadState(&error)) {
        WriteLine(error);
        return 2;
    }
    Server server(device, options->faults, &logger, options->rebootTime, options->idleTimeout, options->requireLogin);
    if (!server.Listen(options->listen, &error)) {
        WriteLine(error);
        return 1;
    }

#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);  // a closed standard error must not end the device
#endif
    g_server = &server;
    kbr::platform::CallOnStopRequest(OnStopRequest);

    std::printf("listening on %s\n", server.ListenAddress().c_str());
    std::fflush(stdout);
    logger.Info("product id " + device.ProductId() + ", firmware " + device.FirmwareText());

    const bool ok = server.Run();
    g_server = nullptr;
    return ok ? 0 : 1;
}
