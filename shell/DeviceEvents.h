#pragma once
// The two private window messages of the page windows, as posted Qt events.
//
// WM_DEVICE_REPLY carries one read of the device link. The receive thread reuses its buffer for
// the next read, so the event owns a copy, zero-padded to RECEIVE_BUFFER_SIZE (the reply parsers
// may look at any offset below that), and remembers how many bytes were really read: only those
// reach the operation. WM_LINK_LOST reports a broken connection to the main window.
//
// Both carry the number of the connection they stem from, so that reports still queued from a
// connection that the main window has already stopped can be told apart from the current one.

#include <QEvent>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "link/Messages.h"

namespace kbr {

inline const QEvent::Type WM_DEVICE_REPLY = static_cast<QEvent::Type>(5001);
inline const QEvent::Type WM_LINK_LOST = static_cast<QEvent::Type>(5002);

class DeviceReplyEvent : public QEvent {
public:
    DeviceReplyEvent(const uint8_t* bytes, int count, uint64_t connection)
        : QEvent(WM_DEVICE_REPLY), connection_(connection) {
        const size_t n = count > 0 ? std::min(static_cast<size_t>(count), RECEIVE_BUFFER_SIZE) : 0;
        data_.assign(RECEIVE_BUFFER_SIZE, 0);
        if (bytes && n) std::copy(bytes, bytes + n, data_.begin());
        count_ = n;
    }

    // Exactly the bytes of the read.
    std::span<const uint8_t> Received() const { return std::span<const uint8_t>(data_.data(), count_); }
    // The whole padded copy (RECEIVE_BUFFER_SIZE bytes).
    std::span<const uint8_t> Padded() const { return data_; }
    uint64_t Connection() const { return connection_; }

private:
    std::vector<uint8_t> data_;
    size_t count_ = 0;
    uint64_t connection_;
};

class LinkLostEvent : public QEvent {
public:
    explicit LinkLostEvent(uint64_t connection) : QEvent(WM_LINK_LOST), connection_(connection) {}
    uint64_t Connection() const { return connection_; }

private:
    uint64_t connection_;
};

}  // namespace kbr
