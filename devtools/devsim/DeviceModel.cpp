#include "devtools/devsim/DeviceModel.h"

#include <charconv>
#include <cstdio>
#include <filesystem>

#include "devtools/devsim/ImageTags.h"
#include "devtools/devsim/StateFile.h"

namespace kbr::devsim {

namespace {

bool SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// One to four dot-separated numbers 0-255; missing trailing numbers are 0.
std::optional<std::array<uint8_t, 4>> DottedBytes(std::string_view text, size_t minimumParts) {
    std::array<uint8_t, 4> bytes{};
    size_t parts = 0;
    size_t start = 0;
    for (;;) {
        const size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start, dot == std::string_view::npos ? dot : dot - start);
        unsigned value = 0;
        auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || ec != std::errc() || end != part.data() + part.size() || value > 255 || parts == 4) {
            return std::nullopt;
        }
        bytes[parts++] = static_cast<uint8_t>(value);
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (parts < minimumParts) return std::nullopt;
    return bytes;
}

// A stored number: unsigned decimal, or signed decimal as the pages write it ("-1").
std::optional<uint32_t> ParseStoredNumber(std::string_view text) {
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) text.remove_prefix(1);
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (negative ? value > 0x80000000ull : value > 0xFFFFFFFFull) return std::nullopt;
    return negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(value)) : static_cast<uint32_t>(value);
}

uint32_t* NumberField(DeviceSettings& settings, std::string_view name) {
    if (name == "DiplexerMode") return &settings.diplexerMode;
    if (name == "SwConfig") return &settings.swConfig;
    if (name == "channelMask") return &settings.channelMask;
    if (name == "scanMask") return &settings.scanMask;
    return nullptr;
}

std::string* TextField(DeviceSettings& settings, std::string_view name) {
    if (name == "admPswd") return &settings.admPswd;
    if (name == "password") return &settings.password;
    return nullptr;
}

const SettableParameter* FindSettable(std::string_view name) {
    for (const auto& parameter : SETTABLE_PARAMETERS) {
        if (parameter.name == name) return &parameter;
    }
    return nullptr;
}

// TxPower's first value goes out one nibble per byte, so that the program's 4-bit fold gives the
// value back.
std::vector<uint8_t> NibbleBytes(uint32_t value) {
    return {static_cast<uint8_t>((value >> 12) & 0xF), static_cast<uint8_t>((value >> 8) & 0xF),
            static_cast<uint8_t>((value >> 4) & 0xF), static_cast<uint8_t>(value & 0xF)};
}

}  // namespace

std::optional<FirmwareVersion> ParseFirmwareVersion(std::string_view text) {
    auto bytes = DottedBytes(text, 4);
    if (!bytes) return std::nullopt;
    return FirmwareVersion{*bytes, std::string(text)};
}

DeviceModel::DeviceModel(DeviceIdentity identity, DeviceSettings factorySettings, std::string statePath,
                         std::string dumpDir, const Logger* logger)
    : identity_(std::move(identity)),
      settings_(std::move(factorySettings)),
      statePath_(std::move(statePath)),
      dumpDir_(std::move(dumpDir)),
      logger_(logger ? logger : &silent_) {}

bool DeviceModel::LoadState(std::string* error) {
    if (statePath_.empty()) return true;
    auto values = ReadStateFile(statePath_, error);
    return values && TakeState(*values, error);
}

bool DeviceModel::TakeState(const StateValues& values, std::string* error) {
    DeviceSettings settings = settings_;
    for (const auto& [key, value] : values) {
        const std::string where = "state file " + statePath_ + ": ";
        if (const SettableParameter* parameter = FindSettable(key)) {
            if (parameter->isText) {
                if (value.size() > parameter->width || value.find('\0') != std::string::npos) {
                    return SetError(error, where + key + " is longer than " + std::to_string(parameter->width) +
                                               " characters");
                }
                *TextField(settings, key) = value;
            } else {
                auto number = ParseStoredNumber(value);
                if (!number) return SetError(error, where + key + " = '" + value + "' is not a 32-bit number");
                *NumberField(settings, key) = *number;
            }
        } else if (key != "firmwareVersion" && key != "firmwareText") {
            logger_->Problem(where + "unknown key '" + key + "' ignored");
        }
    }
    auto versionIt = values.find("firmwareVersion");
    if (versionIt != values.end()) {
        auto bytes = DottedBytes(versionIt->second, 4);
        if (!bytes) return SetError(error, "state file " + statePath_ + ": firmwareVersion is not A.B.C.D");
        auto textIt = values.find("firmwareText");
        identity_.firmware = FirmwareVersion{*bytes, textIt != values.end() ? textIt->second : versionIt->second};
        firmwareInstalled_ = true;
    }
    settings_ = settings;
    return true;
}

std::vector<std::pair<std::string, std::string>> DeviceModel::RememberedValues() const {
    return RememberedValues(settings_, identity_.firmware);
}

std::vector<std::pair<std::string, std::string>> DeviceModel::RememberedValues(const DeviceSettings& settings,
                                                                               const FirmwareVersion& firmware) const {
    std::vector<std::pair<std::string, std::string>> values = {
        {"admPswd", settings.admPswd},
        {"channelMask", std::to_string(settings.channelMask)},
        {"scanMask", std::to_string(settings.scanMask)},
        {"SwConfig", std::to_string(settings.swConfig)},
        {"password", settings.password},
        {"DiplexerMode", std::to_string(settings.diplexerMode)},
    };
    if (firmwareInstalled_) {
        values.emplace_back("firmwareVersion", VersionText(firmware.bytes));
        values.emplace_back("firmwareText", firmware.text);
    }
    return values;
}

bool DeviceModel::SaveState(const DeviceSettings& settings, const FirmwareVersion& firmware, std::string* error) const {
    if (statePath_.empty()) return true;
    return WriteStateFile(statePath_, RememberedValues(settings, firmware), error);
}

std::vector<ConfigEntry> DeviceModel::ConfigEntries() const {
    std::vector<ConfigEntry> entries;
    entries.push_back(ConfigEntry{"TxPower", 4, NibbleBytes(TX_POWER_FIELD_A), EncodeNumber(TX_POWER_DBM, 4)});
    const auto& s = settings_;
    const auto width = [](std::string_view name) { return FindSettable(name)->width; };
    entries.push_back(MakeNumberEntry("DiplexerMode", s.diplexerMode, s.diplexerMode));
    entries.push_back(MakeTextEntry("admPswd", s.admPswd, s.admPswd, width("admPswd")));
    entries.push_back(MakeNumberEntry("SwConfig", s.swConfig, s.swConfig));
    entries.push_back(MakeNumberEntry("channelMask", s.channelMask, s.channelMask));
    entries.push_back(MakeTextEntry("password", s.password, s.password, width("password")));
    entries.push_back(MakeNumberEntry("scanMask", s.scanMask, s.scanMask));
    return entries;
}

bool DeviceModel::ApplySettings(std::span<const ConfigEntry> entries, std::string* error,
                                std::vector<std::string>* skipped) {
    DeviceSettings updated = settings_;
    for (const auto& entry : entries) {
        const SettableParameter* parameter = FindSettable(entry.name);
        if (!parameter) {
            if (skipped) skipped->push_back(entry.name);
            continue;
        }
        if (entry.width != parameter->width) {
            return SetError(error, "parameter " + entry.name + " has width " + std::to_string(entry.width) +
                                       ", expected " + std::to_string(parameter->width));
        }
        if (parameter->isText) {
            *TextField(updated, parameter->name) = DecodeText(entry.valueB);
        } else {
            *NumberField(updated, parameter->name) = DecodeNumber(entry.valueB);
        }
    }
    if (!SaveState(updated, identity_.firmware, error)) return false;
    settings_ = std::move(updated);
    return true;
}

DiagTexts DeviceModel::NextDiagnostics() {
    ++polls_;
    const auto uptime = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - bootTime_).count();
    // Frame counters that grow with every poll and with time, as a live link's would.
    const uint64_t rxFrames = 1000 + polls_ * 37 + static_cast<uint64_t>(uptime) * 112;
    const uint64_t txFrames = 980 + polls_ * 35 + static_cast<uint64_t>(uptime) * 109;
    char first[DIAG_TEXT_FIELD];
    std::snprintf(first, sizeof first,
                  "Link: up | Uptime: %lld s | Boot: %u | Poll: %llu | Rx frames: %llu | Tx frames: %llu",
                  static_cast<long long>(uptime), bootCount_, static_cast<unsigned long long>(polls_),
                  static_cast<unsigned long long>(rxFrames), static_cast<unsigned long long>(txFrames));
    char second[DIAG_TEXT_FIELD];
    std::snprintf(second, sizeof second,
                  "Nodes: 2 | PHY rate: %u Mbps | Rx power: -%u dBm | Tx power: %u dBm | Channel mask: 0x%08X",
                  230u + static_cast<unsigned>(polls_ % 11), 20u + static_cast<unsigned>(polls_ % 5), TX_POWER_DBM,
                  settings_.channelMask);
    return DiagTexts{first, second};
}

void DeviceModel::StoreSection(int which, std::vector<uint8_t> data) {
    if (which == 1) {
        section1_ = std::move(data);
        section2_.clear();
        imagePending_ = false;
    } else {
        section2_ = std::move(data);
        imagePending_ = !section1_.empty();
    }
    DumpSection(which);
    if (which == 1) DumpSection(2);  // removes the previous image's section 2
}

void DeviceModel::DumpSection(int which) const {
    if (dumpDir_.empty()) return;
    const std::string path = dumpDir_ + "/section" + std::to_string(which) + ".bin";
    const auto& data = Section(which);
    if (data.empty()) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        return;
    }
    std::string error;
    if (!WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), 0644,
                             &error)) {
        logger_->Problem(error);
    }
}

std::string DeviceModel::Reboot() {
    ++bootCount_;
    polls_ = 0;
    bootTime_ = Clock::now();
    std::string what = "reboot " + std::to_string(bootCount_);
    if (!imagePending_) return what + ": no new image, firmware " + identity_.firmware.text;
    imagePending_ = false;
    if (!SectionCrcIsGood(section1_) || !SectionCrcIsGood(section2_)) {
        return what + ": received image fails its CRC, not installed; firmware " + identity_.firmware.text;
    }
    auto version = FindSectionTag(section2_, "version");
    if (!version)
        return what + ": received image has no version tag, not installed; firmware " + identity_.firmware.text;
    FirmwareVersion installed{identity_.firmware.bytes, *version};
    if (auto bytes = DottedBytes(*version, 1)) installed.bytes = *bytes;
    firmwareInstalled_ = true;
    std::string error;
    if (!SaveState(settings_, installed, &error)) logger_->Problem(error);
    identity_.firmware = installed;
    return what + ": installed firmware " + installed.text;
}

}  // namespace kbr::devsim
