#pragma once
// One TCP stream connection to the device plus a receive thread that hands every read to the
// owner through two virtual notifications. The link does no framing: each read is one message.
//
// Threads: the owner's thread opens, sends, closes and stops; the receive thread runs
// ReceiveLoop and the notifications. The link counts as closed before its socket is released,
// so a read that fails because the owner closed the link is never reported as LINK_LOST. The
// socket descriptor itself is released only once no receive thread can still be using it, so a
// descriptor number reused by a later Open can never be read by an old receive thread.
//
// The receive thread blocks in its read: Close() shuts the socket down, which ends a blocked read
// at once (on systems where that is not known to hold it reads in RECEIVE_WAIT_MS steps). A send
// without a time limit goes straight to the socket, without waiting for it first.
//
// A class that overrides the notifications must call Stop() in its own destructor: by the time
// ~DeviceLink runs, the overrides are gone.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/Socket.h"

namespace kbr {

class DeviceLink {
public:
    static constexpr int LINK_LOST = 2;    // a read failed or the peer closed while open
    static constexpr int LINK_READ16 = 3;  // a read returned exactly 16 bytes (not delivered)
    static constexpr uint32_t NO_TIME_LIMIT = 0xFFFFFFFFu;
    static constexpr uint32_t RECEIVE_WAIT_MS = 100;  // after a loss, and where reads cannot block
    static constexpr uint32_t STOP_WAIT_MS = 5000;
    // How long a connect may take before it counts as failed: the time a Windows PC gives a
    // connect (a 3 s first wait, then two retries), which the programs' waits were sized for.
    // Linux alone would wait about 135 s for an address that routes but never answers.
    static constexpr uint32_t CONNECT_TIME_LIMIT_MS = 21000;

    DeviceLink() = default;
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    virtual ~DeviceLink();

    // Connects a new socket, waiting at most connectLimitMs for the connection. False when
    // already open, when the socket cannot be made or the connection fails or takes longer (errno
    // then tells why: ETIMEDOUT for the limit). The port is read like atoi ("abc" is 0). The
    // connected socket is a plain blocking one.
    [[nodiscard]] bool Open(std::string_view address, std::string_view port, int socketType = SOCK_STREAM,
                            uint32_t connectLimitMs = CONNECT_TIME_LIMIT_MS);
    bool IsOpen() const;
    bool IsReceiving() const;
    // Starts the receive thread; false when one is held, the link is not open, or no thread could
    // be made.
    [[nodiscard]] bool StartReceiver();
    // Shuts the connection down; the receive loop then ends by itself.
    void Close();
    // Closes, then waits for the receive thread (at most STOP_WAIT_MS). Safe on a link that was
    // never opened. A stopped link can be opened again.
    void Stop();

    // Waits up to timeoutMs for data and reads once: the count read (> 0); 0 for a null buffer,
    // size 0, a closed link, or a wait that ended without data; -1 when the read failed or the
    // peer closed the connection.
    int Receive(uint8_t* buffer, int size, uint32_t timeoutMs);
    // Waits up to timeoutMs until the socket takes data and writes once: the count written
    // (possibly less than length); 0 when not open, data is null or the wait ended; -1 on error.
    int Send(const uint8_t* data, int length, uint32_t timeoutMs);

protected:
    // Body of the receive thread.
    virtual void ReceiveLoop();
    // One read of count bytes (count > 0 and not 16). Runs on the receive thread; the bytes are
    // reused by the next read.
    virtual void OnReceive(const uint8_t* bytes, int count);
    // LINK_LOST or LINK_READ16. Runs on the receive thread.
    virtual void OnLinkEvent(int code);

private:
    struct Receiver;
    void ReleaseSocket(platform::SocketHandle socket);
    void ReapReceiver(uint32_t waitMs);

    std::atomic<platform::SocketHandle> socket_{platform::NO_SOCKET};
    std::atomic<bool> open_{false};
    // Socket shut down by Close() while a receive thread may still be inside a read on it.
    platform::SocketHandle retiredSocket_ = platform::NO_SOCKET;
    std::shared_ptr<Receiver> receiver_;
};

}  // namespace kbr
