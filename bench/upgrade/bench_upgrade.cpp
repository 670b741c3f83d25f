// The firmware upgrade of a 4 MiB image (two 2 MiB sections) through UpgradeOperation over a real
// DeviceLink against kbr3300-devsim on loopback, side by side with the floor for this protocol:
// the same number of 269-byte request / 8-byte reply exchanges over a plain blocking socket pair
// (TCP on loopback, the upgrade's own transport; an AF_UNIX pair is shown for reference). One
// exchange is outstanding at a time in both. The ratio upgrade / floor is printed at the end.
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
#include "link/UpgradeImage.h"
#include "tests/devsim/DevsimHarness.h"
#include "tests/operations/LinkContext.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr size_t kSectionSize = 2u << 20;  // two of them: 4 MiB

size_t g_exchanges = 0;       // requests one upgrade sends, measured by the first run
double g_upgradeSeconds = 0;  // best run
double g_floorSeconds = 0;    // best run over TCP

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
    g_upgradeSeconds = best;
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
    if (tcp) g_floorSeconds = best;
    state.counters["exchanges"] = static_cast<double>(g_exchanges);
    state.counters["us_per_exchange"] = best * 1e6 / static_cast<double>(g_exchanges);
}

void BM_FloorTcpLoopback(benchmark::State& state) { Floor(state, true); }
void BM_FloorUnixSocketPair(benchmark::State& state) { Floor(state, false); }

}  // namespace

BENCHMARK(BM_UpgradeOperation)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockingClientAgainstDevsim)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorTcpLoopback)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorUnixSocketPair)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_upgradeSeconds > 0 && g_floorSeconds > 0) {
        std::printf("upgrade of 4 MiB: %zu exchanges, best %.1f ms; floor (TCP loopback): best %.1f ms; "
                    "ratio %.2f (target <= 1.30)\n",
                    g_exchanges, g_upgradeSeconds * 1e3, g_floorSeconds * 1e3, g_upgradeSeconds / g_floorSeconds);
    }
    return 0;
}
