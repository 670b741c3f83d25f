#include "link/DeviceLink.h"

#include <cctype>
#include <chrono>
#include <climits>

#include "link/Messages.h"

namespace kbr {

// The receive thread and the state the owner waits on. Shared with the thread itself, so that
// it stays valid while the thread ends, even after the owner has stopped waiting.
struct DeviceLink::Receiver {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;
};

namespace {

// The port as atoi reads it: white space, an optional sign, digits up to the first other
// character; no digits gives 0. Only the low 16 bits are used.
uint16_t PortNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    return static_cast<uint16_t>(negative ? 0u - value : value);
}

int PollTimeout(uint32_t timeoutMs) {
    if (timeoutMs == DeviceLink::NO_TIME_LIMIT) return -1;
    return timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
}

bool WaitReady(platform::SocketHandle socket, bool forWriting, uint32_t timeoutMs) {
    return platform::WaitSocket(socket, forWriting, PollTimeout(timeoutMs)) > 0;
}

// One read of up to size bytes: the count, or -1 when the read failed or the peer closed.
int ReadOnce(platform::SocketHandle fd, uint8_t* buffer, int size) {
    long n;
    do {
        n = platform::ReceiveSome(fd, buffer, static_cast<size_t>(size));
    } while (n < 0 && platform::IsInterrupted(platform::LastSocketError()));
    return n <= 0 ? -1 : static_cast<int>(n);
}

// Connects without blocking, waits for the outcome at most limitMs, then makes the socket
// blocking again. False, with the socket error set (LastSocketError), when the connection failed or
// did not complete in time.
bool ConnectWithin(platform::SocketHandle fd, const sockaddr_in& peer, uint32_t limitMs) {
    if (!platform::SetSocketNonBlocking(fd, true)) return false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        const int error = platform::LastSocketError();
        if (!platform::IsConnectInProgress(error) && !platform::IsInterrupted(error)) return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                platform::SetLastSocketError(platform::TIMED_OUT);
                return false;
            }
            const int ready = platform::WaitSocket(fd, true, static_cast<int>(left.count()));
            if (ready > 0) break;
            if (ready < 0 && !platform::IsInterrupted(platform::LastSocketError())) return false;
        }
        if (const int failed = platform::PendingSocketError(fd); failed != 0) {
            platform::SetLastSocketError(failed);
            return false;
        }
    }
    return platform::SetSocketNonBlocking(fd, false);
}

}  // namespace

DeviceLink::~DeviceLink() { Stop(); }

bool DeviceLink::Open(std::string_view address, std::string_view port, int socketType, uint32_t connectLimitMs) {
    if (IsOpen()) return false;
    // A receive thread left over from a Close() has nothing left to read; let it end first.
    ReapReceiver(STOP_WAIT_MS);

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(PortNumber(port));
    std::string addressText(address);
    if (::inet_pton(AF_INET, addressText.c_str(), &peer.sin_addr) != 1) return false;

    const platform::SocketHandle fd = platform::OpenSocket(socketType);
    if (fd == platform::NO_SOCKET) return false;
    if (!ConnectWithin(fd, peer, connectLimitMs)) {
        const int error = platform::LastSocketError();
        platform::CloseSocket(fd);
        platform::SetLastSocketError(error);
        return false;
    }
    socket_.store(fd);
    open_.store(true);
    return true;
}

bool DeviceLink::IsOpen() const { return open_.load(); }

bool DeviceLink::IsReceiving() const { return receiver_ != nullptr; }

bool DeviceLink::StartReceiver() {
    if (receiver_ || !IsOpen()) return false;
    auto receiver = std::make_shared<Receiver>();
    try {
        receiver->thread = std::thread([this, receiver] {
            ReceiveLoop();
            std::lock_guard lock(receiver->mutex);
            receiver->finished = true;
            receiver->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    receiver_ = std::move(receiver);
    return true;
}

void DeviceLink::Close() {
    // Closed first, then the socket: the read that the shutdown interrupts finds the link
    // closed and reports nothing.
    if (!open_.exchange(false)) return;
    const platform::SocketHandle fd = socket_.exchange(platform::NO_SOCKET);
    platform::ShutdownSocket(fd);
    bool threadMayUseIt = false;
    if (receiver_) {
        std::lock_guard lock(receiver_->mutex);
        threadMayUseIt = !receiver_->finished;
    }
    if (threadMayUseIt) {
        ReleaseSocket(retiredSocket_);
        retiredSocket_ = fd;
    } else {
        platform::CloseSocket(fd);
    }
}

void DeviceLink::Stop() {
    if (IsOpen()) {
        Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ReapReceiver(STOP_WAIT_MS);
}

void DeviceLink::ReapReceiver(uint32_t waitMs) {
    if (receiver_) {
        bool finished;
        {
            std::unique_lock lock(receiver_->mutex);
            finished =
                receiver_->ended.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return receiver_->finished; });
        }
        if (finished || receiver_->thread.get_id() == std::this_thread::get_id()) {
            if (receiver_->thread.get_id() == std::this_thread::get_id()) {
                receiver_->thread.detach();  // stopping from inside a notification
            } else {
                receiver_->thread.join();
            }
        } else {
            // A notification that blocks for seconds: a portable thread cannot be killed, so it
            // is let go. Its socket is already shut down and its state is shared, so it ends
            // harmlessly once the notification returns; the descriptor is kept until then.
            receiver_->thread.detach();
            receiver_.reset();
            retiredSocket_ = platform::NO_SOCKET;
            return;
        }
        receiver_.reset();
    }
    ReleaseSocket(retiredSocket_);
    retiredSocket_ = platform::NO_SOCKET;
}

void DeviceLink::ReleaseSocket(platform::SocketHandle socket) { platform::CloseSocket(socket); }

int DeviceLink::Receive(uint8_t* buffer, int size, uint32_t timeoutMs) {
    if (buffer == nullptr || size <= 0) return 0;
    const platform::SocketHandle fd = socket_.load();
    if (fd == platform::NO_SOCKET) return 0;  // no socket: nothing to wait for
    if (!WaitReady(fd, false, timeoutMs)) return 0;
    return ReadOnce(fd, buffer, size);
}

int DeviceLink::Send(const uint8_t* data, int length, uint32_t timeoutMs) {
    if (!IsOpen() || data == nullptr) return 0;
    const platform::SocketHandle fd = socket_.load();
    if (fd == platform::NO_SOCKET) return 0;
    if (length <= 0) return 0;
    // Without a time limit the send itself waits until the socket takes the data; a wait before
    // it would only cost one more system call per request.
    if (timeoutMs != NO_TIME_LIMIT && !WaitReady(fd, true, timeoutMs)) return 0;
    long n;
    do {
        n = platform::SendSome(fd, data, static_cast<size_t>(length));
    } while (n < 0 && platform::IsInterrupted(platform::LastSocketError()));
    return n < 0 ? -1 : static_cast<int>(n);
}

void DeviceLink::ReceiveLoop() {
    uint8_t buffer[RECEIVE_BUFFER_SIZE];
    // A broken connection stays readable (at end of stream) until it is closed, so reading on
    // would spin and report the same loss thousands of times. It is reported once; the loop then
    // only waits, in the same 100 ms steps, for the owner to close the link.
    bool lost = false;
    while (IsOpen()) {
        if (lost) {
            std::this_thread::sleep_for(std::chrono::milliseconds(RECEIVE_WAIT_MS));
            continue;
        }
#ifdef __linux__
        // The read blocks until data comes, the peer closes, or Close() shuts the socket down,
        // which wakes it at once; the loop condition then finds the link closed.
        const platform::SocketHandle fd = socket_.load();
        if (fd == platform::NO_SOCKET) continue;
        int n = ReadOnce(fd, buffer, static_cast<int>(sizeof buffer));
#else
        // Where a shutdown is not known to wake a blocked read, wait in bounded steps.
        int n = Receive(buffer, static_cast<int>(sizeof buffer), RECEIVE_WAIT_MS);
#endif
        if (n == -1) {
            if (IsOpen()) {
                lost = true;
                OnLinkEvent(LINK_LOST);
            }
        } else if (n == static_cast<int>(UNDELIVERED_READ_SIZE)) {
            OnLinkEvent(LINK_READ16);
        } else if (n > 0) {
            OnReceive(buffer, n);
        }
    }
}

void DeviceLink::OnReceive(const uint8_t*, int) {}

void DeviceLink::OnLinkEvent(int) {}

}  // namespace kbr
