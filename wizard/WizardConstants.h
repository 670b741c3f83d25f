#pragma once
// Fixed facts of the setup wizard. The wizard has no settings: the device answers at this address
// only while it is in configuration mode, and nothing may point the wizard elsewhere.

#include <chrono>
#include <string_view>

namespace kbr::wizard {

inline constexpr std::string_view DEVICE_ADDRESS = "192.168.0.20";
inline constexpr std::string_view DEVICE_PORT = "52121";

#ifdef _WIN32
inline constexpr std::string_view WIZARD_PROCESS_NAME = "KBR3300_Wizardd.exe";
inline constexpr std::string_view CONFIG_PROCESS_NAME = "KBR3300.exe";
// Resolved against the current directory, never the search path.
inline constexpr std::string_view CONFIG_PROGRAM_PATH = "KBR3300.exe";
#else
inline constexpr std::string_view WIZARD_PROCESS_NAME = "KBR3300_Wizardd";
inline constexpr std::string_view CONFIG_PROCESS_NAME = "KBR3300";
inline constexpr std::string_view CONFIG_PROGRAM_PATH = "./KBR3300";
#endif

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
inline constexpr const char* PROGRAM_CAPTION = "KBR3300";
inline constexpr const char* TEXT_PROGRAM_RUNNING = "The program is running!";
inline constexpr const char* CAPTION_REMINDER = "Reminder";
inline constexpr const char* TEXT_CANNOT_EXECUTE = "Can not execute KBR3300.exe!";
inline constexpr const char* CAPTION_ERROR = "Error";
inline constexpr const char* TEXT_CANNOT_CONNECT = "Can not connect to device!";

}  // namespace kbr::wizard
