#pragma once
// The adaptor's settings as kbr3300ctl reads, shows, checks, changes, saves and restores them.
//
// What the tool changes goes through the page functions of the configuration program (2 to 6 and
// 11 store a pending value, 7 writes all six), with the values the pages would send: a channel is
// a mask of one bit (0 for scan), privacy is bit 12 of SwConfig, the diplexer is 0 (MoCA D band)
// or 1 (all pass). The texts of the checks are the pages' own.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/ConfigParameter.h"
#include "link/OperationResult.h"
#include "link/PageFunction.h"

namespace kbr::ctl {

inline constexpr uint32_t PRIVACY_BIT = 1u << 12;
inline constexpr uint32_t SCAN_CHANNEL_MASK = 0;

// Channels the setup page offers: in MoCA D band mode (diplexer 0) 15 to 29 in odd steps; in
// all-pass mode 4 to 9 as well.
const std::vector<int>& OfferedChannels(uint32_t diplexerMode);
int ChannelMhz(int channel);  // 800 + (channel - 1) x 25
// The bits of the channels offered in a diplexer mode (channel N is bit N - 1).
uint32_t OfferedChannelsMask(uint32_t diplexerMode);

// The page checks, each giving the page's message for the first fault or nothing.
// Administrator password (login and password pages): not empty, letters and digits only, 4 to 8.
std::optional<std::string> CheckAdminPassword(std::string_view text);
// Network (MoCA privacy) password (security page): 12 to 17 digits.
std::optional<std::string> CheckNetworkPassword(std::string_view text);

// The settings as one configuration read reported them (the values the pages see).
struct DeviceConfig {
    std::string firmwareVersion;         // the reply's version bytes, "1.0.2.3"
    std::optional<std::string> txPower;  // "F B" as the page gets them
    uint32_t diplexerMode = 0;
    uint32_t channelMask = 0;
    uint32_t scanMask = 0;
    uint32_t swConfig = 0;
    std::string adminPassword;
    std::string networkPassword;
    bool complete = false;  // every settable parameter was reported
};

// Builds the view from the "storeConfig" calls of one GetConfigOperation (program order).
DeviceConfig ConfigFromPageCalls(const std::vector<std::vector<std::string>>& storeConfigCalls);
// The same from the typed result of the read.
DeviceConfig ConfigFromRead(const ConfigRead& read);

// "21 (1300 MHz)" for a mask of exactly one offered channel, "scan" otherwise, as the setup page
// shows it.
std::string ChannelText(uint32_t channelMask, uint32_t diplexerMode);
std::string DiplexerText(uint32_t diplexerMode);  // "dband" / "allpass"

// ---- config set KEY=VALUE

enum class SettingKey { Channel, Diplexer, Privacy, AdminPassword, NetworkPassword };

// The value of a password key: the new password is read (terminal or standard input), never
// taken from the command line.
inline constexpr std::string_view NEW_PASSWORD_READ = "-";

// The setting's one name: in config set, config get --json, backups and restore.
const char* SettingName(SettingKey key);

struct SettingChange {
    SettingKey key;
    std::string text;            // as given; a password: the one read, filled in by the command
    std::optional<int> channel;  // Channel: the channel, or nothing for scan
    uint32_t number = 0;         // Diplexer: 0 or 1; Privacy: 1 on, 0 off
};

// Parses and checks the arguments (the checks that need no device); the message says what is
// wrong. A key may be given once.
std::optional<std::vector<SettingChange>> ParseSettingChanges(const std::vector<std::string>& arguments,
                                                              std::string* error);

// A new password's check, as "admin_password: " and the page's message.
std::optional<std::string> CheckNewPassword(SettingKey key, std::string_view text);

// One pending value for a page function (2 admPswd, 3 channelMask, 4 SwConfig, 5 password,
// 6 DiplexerMode, 11 scanMask), with the text the page would send.
struct PendingValue {
    PageFunction function;
    std::string text;
    bool operator==(const PendingValue&) const = default;
};

// The pending values that make `changes` on top of `current`; a channel not offered in the
// diplexer mode in effect (the new one, when the same command changes it) is an error.
std::optional<std::vector<PendingValue>> PendingValuesFor(const DeviceConfig& current,
                                                          const std::vector<SettingChange>& changes,
                                                          std::string* error);

// ---- Backups

// What a backup holds of the settings; passwords only when saved with secrets.
struct SettingsProfile {
    uint32_t diplexerMode = 0;
    uint32_t channelMask = 0;
    uint32_t scanMask = 0;
    uint32_t swConfig = 0;
    std::optional<std::string> adminPassword;
    std::optional<std::string> networkPassword;
};

struct Backup {
    std::string productId;
    std::string firmwareVersion;
    std::string address;
    SettingsProfile settings;
};

// The backup file's text (JSON).
std::string BackupJson(const Backup& backup);
// Parses and checks a backup file's text with the rules of config set (the channel against the
// diplexer mode, the masks, the passwords); the message says what is wrong with it.
std::optional<Backup> ParseBackup(std::string_view text, std::string* error);

SettingsProfile ProfileOf(const DeviceConfig& config);

// What a profile may not change on this adaptor (what config set could not change); the reason.
std::optional<std::string> CheckProfileFor(const DeviceConfig& current, const SettingsProfile& wanted);

// One difference between the adaptor's settings and a profile; secrets are not shown.
struct SettingDifference {
    std::string name;  // the device's parameter name
    std::string from;
    std::string to;
};
std::vector<SettingDifference> Differences(const DeviceConfig& current, const SettingsProfile& wanted);

// The pending values that write a profile: all six, in the order of the page set's restore
// (2, 3, 11, 4, 5, 6); a password the profile lacks is written back as the adaptor has it.
std::vector<PendingValue> PendingValuesForProfile(const DeviceConfig& current, const SettingsProfile& wanted);

}  // namespace kbr::ctl
