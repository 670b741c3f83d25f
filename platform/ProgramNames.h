#pragma once
// The file names of the programs that look for, start and end each other. On Windows they carry
// the system's ".exe"; elsewhere programs have no suffix.

namespace kbr::platform {

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
