#pragma once
// The start-up trace: when KBR_STARTUP_TRACE is set (to anything but "0" or empty), one line per
// step of the program's start-up goes to standard error, "startup-trace: MS STEP", MS being the
// milliseconds since StartupTraceBegin. Otherwise every call returns at once: it writes, reads and
// allocates nothing.

namespace kbr {

// First thing in main: sets the origin and reads the environment once.
void StartupTraceBegin();

// One step reached. `step` is a short fixed text.
void StartupTrace(const char* step);

}  // namespace kbr
