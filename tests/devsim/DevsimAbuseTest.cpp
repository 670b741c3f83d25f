// The simulator keeps serving under abuse: clients that stream bytes without pause and never
// read, and many connections that open and then say nothing.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "testkit/DevsimHarness.h"
#include "testkit/WaitUntil.h"

namespace kbr::devsim::test {
namespace {

using Clock = std::chrono::steady_clock;

// Room for the test's own connections: the soft limit raised as far as the hard one allows.
void RaiseOpenFileLimit(unsigned wanted) {
#ifndef _WIN32
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted) return;
    limit.rlim_cur = std::min(static_cast<rlim_t>(wanted), limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
#else
    (void)wanted;
#endif
}

// Streams bytes at the device as fast as it takes them, never reading, until destroyed.
class Flooder {
public:
    explicit Flooder(uint16_t port) {
        fd_ = platform::OpenSocket(SOCK_STREAM);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = fd_ != platform::NO_SOCKET &&
                     ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     platform::SetSocketNonBlocking(fd_, true);
        if (connected_) thread_ = std::thread([this] { Run(); });
    }
    ~Flooder() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        platform::CloseSocket(fd_);
    }
    bool Connected() const { return connected_; }
    size_t Sent() const { return sent_; }

private:
    void Run() {
        const std::vector<uint8_t> junk(64 * 1024, 0x5A);
        while (!stop_) {
            const long n = platform::SendSome(fd_, junk.data(), junk.size());
            if (n > 0) {
                sent_ += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && !platform::IsWouldBlock(platform::LastSocketError())) return;  // closed by the device
            (void)platform::WaitSocket(fd_, true, 10);  // until the device takes more (bounded, so stop_ is seen)
        }
    }

    platform::SocketHandle fd_ = platform::NO_SOCKET;
    bool connected_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> sent_{0};
    std::thread thread_;
};

// As reported: two flooders kept the device busy dropping their bytes, and 256 silent
// connections locked everyone else out for good.
TEST(DevsimAbuse, ARealClientIsServedWithinASecondBesideFloodersAndIdleConnections) {
    constexpr int IDLE = 300;
    RaiseOpenFileLimit(IDLE + 64);
    DevsimProcess device;
    std::string error;
    ASSERT_TRUE(device.Start({}, &error)) << error;

    std::vector<Client> idle;
    for (int i = 0; i < IDLE; ++i) {
        Client client;
        ASSERT_TRUE(client.Connect(device.Port())) << "idle connection " << i;
        idle.push_back(std::move(client));
    }
    Flooder first(device.Port());
    Flooder second(device.Port());
    ASSERT_TRUE(first.Connected() && second.Connected());
    // Until both flood the device in earnest.
    (void)testkit::WaitUntil([&] { return first.Sent() >= 1024 * 1024 && second.Sent() >= 1024 * 1024; }, 10s);
    ASSERT_GE(first.Sent(), 1024u * 1024);
    ASSERT_GE(second.Sent(), 1024u * 1024);

    for (int round = 0; round < 3; ++round) {
        Client client;
        const auto start = Clock::now();
        ASSERT_TRUE(client.Connect(device.Port()));
        ASSERT_TRUE(client.Send(BuildLoginRequest("admin")));
        const std::optional<Bytes> reply = client.Receive(1s);
        ASSERT_TRUE(reply && !reply->empty()) << "round " << round << ": no answer within 1 s";
        EXPECT_EQ(HeaderOf(*reply).status, 0);
        EXPECT_LT(Clock::now() - start, 1s);
    }
    EXPECT_GE(first.Sent(), 1024u * 1024);  // still flooding meanwhile
}

// Silent connections are closed after the idle time; one that logged in stays as long as its
// client keeps it (the configuration program keeps its connection for its whole run).
TEST(DevsimAbuse, IdleConnectionsAreClosedButALoggedInOneStays) {
    DevsimProcess device;
    std::string error;
    ASSERT_TRUE(device.Start({"--idle-timeout", "1", "--verbose"}, &error)) << error;
    Client silent;
    ASSERT_TRUE(silent.Connect(device.Port()));
    Client program;
    ASSERT_TRUE(program.Connect(device.Port()));
    ASSERT_EQ(HeaderOf(program.Exchange(BuildLoginRequest("admin"))).status, 0);
    Client refused;
    ASSERT_TRUE(refused.Connect(device.Port()));
    ASSERT_EQ(HeaderOf(refused.Exchange(BuildLoginRequest("wrong"))).status, 1);

    const auto start = Clock::now();
    EXPECT_EQ(silent.Receive(5s), Bytes{});  // closed by the device
    EXPECT_GE(Clock::now() - start, 500ms);
    EXPECT_EQ(refused.Receive(5s), Bytes{});
    EXPECT_TRUE(device.WaitForStderr("idle for 1 s"));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(*ReadValueReply(program.Exchange(BuildGetValueRequest(KEY_PRODUCT_ID))), "KBR3300");
}

TEST(DevsimAbuse, IdleTimeoutMustBeANumberOfSeconds) {
    for (const char* bad : {"soon", "-1", "", "86401"}) {
        DevsimProcess device;
        EXPECT_FALSE(device.Start({"--idle-timeout", bad}));
        EXPECT_EQ(device.WaitForExit(), 2) << bad;
        EXPECT_NE(device.Stderr().find("--idle-timeout"), std::string::npos) << device.Stderr();
    }
}

}  // namespace
}  // namespace kbr::devsim::test
