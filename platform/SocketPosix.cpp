// BSD sockets (Linux).

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Socket.h"

namespace kbr::platform {

SocketsStart StartSockets(uint8_t major, uint8_t minor) { return {true, major, minor}; }

void StopSockets() {}

SocketHandle OpenSocket(int type, bool nonBlocking) {
    return ::socket(AF_INET, type | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}

SocketHandle AcceptSocket(SocketHandle listener, sockaddr_in* peer, bool nonBlocking) {
    socklen_t length = sizeof(sockaddr_in);
    return ::accept4(listener, reinterpret_cast<sockaddr*>(peer), peer ? &length : nullptr,
                     SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0));
}

bool SetSocketNonBlocking(SocketHandle socket, bool nonBlocking) {
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0) return false;
    return ::fcntl(socket, F_SETFL, nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

bool SetSocketOption(SocketHandle socket, int level, int name, int value) {
    return ::setsockopt(socket, level, name, &value, sizeof value) == 0;
}

void AllowQuickRebind(SocketHandle socket) { SetSocketOption(socket, SOL_SOCKET, SO_REUSEADDR, 1); }

void ShutdownSocket(SocketHandle socket) { ::shutdown(socket, SHUT_RDWR); }

void CloseSocket(SocketHandle socket) {
    if (socket != NO_SOCKET) ::close(socket);
}

long ReceiveSome(SocketHandle socket, void* buffer, size_t size) { return ::recv(socket, buffer, size, 0); }

long SendSome(SocketHandle socket, const void* data, size_t size) { return ::send(socket, data, size, MSG_NOSIGNAL); }

int WaitSocket(SocketHandle socket, bool forWriting, int timeoutMs) {
    // poll rather than select, so that any descriptor number works.
    pollfd entry{socket, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    const int ready = ::poll(&entry, 1, timeoutMs < 0 ? -1 : timeoutMs);
    return ready > 0 ? 1 : ready;
}

int PollSockets(SocketPollEntry* entries, size_t count, int timeoutMs) {
    return ::poll(entries, static_cast<nfds_t>(count), timeoutMs < 0 ? -1 : timeoutMs);
}

int LastSocketError() { return errno; }

void SetLastSocketError(int error) { errno = error; }

int PendingSocketError(SocketHandle socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

bool IsInterrupted(int error) { return error == EINTR; }

bool IsWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

bool IsConnectInProgress(int error) { return error == EINPROGRESS; }

bool IsAddressUnavailable(int error) { return error == EADDRNOTAVAIL; }

bool IsConnectionAborted(int error) { return error == ECONNABORTED; }

bool IsConnectionRefused(int error) { return error == ECONNREFUSED; }

std::string SocketErrorText(int error) { return std::strerror(error); }

SocketWakeUp::SocketWakeUp() {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        read_ = fds[0];
        write_ = fds[1];
    }
}

SocketWakeUp::~SocketWakeUp() {
    CloseSocket(read_);
    CloseSocket(write_);
}

void SocketWakeUp::Notify() {
    if (write_ == NO_SOCKET) return;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(write_, &byte, 1);
}

void SocketWakeUp::Drain() {
    char drain[64];
    while (::read(read_, drain, sizeof drain) > 0) {
    }
}

}  // namespace kbr::platform
