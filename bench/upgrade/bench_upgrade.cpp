// The firmware upgrade of a 4 MiB image (two 2 MiB sections, 16388 request/reply exchanges)
// against kbr3300-devsim on loopback, measured against a plain blocking client talking to the same
// simulator: the device is another process, so the fair floor for our side is that client.
//
// The Google Benchmark rows are a quick look on whatever CPUs the scheduler picks. The figures that
// count come from the side-by-side at the end: the whole process is pinned to one CPU, a simulator
// of its own is started from the pinned thread (so it inherits the affinity), and every path runs
// once per round, the order rotating from round to round; the table gives medians and the ratio to
// the plain client. Paths:
//   - plain blocking client: one send and one recv per exchange, requests built beforehand;
//   - kbr3300ctl: UpgradeOperation over the tool's OperationRunner, which reads the replies with
//     DeviceLink::Receive on the thread that runs the operation (no receive thread);
//   - page program: UpgradeOperation over a Qt event loop fed with posted WM_DEVICE_REPLY events,
//     the configuration program's way (when Qt is in the build);
//   - one-hop design: the plain client's requests, the replies read by a DeviceLink's receive
//     thread and handed (ReplyHandOver) to the sending thread: the floor of any design in which a
//     receive thread hands each reply to the thread that sends the next request, as the page
//     program's link must;
//   - in-process floor (reference): the same exchanges over a TCP pair with the responder on a
//     thread of this process.
// Usage: bench_upgrade [Google Benchmark options] [--rounds=N] [--cpu=N] [--only=TEXT]
//   --only keeps the plain client and the paths whose name holds TEXT (for counting system calls
//   with strace -f -c, for instance).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sched.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "devtools/image/ImageBuilder.h"
#include "link/Messages.h"
#include "link/OperationFactory.h"
#include "testkit/ReplyHandOver.h"
#include "link/UpgradeImage.h"
#include "link/UpgradeOperation.h"
#include "testkit/DevsimHarness.h"
#include "testkit/LinkContext.h"
#include "link/OperationRunner.h"

#ifdef KBR_BENCH_QT
#include <QCoreApplication>

#include "bench/upgrade/PagePath.h"
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr size_t SECTION_SIZE = 2u << 20;  // two of them: 4 MiB
constexpr std::array<uint8_t, 4> DEVICE_VERSION = {1, 0, 2, 3};

// A reply with status 0 (all the plain clients check).
bool Succeeded(std::span<const uint8_t> reply) {
    const auto header = kbr::ReadReplyHeader(reply);
    return header && header->status == 0;
}

// What the in-process devices answer: the product id and version the image expects, and each
// upgrade step acknowledged.
kbr::Bytes Answer(std::span<const uint8_t> request) {
    if (const auto key = kbr::ReadGetValueRequest(request)) {
        return kbr::BuildValueReply(DEVICE_VERSION, 0, *key == kbr::KEY_PRODUCT_ID ? "KBR3300" : "1.0.2.3");
    }
    return kbr::BuildReply(kbr::ExpectedReplyType(request).value_or(kbr::REP_UPGRADE_DATA), DEVICE_VERSION, 0, 0);
}

size_t g_exchanges = 0;  // requests one upgrade sends, measured by the upgrade row

// The simulators here serve the upgrade without a login first: each client measures the upgrade
// alone, and some are made of bare requests.
struct Simulator {
    kbr::devsim::test::ScratchDir dir;
    kbr::devsim::test::DevsimProcess process;
    std::string image;
    bool ok = false;

    Simulator() {
        std::string error;
        auto bytes = kbr::BuildUpgradeImage(
            kbr::StandardImageSpec("KBR3300", "2.0.0.0", "2.0.0.1", SECTION_SIZE, SECTION_SIZE), &error);
        image = dir.File("fw.img");
        ok = bytes && kbr::WriteImageFile(image, *bytes, &error) &&
             process.Start({"--product-id", "KBR3300", "--no-login-check"}, &error);
        if (!ok) std::fprintf(stderr, "setup failed: %s\n", error.c_str());
    }
};

Simulator& Sim() {
    static Simulator sim;
    return sim;
}

// The requests the upgrade of `image` sends, in order, built once.
std::vector<kbr::Bytes> UpgradeRequests(const std::string& image) {
    std::vector<kbr::Bytes> requests;
    const kbr::ImageFileData file = kbr::ReadImageFile(image);
    const kbr::ImageLayout layout = kbr::InspectImage(file.bytes);
    if (!layout.valid) return requests;
    requests.push_back(kbr::BuildGetValueRequest(kbr::KEY_PRODUCT_ID));
    requests.push_back(kbr::BuildGetValueRequest(kbr::KEY_FIRMWARE_VERSION));
    for (int which = 1; which <= 2; ++which) {
        const auto section = kbr::ImageSectionBytes(file.bytes, layout, which);
        const size_t chunks = (section.size() + 255) / 256;
        requests.push_back(kbr::BuildUpgradeStartRequest());
        for (size_t i = 0; i < chunks; ++i) {
            const auto data = section.subspan(i * 256, std::min<size_t>(256, section.size() - i * 256));
            requests.push_back(kbr::BuildUpgradeDataRequest(static_cast<uint32_t>(chunks - 1 - i),
                                                            static_cast<uint32_t>(i * 256),
                                                            static_cast<uint32_t>(data.size()), data));
        }
    }
    return requests;
}

int ConnectBlocking(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One send, one recv per exchange: what a client without a receive thread costs.
class PlainClient {
public:
    explicit PlainClient(uint16_t port) : fd_(ConnectBlocking(port)) {}
    ~PlainClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }
    bool Run(const std::vector<kbr::Bytes>& requests) {
        uint8_t reply[kbr::RECEIVE_BUFFER_SIZE];
        for (const kbr::Bytes& request : requests) {
            if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
                return false;
            }
            const ssize_t n = ::recv(fd_, reply, sizeof reply, 0);
            if (n <= 0 || !Succeeded({reply, static_cast<size_t>(n)})) return false;
        }
        return true;
    }

private:
    int fd_;
};

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
        const bool done = ctx.RunOperation(kbr::PageFunction::FUNC_UPGRADE_IMAGE, sim.image, 120s);
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
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * SECTION_SIZE);
}

// The same conversation with the simulator from a plain blocking client on one thread: what the
// simulator itself costs, without the link's receive thread and the operation.
void BM_BlockingClientAgainstDevsim(benchmark::State& state) {
    Simulator& sim = Sim();
    if (!sim.ok) {
        state.SkipWithError("simulator or image not available");
        return;
    }
    const std::vector<kbr::Bytes> requests = UpgradeRequests(sim.image);
    PlainClient client(sim.process.Port());
    if (requests.empty() || !client.Ok()) {
        state.SkipWithError("cannot connect");
        return;
    }
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!client.Run(requests)) {
            state.SkipWithError("upload failed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

// The operation alone: the device answers inside the process, at once, so what is measured is the
// operation's own work per chunk (building requests, checking acknowledgements) plus reading and
// checking the image file once.
class InstantDevice : public kbr::OperationContext {
public:
    void Send(std::span<const uint8_t> request) override {
        pending_ = Answer(request);
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
        auto op = kbr::MakeOperation(kbr::PageFunction::FUNC_UPGRADE_IMAGE, *this);
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
            const kbr::Bytes reply = Answer({request, static_cast<size_t>(n)});
            if (!WriteAll(peer_, reply.data(), reply.size())) return;
        }
    }
    int listener_ = -1;
    int peer_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

void Floor(benchmark::State& state, bool tcp) {
    if (g_exchanges == 0) g_exchanges = 2 + 2 + 2 * ((SECTION_SIZE + 255) / 256);  // no upgrade run: estimate
    int fds[2] = {-1, -1};
    if (!MakePair(tcp, fds)) {
        state.SkipWithError("no socket pair");
        return;
    }
    std::thread responder([fd = fds[1]] {
        uint8_t request[kbr::UPGRADE_DATA_REQUEST_SIZE];
        const kbr::Bytes reply = kbr::BuildReply(kbr::REP_UPGRADE_DATA, DEVICE_VERSION, 0, 0);
        while (ReadAll(fd, request, sizeof request) && WriteAll(fd, reply.data(), reply.size())) {
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

// ---- The side by side, pinned to one CPU -----------------------------------------------------------

// The plain client's requests with the replies read by a receive thread of a DeviceLink and
// handed to the sending thread: one hop more than the plain client, and nothing else.
class OneHopClient : public kbr::DeviceLink {
public:
    explicit OneHopClient(uint16_t port) { ok_ = Open("127.0.0.1", std::to_string(port)) && StartReceiver(); }
    ~OneHopClient() override { Stop(); }
    bool Ok() const { return ok_; }
    bool Run(const std::vector<kbr::Bytes>& requests) {
        kbr::Bytes reply;
        for (const kbr::Bytes& request : requests) {
            (void)Send(request.data(), static_cast<int>(request.size()), NO_TIME_LIMIT);
            if (handOver_.Take(reply, std::nullopt) != kbr::ReplyHandOver::Taken::Reply || !Succeeded(reply)) {
                return false;
            }
        }
        return true;
    }

protected:
    void OnReceive(const uint8_t* bytes, int count) override { handOver_.PostReply(bytes, count); }
    void OnLinkEvent(int code) override {
        if (code == LINK_LOST) handOver_.PostLoss();
    }

private:
    kbr::ReplyHandOver handOver_;
    bool ok_ = false;
};

// The same number of exchanges over a TCP pair, the responder on a thread of this process.
class InProcessFloor {
public:
    InProcessFloor() {
        if (!MakePair(true, fds_)) return;
        responder_ = std::thread([fd = fds_[1]] {
            uint8_t request[kbr::UPGRADE_DATA_REQUEST_SIZE];
            const kbr::Bytes reply = kbr::BuildReply(kbr::REP_UPGRADE_DATA, DEVICE_VERSION, 0, 0);
            while (ReadAll(fd, request, sizeof request) && WriteAll(fd, reply.data(), reply.size())) {
            }
        });
    }
    ~InProcessFloor() {
        if (fds_[0] >= 0) ::shutdown(fds_[0], SHUT_RDWR);
        if (responder_.joinable()) responder_.join();
        for (int fd : fds_) {
            if (fd >= 0) ::close(fd);
        }
    }
    bool Ok() const { return responder_.joinable(); }
    bool Run(size_t exchanges) {
        uint8_t request[kbr::UPGRADE_DATA_REQUEST_SIZE] = {kbr::REQ_UPGRADE_DATA};
        uint8_t reply[kbr::MESSAGE_HEADER_SIZE];
        for (size_t i = 0; i < exchanges; ++i) {
            if (!WriteAll(fds_[0], request, sizeof request) || !ReadAll(fds_[0], reply, sizeof reply)) return false;
        }
        return true;
    }

private:
    int fds_[2] = {-1, -1};
    std::thread responder_;
};

// Pins the calling thread (and whatever it starts from now on) to one CPU: the one asked for, or
// the last one it may use. The CPU, or -1 when pinning failed.
int PinToOneCpu(int wanted) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return -1;
    int cpu = wanted;
    if (cpu < 0) {
        for (int i = 0; i < CPU_SETSIZE; ++i) {
            if (CPU_ISSET(i, &allowed)) cpu = i;
        }
    }
    if (cpu < 0 || cpu >= CPU_SETSIZE || !CPU_ISSET(cpu, &allowed)) return -1;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return ::sched_setaffinity(0, sizeof one, &one) == 0 ? cpu : -1;
}

struct PathRow {
    PathRow(const char* rowName, std::function<bool()> body) : name(rowName), run(std::move(body)) {}
    const char* name;
    std::function<bool()> run;
    bool reference = false;  // not held to the target
    bool target = false;     // held to the target
    std::vector<double> seconds;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void SideBySide(int rounds, int wantedCpu, const std::string& only) {
    const int cpu = PinToOneCpu(wantedCpu);
    if (cpu < 0) std::printf("side by side: could not pin to one CPU; figures are unpinned\n");

    // A simulator of its own, started from the pinned thread.
    kbr::devsim::test::ScratchDir dir;
    kbr::devsim::test::DevsimProcess sim;
    std::string error;
    auto bytes = kbr::BuildUpgradeImage(
        kbr::StandardImageSpec("KBR3300", "2.0.0.0", "2.0.0.1", SECTION_SIZE, SECTION_SIZE), &error);
    const std::string image = dir.File("fw.img");
    if (!bytes || !kbr::WriteImageFile(image, *bytes, &error) || !sim.Start({"--no-login-check"}, &error)) {
        std::printf("side by side: setup failed: %s\n", error.c_str());
        return;
    }
    const std::vector<kbr::Bytes> requests = UpgradeRequests(image);

    PlainClient plain(sim.Port());
    kbr::OperationRunner tool;
    OneHopClient oneHop(sim.Port());
    InProcessFloor floor;
    if (!plain.Ok() || !tool.Connect("127.0.0.1", std::to_string(sim.Port())) || !oneHop.Ok() || !floor.Ok()) {
        std::printf("side by side: cannot connect\n");
        return;
    }
    std::vector<PathRow> rows;
    rows.emplace_back("plain blocking client against kbr3300-devsim", [&] { return plain.Run(requests); });
    rows.emplace_back("kbr3300ctl: UpgradeOperation over OperationRunner", [&] {
        kbr::UpgradeOperation operation(tool);
        return tool.Run(operation, image).completion == 0;
    });
    rows.back().target = true;
#ifdef KBR_BENCH_QT
    kbr::bench::PagePath page;
    if (page.Connect(sim.Port())) {
        rows.emplace_back("page program: UpgradeOperation over Qt posted events", [&] { return page.Upgrade(image); });
        rows.back().target = true;
    }
#endif
    rows.emplace_back("one-hop design: receive thread hands to sender", [&] { return oneHop.Run(requests); });
    rows.emplace_back("in-process floor: TCP pair, responder thread", [&] { return floor.Run(requests.size()); });
    rows.back().reference = true;

    if (!only.empty()) {
        // One path alone (e.g. under strace): the plain client stays as the yardstick.
        std::vector<PathRow> chosen;
        for (size_t k = 0; k < rows.size(); ++k) {
            if (k == 0 || std::string(rows[k].name).find(only) != std::string::npos) chosen.push_back(rows[k]);
        }
        rows = std::move(chosen);
    }
    for (int round = 0; round < rounds; ++round) {
        for (size_t k = 0; k < rows.size(); ++k) {
            PathRow& row = rows[(k + static_cast<size_t>(round)) % rows.size()];
            const auto start = Clock::now();
            if (!row.run()) {
                std::printf("side by side: %s failed in round %d\n", row.name, round + 1);
                return;
            }
            row.seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        }
    }

    const double plainMedian = Median(rows[0].seconds);
    const auto n = static_cast<double>(requests.size());
    std::string pinning = "unpinned";
    if (cpu >= 0) {
        pinning = "pinned to CPU ";
        pinning += std::to_string(cpu);
        pinning += ", simulator too";
    }
    std::printf("\nside by side: %s, median of %d rounds in rotating order, %zu exchanges per upgrade\n",
                pinning.c_str(), rounds, requests.size());
    std::printf("%-54s %10s %10s %12s %8s\n", "path", "median ms", "best ms", "us/exchange", "ratio");
    std::string verdicts;
    double oneHopRatio = 0;
    for (const PathRow& row : rows) {
        const double median = Median(row.seconds);
        const double ratio = median / plainMedian;
        const double best = *std::min_element(row.seconds.begin(), row.seconds.end());
        std::printf("%-54s %10.1f %10.1f %12.2f %8.2f%s\n", row.name, median * 1e3, best * 1e3, median * 1e6 / n, ratio,
                    row.reference ? "  (reference)" : "");
        const std::string_view name(row.name);
        if (row.target) {
            char verdict[160];
            std::snprintf(verdict, sizeof verdict, "%s%.*s %.2f %s", verdicts.empty() ? "" : "; ",
                          static_cast<int>(name.find(':')), row.name, ratio, ratio <= 1.30 ? "met" : "not met");
            verdicts += verdict;
        }
        if (name.rfind("one-hop", 0) == 0) oneHopRatio = ratio;
    }
    std::printf("target <= 1.30 x the plain client: %s\n", verdicts.c_str());
    if (oneHopRatio > 0) {
        std::printf("floor of any design whose receive thread hands each reply to the sending thread: %.2f\n",
                    oneHopRatio);
    }
}

}  // namespace

int main(int argc, char** argv) {
#ifdef KBR_BENCH_QT
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
#endif
    // Our own options, taken out before Google Benchmark sees the rest.
    int rounds = 9;
    int cpu = -1;
    std::string only;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--rounds=", 0) == 0) {
            rounds = std::max(1, std::atoi(arg.c_str() + 9));
        } else if (arg.rfind("--cpu=", 0) == 0) {
            cpu = std::atoi(arg.c_str() + 6);
        } else if (arg.rfind("--only=", 0) == 0) {
            only = arg.substr(7);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SideBySide(rounds, cpu, only);
    return 0;
}
