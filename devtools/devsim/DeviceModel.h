#pragma once
// The simulated KBR3300 as a whole: its identity (product id, firmware version), its settings,
// the image sections it received, and the counters its diagnostics show. Shared by every
// connection; not thread-safe (the server runs all connections on one thread).

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/ConfigEntry.h"
#include "link/Messages.h"
#include "devtools/devsim/StateFile.h"

namespace kbr::devsim {

// Where the simulator's messages go: problems (bad requests, failed writes) always, one line each;
// info only when asked for (--verbose).
struct Logger {
    std::function<void(const std::string&)> problem;
    std::function<void(const std::string&)> info;

    void Problem(const std::string& line) const {
        if (problem) problem(line);
    }
    void Info(const std::string& line) const {
        if (info) info(line);
    }
    // Whether info lines go anywhere: a caller on a busy path builds its line only then.
    bool InfoWanted() const { return static_cast<bool>(info); }
};

struct FirmwareVersion {
    std::array<uint8_t, 4> bytes{};  // what every reply header carries
    std::string text;                // what "a:version" answers
};

// "A.B.C.D" with four numbers 0-255.
std::optional<FirmwareVersion> ParseFirmwareVersion(std::string_view text);

// The six settable parameters, as the program writes them.
struct DeviceSettings {
    uint32_t diplexerMode = 0;
    std::string admPswd = "admin";  // the local administrator password: the login password
    uint32_t swConfig = 0;          // bit 12: MoCA privacy
    uint32_t channelMask = 0x15554000;
    std::string password = "40527163948205716";  // MoCA privacy (network) password
    uint32_t scanMask = 0x15554000;
};

// Name, width and kind of each settable parameter, in the order of REQ_SET_CONFIG.
struct SettableParameter {
    std::string_view name;
    uint8_t width;
    bool isText;
};
inline constexpr SettableParameter SETTABLE_PARAMETERS[] = {
    {"admPswd", 8, true},   {"channelMask", 4, false}, {"scanMask", 4, false},
    {"SwConfig", 4, false}, {"password", 17, true},    {"DiplexerMode", 4, false},
};

// TxPower is read-only. Its first value is shown folded 4 bits per byte; it is all zeros so that
// the folded value (0) can never be mistaken by the pages for another parameter's key.
inline constexpr uint32_t TX_POWER_FIELD_A = 0;
inline constexpr uint32_t TX_POWER_DBM = 10;

struct DeviceIdentity {
    std::string productId = "KBR3300";
    FirmwareVersion firmware = *ParseFirmwareVersion("1.0.2.3");
};

class DeviceModel {
public:
    using Clock = std::chrono::steady_clock;

    // statePath empty: nothing persists. dumpDir empty: received sections are only kept in memory.
    DeviceModel(DeviceIdentity identity, DeviceSettings factorySettings, std::string statePath = {},
                std::string dumpDir = {}, const Logger* logger = nullptr);

    // Takes what the state file remembers (settings, an installed firmware version) over the
    // factory values. A missing file is not an error.
    [[nodiscard]] bool LoadState(std::string* error);
    // The same from values already read; all or nothing.
    [[nodiscard]] bool TakeState(const StateValues& values, std::string* error);
    // What the state file gets: the settings, and the firmware version once one was installed.
    std::vector<std::pair<std::string, std::string>> RememberedValues() const;

    const std::array<uint8_t, 4>& VersionBytes() const { return identity_.firmware.bytes; }
    const std::string& FirmwareText() const { return identity_.firmware.text; }
    const std::string& ProductId() const { return identity_.productId; }
    const DeviceSettings& Settings() const { return settings_; }

    bool CheckPassword(std::string_view password) const { return password == settings_.admPswd; }

    // TxPower followed by the six settable parameters; both values carry the current setting.
    std::vector<ConfigEntry> ConfigEntries() const;

    // Stores valueB of every known parameter. All or nothing: a known name with the wrong width,
    // or a failure to save the state file, changes nothing and says why. Unknown names and the
    // read-only TxPower are skipped and listed in `skipped`.
    [[nodiscard]] bool ApplySettings(std::span<const ConfigEntry> entries, std::string* error,
                                     std::vector<std::string>* skipped = nullptr);

    // The two diagnostic texts; each call is one more poll, and the texts change with the polls
    // and the time since the last (simulated) boot.
    DiagTexts NextDiagnostics();

    // A section (1 or 2) received completely. Section 1 begins a new image.
    void StoreSection(int which, std::vector<uint8_t> data);
    // The sections of the image received last (empty when none).
    const std::vector<uint8_t>& Section(int which) const { return which == 1 ? section1_ : section2_; }

    // The reboot that REQ_ACTION asks for: counters and uptime restart; a complete, intact image
    // received since the last boot is installed (its "version" tag becomes the firmware version).
    // Returns a one-line description of what happened.
    std::string Reboot();
    unsigned BootCount() const { return bootCount_; }

private:
    std::vector<std::pair<std::string, std::string>> RememberedValues(const DeviceSettings& settings,
                                                                      const FirmwareVersion& firmware) const;
    [[nodiscard]] bool SaveState(const DeviceSettings& settings, const FirmwareVersion& firmware,
                                 std::string* error) const;
    void DumpSection(int which) const;

    DeviceIdentity identity_;
    DeviceSettings settings_;
    bool firmwareInstalled_ = false;  // the firmware came from an uploaded image (and is remembered)
    std::string statePath_;
    std::string dumpDir_;
    const Logger* logger_;
    Logger silent_;

    std::vector<uint8_t> section1_;
    std::vector<uint8_t> section2_;
    bool imagePending_ = false;  // both sections received since the last boot

    unsigned bootCount_ = 1;
    uint64_t polls_ = 0;
    Clock::time_point bootTime_ = Clock::now();
};

}  // namespace kbr::devsim
