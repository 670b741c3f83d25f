#pragma once
// Starting the outside IP helper program `nwinf`. Started with "2" it renews the PC's address and
// writes "ipinfo.tmp" and "nicinfo.tmp" into its working directory, then ends by itself; started
// with "1" (at start-up, in the background) it does the same without anyone waiting for it.

#include <QString>
#include <QStringList>

namespace kbr {

// A helper that has not ended after this long is ended by us, so that the refresh (which the
// user cannot cancel) always finishes. Renewing a lease takes seconds; the wait dialog speaks of
// about two minutes for both runs together.
inline constexpr int IP_HELPER_TIME_LIMIT_MS = 150'000;

// The helper's path: "nwinf" (Windows: "nwinf.exe") from the current directory, else from this
// program's own directory, else from the PATH. Falls back to the bare name, which then fails to
// start.
QString IpHelperProgram();

// Runs `program` with `arguments`, hidden (no output to our terminal), in `workingDirectory`
// (empty: ours), and waits until it has ended, at most `timeLimitMs` (then it is killed). A
// program that cannot be started returns at once. The exit code is not looked at.
void RunHelperAndWait(const QString& program, const QStringList& arguments, const QString& workingDirectory,
                      int timeLimitMs = IP_HELPER_TIME_LIMIT_MS);

// Starts the helper with "1" in the background, hidden, without waiting (program start-up).
// False when it could not be started; the caller goes on either way.
bool StartIpHelperInBackground();

}  // namespace kbr
