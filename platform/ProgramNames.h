#pragma once
// The fixed facts every program of the product shares: where the adaptor answers, the caption of
// boxes that give none of their own, and the file names of the programs that look for, start and
// end each other (on Windows with the system's ".exe"; elsewhere programs have no suffix).

namespace kbr::platform {

// The adaptor in configuration mode. Fixed: nothing may point the programs elsewhere.
inline constexpr const char* DEVICE_ADDRESS = "192.168.0.20";
inline constexpr const char* DEVICE_PORT = "52121";

// Caption of boxes that give none of their own: the program file's base name.
inline constexpr const char* PROGRAM_CAPTION = "KBR3300";

#ifdef _WIN32
inline constexpr const char* WIZARD_EXECUTABLE = "KBR3300_Wizardd.exe";
inline constexpr const char* CONFIG_EXECUTABLE = "KBR3300.exe";
inline constexpr const char* IP_HELPER_EXECUTABLE = "nwinf.exe";
inline constexpr const char* EXECUTABLE_SUFFIX = ".exe";
#else
inline constexpr const char* WIZARD_EXECUTABLE = "KBR3300_Wizardd";
inline constexpr const char* CONFIG_EXECUTABLE = "KBR3300";
inline constexpr const char* IP_HELPER_EXECUTABLE = "nwinf";
inline constexpr const char* EXECUTABLE_SUFFIX = "";
#endif

}  // namespace kbr::platform
