#pragma once
// A relay on 127.0.0.1 between a client and the simulator that keeps every read it gets from the
// client: with one request outstanding at a time, each such read is one request. Replies are
// passed back unchanged, one read in, one write out. Any number of connections, one after the
// other or at once; their requests are kept in the order they arrived.

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "link/Messages.h"

namespace kbr::ctl::test {

class RequestRecorder {
public:
    // Relays to 127.0.0.1:target.
    explicit RequestRecorder(uint16_t target);
    ~RequestRecorder();
    RequestRecorder(const RequestRecorder&) = delete;
    RequestRecorder& operator=(const RequestRecorder&) = delete;

    uint16_t Port() const { return port_; }
    std::vector<Bytes> Requests();

private:
    void Serve();

    uint16_t target_;
    uint16_t port_ = 0;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::vector<Bytes> requests_;
    std::thread thread_;
};

}  // namespace kbr::ctl::test
