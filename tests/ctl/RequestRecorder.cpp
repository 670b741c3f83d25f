#include "tests/ctl/RequestRecorder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kbr::ctl::test {

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void NoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

RequestRecorder::RequestRecorder(uint16_t target) : target_(target) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wake_, O_CLOEXEC) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

RequestRecorder::~RequestRecorder() {
    if (wake_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    }
    if (thread_.joinable()) thread_.join();
    for (int fd : {listener_, wake_[0], wake_[1]}) {
        if (fd >= 0) ::close(fd);
    }
}

std::vector<Bytes> RequestRecorder::Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

void RequestRecorder::Serve() {
    struct Pair {
        int client;
        int device;
    };
    std::vector<Pair> pairs;
    std::vector<pollfd> fds;
    uint8_t buffer[RECEIVE_BUFFER_SIZE + 1];
    for (;;) {
        fds.clear();
        fds.push_back({wake_[0], POLLIN, 0});
        fds.push_back({listener_, POLLIN, 0});
        for (const Pair& pair : pairs) {
            fds.push_back({pair.client, POLLIN, 0});
            fds.push_back({pair.device, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
        if (fds[0].revents) break;
        std::vector<Pair> kept;
        for (size_t i = 0; i < pairs.size(); ++i) {
            const Pair& pair = pairs[i];
            bool open = true;
            for (int side = 0; side < 2 && open; ++side) {
                if (!(fds[2 + 2 * i + side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const int from = side == 0 ? pair.client : pair.device;
                const int to = side == 0 ? pair.device : pair.client;
                const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    open = false;
                    break;
                }
                if (side == 0) {
                    std::lock_guard lock(mutex_);
                    requests_.emplace_back(buffer, buffer + n);
                }
                open = WriteAll(to, buffer, static_cast<size_t>(n));
            }
            if (open) {
                kept.push_back(pair);
            } else {
                ::close(pair.client);
                ::close(pair.device);
            }
        }
        pairs = std::move(kept);
        if (fds[1].revents & POLLIN) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                const int device = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const sockaddr_in address = Loopback(target_);
                if (::connect(device, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
                    NoDelay(client);
                    NoDelay(device);
                    pairs.push_back({client, device});
                } else {
                    ::close(device);
                    ::close(client);
                }
            }
        }
    }
    for (const Pair& pair : pairs) {
        ::close(pair.client);
        ::close(pair.device);
    }
}

}  // namespace kbr::ctl::test
