#pragma once
// Inside platform/ only, on Windows: what the Windows files share (defined in PlatformWin.cpp).

#include <cstdint>
#include <string>
#include <vector>

namespace kbr::platform::win {

// The program and its arguments as one command line that the C runtime splits back into the
// same argv: an argument is quoted when it holds a blank, a tab or a quote (or is empty), quotes
// are escaped, and backslashes doubled where they come before a quote.
std::string CommandLine(const std::string& program, const std::vector<std::string>& args);
// The system's text for GetLastError(), without its line end.
std::string LastErrorText();
// The name of the event that asks the program with this process id to end (CallOnStopRequest
// waits for it; ChildProcess::RequestStop sets it).
std::string StopRequestEventName(int64_t pid);

}  // namespace kbr::platform::win
