#pragma once
// Fixed facts of the setup wizard. The wizard has no settings: the device answers at this address
// only while it is in configuration mode, and nothing may point the wizard elsewhere.

#include <chrono>
#include <string_view>

#include "platform/ProgramNames.h"

namespace kbr::wizard {

inline constexpr std::string_view DEVICE_ADDRESS = platform::DEVICE_ADDRESS;
inline constexpr std::string_view DEVICE_PORT = platform::DEVICE_PORT;

inline constexpr std::string_view WIZARD_PROCESS_NAME = platform::WIZARD_EXECUTABLE;
inline constexpr std::string_view CONFIG_PROCESS_NAME = platform::CONFIG_EXECUTABLE;
// Resolved against the current directory, never the search path (the program is started without
// it: a bare name is a file of the working directory).
inline constexpr std::string_view CONFIG_PROGRAM_PATH = platform::CONFIG_EXECUTABLE;

// The address renewal helper, found the way a shell finds a program, and its two parameters.
inline constexpr std::string_view RENEWAL_PROGRAM = "ipconfig";
inline constexpr std::string_view RENEWAL_RELEASE = "/release";
inline constexpr std::string_view RENEWAL_RENEW = "/renew";

// Time the renewed lease gets before the second connection attempt.
inline constexpr std::chrono::milliseconds RENEWAL_WAIT{3000};
// Time the wizard stays alive after starting the configuration program, which looks for a running
// wizard before it goes on.
inline constexpr std::chrono::milliseconds START_LAUNCH_WAIT{3000};
inline constexpr std::chrono::milliseconds RETRY_LAUNCH_WAIT{3500};

// Texts the user sees (message boxes use these exactly).
using platform::PROGRAM_CAPTION;
inline constexpr const char* TEXT_PROGRAM_RUNNING = "The program is running!";
inline constexpr const char* CAPTION_REMINDER = "Reminder";
inline constexpr const char* TEXT_CANNOT_EXECUTE = "Can not execute KBR3300.exe!";
inline constexpr const char* CAPTION_ERROR = "Error";
inline constexpr const char* TEXT_CANNOT_CONNECT = "Can not connect to device!";

}  // namespace kbr::wizard
