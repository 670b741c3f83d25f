#pragma once
// A problem a user or an administrator should be able to find later, such as an address renewal
// that was refused: written to the system's log (Linux: the systemd journal, where its socket is
// there) and appended to the user's own log file. No Qt.

#include <cstddef>
#include <string>
#include <string_view>

namespace kbr::platform {

// The log file is cut when a line would take it past this size: the older half goes, so the
// newest lines stay and the file never grows without end.
inline constexpr size_t MAX_PROBLEM_LOG_SIZE = size_t{256} * 1024;
// A message longer than this is cut (at a whole UTF-8 character).
inline constexpr size_t MAX_PROBLEM_MESSAGE_SIZE = 2000;

struct ProblemLogTargets {
    std::string journalSocket;  // empty: none
    std::string logFile;        // empty: none
    size_t maxFileSize = MAX_PROBLEM_LOG_SIZE;
};

// Linux: /run/systemd/journal/socket where it exists, and $XDG_STATE_HOME/kbr3300/log (default
// ~/.local/state/kbr3300/log).
ProblemLogTargets DefaultProblemLogTargets();

// One line "PROGRAM: MESSAGE" with a time stamp to each target; false when none took it. Control
// characters (C0, DEL and C1) become blanks. The log file is made (0600, its folders 0700) when
// missing; a link in its place is not followed.
bool LogProblemTo(const ProblemLogTargets& targets, std::string_view program, std::string_view message);
// The same to the default targets.
bool LogProblem(std::string_view program, std::string_view message);

}  // namespace kbr::platform
