// What the platform reads about a process through its /proc folder: the facts the renewal decides
// on (owner, executable file, network namespace, start, arguments), not the name a process gives
// itself.
#include "platform/ChildProcess.h"
#include "platform/ProcessFacts.h"
#include "testkit/WaitUntil.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kbr::platform {
namespace {

TEST(ProcessFacts, ThisProcess) {
    const auto self = DescribeThisProcess();
    ASSERT_TRUE(self);
    EXPECT_EQ(self->pid, ::getpid());
    EXPECT_EQ(self->effectiveUser, ::geteuid());
    EXPECT_EQ(self->realUser, ::getuid());
    EXPECT_FALSE(self->defunct);
    EXPECT_GT(self->startTime, 0u);
    EXPECT_EQ(self->executable, IdentityOfFile("/proc/self/exe"));
    ASSERT_TRUE(self->networkNamespace);
    EXPECT_EQ(self->networkNamespace->rfind("net:[", 0), 0u) << *self->networkNamespace;
    ASSERT_FALSE(self->commandLine.empty());
    const auto pids = ProcessIds();
    EXPECT_NE(std::find(pids.begin(), pids.end(), ::getpid()), pids.end());
}

// A child: its own arguments, its executable (the file, whatever name it runs under), and a start
// no earlier than ours; once ended and reaped, nothing.
TEST(ProcessFacts, AChildAndItsEnd) {
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start("/bin/sleep", {"30", "1"}, &error)) << error;
    // Until the program has set itself up (its exec still running) its arguments and executable
    // read as nothing: what relies on them then finds no match.
    std::optional<ProcessFacts> facts;
    ASSERT_TRUE(testkit::WaitUntil(
        [&] {
            facts = DescribeProcess(child.Pid());
            return facts && !facts->commandLine.empty() && facts->executable;
        },
        std::chrono::seconds(20)))
        << (facts ? "arguments " + std::to_string(facts->commandLine.size()) + ", executable " +
                        (facts->executable ? "read" : "unread") + ", state " + (facts->defunct ? "ended" : "running")
                  : std::string("no facts"));
    EXPECT_EQ(facts->shortName, "sleep");
    EXPECT_EQ(facts->commandLine, (std::vector<std::string>{"/bin/sleep", "30", "1"}));
    EXPECT_EQ(facts->executable, IdentityOfFile("/bin/sleep"));
    EXPECT_NE(facts->executable, IdentityOfFile("/bin/sh"));
    EXPECT_GE(facts->startTime, DescribeThisProcess()->startTime);
    EXPECT_EQ(facts->networkNamespace, DescribeThisProcess()->networkNamespace);
    child.Kill();
    ASSERT_TRUE(child.Wait(5000));
    EXPECT_FALSE(DescribeProcess(child.Pid()));
}

TEST(ProcessFacts, NoSuchProcess) {
    EXPECT_FALSE(DescribeProcess(0));
    EXPECT_FALSE(DescribeProcess(-1));
    EXPECT_FALSE(DescribeProcess(int64_t{1} << 40));
    EXPECT_FALSE(IdentityOfFile("/nonexistent/file"));
}

}  // namespace
}  // namespace kbr::platform
