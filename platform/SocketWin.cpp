// Windows Sockets.

#include <cstring>

#include "platform/Socket.h"

namespace kbr::platform {

namespace {

void NotInherited(SocketHandle socket) {
    if (socket != NO_SOCKET) ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

int ClampedLength(size_t size) { return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size); }

}  // namespace

SocketsStart StartSockets(uint8_t major, uint8_t minor) {
    WSADATA data{};
    const bool started = ::WSAStartup(MAKEWORD(major, minor), &data) == 0;
    return {started, LOBYTE(data.wVersion), HIBYTE(data.wVersion)};
}

void StopSockets() { ::WSACleanup(); }

SocketHandle OpenSocket(int type, bool nonBlocking) {
    const SocketHandle socket =
        ::WSASocketW(AF_INET, type, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == NO_SOCKET) return socket;
    NotInherited(socket);  // systems without WSA_FLAG_NO_HANDLE_INHERIT ignore the flag
    if (nonBlocking && !SetSocketNonBlocking(socket, true)) {
        const int error = ::WSAGetLastError();
        ::closesocket(socket);
        ::WSASetLastError(error);
        return NO_SOCKET;
    }
    return socket;
}

SocketHandle AcceptSocket(SocketHandle listener, sockaddr_in* peer, bool nonBlocking) {
    int length = sizeof(sockaddr_in);
    const SocketHandle socket = ::accept(listener, reinterpret_cast<sockaddr*>(peer), peer ? &length : nullptr);
    if (socket == NO_SOCKET) return socket;
    NotInherited(socket);
    // An accepted socket takes the listener's mode: set it either way.
    SetSocketNonBlocking(socket, nonBlocking);
    return socket;
}

bool SetSocketNonBlocking(SocketHandle socket, bool nonBlocking) {
    u_long mode = nonBlocking ? 1 : 0;
    return ::ioctlsocket(socket, FIONBIO, &mode) == 0;
}

bool SetSocketOption(SocketHandle socket, int level, int name, int value) {
    return ::setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

void AllowQuickRebind(SocketHandle) {}

void ShutdownSocket(SocketHandle socket) { ::shutdown(socket, SD_BOTH); }

void CloseSocket(SocketHandle socket) {
    if (socket != NO_SOCKET) ::closesocket(socket);
}

long ReceiveSome(SocketHandle socket, void* buffer, size_t size) {
    return ::recv(socket, static_cast<char*>(buffer), ClampedLength(size), 0);
}

long SendSome(SocketHandle socket, const void* data, size_t size) {
    return ::send(socket, static_cast<const char*>(data), ClampedLength(size), 0);
}

int WaitSocket(SocketHandle socket, bool forWriting, int timeoutMs) {
    // select: on Windows its sets hold handles, not descriptor numbers, so any socket fits. A
    // connect that fails shows in the exception set, not as writable: it ends a wait for writing
    // too, as it does on Linux (PendingSocketError then tells why).
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(socket, &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = ::select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr,
                               forWriting ? &failed : nullptr, timeoutMs < 0 ? nullptr : &limit);
    return ready == SOCKET_ERROR ? -1 : (ready > 0 ? 1 : 0);
}

int PollSockets(SocketPollEntry* entries, size_t count, int timeoutMs) {
    const int ready = ::WSAPoll(entries, static_cast<ULONG>(count), timeoutMs < 0 ? -1 : timeoutMs);
    return ready == SOCKET_ERROR ? -1 : ready;
}

int LastSocketError() { return ::WSAGetLastError(); }

void SetLastSocketError(int error) { ::WSASetLastError(error); }

int PendingSocketError(SocketHandle socket) {
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        return ::WSAGetLastError();
    }
    return error;
}

bool IsInterrupted(int error) { return error == WSAEINTR; }

bool IsWouldBlock(int error) { return error == WSAEWOULDBLOCK; }

// A non-blocking connect that has not finished yet fails with WSAEWOULDBLOCK on Windows.
bool IsConnectInProgress(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }

bool IsAddressUnavailable(int error) { return error == WSAEADDRNOTAVAIL; }

bool IsConnectionAborted(int error) { return error == WSAECONNRESET || error == WSAECONNABORTED; }

bool IsConnectionRefused(int error) { return error == WSAECONNREFUSED; }

std::string SocketErrorText(int error) {
    char* buffer = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length && buffer ? std::string(buffer, length) : "socket error " + std::to_string(error);
    if (buffer) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

SocketWakeUp::SocketWakeUp() {
    // A UDP socket on the loopback, connected to itself: what it sends, it receives.
    const SocketHandle socket = OpenSocket(SOCK_DGRAM, true);
    if (socket == NO_SOCKET) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::closesocket(socket);
        return;
    }
    read_ = socket;
    write_ = socket;
}

SocketWakeUp::~SocketWakeUp() { CloseSocket(read_); }

void SocketWakeUp::Notify() {
    if (write_ == NO_SOCKET) return;
    const char byte = 1;
    ::send(write_, &byte, 1, 0);
}

void SocketWakeUp::Drain() {
    char drain[64];
    while (::recv(read_, drain, sizeof drain, 0) > 0) {
    }
}

}  // namespace kbr::platform
