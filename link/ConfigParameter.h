#pragma once
// The settable configuration parameters a page window keeps between operations.
//
// The device reports its settings as named ConfigEntry records. The program knows seven names
// (ParameterNames); the index of a name is the key the page sees ("0" to "6"). Six of them are
// settable: the window keeps one ConfigParameter record for each, in the order they are written
// back to the device. valueA is what the device reported and goes back unchanged; valueB is what
// the page sees and changes. Numbers are held as signed decimal text.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kbr {

// Index order is the page's key order.
// NOLINTNEXTLINE(readability-identifier-naming): the name the whole program knows this table by
inline constexpr std::array<std::string_view, 7> ParameterNames = {
    "TxPower", "DiplexerMode", "admPswd", "SwConfig", "channelMask", "password", "scanMask",
};
// The configuration reply's firmware version reaches the page under this key.
inline constexpr std::string_view VERSION_KEY = "100";

// Index of an exact (case-sensitive) name in ParameterNames.
std::optional<size_t> ParameterIndex(std::string_view name);

struct ConfigParameter {
    std::string name;
    uint8_t width = 0;
    bool isText = false;
    std::string valueA;  // as read from the device
    std::string valueB;  // as the page sees and changes it
};

constexpr size_t CONFIG_PARAMETER_COUNT = 6;
using ConfigParameters = std::array<ConfigParameter, CONFIG_PARAMETER_COUNT>;

// The six records with their names, widths and kinds, values empty, in the order they are sent:
// admPswd (text, 8), channelMask, scanMask, SwConfig (numbers, 4), password (text, 17),
// DiplexerMode (number, 4).
ConfigParameters MakeConfigParameters();

// The record of a name, or nullptr.
ConfigParameter* FindParameter(ConfigParameters& records, std::string_view name);

// The record whose valueB a page function stores (2 admPswd, 3 channelMask, 4 SwConfig,
// 5 password, 6 DiplexerMode, 11 scanMask); nothing for any other function number.
std::optional<std::string_view> StoredParameterName(int function);

}  // namespace kbr
