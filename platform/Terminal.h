#pragma once
// The terminal of a command-line program: whether a standard stream is one, lines typed on it
// (with or without echo), and the interrupt keys. No Qt.
//
// A line typed without echo leaves the terminal as it found it on every way out: the line ends,
// the input ends, or an interrupt (Ctrl-C, SIGTERM; Windows: Ctrl-C, Ctrl-Break, the console
// closing) ends the program while it waits.

#include <optional>
#include <string>
#include <string_view>

namespace kbr::platform {

enum class StandardStream { Input, Output, Error };

bool IsTerminal(StandardStream stream);

// Shows `prompt` on the terminal and reads one line from it, without its line end. Only while
// standard input is the terminal too (a person at the keyboard). Nothing when there is no
// terminal or the input ended.
std::optional<std::string> ReadTerminalLine(std::string_view prompt, bool echo);

// While one lives, an interrupt does not end the program: it is counted, and the program asks
// for the count when it can stop safely. One at a time.
class InterruptCatcher {
public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

    // Interrupts since this catcher was made.
    [[nodiscard]] int Count() const;
};

}  // namespace kbr::platform
