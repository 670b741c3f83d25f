#pragma once

#include "platform/Platform.h"

#include <vector>

namespace kbr::wizard {

// Counts the processes named as the wizard or as the configuration program (case-insensitively).
// The wizard itself is the one expected match, so another instance counts as running when the
// count is not exactly 1 - which also stops a wizard renamed on disk (it finds no process of its
// own name). An empty list means the process list could not be read: no other instance is found.
[[nodiscard]] bool OtherInstanceRunning(const std::vector<platform::ProcessInfo>& processes);

}  // namespace kbr::wizard
