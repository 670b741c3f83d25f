// The socket layer on this system, over 127.0.0.1 and ephemeral ports only: waits, a poll loop's
// wake-up, non-blocking accept and connect, and their errors.
#include "platform/Socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace kbr::platform {
namespace {

using namespace std::chrono_literals;

// A listening socket on 127.0.0.1 with an ephemeral port.
class Listener {
public:
    Listener() {
        socket_ = OpenSocket(SOCK_STREAM, true);
        address_.sin_family = AF_INET;
        address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        SocketLength length = sizeof address_;
        if (::bind(socket_, reinterpret_cast<sockaddr*>(&address_), sizeof address_) != 0 ||
            ::listen(socket_, 8) != 0 || ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address_), &length) != 0) {
            CloseSocket(socket_);
            socket_ = NO_SOCKET;
        }
    }
    ~Listener() { CloseSocket(socket_); }
    SocketHandle Get() const { return socket_; }
    const sockaddr_in& Address() const { return address_; }

private:
    SocketHandle socket_ = NO_SOCKET;
    sockaddr_in address_{};
};

// A blocking connection to the listener and its accepted end.
struct Pair {
    SocketHandle client = NO_SOCKET;
    SocketHandle server = NO_SOCKET;
    ~Pair() {
        CloseSocket(client);
        CloseSocket(server);
    }
};

void Connect(const Listener& listener, Pair& pair) {
    pair.client = OpenSocket(SOCK_STREAM);
    ASSERT_NE(pair.client, NO_SOCKET);
    ASSERT_EQ(::connect(pair.client, reinterpret_cast<const sockaddr*>(&listener.Address()), sizeof(sockaddr_in)), 0);
    ASSERT_EQ(WaitSocket(listener.Get(), false, 5000), 1);
    sockaddr_in peer{};
    pair.server = AcceptSocket(listener.Get(), &peer);
    ASSERT_NE(pair.server, NO_SOCKET);
    EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
}

TEST(Sockets, WaitTimesOutThenSeesDataAndTheEnd) {
    Listener listener;
    ASSERT_NE(listener.Get(), NO_SOCKET);
    Pair pair;
    Connect(listener, pair);
    EXPECT_EQ(WaitSocket(pair.server, false, 50), 0) << "nothing sent yet";
    EXPECT_EQ(WaitSocket(pair.client, true, 1000), 1) << "room to write";
    ASSERT_EQ(SendSome(pair.client, "hello", 5), 5);
    EXPECT_EQ(WaitSocket(pair.server, false, 5000), 1);
    char buffer[16] = {};
    EXPECT_EQ(ReceiveSome(pair.server, buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "hello");

    ShutdownSocket(pair.client);
    EXPECT_EQ(WaitSocket(pair.server, false, 5000), 1) << "the end of the stream is readable";
    EXPECT_EQ(ReceiveSome(pair.server, buffer, sizeof buffer), 0);
}

TEST(Sockets, NonBlockingAcceptWithNobodyWaitingWouldBlock) {
    Listener listener;
    ASSERT_NE(listener.Get(), NO_SOCKET);
    EXPECT_EQ(AcceptSocket(listener.Get(), nullptr, true), NO_SOCKET);
    EXPECT_TRUE(IsWouldBlock(LastSocketError()));
}

TEST(Sockets, NonBlockingConnectFinishes) {
    Listener listener;
    ASSERT_NE(listener.Get(), NO_SOCKET);
    const SocketHandle client = OpenSocket(SOCK_STREAM, true);
    ASSERT_NE(client, NO_SOCKET);
    const int rc = ::connect(client, reinterpret_cast<const sockaddr*>(&listener.Address()), sizeof(sockaddr_in));
    if (rc != 0) {
        EXPECT_TRUE(IsConnectInProgress(LastSocketError())) << SocketErrorText(LastSocketError());
        EXPECT_EQ(WaitSocket(client, true, 5000), 1);
    }
    EXPECT_EQ(PendingSocketError(client), 0);
    CloseSocket(client);
}

TEST(Sockets, NonBlockingConnectToAClosedPortIsRefused) {
    sockaddr_in closed{};
    {
        Listener listener;  // its port, once it is closed: nobody there
        ASSERT_NE(listener.Get(), NO_SOCKET);
        closed = listener.Address();
    }
    const SocketHandle refused = OpenSocket(SOCK_STREAM, true);
    ASSERT_NE(refused, NO_SOCKET);
    int error = 0;
    if (::connect(refused, reinterpret_cast<const sockaddr*>(&closed), sizeof closed) != 0) {
        error = LastSocketError();
        // Linux refuses on the loopback at once; Windows later: the wait for writing ends then.
        if (IsConnectInProgress(error)) {
            EXPECT_EQ(WaitSocket(refused, true, 5000), 1);
            error = PendingSocketError(refused);
        }
    }
    EXPECT_NE(error, 0);
    EXPECT_FALSE(IsConnectInProgress(error)) << SocketErrorText(error);
    CloseSocket(refused);
}

TEST(Sockets, WakeUpEndsAPollFromAnotherThread) {
    SocketWakeUp wake;
    ASSERT_TRUE(wake.Valid());
    SocketPollEntry entry{};
    entry.fd = wake.Handle();
    entry.events = POLLIN;
    EXPECT_EQ(PollSockets(&entry, 1, 20), 0) << "not woken yet";

    std::thread waker([&] {
        std::this_thread::sleep_for(50ms);
        wake.Notify();
    });
    const auto start = std::chrono::steady_clock::now();
    entry.revents = 0;
    EXPECT_EQ(PollSockets(&entry, 1, 10000), 1);
    EXPECT_TRUE(entry.revents & POLLIN);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    waker.join();

    wake.Drain();
    entry.revents = 0;
    EXPECT_EQ(PollSockets(&entry, 1, 20), 0) << "drained";
}

}  // namespace
}  // namespace kbr::platform
