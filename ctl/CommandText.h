#pragma once
// What kbr3300ctl's commands share for their words: text from the adaptor, a file or the command
// line made fit for a terminal, the labels of the text output, and the settings as JSON.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ctl/Output.h"
#include "ctl/Settings.h"

namespace kbr::ctl {

using Clock = std::chrono::steady_clock;

// Text from the adaptor, a file or the command line, fit for a terminal line.
std::string Shown(std::string_view text);
std::string ShownPath(std::string_view path);
// "2.5 s"
std::string SecondsText(std::chrono::milliseconds period);
std::string Joined(const std::vector<std::string>& lines, std::string_view separator);
// A label of the text output, padded to its column.
std::string Label(std::string_view label);
std::string PrivacyText(uint32_t swConfig);
// The settings as config get --json, status --json and config set --json show them.
Json ConfigJson(const DeviceConfig& config, bool withSecrets);

}  // namespace kbr::ctl
