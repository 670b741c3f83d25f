// The wizard's probe link over loopback: a completed connection is all it asks for, it is held
// until closed, and a failed open leaves the wizard's trace line.

#include "wizard/WizardLink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace kbr::wizard {
namespace {

// A listening socket on 127.0.0.1 with an ephemeral port.
class Listener {
public:
    Listener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd_, 4) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "cannot listen on loopback";
        }
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { Close(); }
    void Close() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    std::string Port() const { return std::to_string(port_); }
    // Accepts the connection the link made (bounded wait), or -1.
    int Accept(int waitMs = 5000) const {
        pollfd entry{fd_, POLLIN, 0};
        return poll(&entry, 1, waitMs) == 1 ? accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

struct Traces {
    std::vector<std::string> lines;
    WizardLink::TraceFunction Sink() {
        return [this](std::string_view line) { lines.emplace_back(line); };
    }
};

// True once the peer has closed the connection (bounded wait).
bool PeerClosed(int fd, int waitMs = 5000) {
    pollfd entry{fd, POLLIN, 0};
    char byte;
    return poll(&entry, 1, waitMs) == 1 && recv(fd, &byte, 1, 0) == 0;
}

TEST(WizardLinkTest, ConnectsHoldsAndCloses) {
    Listener listener;
    Traces traces;
    WizardLink link("127.0.0.1", listener.Port(), traces.Sink());
    ASSERT_TRUE(link.Open());
    const int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    EXPECT_FALSE(PeerClosed(peer, 50)) << "the probe connection must stay open until closed";

    // A second open while connected is refused with its trace line and leaves the connection.
    EXPECT_FALSE(link.Open());
    EXPECT_EQ(traces.lines, std::vector<std::string>{"IsOpen()"});
    EXPECT_FALSE(PeerClosed(peer, 50));

    link.Close();
    EXPECT_TRUE(PeerClosed(peer));
    close(peer);
    link.Close();  // closing twice is harmless
}

TEST(WizardLinkTest, RefusedConnectionIsTracedAndCanBeRetried) {
    Listener listener;
    const std::string port = listener.Port();
    listener.Close();  // nothing listens there now

    Traces traces;
    WizardLink link("127.0.0.1", port, traces.Sink());
    EXPECT_FALSE(link.Open());
    EXPECT_FALSE(link.Open());
    EXPECT_EQ(traces.lines, (std::vector<std::string>{"SOCKET_ERROR", "SOCKET_ERROR"}));
    link.Close();  // nothing to close
}

// Opens a link after dropping the descriptor limit to the descriptors in use: true when the open
// failed with the wizard's two trace lines, the second one naming the system's error.
bool OpenWithoutDescriptorsIsTraced(const std::string& port) {
    Traces traces;
    WizardLink link("127.0.0.1", port, traces.Sink());
    traces.lines.reserve(4);
    // An open and a refused open first, with descriptors to spare: UndefinedBehaviorSanitizer
    // checks an object's type on its first calls with the help of a pipe, which it cannot make
    // once no descriptor is left, and then reports the object as invalid. Its later checks of the
    // same types need nothing.
    {
        WizardLink warmUp("127.0.0.1", port, [](std::string_view) {});
        if (warmUp.Open()) warmUp.Close();
        WizardLink refused("127.0.0.1", "1", [](std::string_view) {});
        (void)refused.Open();
    }
    const int lowestFree = dup(0);
    close(lowestFree);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(lowestFree);
    setrlimit(RLIMIT_NOFILE, &limit);
    const bool opened = link.Open();
    const std::vector<std::string> expected = {"sockNew = INVALID_SOCKET",
                                               "WSAGetLastError = " + std::to_string(EMFILE)};
    return !opened && traces.lines == expected;
}

// Runs in a child process, whose descriptor limit may drop.
TEST(WizardLinkTest, NoSocketIsTracedWithTheError) {
    Listener listener;
    const std::string port = listener.Port();
    EXPECT_EXIT(std::_Exit(OpenWithoutDescriptorsIsTraced(port) ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kbr::wizard
