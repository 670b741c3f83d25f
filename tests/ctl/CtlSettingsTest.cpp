// kbr3300ctl's own logic without a device: the command line, the pages' checks of the settings,
// the values a change sends, and the backup file.
#include <gtest/gtest.h>

#include <sstream>

#include "ctl/CommandLine.h"
#include "ctl/Output.h"
#include "ctl/Settings.h"

namespace kbr::ctl {

void PrintTo(const PendingValue& value, std::ostream* os) {
    *os << FunctionNumber(value.function) << ":" << value.text;
}

namespace {

template <typename Case>
    requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

// ---- The command line

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    const char* error;  // part of the message
};

class CommandLineUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CommandLineUsage, IsRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(ParseCommandLine(GetParam().args, &error));
    EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineUsage,
    ::testing::Values(
        UsageCase{"noCommand", {"--json"}, "no command"},
        UsageCase{"unknownCommand", {"frobnicate"}, "unknown command 'frobnicate'"},
        UsageCase{"configAlone", {"config"}, "config needs one of get, set, backup, restore"},
        UsageCase{"passwordOnTheCommandLine", {"--password", "admin", "status"}, "never taken from the command line"},
        UsageCase{"passwordInline", {"--password=admin", "status"}, "ps would show it"},
        UsageCase{"addressName", {"--address", "adaptor:52121", "probe"}, "is not ADDR or ADDR:PORT"},
        UsageCase{"addressNameWithoutPort", {"--address", "adaptor", "probe"}, "is not ADDR or ADDR:PORT"},
        UsageCase{"addressEmptyPort", {"--address", "127.0.0.1:", "probe"}, "is not ADDR or ADDR:PORT"},
        UsageCase{"allowOlderForStatus", {"status", "--allow-older"}, "--allow-older is not an option of status"},
        UsageCase{"nextForReboot", {"reboot", "--next"}, "--next is not an option of reboot"},
        UsageCase{"rebootTimeoutWithoutWait", {"reboot", "--timeout", "5"}, "--timeout of reboot needs --wait"},
        UsageCase{"portZero", {"--address", "127.0.0.1:0", "probe"}, "port 1-65535"},
        UsageCase{"portTooLarge", {"--address", "127.0.0.1:70000", "probe"}, "port 1-65535"},
        UsageCase{"optionOfAnotherCommand", {"--force", "status"}, "--force is not an option of status"},
        UsageCase{"yesForUpgrade", {"upgrade", "fw.img", "--yes"}, "--yes is not an option of upgrade"},
        UsageCase{"upgradeWithoutFile", {"upgrade"}, "upgrade takes FILE"},
        UsageCase{"setWithoutPairs", {"config", "set"}, "config set takes KEY=VALUE"},
        UsageCase{"extraArgument", {"probe", "now"}, "probe takes no arguments"},
        UsageCase{"badWatch", {"diag", "--watch", "soon"}, "--watch 'soon' is not a number of seconds"},
        UsageCase{"negativeTimeout", {"wait", "--timeout=-1"}, "is not a number of seconds"},
        UsageCase{"unknownOption", {"--colour", "status"}, "unknown option --colour"},
        UsageCase{"valueMissing", {"status", "--address"}, "--address needs a value"}),
    CaseName);

TEST(CommandLine, OptionsStandAnywhereAndDefaultToTheAdaptor) {
    std::string error;
    auto parsed = ParseCommandLine({"config", "backup", "--with-secrets", "out.json", "--json"}, &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->command, Command::ConfigBackup);
    EXPECT_EQ(parsed->arguments, std::vector<std::string>{"out.json"});
    EXPECT_TRUE(parsed->withSecrets);
    EXPECT_TRUE(parsed->json);
    EXPECT_EQ(parsed->Endpoint(), "192.168.0.20:52121");

    parsed =
        ParseCommandLine({"--address=127.0.0.1:4000", "--reply-timeout", "0.25", "upgrade", "--", "--odd"}, &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->Endpoint(), "127.0.0.1:4000");
    EXPECT_EQ(parsed->replyTimeout, std::chrono::milliseconds(250));
    EXPECT_EQ(parsed->arguments, std::vector<std::string>{"--odd"});

    parsed = ParseCommandLine({"diag", "--watch", "2.5"}, &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->watch, std::chrono::milliseconds(2500));
    parsed = ParseCommandLine({"wait", "--timeout=3"}, &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->waitTimeout, std::chrono::milliseconds(3000));

    // An address without a port means the adaptor's port.
    parsed = ParseCommandLine({"--address", "127.0.0.1", "probe"}, &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->Endpoint(), "127.0.0.1:52121");
}

struct HelpCase {
    const char* name;
    std::vector<std::string> args;
    std::optional<Command> about;  // none: the help of all commands
};

class CommandLineHelp : public ::testing::TestWithParam<HelpCase> {};

TEST_P(CommandLineHelp, IsHelpAboutWhatWasNamed) {
    std::string error;
    const auto parsed = ParseCommandLine(GetParam().args, &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->command, Command::Help);
    EXPECT_EQ(parsed->helpFor, GetParam().about);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineHelp,
    ::testing::Values(HelpCase{"short", {"-h"}, std::nullopt}, HelpCase{"long", {"--help"}, std::nullopt},
                      HelpCase{"command", {"upgrade", "--help"}, Command::Upgrade},
                      HelpCase{"commandShort", {"wait", "-h"}, Command::Wait},
                      HelpCase{"before", {"--help", "reboot"}, Command::Reboot},
                      HelpCase{"subcommand", {"config", "set", "--help"}, Command::ConfigSet},
                      // Help needs nothing else to be right.
                      HelpCase{"withBadArguments", {"upgrade", "--help", "--bogus-value"}, Command::Upgrade},
                      HelpCase{"unknownCommand", {"frobnicate", "-h"}, std::nullopt}),
    CaseName);

// Every command as the command line names it.
const std::vector<std::pair<std::string, Command>> COMMANDS = {
    {"probe", Command::Probe},
    {"status", Command::Status},
    {"config get", Command::ConfigGet},
    {"config set", Command::ConfigSet},
    {"config backup", Command::ConfigBackup},
    {"config restore", Command::ConfigRestore},
    {"upgrade", Command::Upgrade},
    {"diag", Command::Diag},
    {"reboot", Command::Reboot},
    {"wait", Command::Wait},
};

// The manual page lists the commands the general help lists, each with its own help: a command
// missing from the list would be missing from the page.
TEST(CommandLine, EveryCommandIsListedAndHasItsOwnHelp) {
    const std::string all = HelpText();
    for (const auto& [name, command] : COMMANDS) {
        const std::string help = CommandHelpText(command);
        EXPECT_EQ(help.rfind("Usage: kbr3300ctl " + name, 0), 0u) << help;
        EXPECT_NE(help, all);
        EXPECT_NE(all.find("\n  " + name + " "), std::string::npos) << name << " is not in the list of commands";
    }
}

TEST(CommandLine, HelpFitsAnEightyColumnTerminal) {
    std::vector<std::string> texts = {HelpText()};
    for (const auto& entry : COMMANDS) texts.push_back(CommandHelpText(entry.second));
    for (const std::string& text : texts) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
    }
}

TEST(CommandLine, HelpNamesEveryExitCode) {
    const std::string help = HelpText();
    for (const char* line : {"0  done", "1  refused", "2  usage", "3  the adaptor is unreachable",
                             "4  the firmware image file", "5  the connection was lost", "6  an upgrade aborted"}) {
        EXPECT_NE(help.find(line), std::string::npos) << line;
    }
}

// ---- The pages' checks

struct CheckCase {
    const char* name;
    std::string text;
    std::optional<std::string> message;
};

class AdminPasswordCheck : public ::testing::TestWithParam<CheckCase> {};
TEST_P(AdminPasswordCheck, GivesThePagesMessage) { EXPECT_EQ(CheckAdminPassword(GetParam().text), GetParam().message); }
INSTANTIATE_TEST_SUITE_P(
    Table, AdminPasswordCheck,
    ::testing::Values(CheckCase{"empty", "", "Value is required"},
                      // The pages count from 0 and say "st" for every position.
                      CheckCase{"underscoreThird", "ab_cd", "The 2st char _ is invalid !"},
                      CheckCase{"spaceFirst", " abcd", "The 0st char   is invalid !"},
                      CheckCase{"tooShort", "abc",
                                "Your password must be at least 4 characters and a maximum of 8, and it cannot "
                                "contain any spaces."},
                      CheckCase{"tooLong", "abcdefghi",
                                "Your password must be at least 4 characters and a maximum of 8, and it cannot "
                                "contain any spaces."},
                      CheckCase{"four", "ab12", std::nullopt}, CheckCase{"eight", "Abcd1234", std::nullopt}),
    CaseName);

class NetworkPasswordCheck : public ::testing::TestWithParam<CheckCase> {};
TEST_P(NetworkPasswordCheck, GivesThePagesMessage) {
    EXPECT_EQ(CheckNetworkPassword(GetParam().text), GetParam().message);
}
INSTANTIATE_TEST_SUITE_P(Table, NetworkPasswordCheck,
                         ::testing::Values(CheckCase{"eleven", "12345678901",
                                                     "Your password must be 12 to 17 numeric characters long!"},
                                           CheckCase{"eighteen", "123456789012345678",
                                                     "Your password must be 12 to 17 numeric characters long!"},
                                           // Counted from 1 here, with "th".
                                           CheckCase{"letterEleventh", "1234567890a2", "The 11th char a is invalid !"},
                                           CheckCase{"twelve", "123456789012", std::nullopt},
                                           CheckCase{"seventeen", "40527163948205716", std::nullopt}),
                         CaseName);

// ---- Changes and the values they send

DeviceConfig Factory() {
    DeviceConfig config;
    config.firmwareVersion = "1.0.2.3";
    config.channelMask = 357908480;
    config.scanMask = 357908480;
    config.swConfig = 0x0803;
    config.adminPassword = "admin";
    config.networkPassword = "40527163948205716";
    config.complete = true;
    return config;
}

struct ChangeCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<PendingValue> pending;  // empty: refused with `error`
    const char* error = "";
};

class SettingChanges : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(SettingChanges, SendWhatThePagesSend) {
    const ChangeCase& c = GetParam();
    std::string error;
    const auto changes = ParseSettingChanges(c.args, &error);
    std::optional<std::vector<PendingValue>> pending;
    if (changes) pending = PendingValuesFor(Factory(), *changes, &error);
    if (c.pending.empty()) {
        EXPECT_FALSE(pending);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    } else {
        ASSERT_TRUE(pending) << error;
        EXPECT_EQ(*pending, c.pending);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingChanges,
    ::testing::Values(
        // One bit per channel (bit n - 1), 0 for scan.
        ChangeCase{"channel21", {"channel=21"}, {{PageFunction::FUNC_SET_CHAN_MASK, "1048576"}}},
        ChangeCase{"channel29", {"channel=29"}, {{PageFunction::FUNC_SET_CHAN_MASK, "268435456"}}},
        ChangeCase{"scan", {"channel=scan"}, {{PageFunction::FUNC_SET_CHAN_MASK, "0"}}},
        // Bit 12 of SwConfig only; the other bits stay.
        ChangeCase{"privacyOn", {"privacy=on"}, {{PageFunction::FUNC_SET_SWCONFIG, std::to_string(0x1803)}}},
        ChangeCase{"privacyOff", {"privacy=off"}, {{PageFunction::FUNC_SET_SWCONFIG, std::to_string(0x0803)}}},
        ChangeCase{"diplexer", {"diplexer=allpass"}, {{PageFunction::FUNC_SET_DIPLEXER_MODE, "1"}}},
        // A new password is read, not taken from the command line; the command fills it in.
        ChangeCase{"passwords",
                   {"admin_password=-", "network_password=-"},
                   {{PageFunction::FUNC_SET_ADMIN_PSWD, ""}, {PageFunction::FUNC_SET_MOCA_PSWD, ""}}},
        // All-pass channels are offered once the same command switches the diplexer.
        ChangeCase{"allPassChannelWithDiplexer",
                   {"channel=5", "diplexer=allpass"},
                   {{PageFunction::FUNC_SET_CHAN_MASK, "16"}, {PageFunction::FUNC_SET_DIPLEXER_MODE, "1"}}},
        ChangeCase{"allPassChannelInDBand", {"channel=5"}, {}, "channel 5 is not offered in MoCA D Band mode"},
        ChangeCase{"notAChannel", {"channel=16"}, {}, "channel '16' is not scan or one of 4, 5"},
        ChangeCase{"twice", {"channel=21", "channel=23"}, {}, "channel is given twice"},
        ChangeCase{"unknownKey", {"colour=red"}, {}, "'colour' is not a setting: give KEY=VALUE"},
        ChangeCase{"noEquals", {"privacy"}, {}, "'privacy' is not a setting: give KEY=VALUE"},
        // A mistyped key never repeats its value, which may be a password.
        ChangeCase{"mistypedPasswordKey", {"admin-password=Secret1"}, {}, "'admin-password' is not a setting"},
        ChangeCase{"badPrivacy", {"privacy=yes"}, {}, "privacy 'yes' is not on or off"},
        ChangeCase{"badDiplexer", {"diplexer=band"}, {}, "is not dband (MoCA D Band) or allpass"},
        ChangeCase{"adminPasswordOnArgv",
                   {"admin_password=abcd1"},
                   {},
                   "admin_password is never taken from the command line (ps would show it)"},
        ChangeCase{"networkPasswordOnArgv",
                   {"network_password=123456789012"},
                   {},
                   "network_password is never taken from the command line (ps would show it)"}),
    CaseName);

TEST(Settings, ChannelTextFollowsTheSetupPage) {
    EXPECT_EQ(ChannelText(1u << 14, 0), "15 (1150 MHz)");
    EXPECT_EQ(ChannelText((1u << 14) | (1u << 16), 0), "scan") << "two channels show SCAN";
    EXPECT_EQ(ChannelText(1u << 4, 0), "scan") << "channel 5 is not offered in D band";
    EXPECT_EQ(ChannelText(1u << 4, 1), "5 (900 MHz)");
    EXPECT_EQ(ChannelText(0, 1), "scan");
}

TEST(Settings, ConfigViewFromTheReadsPageCalls) {
    const DeviceConfig config = ConfigFromPageCalls({{"100", "1.2.3.4"},
                                                     {"0", "4660", "10"},
                                                     {"1", "1"},
                                                     {"2", "admin"},
                                                     {"3", "-1"},
                                                     {"4", "357908480"},
                                                     {"5", "40527163948205716"},
                                                     {"6", "-1"}});
    EXPECT_TRUE(config.complete);
    EXPECT_EQ(config.firmwareVersion, "1.2.3.4");
    EXPECT_EQ(config.txPower, "4660 10");
    EXPECT_EQ(config.diplexerMode, 1u);
    EXPECT_EQ(config.swConfig, 0xFFFFFFFFu) << "signed text, read modulo 2^32";
    EXPECT_EQ(config.scanMask, 0xFFFFFFFFu);
    EXPECT_FALSE(ConfigFromPageCalls({{"100", "1.2.3.4"}, {"1", "0"}}).complete);
}

// ---- Backups

TEST(Backup, RoundTripWithAndWithoutSecrets) {
    Backup backup{"KBR3300", "1.0.2.3", "127.0.0.1:52121", ProfileOf(Factory())};
    backup.settings.scanMask = 0xFFFFFFFFu;  // as an adaptor may report it
    std::string error;
    auto parsed = ParseBackup(BackupJson(backup), &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->productId, "KBR3300");
    EXPECT_EQ(parsed->settings.scanMask, 0xFFFFFFFFu);
    EXPECT_EQ(parsed->settings.adminPassword, "admin");
    EXPECT_EQ(parsed->settings.networkPassword, "40527163948205716");

    backup.settings.adminPassword.reset();
    backup.settings.networkPassword.reset();
    const std::string text = BackupJson(backup);
    EXPECT_EQ(text.find("admin\""), std::string::npos);
    EXPECT_EQ(text.find("40527163948205716"), std::string::npos);
    parsed = ParseBackup(text, &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_FALSE(parsed->settings.adminPassword);
    // Without secrets the passwords are written back as the adaptor has them.
    DeviceConfig current = Factory();
    current.adminPassword = "other1";
    const auto pending = PendingValuesForProfile(current, parsed->settings);
    ASSERT_EQ(pending.size(), 6u);
    EXPECT_EQ(pending[0], (PendingValue{PageFunction::FUNC_SET_ADMIN_PSWD, "other1"}));
    EXPECT_EQ(pending[2], (PendingValue{PageFunction::FUNC_SET_SCAN_MASK, "4294967295"}));
    EXPECT_EQ(pending[4], (PendingValue{PageFunction::FUNC_SET_MOCA_PSWD, "40527163948205716"}));
}

struct BadBackupCase {
    const char* name;
    std::string text;
    const char* error;
};

class BadBackup : public ::testing::TestWithParam<BadBackupCase> {};

TEST_P(BadBackup, IsRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(ParseBackup(GetParam().text, &error));
    EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
}

const std::string DEVICE = R"("device": {"product_id": "KBR3300"})";
std::string WithSettings(const std::string& settings) {
    return R"({"kbr3300-settings-backup": 1, )" + DEVICE + R"(, "settings": {)" + settings + "}}";
}
// Format 1 (the adaptor's names) is still read.
const std::string NUMBERS = R"("DiplexerMode": 0, "channelMask": 0, "scanMask": 16384, "SwConfig": 3)";
std::string WithNewSettings(const std::string& settings) {
    return R"({"kbr3300-settings-backup": 2, )" + DEVICE + R"(, "settings": {)" + settings + "}}";
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadBackup,
    ::testing::Values(
        BadBackupCase{"notJson", "{\"kbr3300", "not a JSON object"},
        BadBackupCase{"array", "[1, 2]", "not a JSON object"},
        BadBackupCase{"noMarker", "{\"settings\": {}}", "no \"kbr3300-settings-backup\""},
        BadBackupCase{"laterFormat", R"({"kbr3300-settings-backup": 3})", "format this tool does not know"},
        BadBackupCase{"noDevice", R"({"kbr3300-settings-backup": 1, "settings": {}})", "device is missing"},
        BadBackupCase{"missingNumber", WithSettings(R"("DiplexerMode": 0)"), "settings.channelMask is missing"},
        BadBackupCase{"negative", WithSettings(R"("DiplexerMode": 0, "channelMask": -1, "scanMask": 2, "SwConfig": 3)"),
                      "settings.channelMask is not a number from 0 to 4294967295"},
        BadBackupCase{"tooLarge",
                      WithSettings(R"("DiplexerMode": 0, "channelMask": 4294967296, "scanMask": 2, "SwConfig": 3)"),
                      "not a number from 0 to 4294967295"},
        BadBackupCase{"text", WithSettings(R"("DiplexerMode": "0", "channelMask": 1, "scanMask": 2, "SwConfig": 3)"),
                      "settings.DiplexerMode is not a number"},
        BadBackupCase{"diplexerTwo",
                      WithSettings(R"("DiplexerMode": 2, "channelMask": 1, "scanMask": 2, "SwConfig": 3)"),
                      "settings.DiplexerMode is not 0 (MoCA D Band) or 1 (All Pass)"},
        BadBackupCase{"unknownSetting", WithSettings(NUMBERS + R"(, "TxPower": 5)"),
                      "settings.TxPower is not a setting of the adaptor"},
        BadBackupCase{"badAdminPassword", WithSettings(NUMBERS + R"(, "admPswd": "ab")"),
                      "settings.admPswd does not keep the password rules"},
        BadBackupCase{"badNetworkPassword", WithSettings(NUMBERS + R"(, "password": "12345678901x")"),
                      "settings.password does not keep the password rules"},
        // The values config set refuses, a backup may not bring either.
        BadBackupCase{"channelNotOffered",
                      WithNewSettings(R"("diplexer_mode": 0, "channel_mask": 16, "scan_mask": 16384, "sw_config": 0)"),
                      "settings.channel_mask 16 holds channels not offered in MoCA D Band mode"},
        BadBackupCase{
            "everyBit",
            WithNewSettings(R"("diplexer_mode": 1, "channel_mask": 4294967295, "scan_mask": 16384, "sw_config": 0)"),
            "settings.channel_mask 4294967295 holds channels not offered in All Pass mode"},
        BadBackupCase{"nothingToScan",
                      WithNewSettings(R"("diplexer_mode": 0, "channel_mask": 0, "scan_mask": 0, "sw_config": 0)"),
                      "settings.scan_mask 0 holds none of the channels offered in MoCA D Band mode"},
        BadBackupCase{"scanOnlyAllPassChannels",
                      WithNewSettings(R"("diplexer_mode": 0, "channel_mask": 0, "scan_mask": 16, "sw_config": 0)"),
                      "settings.scan_mask 16 holds none"},
        BadBackupCase{"oldNamesInNewFormat", WithNewSettings(NUMBERS), "settings.DiplexerMode is not a setting"}),
    CaseName);

TEST(Backup, DifferencesHideSecrets) {
    DeviceConfig current = Factory();
    SettingsProfile wanted = ProfileOf(current);
    EXPECT_TRUE(Differences(current, wanted).empty());
    wanted.channelMask = 1048576;
    wanted.adminPassword = "new1";
    const auto differences = Differences(current, wanted);
    ASSERT_EQ(differences.size(), 2u);
    EXPECT_EQ(differences[0].name, "channel_mask");
    EXPECT_EQ(differences[0].from, "357908480");
    EXPECT_EQ(differences[0].to, "1048576");
    EXPECT_EQ(differences[1].name, "admin_password");
    EXPECT_EQ(differences[1].to.find("new1"), std::string::npos);
}

TEST(Backup, MayChangeOnlyThePrivacyBitOfSwConfig) {
    DeviceConfig current = Factory();  // SwConfig 0x0803
    SettingsProfile wanted = ProfileOf(current);
    struct Row {
        uint32_t swConfig;
        bool allowed;
    };
    for (const Row row :
         {Row{0x0803, true}, Row{0x1803, true}, Row{0xFFFFFFFF, false}, Row{0x0802, false}, Row{0x0000, false}}) {
        wanted.swConfig = row.swConfig;
        const auto problem = CheckProfileFor(current, wanted);
        EXPECT_EQ(!problem, row.allowed) << row.swConfig;
        if (problem) {
            EXPECT_NE(problem->find("changes bits other than privacy (bit 12)"), std::string::npos);
        }
    }
}

TEST(Progress, BarLineShowsPercentBytesAndTimeLeft) {
    EXPECT_EQ(UpgradeProgressView::BarLine(2u << 20, 4u << 20, std::chrono::seconds(75), true, 10),
              "[#####-----]  50%  2.0 / 4.0 MiB  1:15 left");
    EXPECT_EQ(UpgradeProgressView::BarLine(0, 4u << 20, std::chrono::seconds(0), false, 4),
              "[----]   0%  0.0 / 4.0 MiB");
    EXPECT_EQ(UpgradeProgressView::BarLine(9, 4, std::chrono::seconds(0), true, 4),
              "[####] 100%  0.0 / 0.0 MiB  0:00 left");
}

}  // namespace
}  // namespace kbr::ctl
