#pragma once
// IPv4 TCP and UDP sockets on every system: BSD sockets on Linux, Windows Sockets on Windows.
// Callers keep the BSD calls that are the same on both (bind, listen, connect, getsockname,
// getaddrinfo, inet_pton, htons); what differs (the handle type, closing, errors, waiting, flags
// that only one system has) goes through the few functions here. No Qt.

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#endif

namespace kbr::platform {

#ifdef _WIN32
using SocketHandle = SOCKET;
inline constexpr SocketHandle NO_SOCKET = INVALID_SOCKET;
using SocketPollEntry = WSAPOLLFD;
using SocketLength = int;
inline constexpr int TIMED_OUT = WSAETIMEDOUT;  // the error of a connection that took too long
#else
using SocketHandle = int;
inline constexpr SocketHandle NO_SOCKET = -1;
using SocketPollEntry = pollfd;
using SocketLength = socklen_t;
inline constexpr int TIMED_OUT = ETIMEDOUT;
#endif

// ---- Start-up ----------------------------------------------------------------------------------

struct SocketsStart {
    bool started = false;
    // The version the system's sockets offer (Windows Sockets' answer, also when the start failed;
    // BSD sockets need no start and report the version asked for).
    uint8_t major = 0;
    uint8_t minor = 0;
};
// Starts the system's sockets for this process, asking for version major.minor. Every successful
// start is ended by one StopSockets().
SocketsStart StartSockets(uint8_t major, uint8_t minor);
void StopSockets();

// ---- One socket --------------------------------------------------------------------------------

// A new IPv4 socket of the type (SOCK_STREAM, SOCK_DGRAM), protocol 0, not inherited by programs
// this one starts. NO_SOCKET on failure (LastSocketError() says why).
SocketHandle OpenSocket(int type, bool nonBlocking = false);
// The next connection of a listening socket, not inherited, non-blocking if asked; NO_SOCKET when
// there is none (or on failure). peer may be null.
SocketHandle AcceptSocket(SocketHandle listener, sockaddr_in* peer, bool nonBlocking = false);
bool SetSocketNonBlocking(SocketHandle socket, bool nonBlocking);
bool SetSocketOption(SocketHandle socket, int level, int name, int value);
// Lets a listening socket bind its port again at once, while connections of an earlier one still
// wait out their close (SO_REUSEADDR on Linux; Windows allows that anyway, and its SO_REUSEADDR
// would let another program take the port, so nothing is set there).
void AllowQuickRebind(SocketHandle socket);
// Shuts the connection down in both directions; the socket stays to be closed.
void ShutdownSocket(SocketHandle socket);
void CloseSocket(SocketHandle socket);

// One recv / send. The count, 0 for end of stream (receive only), -1 on error. Sending never
// raises a signal for a connection the peer has closed.
long ReceiveSome(SocketHandle socket, void* buffer, size_t size);
long SendSome(SocketHandle socket, const void* data, size_t size);

// Waits until the socket can be read (or written; a non-blocking connect that ended, either way,
// also ends a wait for writing): 1 ready, 0 the time ran out, -1 the wait failed. timeoutMs < 0:
// no limit.
int WaitSocket(SocketHandle socket, bool forWriting, int timeoutMs);
// poll() over sockets (WSAPoll on Windows): the number of entries with events, 0 on time-out, -1
// on error. timeoutMs < 0: no limit.
int PollSockets(SocketPollEntry* entries, size_t count, int timeoutMs);

// ---- Errors ------------------------------------------------------------------------------------

// The error of the last failed socket call on this thread (errno; WSAGetLastError on Windows),
// and setting it, for a caller that makes other calls before it reports one.
int LastSocketError();
void SetLastSocketError(int error);
// The error a non-blocking connect ended with (SO_ERROR); 0 when it succeeded.
int PendingSocketError(SocketHandle socket);
bool IsInterrupted(int error);         // the call was interrupted by a signal: make it again
bool IsWouldBlock(int error);          // a non-blocking call had nothing to do now
bool IsConnectInProgress(int error);   // a non-blocking connect goes on in the background
bool IsAddressUnavailable(int error);  // bind: no interface holds that address
bool IsConnectionAborted(int error);   // accept: the peer gave up before it was taken
bool IsConnectionRefused(int error);   // connect: nobody listens there
std::string SocketErrorText(int error);

// ---- Waking a poll loop ------------------------------------------------------------------------

// A handle that a poll loop watches for reading and that another thread (or a signal handler)
// makes readable, to end the loop's wait. A pipe on Linux; a datagram socket that sends to itself
// on Windows, where only sockets can be polled.
class SocketWakeUp {
public:
    SocketWakeUp();
    ~SocketWakeUp();
    SocketWakeUp(const SocketWakeUp&) = delete;
    SocketWakeUp& operator=(const SocketWakeUp&) = delete;

    bool Valid() const { return read_ != NO_SOCKET; }
    SocketHandle Handle() const { return read_; }
    // Makes the handle readable. Safe from any thread and from a signal handler.
    void Notify();
    // Takes everything that Notify() put there.
    void Drain();

private:
    SocketHandle read_ = NO_SOCKET;
    SocketHandle write_ = NO_SOCKET;
};

}  // namespace kbr::platform
