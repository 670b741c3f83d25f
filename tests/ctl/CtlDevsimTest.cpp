// kbr3300ctl as a user runs it, against kbr3300-devsim on loopback: every command, the password's
// sources, the output forms, and the simulator's faults at every operation and both upgrade
// passes, each with its exit code and its one line on standard error.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "devtools/image/ImageBuilder.h"
#include "tests/ctl/CtlProcess.h"
#include "testkit/DevsimHarness.h"

namespace kbr::ctl::test {
namespace {

using devsim::test::DevsimProcess;
using devsim::test::ScratchDir;

template <typename Case>
    requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

constexpr const char* PASSWORD = "admin";

// A pseudo-terminal and Ctrl-C for a child are POSIX; the Windows build (under Wine) skips the runs
// that need them.
#ifdef _WIN32
#define SKIP_WITHOUT_TERMINAL() GTEST_SKIP() << "needs a pseudo-terminal or Ctrl-C for a child program"
#else
#define SKIP_WITHOUT_TERMINAL() (void)0
#endif

// An image for the simulator ("KBR3300", firmware 1.0.2.3): 1 KiB sections, four chunks each.
std::string WriteImage(const ScratchDir& dir, std::string_view name, const ImageSpec& plan) {
    std::string error;
    const auto bytes = BuildUpgradeImage(plan, &error);
    EXPECT_TRUE(bytes) << error;
    std::string path = dir.File(name);
    EXPECT_TRUE(WriteImageFile(path, *bytes, &error)) << error;
    return path;
}

ImageSpec NewFirmware(std::string_view productId = "KBR3300", std::string_view version = "2.0.0.0") {
    return StandardImageSpec(productId, version, version, 1024, 1024);
}

std::string TextOf(const std::string& path) {
    const auto bytes = devsim::test::ReadWholeFile(path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class Ctl : public ::testing::Test {
protected:
    void Start(std::vector<std::string> devsimArgs = {}) {
        devsimArgs.insert(devsimArgs.end(), {"--state", dir.File("state.json"), "--reboot-time", "300"});
        std::string error;
        ASSERT_TRUE(sim.Start(devsimArgs, &error)) << error;
    }
    // Runs the tool on the simulator with the password in the environment.
    CtlResult Run(std::vector<std::string> args,
                  std::vector<std::pair<std::string, std::string>> environment = {{"KBR3300_PASSWORD", PASSWORD}},
                  std::optional<std::string> input = std::nullopt) {
        CtlRun run = RunOf(std::move(args));
        run.environment = std::move(environment);
        run.input = std::move(input);
        return RunCtl(run);
    }
    // A run on the simulator with the password in the environment, to adjust before RunCtl.
    CtlRun RunOf(std::vector<std::string> args) const {
        CtlRun run;
        run.args = LoopbackAddress(sim.Port());
        run.args.insert(run.args.end(), args.begin(), args.end());
        run.environment = {{"KBR3300_PASSWORD", PASSWORD}};
        return run;
    }
    std::string Image(std::string_view name, const ImageSpec& plan) { return WriteImage(dir, name, plan); }

    ScratchDir dir;
    DevsimProcess sim;
};

// ---- The commands' main paths

TEST_F(Ctl, ProbeAndStatusNeedNoMoreThanTheSimulator) {
    Start();
    CtlResult probe = Run({"probe"}, {});
    EXPECT_EQ(probe.exitCode, 0) << probe.err;
    EXPECT_EQ(probe.out, "KBR3300 at 127.0.0.1:" + std::to_string(sim.Port()) + ", firmware 1.0.2.3\n");
    EXPECT_EQ(probe.err, "");

    CtlResult status = Run({"status"});
    EXPECT_EQ(status.exitCode, 0) << status.err;
    for (const char* part : {"Product id        KBR3300", "Firmware version  1.0.2.3", "Channel           scan",
                             "Privacy           off", "Diagnostics       Link: up", "Passwords         not shown"}) {
        EXPECT_NE(status.out.find(part), std::string::npos) << part << "\n" << status.out;
    }
    EXPECT_EQ(status.out.find("admin"), std::string::npos) << "no password without --with-secrets";
}

TEST_F(Ctl, ConfigSetChangesWhatItNamesAndReadsBack) {
    Start();
    CtlResult set = Run({"config", "set", "channel=21", "privacy=on", "network_password=-"},
                        {{"KBR3300_PASSWORD", PASSWORD}}, "123456789012\n");
    ASSERT_EQ(set.exitCode, 0) << set.err;
    EXPECT_NE(set.out.find("channel           scan -> 21 (1300 MHz)"), std::string::npos) << set.out;
    EXPECT_NE(set.out.find("privacy           off -> on"), std::string::npos) << set.out;

    CtlResult get = Run({"config", "get", "--with-secrets"});
    ASSERT_EQ(get.exitCode, 0) << get.err;
    for (const char* part :
         {"Channel           21 (1300 MHz)", "Channel mask      1048576", "Scan mask         357908480",
          "Privacy           on (SwConfig 4096)", "Admin password    admin", "Network password  123456789012"}) {
        EXPECT_NE(get.out.find(part), std::string::npos) << part << "\n" << get.out;
    }
    // A new administrator password is the next login's.
    ASSERT_EQ(Run({"config", "set", "admin_password=-"}, {{"KBR3300_PASSWORD", PASSWORD}}, "abc123\n").exitCode, 0);
    CtlResult old = Run({"config", "get"});
    EXPECT_EQ(old.exitCode, 1);
    EXPECT_EQ(old.err, "kbr3300ctl: Password Incorrect!\n");
    EXPECT_EQ(Run({"config", "get"}, {{"KBR3300_PASSWORD", "abc123"}}).exitCode, 0);
}

TEST_F(Ctl, ConfigSetChecksValuesAsThePagesDo) {
    Start();
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"config", "set", "admin_password=-"},
         "kbr3300ctl: admin_password: The 2st char _ is invalid !; nothing is written\n"},
        {{"config", "set", "network_password=-"},
         "kbr3300ctl: network_password: Your password must be 12 to 17 numeric characters long!; nothing is "
         "written\n"},
        {{"config", "set", "channel=5"},
         "kbr3300ctl: channel 5 is not offered in MoCA D Band mode: choose scan or one of 15, 17, 19, 21, 23, 25, 27, "
         "29; nothing is written\n"},
    };
    const std::string input[] = {"ab_cd\n", "12345\n", ""};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const CtlResult result = Run(c.args, {{"KBR3300_PASSWORD", PASSWORD}}, input[i]);
        EXPECT_EQ(result.exitCode, 2) << c.args.back();
        EXPECT_EQ(result.err, c.err);
    }
    EXPECT_EQ(Run({"config", "set", "diplexer=allpass", "channel=5"}).exitCode, 0);
    EXPECT_NE(Run({"config", "get"}).out.find("Channel           5 (900 MHz)"), std::string::npos);
}

TEST_F(Ctl, BackupIsPrivateAndRestoreShowsThenWrites) {
    Start();
    const std::string plain = dir.File("plain.json");
    const std::string secret = dir.File("secret.json");
    ASSERT_EQ(Run({"config", "backup", plain}).exitCode, 0);
    ASSERT_EQ(Run({"config", "backup", "--with-secrets", secret}).exitCode, 0);
#ifndef _WIN32  // Windows files take their folder's permissions
    struct stat info {};
    ASSERT_EQ(::stat(plain.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
    const std::string plainText = TextOf(plain);
    const std::string secretText = TextOf(secret);
    EXPECT_NE(plainText.find("\"product_id\": \"KBR3300\""), std::string::npos) << plainText;
    EXPECT_NE(plainText.find("\"firmware_version\": \"1.0.2.3\""), std::string::npos) << plainText;
    EXPECT_EQ(plainText.find("admin_password"), std::string::npos) << plainText;
    EXPECT_NE(secretText.find("\"admin_password\": \"admin\""), std::string::npos) << secretText;

    // The same settings: nothing to write.
    CtlResult same = Run({"config", "restore", plain});
    EXPECT_EQ(same.exitCode, 0) << same.err;
    EXPECT_NE(same.out.find("Nothing to change"), std::string::npos);

    // Changed meanwhile: restore shows the difference, and writes only with --yes (no terminal).
    ASSERT_EQ(Run({"config", "set", "channel=21", "privacy=on", "network_password=-"}, {{"KBR3300_PASSWORD", PASSWORD}},
                  "111111111111\n")
                  .exitCode,
              0);
    CtlResult asked = Run({"config", "restore", secret});
    EXPECT_EQ(asked.exitCode, 2);
    EXPECT_NE(asked.out.find("channel_mask      1048576 -> 357908480"), std::string::npos) << asked.out;
    EXPECT_NE(asked.out.find("sw_config         4096 -> 0"), std::string::npos) << asked.out;
    EXPECT_NE(asked.out.find("network_password  (secret) -> (another secret)"), std::string::npos) << asked.out;
    EXPECT_EQ(asked.err, "kbr3300ctl: nothing is written: give --yes to write without being asked\n");
    EXPECT_NE(Run({"config", "get"}).out.find("Channel           21"), std::string::npos) << "not written";

    CtlResult written = Run({"config", "restore", secret, "--yes"});
    EXPECT_EQ(written.exitCode, 0) << written.err;
    EXPECT_NE(written.out.find("Settings written."), std::string::npos);
    const std::string after = Run({"config", "get", "--with-secrets"}).out;
    EXPECT_NE(after.find("Channel           scan"), std::string::npos) << after;
    EXPECT_NE(after.find("Network password  40527163948205716"), std::string::npos) << after;
}

TEST_F(Ctl, RestoreRefusesABackupOfAnotherProductOrABrokenFile) {
    Start();
    const std::string other = dir.File("other.json");
    std::ofstream(other) << R"({"kbr3300-settings-backup": 1, "device": {"product_id": "KBR9999"},
        "settings": {"DiplexerMode": 0, "channelMask": 0, "scanMask": 16384, "SwConfig": 0}})";
    CtlResult result = Run({"config", "restore", other, "--yes"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "kbr3300ctl: " + other +
                              " holds the settings of a KBR9999; this adaptor is a KBR3300. Nothing is written\n");
    const std::string broken = dir.File("broken.json");
    std::ofstream(broken) << "{";
    result = Run({"config", "restore", broken, "--yes"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "kbr3300ctl: " + broken + ": not a settings backup (not a JSON object)\n");
}

TEST_F(Ctl, UpgradeChecksTheImageAndAsksAboutTheSameVersion) {
    Start({"--dump-dir", dir.Path()});
    const std::string image = Image("fw.img", NewFirmware());
    CtlResult done = Run({"upgrade", image});
    ASSERT_EQ(done.exitCode, 0) << done.err;
    EXPECT_NE(done.out.find("Upgrade completed successfully!"), std::string::npos) << done.out;
    EXPECT_EQ(done.err, "") << "nothing drawn when standard error is not a terminal";
    EXPECT_TRUE(devsim::test::ReadWholeFile(dir.File("section2.bin"))) << "both sections arrived";

    // After the reboot the adaptor runs 2.0.0.0: the same image is declined unless forced.
    ASSERT_EQ(Run({"reboot"}).exitCode, 0);
    ASSERT_EQ(Run({"wait", "--timeout", "10"}, {}).exitCode, 0);
    CtlResult same = Run({"upgrade", image});
    EXPECT_EQ(same.exitCode, 1);
    EXPECT_EQ(same.err,
              "kbr3300ctl: Firmware = 2.0.0.0 matches device version! Not upgraded (--force upgrades all the same)\n");
    EXPECT_EQ(Run({"upgrade", image, "--force"}).exitCode, 0);

    struct Case {
        const char* name;
        std::string path;
        std::string err;
    };
    const std::string broken = Image("broken.img", [] {
        ImageSpec plan = NewFirmware();
        plan.defect = ImageDefect::Section2Crc;
        return plan;
    }());
    const std::string foreign = Image("foreign.img", NewFirmware("KBR9999"));
    const Case cases[] = {
        {"crc", broken, "kbr3300ctl: " + broken + ": Not a valid upgrade file!\n"},
        {"missing", dir.File("none.img"),
         "kbr3300ctl: " + dir.File("none.img") + ": The file could not be located. Not a valid upgrade file!\n"},
        {"folder", dir.Path(),
         "kbr3300ctl: " + dir.Path() + ": The file could not be accessed. Not a valid upgrade file!\n"},
        {"product", foreign,
         "kbr3300ctl: Product IDs do not match! The image is for KBR9999, the adaptor is a KBR3300. Nothing was "
         "sent\n"},
    };
    for (const Case& c : cases) {
        const CtlResult result = Run({"upgrade", c.path});
        EXPECT_EQ(result.exitCode, 4) << c.name;
        EXPECT_EQ(result.err, c.err) << c.name;
    }
}

TEST_F(Ctl, UpgradeOfAValidImageThatCannotBeSentSaysWhy) {
    Start();
    ImageSpec noVersion = NewFirmware();
    noVersion.section2.tags = {{"prod_id", "KBR3300"}};
    const std::string untagged = Image("untagged.img", noVersion);
    CtlResult result = Run({"upgrade", untagged});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_EQ(result.err,
              "kbr3300ctl: " + untagged + ": section 2 has no \"version\" tag. Not a valid upgrade file!\n");
    ImageSpec noProductId = NewFirmware();
    noProductId.section2.tags = {{"version", "2.0.0.0"}};
    const std::string unnamed = Image("unnamed.img", noProductId);
    result = Run({"upgrade", unnamed});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_EQ(result.err, "kbr3300ctl: " + unnamed + ": section 2 has no \"prod_id\" tag. Not a valid upgrade file!\n");

    // 65537 chunks: the count of chunks still to come is 16 bits wide, so the first chunk would
    // say it is the last. The adaptor takes it for one, the pass fails twice, and the tool says why.
    const std::string tooMany =
        Image("toomany.img", StandardImageSpec("KBR3300", "2.0.0.0", "2.0.0.0", 65537 * 256, 512));
    result = Run({"upgrade", tooMany});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_EQ(result.err,
              "kbr3300ctl: " + tooMany +
                  ": section 1 has 65537 chunks of 256 bytes; an upgrade can count at most 65536 (16 MiB)\n");
}

TEST_F(Ctl, UpgradeFileNameWithPercent20IsTakenLiterally) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no path for an open descriptor: such a name is read with a space";
#endif
    Start();
    const std::string image = Image("fw%20new.img", NewFirmware());
    const CtlResult result = Run({"upgrade", image});
    EXPECT_EQ(result.exitCode, 0) << result.err;
}

TEST_F(Ctl, JsonGivesPhasesEveryFivePercentAndTheResult) {
    Start();
    const std::string image = Image("fw.img", NewFirmware("KBR3300", "3.0.0.0"));
    const CtlResult result = Run({"--json", "upgrade", image});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    std::vector<std::string> lines;
    std::istringstream stream(result.out);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines) EXPECT_EQ(line.rfind("{\"event\":", 0), 0u) << line;
    for (const char* phase : {"connect", "login", "product-id", "version", "pass1", "pass2"}) {
        EXPECT_EQ(Count(result.out, std::string("\"phase\":\"") + phase + "\""), 1u) << phase;
    }
    for (int percent = 5; percent <= 100; percent += 5) {
        EXPECT_EQ(Count(result.out, "\"percent\":" + std::to_string(percent) + ","), 1u) << percent;
    }
    EXPECT_EQ(Count(result.out, "\"event\":\"progress\""), 20u);
    EXPECT_EQ(lines.back().rfind(R"({"event":"result","command":"upgrade","exit":0)", 0), 0u) << lines.back();

    // Errors come as an object with the exit code as well.
    const CtlResult refused = Run({"--json", "config", "get"}, {{"KBR3300_PASSWORD", "wrong"}});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.out.find(R"({"event":"error","exit":1,"message":"Password Incorrect!"})"), std::string::npos)
        << refused.out;
}

TEST_F(Ctl, ProgressBarOnATerminal) {
    SKIP_WITHOUT_TERMINAL();
    Start();
    const std::string image = Image("fw.img", StandardImageSpec("KBR3300", "3.0.0.0", "3.0.0.0", 256 << 10, 256 << 10));
    CtlRun run;
    run.args = LoopbackAddress(sim.Port());
    run.args.insert(run.args.end(), {"upgrade", image});
    run.environment = {{"KBR3300_PASSWORD", PASSWORD}};
    run.errorOnTerminal = true;
    const CtlResult result = RunCtl(run);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("\r[------------------------------]   0%  0.0 / 0.5 MiB"), std::string::npos)
        << result.err;
    EXPECT_TRUE(std::regex_search(result.err, std::regex("\r\\[#{30}\\] 100%  0\\.5 / 0\\.5 MiB"))) << result.err;
    // The bar names the pass it is in.
    EXPECT_NE(result.err.find("  pass 1 of 2"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("  pass 2 of 2"), std::string::npos) << result.err;
}

TEST_F(Ctl, DiagnosticsOnceAndWatched) {
    Start();
    CtlResult once = Run({"diag"});
    ASSERT_EQ(once.exitCode, 0) << once.err;
    EXPECT_EQ(Count(once.out, "Link: up"), 1u) << once.out;
    CtlResult watched = Run({"--json", "diag", "--watch", "2.5"});
    ASSERT_EQ(watched.exitCode, 0) << watched.err;
    const size_t readings = Count(watched.out, R"("event":"diagnostics")");
    EXPECT_GE(readings, 2u) << watched.out;
    EXPECT_LE(readings, 4u) << "about one a second, not as fast as the device answers";
}

// ---- Passwords and reachability

TEST_F(Ctl, PasswordComesFromAFileTheEnvironmentOrNowhere) {
    Start();
    const std::string file = dir.File("password");
    std::ofstream(file) << PASSWORD << "\n";
    EXPECT_EQ(Run({"config", "get", "--password-file", file}, {}).exitCode, 0);
    CtlRun fromInput;
    fromInput.args = LoopbackAddress(sim.Port());
    fromInput.args.insert(fromInput.args.end(), {"--password-file", "-", "config", "get"});
    fromInput.input = std::string(PASSWORD) + "\n";
    EXPECT_EQ(RunCtl(fromInput).exitCode, 0);

    // No file, no variable, no terminal: a usage error before anything is sent.
    const CtlResult none = Run({"config", "get"}, {});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_EQ(none.err,
              "kbr3300ctl: no password: give --password-file FILE, set KBR3300_PASSWORD, or run on a "
              "terminal to type it\n");
    const CtlResult missing = Run({"config", "get", "--password-file", dir.File("nope")}, {});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err,
              "kbr3300ctl: cannot read the password: " + dir.File("nope") + ": No such file or directory\n");
}

TEST(CtlUnreachable, NothingListeningIsExitThree) {
    const uint16_t port = devsim::test::UnusedLoopbackPort();
    for (const std::vector<std::string>& command : {std::vector<std::string>{"probe"}, {"status"}}) {
        CtlRun run;
        run.args = LoopbackAddress(port);
        run.args.insert(run.args.end(), command.begin(), command.end());
        run.environment = {{"KBR3300_PASSWORD", PASSWORD}};
        const CtlResult result = RunCtl(run);
        EXPECT_EQ(result.exitCode, 3) << command[0];
        EXPECT_EQ(result.err, "kbr3300ctl: cannot connect to 127.0.0.1:" + std::to_string(port) +
                                  " (is the adaptor in configuration mode and cabled to this PC?)\n");
    }
    CtlRun wait;
    wait.args = LoopbackAddress(port);
    wait.args.insert(wait.args.end(), {"wait", "--timeout", "1.5"});
    const auto start = std::chrono::steady_clock::now();
    const CtlResult result = RunCtl(wait);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms);
    EXPECT_EQ(result.err, "kbr3300ctl: no adaptor answered at 127.0.0.1:" + std::to_string(port) + " within 1.5 s\n");
}

TEST(CtlUsage, BadCommandLinesAreExitTwo) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--password", "x", "status"},
                                                 {"config", "set", "channel=16"},
                                                 {"upgrade"},
                                                 {"--version", "--bogus"}}) {
        CtlRun run;
        run.args = LoopbackAddress(devsim::test::UnusedLoopbackPort());
        run.args.insert(run.args.end(), args.begin(), args.end());
        const CtlResult result = RunCtl(run);
        if (args[0] == "--version") {
            EXPECT_EQ(result.exitCode, 0);
            EXPECT_EQ(result.out, "kbr3300ctl 1.0.0.0\n");
            continue;
        }
        EXPECT_EQ(result.exitCode, 2) << args[0];
        EXPECT_EQ(Count(result.err, "\n"), 1u) << result.err;
        EXPECT_EQ(result.err.rfind("kbr3300ctl: ", 0), 0u) << result.err;
    }
}

// ---- What users of command-line tools expect

TEST_F(Ctl, DeviceAndFileTextReachesTheTerminalEscaped) {
    Start({"--product-id", "KBR\x1b]0;owned\x07"});
    const CtlResult probe = Run({"probe"}, {});
    EXPECT_EQ(probe.exitCode, 0) << probe.err;
    EXPECT_EQ(probe.out.find('\x1b'), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("KBR\\x1b]0;owned\\x07 at "), std::string::npos) << probe.out;
    // JSON carries the text itself, escaped as JSON escapes it.
    const CtlResult json = Run({"--json", "probe"}, {});
    EXPECT_NE(json.out.find(R"("product_id":"KBR\u001b]0;owned\u0007")"), std::string::npos) << json.out;

    // A backup whose setting name holds escape bytes.
    const std::string planted = dir.File("planted.json");
    std::ofstream(planted) << "{\"kbr3300-settings-backup\": 2, \"device\": {\"product_id\": \"KBR3300\"}, "
                              "\"settings\": {\"\\u001b[2J\": 1}}";
    const CtlResult restore = Run({"config", "restore", planted, "--yes"});
    EXPECT_EQ(restore.exitCode, 2);
    EXPECT_EQ(restore.err, "kbr3300ctl: " + planted + ": settings.\\x1b[2J is not a setting of the adaptor\n");
}

TEST_F(Ctl, PasswordsNeverComeFromTheCommandLineNorGoBackOut) {
    Start();
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {"admin",
         {"config", "set", "admin_password=Secret1"},
         "kbr3300ctl: admin_password is never taken from the command line (ps would show it): give "
         "admin_password=- to type it, or to read it from a line of standard input\n"},
        {"network",
         {"config", "set", "network_password=123456789012"},
         "kbr3300ctl: network_password is never taken from the command line (ps would show it): give "
         "network_password=- to type it, or to read it from a line of standard input\n"},
        // The key of the earlier releases: not a setting now, and its value is not repeated.
        {"oldKey",
         {"config", "set", "admin-password=Secret1"},
         "kbr3300ctl: 'admin-password' is not a setting: give KEY=VALUE with KEY one of channel, diplexer, "
         "privacy, admin_password, network_password\n"},
    };
    for (const Case& c : cases) {
        const CtlResult result = Run(c.args);
        EXPECT_EQ(result.exitCode, 2) << c.name;
        EXPECT_EQ(result.err, c.err) << c.name;
    }
    // Both passwords from standard input after the login password: one line each, in the order
    // the keys are given.
    const CtlResult set = Run({"--password-file", "-", "config", "set", "network_password=-", "admin_password=-"}, {},
                              std::string(PASSWORD) + "\n999999999999\nnew123\n");
    ASSERT_EQ(set.exitCode, 0) << set.err;
    const CtlResult get = Run({"config", "get", "--with-secrets"}, {{"KBR3300_PASSWORD", "new123"}});
    EXPECT_NE(get.out.find("Network password  999999999999"), std::string::npos) << get.out;
    // Nothing to read: refused before anything is sent.
    const CtlResult none = Run({"config", "set", "admin_password=-"}, {{"KBR3300_PASSWORD", "new123"}});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_EQ(none.err,
              "kbr3300ctl: no new admin_password: type it on a terminal, or give it as a line of standard input\n");
}

TEST_F(Ctl, RestoreRefusesWhatConfigSetRefuses) {
    Start();
    struct Case {
        const char* name;
        std::string settings;
        std::string err;  // after "kbr3300ctl: FILE"
    };
    const Case cases[] = {
        {"nothingToScanAndEveryBit", R"("channel_mask": 0, "scan_mask": 0, "sw_config": 4294967295)",
         ": settings.scan_mask 0 holds none of the channels offered in MoCA D Band mode (15, 17, 19, 21, 23, 25, "
         "27, 29)"},
        {"channelNotOffered", R"("channel_mask": 16, "scan_mask": 16384, "sw_config": 0)",
         ": settings.channel_mask 16 holds channels not offered in MoCA D Band mode (15, 17, 19, 21, 23, 25, 27, "
         "29)"},
        {"swConfigBits", R"("channel_mask": 0, "scan_mask": 16384, "sw_config": 4294967295)",
         ": settings.sw_config 4294967295 changes bits other than privacy (bit 12) of the adaptor's 0. Nothing is "
         "written"},
        {"password", R"("channel_mask": 0, "scan_mask": 16384, "sw_config": 0, "admin_password": "a b")",
         ": settings.admin_password does not keep the password rules"},
    };
    for (const Case& c : cases) {
        const std::string file = dir.File(std::string(c.name) + ".json");
        std::ofstream(file) << R"({"kbr3300-settings-backup": 2, "device": {"product_id": "KBR3300"},
            "settings": {"diplexer_mode": 0, )" +
                                   c.settings + "}}";
        const CtlResult result = Run({"config", "restore", file, "--yes"});
        EXPECT_EQ(result.exitCode, 2) << c.name;
        EXPECT_EQ(result.err, "kbr3300ctl: " + file + c.err + "\n") << c.name;
    }
    EXPECT_NE(Run({"config", "get"}).out.find("Channel mask      357908480"), std::string::npos) << "not written";
}

TEST_F(Ctl, FilesAreReadBoundedAndRegularOnly) {
    Start();
    const std::string large = dir.File("large.json");
    std::ofstream(large) << std::string(100 * 1024, ' ');
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string err;
    };
    std::vector<Case> cases = {
        {"restoreLarge",
         {"config", "restore", large, "--yes"},
         "kbr3300ctl: cannot read " + large + ": larger than 64 KiB, not a settings backup\n"},
        {"passwordLarge",
         {"--password-file", large, "config", "get"},
         "kbr3300ctl: cannot read the password: " + large + ": larger than 64 KiB\n"},
    };
#ifndef _WIN32  // a device that never ends
    cases.push_back({"restoreDevice",
                     {"config", "restore", "/dev/zero", "--yes"},
                     "kbr3300ctl: cannot read /dev/zero: not a regular file\n"});
    cases.push_back({"passwordDevice",
                     {"--password-file", "/dev/zero", "config", "get"},
                     "kbr3300ctl: cannot read the password: /dev/zero: not a regular file\n"});
#endif
    for (const Case& c : cases) {
        const CtlResult result = Run(c.args, {});
        EXPECT_EQ(result.exitCode, 2) << c.name;
        EXPECT_EQ(result.err, c.err) << c.name;
    }
}

TEST_F(Ctl, JsonQueriesPrintOneDocumentWithOneKeyStyle) {
    Start();
    for (const std::vector<std::string>& query :
         {std::vector<std::string>{"status"}, {"config", "get", "--with-secrets"}, {"probe"}, {"diag"}}) {
        std::vector<std::string> args = {"--json"};
        args.insert(args.end(), query.begin(), query.end());
        const CtlResult result = Run(args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(Count(result.out, "\n"), 1u) << result.out;
        EXPECT_EQ(result.out.rfind(R"({"event":"result","command":")", 0), 0u) << result.out;
        EXPECT_FALSE(std::regex_search(result.out, std::regex(R"("[a-z]*[A-Z][A-Za-z]*":)"))) << result.out;
    }
    const CtlResult get = Run({"--json", "config", "get", "--with-secrets"});
    for (const char* part : {R"("diplexer_mode":0)", R"("channel_mask":357908480)", R"("sw_config":0)",
                             R"("admin_password":"admin")", R"("network_password":")"}) {
        EXPECT_NE(get.out.find(part), std::string::npos) << part << "\n" << get.out;
    }
    EXPECT_TRUE(std::regex_search(get.out, std::regex(R"("tx_power":\[[0-9]+,[0-9]+\])"))) << get.out;
}

TEST_F(Ctl, HelpForAllAndForOneCommand) {
    Start();
    const CtlResult all = Run({"-h"}, {});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(all.out.rfind("Usage: kbr3300ctl ", 0), 0u) << all.out;
    for (const char* command : {"probe", "config restore", "upgrade", "wait"}) {
        EXPECT_NE(all.out.find(std::string("\n  ") + command + " "), std::string::npos) << command << "\n" << all.out;
    }
    const CtlResult one = Run({"upgrade", "--help"}, {});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    EXPECT_EQ(one.out.rfind("Usage: kbr3300ctl upgrade FILE [--force] [--allow-older]", 0), 0u) << one.out;
}

TEST_F(Ctl, AnOlderImageNeedsAllowOlder) {
    Start({"--dump-dir", dir.Path()});
    const std::string older = Image("old.img", NewFirmware("KBR3300", "1.0.1.0"));
    const CtlResult refused = Run({"upgrade", older});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err,
              "kbr3300ctl: the image holds firmware 1.0.1.0, older than the adaptor's 1.0.2.3. Not upgraded "
              "(--allow-older upgrades all the same)\n");
    EXPECT_FALSE(devsim::test::ReadWholeFile(dir.File("section1.bin"))) << "nothing sent";
    const CtlResult allowed = Run({"upgrade", older, "--allow-older"});
    EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
    EXPECT_TRUE(devsim::test::ReadWholeFile(dir.File("section2.bin")));
}

TEST_F(Ctl, FirstCtrlCDuringTheTransferWarnsTheSecondAborts) {
    SKIP_WITHOUT_TERMINAL();
    // The third chunk is never answered: the transfer stays in pass 1 until the reply timeout.
    Start({"--fault", "12:3:silent"});
    const std::string image = Image("fw.img", NewFirmware());
    CtlRun once = RunOf({"--json", "--reply-timeout", "3", "upgrade", image});
    once.interruptOn = {R"("phase":"pass1")"};
    const CtlResult warned = RunCtl(once);
    EXPECT_EQ(warned.exitCode, 5) << "not stopped by one Ctrl-C: " << warned.err;
    EXPECT_NE(warned.err.find("kbr3300ctl: an upgrade is in progress: stopping it now leaves the adaptor with part "
                              "of the new firmware. Press Ctrl-C again within 5 seconds to abort\n"),
              std::string::npos)
        << warned.err;

    CtlRun twice = RunOf({"--json", "--reply-timeout", "20", "upgrade", image});
    twice.interruptOn = {R"("phase":"pass1")", R"("event":"interrupt")"};
    const CtlResult aborted = RunCtl(twice);
    EXPECT_EQ(aborted.exitCode, 6) << aborted.err;
    EXPECT_NE(aborted.err.find("kbr3300ctl: upgrade aborted during pass 1: the adaptor holds part of the new "
                               "firmware and may not start from it. Upgrade it again before you restart it\n"),
              std::string::npos)
        << aborted.err;
    EXPECT_NE(aborted.out.find(R"({"event":"error","exit":6,)"), std::string::npos) << aborted.out;
}

TEST_F(Ctl, WaitNextNeedsTheAdaptorToGoFirst) {
    Start();
    // The adaptor answering now is the last one: --next does not take it.
    const CtlResult same = Run({"wait", "--next", "--timeout", "1.5"}, {});
    EXPECT_EQ(same.exitCode, 3);
    EXPECT_EQ(same.err, "kbr3300ctl: the adaptor at 127.0.0.1:" + std::to_string(sim.Port()) +
                            " still answered after 1.5 s; no other one came\n");
    // Restarted (the simulator is silent for 300 ms): gone, then back.
    const CtlResult back = Run({"reboot", "--wait", "--timeout", "20"});
    EXPECT_EQ(back.exitCode, 0) << back.err;
    EXPECT_NE(back.out.find("KBR3300 answers again at"), std::string::npos) << back.out;
}

TEST(CtlPrompt, InterruptedPasswordPromptLeavesTheTerminalEchoing) {
    SKIP_WITHOUT_TERMINAL();
    struct Case {
        const char* name;
        std::vector<std::string> command;
        const char* prompt;
    };
    const Case cases[] = {
        {"login", {"config", "get"}, "Password for the adaptor at "},
        {"newPassword", {"config", "set", "admin_password=-"}, "New admin_password: "},
    };
    for (const Case& c : cases) {
        CtlRun run;
        run.args = LoopbackAddress(devsim::test::UnusedLoopbackPort());
        run.args.insert(run.args.end(), c.command.begin(), c.command.end());
        run.terminalInput = true;
        run.interruptOn = {c.prompt};
        if (c.command.back() == "admin_password=-") run.environment = {{"KBR3300_PASSWORD", PASSWORD}};
        const CtlResult result = RunCtl(run);
        EXPECT_NE(result.terminal.find(c.prompt), std::string::npos) << c.name << ": " << result.terminal;
        EXPECT_EQ(result.exitCode, -1) << c.name << ": ended by the signal, as the shell expects";
        EXPECT_EQ(result.echoAfter, true) << c.name;
    }
}

TEST(CtlWaiting, ShowsTheTimeOnATerminal) {
    SKIP_WITHOUT_TERMINAL();
    const uint16_t port = devsim::test::UnusedLoopbackPort();
    CtlRun run;
    run.args = LoopbackAddress(port);
    run.args.insert(run.args.end(), {"wait", "--timeout", "1.5"});
    run.errorOnTerminal = true;
    const CtlResult result = RunCtl(run);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_NE(
        result.err.find("\rWaiting for an adaptor at 127.0.0.1:" + std::to_string(port) + ": 0:00 elapsed, 0:02 left"),
        std::string::npos)
        << result.err;
}

// ---- Faults of the simulator at every operation

struct FaultCase {
    const char* name;
    std::vector<std::string> faults;  // --fault REQ:N:ACTION
    std::vector<std::string> command;
    int exitCode;
    const char* err;  // the whole line after "kbr3300ctl: "; "" for a clean run
};

class CtlFaults : public Ctl, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CtlFaults, EndWithTheirExitCodeAndMessage) {
    const FaultCase& c = GetParam();
    std::vector<std::string> devsimArgs;
    for (const auto& fault : c.faults) devsimArgs.insert(devsimArgs.end(), {"--fault", fault});
    Start(devsimArgs);
    std::vector<std::string> args = {"--reply-timeout", "0.5"};
    for (const auto& part : c.command) args.push_back(part == "IMAGE" ? Image("fw.img", NewFirmware()) : part);
    const CtlResult result = Run(args);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    const std::string expected = *c.err ? "kbr3300ctl: " + std::string(c.err) + "\n" : "";
    std::string err = std::regex_replace(result.err, std::regex(R"(127\.0\.0\.1:[0-9]+)"), "ADDR");
    EXPECT_EQ(err, expected);
}

const std::vector<std::string> GET = {"config", "get"};
const std::vector<std::string> SET = {"config", "set", "privacy=on"};
const std::vector<std::string> UPGRADE = {"upgrade", "IMAGE"};

INSTANTIATE_TEST_SUITE_P(
    Login, CtlFaults,
    ::testing::Values(
        FaultCase{"status", {"0:1:status"}, GET, 1, "Password Incorrect!"},
        // The login takes any reply; its status decides.
        FaultCase{"wrongType", {"0:1:wrong-type"}, GET, 0, ""},
        FaultCase{"short16", {"0:1:short16"}, GET, 5, "Unable to login: no answer from the adaptor within 0.5 s"},
        FaultCase{"silent", {"0:1:silent"}, GET, 5, "Unable to login: no answer from the adaptor within 0.5 s"},
        FaultCase{"close", {"0:1:close"}, GET, 5, "lost the connection to ADDR during the login"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    ReadSettings, CtlFaults,
    ::testing::Values(
        FaultCase{"status",
                  {"2:1:status"},
                  GET,
                  1,
                  "the adaptor refused the settings read: expected status 0, got REP_CONFIG with status 1"},
        // Another reply type makes the read ask again.
        FaultCase{"wrongType", {"2:1:wrong-type"}, GET, 0, ""},
        FaultCase{"short16", {"2:1:short16"}, GET, 5, "no answer from the adaptor to the settings read within 0.5 s"},
        FaultCase{"silent", {"2:1:silent"}, GET, 5, "no answer from the adaptor to the settings read within 0.5 s"},
        FaultCase{"close", {"2:1:close"}, GET, 5, "lost the connection to ADDR during the settings read"},
        FaultCase{"readBackRefused",
                  {"2:2:status"},
                  SET,
                  1,
                  "the adaptor refused the settings read: expected status 0, got REP_CONFIG with status 1"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    WriteSettings, CtlFaults,
    ::testing::Values(
        FaultCase{"status",
                  {"6:1:status"},
                  SET,
                  1,
                  "the adaptor refused the settings write: expected status 0, got REP_SET_CONFIG with status 1"},
        FaultCase{"wrongType",
                  {"6:1:wrong-type"},
                  SET,
                  1,
                  "the adaptor answered the settings write wrongly: expected REP_SET_CONFIG, got REP_ACTION"},
        FaultCase{"short16", {"6:1:short16"}, SET, 5, "no answer from the adaptor to the settings write within 0.5 s"},
        FaultCase{"silent", {"6:1:silent"}, SET, 5, "no answer from the adaptor to the settings write within 0.5 s"},
        FaultCase{"close", {"6:1:close"}, SET, 5, "lost the connection to ADDR during the settings write"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Diagnostics, CtlFaults,
    ::testing::Values(
        FaultCase{"status",
                  {"8:1:status"},
                  {"diag"},
                  1,
                  "the adaptor refused the diagnostics read: expected status 0, got REP_DIAG with status 1"},
        FaultCase{"wrongType",
                  {"8:1:wrong-type"},
                  {"diag"},
                  1,
                  "the adaptor answered the diagnostics read wrongly: expected REP_DIAG, got REP_SET_CONFIG"},
        FaultCase{
            "short16", {"8:1:short16"}, {"diag"}, 5, "no answer from the adaptor to the diagnostics read within 0.5 s"},
        FaultCase{
            "silent", {"8:1:silent"}, {"diag"}, 5, "no answer from the adaptor to the diagnostics read within 0.5 s"},
        FaultCase{"close", {"8:1:close"}, {"status"}, 5, "lost the connection to ADDR during the diagnostics read"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Values, CtlFaults,
    ::testing::Values(
        FaultCase{"status",
                  {"64:1:status"},
                  {"probe"},
                  1,
                  "the adaptor refused the product id read: expected status 0, got REP_VALUE with status 1"},
        FaultCase{"wrongType",
                  {"64:2:wrong-type"},
                  {"probe"},
                  1,
                  "the adaptor answered the firmware version read wrongly: expected REP_VALUE, got REP_SET_CONFIG"},
        FaultCase{"short16",
                  {"64:1:short16"},
                  {"probe"},
                  5,
                  "no answer from the adaptor to the product id read within 0.5 s"},
        FaultCase{"silent",
                  {"64:2:silent"},
                  {"probe"},
                  5,
                  "no answer from the adaptor to the firmware version read within 0.5 s"},
        FaultCase{"close", {"64:1:close"}, {"probe"}, 5, "lost the connection to ADDR during the product id read"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Reboot, CtlFaults,
    ::testing::Values(
        FaultCase{"status",
                  {"15:1:status"},
                  {"reboot"},
                  1,
                  "the adaptor refused the reboot request: expected status 0, got REP_ACTION with status 1"},
        FaultCase{"wrongType",
                  {"15:1:wrong-type"},
                  {"reboot"},
                  1,
                  "the adaptor answered the reboot request wrongly: expected REP_ACTION, got REP_SET_CONFIG"},
        FaultCase{"short16",
                  {"15:1:short16"},
                  {"reboot"},
                  5,
                  "no answer from the adaptor to the reboot request within 0.5 s"},
        FaultCase{
            "silent", {"15:1:silent"}, {"reboot"}, 5, "no answer from the adaptor to the reboot request within 0.5 s"},
        FaultCase{"close", {"15:1:close"}, {"reboot"}, 5, "lost the connection to ADDR during the reboot request"}),
    [](const auto& info) { return std::string(info.param.name); });

// Upgrade: requests 64:1 product id, 64:2 version; pass 1 is 10:1 and chunks 12:1-4, pass 2 is
// 10:2 and chunks 12:5-8 (when nothing is repeated). A failed step repeats its pass once.
INSTANTIATE_TEST_SUITE_P(
    Upgrade, CtlFaults,
    ::testing::Values(
        FaultCase{"productIdStatus",
                  {"64:1:status"},
                  UPGRADE,
                  1,
                  "the adaptor refused the product id read: expected status 0, got REP_VALUE with status 1"},
        FaultCase{"productIdWrongType",
                  {"64:1:wrong-type"},
                  UPGRADE,
                  1,
                  "the adaptor answered the product id read wrongly: expected REP_VALUE, got REP_SET_CONFIG"},
        FaultCase{"productIdShort16",
                  {"64:1:short16"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to the product id read within 0.5 s"},
        FaultCase{"productIdSilent",
                  {"64:1:silent"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to the product id read within 0.5 s"},
        FaultCase{
            "productIdClose", {"64:1:close"}, UPGRADE, 5, "lost the connection to ADDR during the product id read"},
        // A failed version read skips the comparison and uses up one try of pass 1.
        FaultCase{"versionStatus", {"64:2:status"}, UPGRADE, 0, ""},
        FaultCase{"versionStatusThenPass1Chunk",
                  {"64:2:status", "12:2:status"},
                  UPGRADE,
                  1,
                  "the adaptor refused a firmware chunk: expected status 0, got REP_UPGRADE_DATA with status 1"},
        FaultCase{"versionWrongType", {"64:2:wrong-type"}, UPGRADE, 0, ""},
        FaultCase{"versionShort16",
                  {"64:2:short16"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to the firmware version read within 0.5 s"},
        FaultCase{"versionSilent",
                  {"64:2:silent"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to the firmware version read within 0.5 s"},
        FaultCase{
            "versionClose", {"64:2:close"}, UPGRADE, 5, "lost the connection to ADDR during the firmware version read"},
        FaultCase{"pass1StartOnce", {"10:1:status"}, UPGRADE, 0, ""},
        FaultCase{
            "pass1StartTwice",
            {"10:1:status", "10:2:status"},
            UPGRADE,
            1,
            "the adaptor refused the start of an upgrade pass: expected status 0, got REP_UPGRADE_START with status 1"},
        FaultCase{"pass1StartWrongTypeTwice",
                  {"10:1:wrong-type", "10:2:wrong-type"},
                  UPGRADE,
                  1,
                  "the adaptor answered the start of an upgrade pass wrongly: expected REP_UPGRADE_START, got "
                  "REP_SET_CONFIG"},
        FaultCase{"pass1StartShort16",
                  {"10:1:short16"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to the start of an upgrade pass within 0.5 s"},
        FaultCase{"pass1StartSilent",
                  {"10:1:silent"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to the start of an upgrade pass within 0.5 s"},
        FaultCase{"pass1StartClose",
                  {"10:1:close"},
                  UPGRADE,
                  5,
                  "lost the connection to ADDR during the start of an upgrade pass"},
        FaultCase{"pass1ChunkOnce", {"12:2:status"}, UPGRADE, 0, ""},
        FaultCase{"pass1ChunkTwice",
                  {"12:2:status", "12:4:status"},
                  UPGRADE,
                  1,
                  "the adaptor refused a firmware chunk: expected status 0, got REP_UPGRADE_DATA with status 1"},
        // The simulator's status fault answers a last chunk with REP_UPGRADE_DATA too.
        FaultCase{"pass1LastChunkTwice",
                  {"12:4:status", "12:8:status"},
                  UPGRADE,
                  1,
                  "the adaptor refused a firmware chunk: expected status 0, got REP_UPGRADE_DATA with status 1"},
        FaultCase{"pass1ChunkWrongTypeTwice",
                  {"12:2:wrong-type", "12:4:wrong-type"},
                  UPGRADE,
                  1,
                  "the adaptor answered a firmware chunk wrongly: expected REP_UPGRADE_DATA, got REP_SET_CONFIG"},
        FaultCase{"pass1ChunkShort16",
                  {"12:2:short16"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to a firmware chunk within 0.5 s"},
        FaultCase{"pass1LastChunkSilent",
                  {"12:4:silent"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to a firmware chunk within 0.5 s"},
        FaultCase{"pass1ChunkClose", {"12:3:close"}, UPGRADE, 5, "lost the connection to ADDR during a firmware chunk"},
        FaultCase{"pass2StartOnce", {"10:2:status"}, UPGRADE, 0, ""},
        FaultCase{
            "pass2StartTwice",
            {"10:2:status", "10:3:status"},
            UPGRADE,
            1,
            "the adaptor refused the start of an upgrade pass: expected status 0, got REP_UPGRADE_START with status 1"},
        FaultCase{"pass2StartShort16",
                  {"10:2:short16"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to the start of an upgrade pass within 0.5 s"},
        FaultCase{"pass2StartSilent",
                  {"10:2:silent"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to the start of an upgrade pass within 0.5 s"},
        FaultCase{"pass2StartClose",
                  {"10:2:close"},
                  UPGRADE,
                  5,
                  "lost the connection to ADDR during the start of an upgrade pass"},
        FaultCase{"pass2ChunkOnce", {"12:6:status"}, UPGRADE, 0, ""},
        FaultCase{"pass2ChunkTwice",
                  {"12:6:status", "12:8:status"},
                  UPGRADE,
                  1,
                  "the adaptor refused a firmware chunk: expected status 0, got REP_UPGRADE_DATA with status 1"},
        FaultCase{"pass2ChunkWrongTypeTwice",
                  {"12:6:wrong-type", "12:8:wrong-type"},
                  UPGRADE,
                  1,
                  "the adaptor answered a firmware chunk wrongly: expected REP_UPGRADE_DATA, got REP_SET_CONFIG"},
        FaultCase{"pass2ChunkShort16",
                  {"12:6:short16"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to a firmware chunk within 0.5 s"},
        FaultCase{"pass2LastChunkSilent",
                  {"12:8:silent"},
                  UPGRADE,
                  5,
                  "no answer from the adaptor to a firmware chunk within 0.5 s"},
        FaultCase{
            "pass2ChunkClose", {"12:7:close"}, UPGRADE, 5, "lost the connection to ADDR during a firmware chunk"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kbr::ctl::test
