// The firmware upgrade of a 4 MiB image (two 2 MiB sections) through UpgradeOperation over a real
// DeviceLink against kbr3300-devsim on loopback, side by side with the floor for this protocol:
// the same number of 269-byte request / 8-byte reply exchanges over a plain blocking socket pair
// (TCP on loopback, the upgrade's own transport; an AF_UNIX pair is shown for reference). One
// exchange is outstanding at a time in both. The rows below are Google Benchmark's; at the end the
// upgrade and the TCP floor run alternately and the ratio of their best times is printed.
//
// Where the time goes beyond the floor: the operation's own work is about 1 us per exchange (the
// WithoutTransport row); every reply crosses from the link's receive thread to the thread that
// runs the operation (one more wake-up per exchange than the floor has); and the simulator is a
// separate process serving all its connections from one poll loop.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "link/ImageBuilder.h"
#include "link/Messages.h"
#include "link/OperationFactory.h"
#include "link/UpgradeImage.h"
#include "tests/devsim/DevsimHarness.h"
#include "tests/operations/LinkContext.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr size_t kSectionSize = 2u << 20;  // two of them: 4 MiB

size_t g_exchanges = 0;  // requests one upgrade sends, measured by the upgrade row

struct Simulator {
    kbr::devsim::test::ScratchDir dir;
    kbr::devsim::test::DevsimProcess process;
    std::string image;
    bool ok = false;

    Simulator() {
        std::string error;
        auto bytes = kbr::BuildUpgradeImage(
            kbr::StandardImageSpec("KBR3300", "2.0.0.0", "2.0.0.1", kSectionSize, kSectionSize), &error);
        image = dir.File("fw.img");
        ok = bytes && kbr::WriteImageFile(image, *bytes, &error) && process.Start({"--product-id", "KBR3300"}, &error);
        if (!ok) std::fprintf(stderr, "setup failed: %s\n", error.c_str());
    }
};

Simulator& Sim() {
    static Simulator sim;
    return sim;
}

void BM_UpgradeOperation(benchmark::State& state) {
    Simulator& sim = Sim();
    if (!sim.ok) {
        state.SkipWithError("simulator or image not available");
        return;
    }
    kbr::test::LinkContext ctx;
    if (!ctx.Connect(sim.process.Port())) {
        state.SkipWithError("cannot connect");
        return;
    }
    double best = 1e9;
    for (auto _ : state) {
        const size_t before = ctx.requestsSent;
        const auto start = Clock::now();
        const bool done = ctx.RunOperation(8, sim.image, 120s);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!done || ctx.completions.empty() || ctx.completions.back() != 0) {
            state.SkipWithError("upgrade failed");
            return;
        }
        best = std::min(best, seconds);
        g_exchanges = ctx.requestsSent - before;
        state.SetIterationTime(seconds);
    }
    state.counters["exchanges"] = static_cast<double>(g_exchanges);
    state.counters["us_per_exchange"] = best * 1e6 / static_cast<double>(g_exchanges);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kSectionSize);
}

// The same conversation with the simulator from a plain blocking client on one thread: what the
// simulator itself costs, without the link's receive thread and the operation.
void BM_BlockingClientAgainstDevsim(benchmark::State& state) {
    Simulator& sim = Sim();
    if (!sim.ok) {
        state.SkipWithError("simulator or image not available");
        return;
    }
    const kbr::ImageFileData file = kbr::ReadImageFile(sim.image);
    const kbr::ImageLayout layout = kbr::InspectImage(file.bytes);
    kbr::devsim::test::Client client;
    if (!layout.valid || !client.Connect(sim.process.Port())) {
        state.SkipWithError("cannot connect");
        return;
    }
    for (auto _ : state) {
        const auto start = Clock::now();
        client.Exchange(kbr::BuildGetValueRequest(kbr::KEY_PRODUCT_ID));
        client.Exchange(kbr::BuildGetValueRequest(kbr::KEY_FIRMWARE_VERSION));
        for (int which = 1; which <= 2; ++which) {
            if (kbr::devsim::test::UploadSection(client, kbr::ImageSectionBytes(file.bytes, layout, which)).empty()) {
                state.SkipWithError("upload failed");
                return;
            }
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

// The operation alone: the device answers inside the process, at once, so what is measured is the
// operation's own work per chunk (building requests, checking acknowledgements) plus reading and
// checking the image file three times.
class InstantDevice : public kbr::OperationContext {
public:
    void Send(std::span<const uint8_t> request) override {
        const uint8_t type = request[0];
        uint8_t reply = kbr::REP_VALUE;
        if (type == kbr::REQ_UPGRADE_START) reply = kbr::REP_UPGRADE_START;
        if (type == kbr::REQ_UPGRADE_DATA) {
            reply = (request[7] == 0 && request[8] == 0) ? kbr::REP_UPGRADE_END : kbr::REP_UPGRADE_DATA;
        }
        pending_ = type == kbr::REQ_GET_VALUE
                       ? kbr::BuildValueReply({1, 0, 2, 3}, 0, request[8] == 'c' ? "KBR3300" : "1.0.2.3")
                       : kbr::BuildReply(reply, {1, 0, 2, 3}, 0, 0);
        ++sent;
    }
    void StartOperationTimer(uint32_t) override {}
    void KillOperationTimer() override {}
    void CallPage(std::string_view, const std::vector<std::string>&, kbr::PageCallForm) override {}
    void CompleteOperation(int r) override { result = r; }
    void SetActiveOperation(kbr::OperationHandler* op) override { active_ = op; }
    kbr::OperationHandler* ActiveOperation() const override { return active_; }
    void ShowMessage(std::string_view) override {}
    bool AskYesNo(std::string_view) override { return true; }
    void CreateUpgradeProgress() override {}
    void ShowUpgradeProgress(int) override {}
    void AdvanceUpgradeProgress() override {}
    void HideUpgradeProgress() override {}
    kbr::PageDeviceState& State() override { return state_; }

    bool Run(const std::string& path) {
        auto op = kbr::MakeOperation(8, *this);
        result = -1;
        op->Start(path);
        while (active_ && !pending_.empty()) {
            const kbr::Bytes reply = std::move(pending_);
            pending_.clear();
            active_->OnReply(reply);
        }
        return result == 0;
    }
    size_t sent = 0;
    int result = -1;

private:
    kbr::Bytes pending_;
    kbr::OperationHandler* active_ = nullptr;
    kbr::PageDeviceState state_;
};

void BM_UpgradeOperationWithoutTransport(benchmark::State& state) {
    Simulator& sim = Sim();
    InstantDevice device;
    for (auto _ : state) {
        const size_t before = device.sent;
        if (!device.Run(sim.image)) {
            state.SkipWithError("upgrade failed");
            return;
        }
        state.counters["exchanges"] = static_cast<double>(device.sent - before);
    }
}

bool ReadAll(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::read(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A connected pair of blocking sockets: TCP over loopback, or AF_UNIX.
bool MakePair(bool tcp, int fds[2]) {
    if (!tcp) return ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        ::close(listener);
        return false;
    }
    fds[0] = ::socket(AF_INET, SOCK_STREAM, 0);
    const bool ok = ::connect(fds[0], reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                    (fds[1] = ::accept(listener, nullptr, nullptr)) >= 0;
    ::close(listener);
    return ok;
}

// A minimal device on a thread of this process: one blocking read per request, the right reply
// type at once. Running the operation over DeviceLink against it, and the floor against the
// floor's responder, compares our side alone (the simulator's own costs left out).
class MinimalDevice {
public:
    MinimalDevice() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
            return;
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~MinimalDevice() {
        ::shutdown(listener_, SHUT_RDWR);
        if (peer_ >= 0) ::shutdown(peer_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
        if (peer_ >= 0) ::close(peer_);
    }
    uint16_t Port() const { return port_; }

private:
    void Serve() {
        peer_ = ::accept(listener_, nullptr, nullptr);
        if (peer_ < 0) return;
        uint8_t request[kbr::RECEIVE_BUFFER_SIZE];
        for (;;) {
            const ssize_t n = ::read(peer_, request, sizeof request);
            if (n <= 0) return;
            kbr::Bytes reply;
            switch (request[0]) {
                case kbr::REQ_GET_VALUE:
                    reply = kbr::BuildValueReply({1, 0, 2, 3}, 0, request[8] == 'c' ? "KBR3300" : "1.0.2.3");
                    break;
                case kbr::REQ_UPGRADE_START: reply = kbr::BuildReply(kbr::REP_UPGRADE_START, {1, 0, 2, 3}, 0, 0); break;
                default: {
                    const bool last = n > 8 && request[7] == 0 && request[8] == 0;
                    reply = kbr::BuildReply(last ? kbr::REP_UPGRADE_END : kbr::REP_UPGRADE_DATA, {1, 0, 2, 3}, 0, 0);
                }
            }
            if (!WriteAll(peer_, reply.data(), reply.size())) return;
        }
    }
    int listener_ = -1;
    int peer_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

void Floor(benchmark::State& state, bool tcp) {
    if (g_exchanges == 0) g_exchanges = 2 + 2 + 2 * ((kSectionSize + 255) / 256);  // no upgrade run: estimate
    int fds[2] = {-1, -1};
    if (!MakePair(tcp, fds)) {
        state.SkipWithError("no socket pair");
        return;
    }
    std::thread responder([fd = fds[1]] {
        uint8_t request[kbr::UPGRADE_DATA_REQUEST_SIZE];
        const uint8_t reply[kbr::MESSAGE_HEADER_SIZE] = {kbr::REP_UPGRADE_DATA, 1, 0, 2, 3, 0, 0, 0};
        while (ReadAll(fd, request, sizeof request) && WriteAll(fd, reply, sizeof reply)) {
        }
    });
    uint8_t request[kbr::UPGRADE_DATA_REQUEST_SIZE] = {kbr::REQ_UPGRADE_DATA};
    uint8_t reply[kbr::MESSAGE_HEADER_SIZE];
    double best = 1e9;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (size_t i = 0; i < g_exchanges; ++i) {
            if (!WriteAll(fds[0], request, sizeof request) || !ReadAll(fds[0], reply, sizeof reply)) {
                state.SkipWithError("exchange failed");
                break;
            }
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        best = std::min(best, seconds);
        state.SetIterationTime(seconds);
    }
    ::shutdown(fds[0], SHUT_RDWR);
    responder.join();
    ::close(fds[0]);
    ::close(fds[1]);
    state.counters["exchanges"] = static_cast<double>(g_exchanges);
    state.counters["us_per_exchange"] = best * 1e6 / static_cast<double>(g_exchanges);
}

void BM_FloorTcpLoopback(benchmark::State& state) { Floor(state, true); }
void BM_FloorUnixSocketPair(benchmark::State& state) { Floor(state, false); }

BENCHMARK(BM_UpgradeOperation)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpgradeOperationWithoutTransport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockingClientAgainstDevsim)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorTcpLoopback)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorUnixSocketPair)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Runs the upgrade and the TCP floor alternately, so that both see the same machine load, and
// prints the best of each and their ratio.
void SideBySide(int rounds) {
    Simulator& sim = Sim();
    if (!sim.ok) return;
    kbr::test::LinkContext ctx;
    int fds[2] = {-1, -1};
    if (!ctx.Connect(sim.process.Port()) || !MakePair(true, fds)) return;
    std::thread responder([fd = fds[1]] {
        uint8_t request[kbr::UPGRADE_DATA_REQUEST_SIZE];
        const uint8_t reply[kbr::MESSAGE_HEADER_SIZE] = {kbr::REP_UPGRADE_DATA, 1, 0, 2, 3, 0, 0, 0};
        while (ReadAll(fd, request, sizeof request) && WriteAll(fd, reply, sizeof reply)) {
        }
    });
    MinimalDevice minimal;
    kbr::test::LinkContext minimalCtx;
    const bool haveMinimal = minimal.Port() != 0 && minimalCtx.Connect(minimal.Port());
    double bestUpgrade = 1e9;
    double bestMinimal = 1e9;
    double bestFloor = 1e9;
    size_t exchanges = 0;
    for (int round = 0; round < rounds; ++round) {
        const size_t before = ctx.requestsSent;
        auto start = Clock::now();
        if (!ctx.RunOperation(8, sim.image, 120s) || ctx.completions.back() != 0) break;
        bestUpgrade = std::min(bestUpgrade, std::chrono::duration<double>(Clock::now() - start).count());
        exchanges = ctx.requestsSent - before;

        if (haveMinimal) {
            start = Clock::now();
            if (minimalCtx.RunOperation(8, sim.image, 120s) && minimalCtx.completions.back() == 0) {
                bestMinimal = std::min(bestMinimal, std::chrono::duration<double>(Clock::now() - start).count());
            }
        }

        uint8_t request[kbr::UPGRADE_DATA_REQUEST_SIZE] = {kbr::REQ_UPGRADE_DATA};
        uint8_t reply[kbr::MESSAGE_HEADER_SIZE];
        start = Clock::now();
        for (size_t i = 0; i < exchanges; ++i) {
            if (!WriteAll(fds[0], request, sizeof request) || !ReadAll(fds[0], reply, sizeof reply)) break;
        }
        bestFloor = std::min(bestFloor, std::chrono::duration<double>(Clock::now() - start).count());
    }
    ::shutdown(fds[0], SHUT_RDWR);
    responder.join();
    ::close(fds[0]);
    ::close(fds[1]);
    if (exchanges == 0) return;
    std::printf("side by side, best of %d alternating rounds: upgrade of 4 MiB through UpgradeOperation %.1f ms "
                "(%zu exchanges, %.1f us each); floor, blocking TCP socket pair %.1f ms (%.1f us each); "
                "ratio %.2f (target <= 1.30)\n",
                rounds, bestUpgrade * 1e3, exchanges, bestUpgrade * 1e6 / exchanges, bestFloor * 1e3,
                bestFloor * 1e6 / exchanges, bestUpgrade / bestFloor);
    if (bestMinimal < 1e9) {
        std::printf("our side alone: the same upgrade over DeviceLink against a minimal blocking responder %.1f ms "
                    "(%.1f us each); ratio to the floor %.2f\n",
                    bestMinimal * 1e3, bestMinimal * 1e6 / exchanges, bestMinimal / bestFloor);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SideBySide(7);
    return 0;
}
