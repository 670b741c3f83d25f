// The parts of the real renewal that need no DHCP client: the command runner, the shared time
// budget, the interfaces of this namespace. (The record's private folder is tested in
// tests/platform/PrivateFolderTest.cpp.) Nothing here releases
// or renews a lease (the network lab does that, in namespaces of its own).

#include "iphelpers/renewal/LeaseSystem.h"
#include "testkit/ScratchFolder.h"
#include "testkit/WaitUntil.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX has the program declare it

namespace kbr::renewal {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(LeaseCommands, OutputErrorsAndExitCode) {
    const CommandResult result = RunCommand({"sh", "-c", "echo out; echo err >&2; exit 3"}, 10s);
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.output, "out\n");
    EXPECT_EQ(result.errors, "err\n");
    EXPECT_FALSE(result.Succeeded());
    EXPECT_TRUE(RunCommand({"true"}, 10s).Succeeded());

    const CommandResult missing = RunCommand({"kbr-no-such-program-here"}, 10s);
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(RunCommand({}, 10s).started);
}

TEST(LeaseCommands, OutputIsBounded) {
    const CommandResult result = RunCommand({"sh", "-c", "head -c 1000000 /dev/zero"}, 20s);
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(result.output.size(), 64u * 1024u);
}

TEST(LeaseCommands, TheLimitEndsACommandUnlessItIsLeftRunning) {
    const auto start = std::chrono::steady_clock::now();
    const CommandResult hung = RunCommand({"sleep", "30"}, 300ms);
    EXPECT_TRUE(hung.started);
    EXPECT_FALSE(hung.finished);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    const testkit::ScratchFolder scratch("kbr-left-running-");
    const fs::path mark = scratch.File("mark");
    const CommandResult client =
        RunCommand({"sh", "-c", "sleep 0.5; echo done > " + mark.string()}, 100ms, /*leaveRunning=*/true);
    EXPECT_FALSE(client.finished);
    EXPECT_TRUE(testkit::WaitUntil([&] { return fs::exists(mark); })) << "a client left running was ended";
}

TEST(LeaseCommands, AGrandchildHoldingTheOutputDoesNotHoldTheRun) {
    // A helper that leaves a program of its own running with the same output (as a client that
    // forks into the background does): its own end is what counts.
    const auto start = std::chrono::steady_clock::now();
    const CommandResult result = RunCommand({"sh", "-c", "sleep 30 & echo hi"}, 3s);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.output, "hi\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s + 5s) << "ended within its deadline";
}

TEST(LeaseCommands, HelpersComeFromTheSystemFoldersWithAMinimalEnvironment) {
    // A search path and an environment a user could have planted for root (sudo -E, su): a fake
    // "sh" first on the path, a translation asked for, a bus address of the user's.
    const testkit::ScratchFolder scratch("kbr-planted-");
    const fs::path planted = scratch.Path();
    std::ofstream(planted / "sh") << "#!/bin/sh\necho planted\n";
    fs::permissions(planted / "sh", fs::perms::owner_all);
    const char* path = std::getenv("PATH");
    const std::string oldPath = path ? path : "";
    ::setenv("PATH", (planted.string() + ":" + oldPath).c_str(), 1);
    ::setenv("LANGUAGE", "de", 1);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/tmp/theirs", 1);

    EXPECT_EQ(RunCommand({"sh", "-c", "echo real"}, 10s).output, "real\n");
    EXPECT_EQ(RunCommand({"env"}, 10s).output, "PATH=/usr/sbin:/usr/bin:/sbin:/bin\nLC_ALL=C\n");
    EXPECT_FALSE(RunCommand({planted.string() + "/sh"}, 10s).started) << "a path is never run";

    ::setenv("PATH", oldPath.c_str(), 1);
    ::unsetenv("LANGUAGE");
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

TEST(LeaseCommands, OnlyRootsOwnProgramsAreFound) {
    const testkit::ScratchFolder scratch("kbr-programs-");
    const fs::path dir = scratch.Path();
    struct Row {
        const char* name;
        unsigned mode;
        bool nobodys;
        bool found;
    };
    const std::vector<Row> rows = {
        {"good", 0755, false, true},
        {"group-writable", 0775, false, false},
        {"others-writable", 0757, false, false},
        {"not-executable", 0644, false, false},
        {"users", 0755, true, false},
    };
    fs::create_directories(dir / "first");
    fs::create_directories(dir / "second");
    for (const Row& row : rows) {
        if (row.nobodys && ::geteuid() != 0) continue;  // only root can give a file away
        const fs::path file = dir / "first" / row.name;
        std::ofstream(file) << "#!/bin/sh\n";
        ASSERT_EQ(::chmod(file.c_str(), row.mode), 0);
        if (::geteuid() != 0) continue;  // the rest needs root's own files
        if (row.nobodys) {
            ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
        }
        const auto found = FindProgramIn(row.name, {(dir / "first").string(), (dir / "second").string()});
        EXPECT_EQ(found.has_value(), row.found) << row.name;
    }
    if (::geteuid() == 0) {
        // The first folder that has a good one wins; a folder is not a program.
        std::ofstream(dir / "second" / "later") << "#!/bin/sh\n";
        ASSERT_EQ(::chmod((dir / "second" / "later").c_str(), 0755), 0);
        fs::create_directories(dir / "first" / "later");
        EXPECT_EQ(FindProgramIn("later", {(dir / "first").string(), (dir / "second").string()}),
                  (dir / "second" / "later").string());
    }
    EXPECT_EQ(FindProgramIn("../first/good", {(dir / "second").string()}), std::nullopt);
    EXPECT_EQ(FindSystemProgram("sh").value_or("").rfind('/', 0), 0u);
}

TEST(LeaseBudget, StepsShareWhatIsLeft) {
    const Budget budget(1s);
    EXPECT_FALSE(budget.Expired());
    EXPECT_LE(budget.Slice(60s), 1s);
    EXPECT_EQ(budget.Slice(10ms), 10ms);
    const Budget spent(0ms);
    EXPECT_TRUE(spent.Expired());
    EXPECT_EQ(spent.Slice(60s), 0ms);
}

TEST(LeaseInterfaces, LoopbackIsNotWired) {
    const auto wired = WiredInterfaces();
    EXPECT_EQ(std::count(wired.begin(), wired.end(), "lo"), 0);
    EXPECT_TRUE(std::is_sorted(wired.begin(), wired.end()));
}

// Starts the order probe with two arguments and returns its pid (posix_spawn returns once the
// child runs the probe, as the wizard's start of ipconfig does).
pid_t StartProbe(const std::string& option, const std::string& value) {
    const std::string program = LEASE_ORDER_PROBE;
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(option.c_str()),
                               const_cast<char*>(value.c_str()), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    return pid;
}

int Reap(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

long WaitedMs(const fs::path& file) {
    std::ifstream in(file);
    long ms = -1;
    in >> ms;
    return ms;
}

TEST(LeaseOrder, RenewWaitsForAReleaseStartedJustBefore) {
    const testkit::ScratchFolder scratch("kbr-order-");
    const fs::path out = scratch.File("waited");
    // /release first (any letter case), then at once /renew: the renewal waits for it.
    const pid_t release = StartProbe("/RELEASE", "800");
    const pid_t renew = StartProbe("/renew", out.string());
    Reap(renew);
    Reap(release);
    EXPECT_GE(WaitedMs(out), 600);
    EXPECT_LT(WaitedMs(out), 5000);

    // A release started after the renewal is not waited for.
    const pid_t first = StartProbe("/renew", out.string());
    ::usleep(50'000);  // a few clock ticks later
    const pid_t later = StartProbe("/release", "1500");
    Reap(first);
    EXPECT_LT(WaitedMs(out), 1000);
    Reap(later);
}

TEST(LeaseOrder, NoEarlierReleaseMeansNoWait) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitForEarlierReleases(5s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace
}  // namespace kbr::renewal
