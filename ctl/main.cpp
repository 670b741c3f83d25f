// kbr3300ctl: a KBR3300 adaptor from the command line (status, settings backup and restore,
// scripted firmware upgrade with progress, JSON output). See kbr3300ctl --help.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ctl/CommandLine.h"
#include "ctl/Commands.h"
#include "ctl/Output.h"
#include "platform/Socket.h"

int main(int argc, char** argv) {
    using namespace kbr::ctl;
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe is a write error, not the end of the program
#endif
    std::string error;
    const auto invocation = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!invocation) {
        std::fprintf(stderr, "kbr3300ctl: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    if (invocation->command == Command::Help) {
        std::fputs((invocation->helpFor ? CommandHelpText(*invocation->helpFor) : HelpText()).c_str(), stdout);
        return EXIT_DONE;
    }
    if (invocation->command == Command::Version) {
        std::fputs(VersionText().c_str(), stdout);
        return EXIT_DONE;
    }
    const Reporter reporter(invocation->json, invocation->LongWork(), stdout, stderr);
    // Windows Sockets must be started before the first socket (BSD sockets need nothing).
    if (!kbr::platform::StartSockets(2, 2).started) {
        reporter.Error(EXIT_UNREACHABLE, "cannot start the system's sockets");
        return EXIT_UNREACHABLE;
    }
    int code = EXIT_DONE;
    {
        CommandSession session(*invocation, reporter, RealSurroundings());
        code = session.Execute();
    }
    kbr::platform::StopSockets();
    return code;
}
