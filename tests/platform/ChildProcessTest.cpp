// A program started with its output read through pipes: both streams, the exit code, a stop
// request that the program honours, and a program that has to be ended.
#include "platform/ChildProcess.h"
#include "testkit/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace kbr::platform {
namespace {

using Stream = ChildProcess::Stream;

TEST(ChildProcess, ReadsBothStreamsAndTheExitCode) {
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start(KBR_PLATFORM_HELPER, {"print", "to output", "to error"}, &error)) << error;
    EXPECT_GT(child.Pid(), 0);
    EXPECT_EQ(child.Wait(10000), 3);
    EXPECT_EQ(child.Wait(0), 3) << "the same answer once it has ended";
    std::string output, errors;
    (void)child.Read(Stream::Output, output, 1000);
    (void)child.Read(Stream::Error, errors, 1000);
    EXPECT_EQ(output, "to output") << "what it wrote stays readable after it ended";
    EXPECT_EQ(errors, "to error");
}

TEST(ChildProcess, RunProgramCollectsBothStreamsAndTheExitCode) {
    const ProgramRun run = RunProgram(KBR_PLATFORM_HELPER, {"print", "out", "err"}, 10000);
    EXPECT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.output, "out");
    EXPECT_EQ(run.errors, "err");
    EXPECT_FALSE(run.timedOut);

    const auto start = std::chrono::steady_clock::now();
    const ProgramRun cut = RunProgram(KBR_PLATFORM_HELPER, {"sleep", "30000"}, 200);
    EXPECT_TRUE(cut.started);
    EXPECT_EQ(cut.exitCode, -1) << "ended at the limit";
    EXPECT_TRUE(cut.timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    EXPECT_FALSE(RunProgram("no-such-program-here", {}, 1000).started);
    EXPECT_FALSE(RunProgram("no-such-program-here", {}, 1000, /*searchPath=*/true).started);
}

TEST(ChildProcess, AProgramNamedWithoutAFolderIsLookedUp) {
#ifdef _WIN32
    // The system's search: beside the program that starts it first, ".exe" added.
    const ProgramRun run = RunProgram("platform_helper", {"exit", "5"}, 10000, /*searchPath=*/true);
#else
    const ProgramRun run = RunProgram("sh", {"-c", "exit 5"}, 10000, /*searchPath=*/true);
#endif
    EXPECT_TRUE(run.started) << run.errors;
    EXPECT_EQ(run.exitCode, 5);
}

TEST(ChildProcess, AStopRequestReachesTheProgram) {
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start(KBR_PLATFORM_HELPER, {"until-stopped"}, &error)) << error;
    std::string said;
    for (int round = 0; round < 1000 && said.find("ready") == std::string::npos; ++round) {
        ASSERT_TRUE(child.Read(Stream::Output, said, 10)) << said;
    }
    ASSERT_NE(said.find("ready"), std::string::npos);
    EXPECT_FALSE(child.Wait(0)) << "still running";
    child.RequestStop();
    EXPECT_EQ(child.Wait(10000), 0) << "it ended by itself, as asked";
}

TEST(ChildProcess, KillEndsAProgramThatWaits) {
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start(KBR_PLATFORM_HELPER, {"sleep", "30000"}, &error)) << error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(child.Wait(50));
    child.Kill();
    const auto code = child.Wait(10000);
    ASSERT_TRUE(code.has_value());
    EXPECT_NE(*code, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(ChildProcess, AProgramThatIsNotThereIsReported) {
    ChildProcess child;
    std::string error;
    EXPECT_FALSE(child.Start("no-such-program-here", {}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(child.Started());
    EXPECT_FALSE(child.Wait(0));
}

#ifndef _WIN32
// The runner's options, with the system's shell as the program.

TEST(ProgramRunner, AGrandchildHoldingThePipesIsNotWaitedFor) {
    // The shell ends at once; the sleep it left behind keeps both pipes open for 30 s.
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun run = RunProgram("/bin/sh", {"-c", "sleep 30 & echo hi"}, 3000, RunOptions{});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(run.Finished());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "hi\n") << "what it wrote before it ended is kept";
    EXPECT_LT(took, std::chrono::seconds(3) + std::chrono::seconds(5)) << "ended within its deadline";
}

TEST(ProgramRunner, AProgramThatOutlivesItsDeadlineIsEndedUnlessLeftRunning) {
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun hung = RunProgram("/bin/sh", {"-c", "echo started; exec sleep 30"}, 300, RunOptions{});
    EXPECT_TRUE(hung.timedOut);
    EXPECT_FALSE(hung.Finished());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    const std::string mark = ::testing::TempDir() + "kbr-left-running-" + std::to_string(::getpid());
    std::remove(mark.c_str());
    RunOptions background;
    background.leaveRunning = true;
    const ProgramRun client = RunProgram("/bin/sh", {"-c", "sleep 0.5; echo done > " + mark}, 100, background);
    EXPECT_TRUE(client.leftRunning);
    EXPECT_FALSE(client.timedOut);
    EXPECT_TRUE(testkit::WaitUntil([&] { return std::ifstream(mark).good(); }, std::chrono::seconds(10)))
        << "a program left running was ended";
    std::remove(mark.c_str());
}

TEST(ProgramRunner, TheEnvironmentIsExactlyTheOneGivenAndOutputIsBounded) {
    RunOptions options;
    options.environment = std::vector<std::string>{"PATH=/usr/bin:/bin", "LC_ALL=C"};
    const ProgramRun run = RunProgram("/usr/bin/env", {}, 10000, options);
    EXPECT_EQ(run.output, "PATH=/usr/bin:/bin\nLC_ALL=C\n");

    const ProgramRun inherited = RunProgram("/usr/bin/env", {}, 10000, RunOptions{});
    EXPECT_NE(inherited.output.find("PATH="), std::string::npos);

    RunOptions bounded;
    bounded.outputMax = 1000;
    const ProgramRun flood = RunProgram("/bin/sh", {"-c", "head -c 3000000 /dev/zero; echo end >&2"}, 20000, bounded);
    EXPECT_TRUE(flood.Finished()) << "the rest was read and dropped: the writer never stalled";
    EXPECT_EQ(flood.output.size(), 1000u);
    EXPECT_EQ(flood.errors, "end\n");
}
#endif

}  // namespace
}  // namespace kbr::platform
