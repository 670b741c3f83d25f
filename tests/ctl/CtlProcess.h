#pragma once
// Runs the real kbr3300ctl as a child process and collects what it said. Every run is bounded.
//
// Safety: the tool's default address is the adaptor's (192.168.0.20). A run is refused (and the
// test fails) unless its arguments name a loopback address with --address 127.0.0.1:PORT.

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kbr::ctl::test {

using namespace std::chrono_literals;

struct CtlResult {
    int exitCode = -1;  // -1: killed after the time limit, or could not start
    std::string out;
    std::string err;
    std::string terminal;           // what the program wrote to its terminal (terminalInput)
    std::optional<bool> echoAfter;  // terminalInput: whether the terminal echoes once it ended
};

struct CtlRun {
    std::vector<std::string> args;
    // Extra environment (the test's own environment without KBR3300_PASSWORD, plus these).
    std::vector<std::pair<std::string, std::string>> environment;
    std::optional<std::string> input;  // standard input; /dev/null when not given
    bool errorOnTerminal = false;      // standard error is a pseudo-terminal
    // Standard input is a pseudo-terminal, the program's controlling terminal (POSIX only).
    bool terminalInput = false;
    // SIGINT, once each, as soon as the text has appeared on standard output or standard error
    // (a person pressing Ctrl-C at that moment).
    std::vector<std::string> interruptOn;
    std::chrono::milliseconds limit = 60s;
};

CtlResult RunCtl(const CtlRun& run);

// Arguments naming the simulator on loopback: {"--address", "127.0.0.1:PORT"}.
std::vector<std::string> LoopbackAddress(uint16_t port);

}  // namespace kbr::ctl::test
