#include "link/DeviceLink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "platform/Socket.h"

namespace kbr {
namespace {

namespace net = platform;

using namespace std::chrono_literals;

// A listening socket on 127.0.0.1 with an ephemeral port.
class Listener {
public:
    explicit Listener(int backlog = 8) {
        fd_ = net::OpenSocket(SOCK_STREAM);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::listen(fd_, backlog);
        net::SocketLength length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { net::CloseSocket(fd_); }
    std::string Port() const { return std::to_string(port_); }
    // The peer's end of the next connection (the link has connected already: the kernel queued it).
    net::SocketHandle Accept() { return net::AcceptSocket(fd_, nullptr); }

private:
    net::SocketHandle fd_ = net::NO_SOCKET;
    uint16_t port_ = 0;
};

// Records what the receive thread delivers.
class RecordingLink : public DeviceLink {
public:
    ~RecordingLink() override { Stop(); }

    struct Event {
        std::string kind;  // "receive" or "event"
        int value;         // count or code
    };

    bool WaitForEvents(size_t count, std::chrono::milliseconds limit = 5s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return events_.size() >= count; });
    }
    std::vector<Event> Events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

protected:
    void OnReceive(const uint8_t*, int count) override { Add({"receive", count}); }
    void OnLinkEvent(int code) override { Add({"event", code}); }

private:
    void Add(Event event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

void SendBytes(net::SocketHandle fd, size_t count) {
    std::vector<uint8_t> data(count, 0x41);
    ASSERT_EQ(net::SendSome(fd, data.data(), data.size()), static_cast<long>(count));
}

TEST(DeviceLinkOpen, SecondOpenFailsAndKeepsTheFirstConnection) {
    Listener listener;
    DeviceLink link;
    ASSERT_TRUE(link.Open("127.0.0.1", listener.Port()));
    const net::SocketHandle peer = listener.Accept();
    ASSERT_NE(peer, net::NO_SOCKET);
    EXPECT_FALSE(link.Open("127.0.0.1", listener.Port()));
    EXPECT_TRUE(link.IsOpen());
    // The first connection still carries data.
    const uint8_t byte = 7;
    EXPECT_EQ(link.Send(&byte, 1, DeviceLink::NO_TIME_LIMIT), 1);
    uint8_t got = 0;
    EXPECT_EQ(net::ReceiveSome(peer, &got, 1), 1);
    EXPECT_EQ(got, 7);
    net::CloseSocket(peer);
}

TEST(DeviceLinkOpen, FailsForTextsThatDoNotConvertOrNobodyListening) {
    Listener listener;
    struct Case {
        const char* address;
        std::string port;
    };
    const Case cases[] = {
        {"127.0.0.1", "abc"},  // port 0
        {"not-an-address", listener.Port()},
        {"", listener.Port()},
        {"127.0.0.1", "0"},
    };
    for (const auto& c : cases) {
        DeviceLink link;
        EXPECT_FALSE(link.Open(c.address, c.port)) << c.address << ":" << c.port;
        EXPECT_FALSE(link.IsOpen());
    }
}

// A peer whose connection queue is full drops every further connection request unanswered, as
// an address that routes but never answers does: the connect must give up at the limit, not
// wait for the system's own timeout of minutes.
TEST(DeviceLinkOpen, GivesUpOnAPeerThatNeverAnswersAtTheLimit) {
    Listener listener(0);
    std::vector<DeviceLink> fillers(4);
    for (auto& filler : fillers) {
        if (!filler.Open("127.0.0.1", listener.Port(), SOCK_STREAM, 200)) break;
    }
    DeviceLink link;
    const auto start = std::chrono::steady_clock::now();
    net::SetLastSocketError(0);
    EXPECT_FALSE(link.Open("127.0.0.1", listener.Port(), SOCK_STREAM, 300));
    const int error = net::LastSocketError();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(error, net::TIMED_OUT);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 10s);
}

TEST(DeviceLinkOpen, ARefusedConnectionSaysSoAtOnce) {
    std::string port;
    {
        Listener closed;
        port = closed.Port();
    }
    DeviceLink link;
    net::SetLastSocketError(0);
    EXPECT_FALSE(link.Open("127.0.0.1", port));
    EXPECT_TRUE(net::IsConnectionRefused(net::LastSocketError())) << net::SocketErrorText(net::LastSocketError());
}

TEST(DeviceLinkOpen, ConnectedSocketBlocksAgain) {
    Listener listener;
    DeviceLink link;
    ASSERT_TRUE(link.Open("127.0.0.1", listener.Port()));
    const net::SocketHandle peer = listener.Accept();
    // A receive with no time limit waits for the data rather than failing with EAGAIN.
    std::thread sender([peer] {
        std::this_thread::sleep_for(50ms);
        SendBytes(peer, 3);
    });
    uint8_t buffer[8];
    EXPECT_EQ(link.Receive(buffer, sizeof buffer, DeviceLink::NO_TIME_LIMIT), 3);
    sender.join();
    net::CloseSocket(peer);
}

TEST(DeviceLinkOpen, PortIsReadLikeAtoi) {
    Listener listener;
    DeviceLink link;
    EXPECT_TRUE(link.Open("127.0.0.1", "  " + listener.Port() + "xyz"));
}

TEST(DeviceLinkReceive, SixteenByteReadsAreReportedNotDelivered) {
    Listener listener;
    RecordingLink link;
    ASSERT_TRUE(link.Open("127.0.0.1", listener.Port()));
    const net::SocketHandle peer = listener.Accept();
    ASSERT_TRUE(link.StartReceiver());
    // One read at a time: wait for each before sending the next, so reads are not joined.
    SendBytes(peer, 15);
    ASSERT_TRUE(link.WaitForEvents(1));
    SendBytes(peer, 16);
    ASSERT_TRUE(link.WaitForEvents(2));
    SendBytes(peer, 17);
    ASSERT_TRUE(link.WaitForEvents(3));
    auto events = link.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, "receive");
    EXPECT_EQ(events[0].value, 15);
    EXPECT_EQ(events[1].kind, "event");
    EXPECT_EQ(events[1].value, DeviceLink::LINK_READ16);
    EXPECT_EQ(events[2].kind, "receive");
    EXPECT_EQ(events[2].value, 17);
    net::CloseSocket(peer);
}

TEST(DeviceLinkReceive, PeerCloseIsReportedOnceAsLinkLost) {
    Listener listener;
    RecordingLink link;
    ASSERT_TRUE(link.Open("127.0.0.1", listener.Port()));
    const net::SocketHandle peer = listener.Accept();
    ASSERT_TRUE(link.StartReceiver());
    net::CloseSocket(peer);
    ASSERT_TRUE(link.WaitForEvents(1));
    std::this_thread::sleep_for(300ms);  // several receive passes: the loss is not reported again
    link.Stop();
    auto events = link.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, "event");
    EXPECT_EQ(events[0].value, DeviceLink::LINK_LOST);
}

TEST(DeviceLinkStop, NeverOpenedReturnsAtOnce) {
    DeviceLink link;
    auto start = std::chrono::steady_clock::now();
    link.Stop();
    link.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(link.IsReceiving());
}

TEST(DeviceLinkStop, DuringTheReceiveWaitEndsTheThreadWithoutALossReport) {
    Listener listener;
    RecordingLink link;
    ASSERT_TRUE(link.Open("127.0.0.1", listener.Port()));
    const net::SocketHandle peer = listener.Accept();
    ASSERT_TRUE(link.StartReceiver());
    std::this_thread::sleep_for(30ms);  // inside a 100 ms wait
    auto start = std::chrono::steady_clock::now();
    link.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "ended by itself, not after the 5 s bound";
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(link.IsReceiving());
    EXPECT_TRUE(link.Events().empty()) << "closing the link is not a lost link";
    net::CloseSocket(peer);
}

TEST(DeviceLinkStop, AStoppedLinkOpensAgain) {
    Listener listener;
    RecordingLink link;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(link.Open("127.0.0.1", listener.Port())) << round;
        const net::SocketHandle peer = listener.Accept();
        ASSERT_TRUE(link.StartReceiver());
        SendBytes(peer, 20);
        ASSERT_TRUE(link.WaitForEvents(static_cast<size_t>(round + 1)));
        link.Stop();
        net::CloseSocket(peer);
    }
    for (const auto& event : link.Events()) EXPECT_EQ(event.kind, "receive");
}

TEST(DeviceLinkReceiver, StartsOnceAndOnlyWhenOpen) {
    Listener listener;
    RecordingLink link;
    EXPECT_FALSE(link.StartReceiver()) << "not open";
    ASSERT_TRUE(link.Open("127.0.0.1", listener.Port()));
    const net::SocketHandle peer = listener.Accept();
    EXPECT_TRUE(link.StartReceiver());
    EXPECT_FALSE(link.StartReceiver());
    EXPECT_TRUE(link.IsReceiving());
    link.Stop();
    net::CloseSocket(peer);
}

TEST(DeviceLinkIo, DegenerateArgumentsTouchNothing) {
    DeviceLink closed;
    uint8_t buffer[4] = {};
    EXPECT_EQ(closed.Send(buffer, 4, DeviceLink::NO_TIME_LIMIT), 0) << "closed link";
    EXPECT_EQ(closed.Receive(buffer, 4, 10), 0) << "no socket";

    Listener listener;
    DeviceLink link;
    ASSERT_TRUE(link.Open("127.0.0.1", listener.Port()));
    const net::SocketHandle peer = listener.Accept();
    EXPECT_EQ(link.Receive(buffer, 0, 10), 0);
    EXPECT_EQ(link.Receive(nullptr, 4, 10), 0);
    EXPECT_EQ(link.Send(nullptr, 4, 10), 0);
    EXPECT_EQ(link.Receive(buffer, 4, 20), 0) << "no data within the wait";
    net::CloseSocket(peer);
    EXPECT_EQ(link.Receive(buffer, 4, 1000), -1) << "peer closed";
}

TEST(DeviceLinkIo, SendWritesOnceAndReceiveReadsOnce) {
    Listener listener;
    DeviceLink link;
    ASSERT_TRUE(link.Open("127.0.0.1", listener.Port()));
    const net::SocketHandle peer = listener.Accept();
    const std::vector<uint8_t> request(269, 0x5A);
    EXPECT_EQ(link.Send(request.data(), static_cast<int>(request.size()), DeviceLink::NO_TIME_LIMIT), 269);
    std::vector<uint8_t> got(269);
    size_t total = 0;
    while (total < got.size()) {
        const long n = net::ReceiveSome(peer, got.data() + total, got.size() - total);
        ASSERT_GT(n, 0);
        total += static_cast<size_t>(n);
    }
    EXPECT_EQ(got, request);
    SendBytes(peer, 8);
    uint8_t reply[2024];
    EXPECT_EQ(link.Receive(reply, sizeof reply, 2000), 8);
    net::CloseSocket(peer);
}

}  // namespace
}  // namespace kbr
