#pragma once
// What the reminder tells the user after an IP address refresh: decided from the first line of
// the helper's "ipinfo.tmp" and from whether the device still answered on its configuration
// address. Plain C++, no Qt, so the table can be tested on its own.

#include <string>
#include <string_view>

namespace kbr {

inline constexpr const char* IPINFO_FILE = "ipinfo.tmp";
inline constexpr const char* NICINFO_FILE = "nicinfo.tmp";

inline constexpr const char* MSG_NO_ADDRESS =
    "The computer cannot get an IP address from the \nrouter. Please make sure the computer has access to \n"
    "the router.";
inline constexpr const char* MSG_STILL_CONFIG_MODE =
    "The KBR3300 is still in the config mode. Please switch to the normal mode and try again.";
inline constexpr const char* MSG_REFRESHED = "IP address was refreshed successfully.";

struct AddressLine {
    enum class State {
        Missing,  // the file could not be opened
        Empty,    // the file holds no line at all
        Read,
    };
    State state = State::Missing;
    // The first line as the file holds it, newline included, at most ADDRESS_LINE_MAX characters.
    std::string text;
    // The helper said on the next line ("renewal=failed") that it could not renew the address:
    // whatever address the file holds, it is not a refreshed one.
    bool renewalFailed = false;
};

// One line is read into a 100-character buffer, terminator included.
inline constexpr size_t ADDRESS_LINE_MAX = 99;
// Only this many leading characters of the line are compared.
inline constexpr size_t ADDRESS_PREFIX_LENGTH = 7;

// The helper's line after the address when its renewal failed.
inline constexpr const char* RENEWAL_FAILED_LINE = "renewal=failed";

// Reads the first line of the file at `path` (bounded; a longer line is cut) and the renewal's
// outcome after it. Only a regular file is read, never through a link and never waiting on it (a
// FIFO or device in its place counts as missing), and no more of it than these two lines need.
AddressLine ReadAddressLine(const std::string& path);
// The same over the file's first bytes.
AddressLine ParseAddressLine(std::string_view content);

// The message for an address line and the probe's result. A missing or empty file means the
// helper reported no address; so does a renewal the helper reported as failed where the message
// would otherwise be the success message.
std::string_view ChooseVerdict(const AddressLine& line, bool deviceStillReachable);

}  // namespace kbr
