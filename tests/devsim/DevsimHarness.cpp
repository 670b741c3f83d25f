#include "tests/devsim/DevsimHarness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "link/ImageCrc.h"

extern char** environ;

namespace kbr::devsim::test {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

void PutU32(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

DevsimProcess::~DevsimProcess() { Stop(); }

bool DevsimProcess::Start(const std::vector<std::string>& args, std::string* error) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return SetError(error, "pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    std::vector<std::string> all = {KBR_DEVSIM_PATH, "--listen", "127.0.0.1:0"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, KBR_DEVSIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    stdoutFd_ = out[0];
    stderrFd_ = err[0];
    ::fcntl(stderrFd_, F_SETFL, O_NONBLOCK);
    if (rc != 0) {
        pid_ = -1;
        return SetError(error, std::string("cannot start the simulator: ") + std::strerror(rc));
    }

    const auto deadline = Clock::now() + 10s;
    while (firstLine_.find('\n') == std::string::npos) {
        pollfd fd{stdoutFd_, POLLIN, 0};
        if (::poll(&fd, 1, MillisecondsLeft(deadline)) <= 0) {
            return SetError(error, "no first line within 10 s; stderr: " + Stderr());
        }
        char buffer[256];
        const ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
        if (n <= 0) return SetError(error, "simulator ended before its first line; stderr: " + Stderr());
        firstLine_.append(buffer, static_cast<size_t>(n));
    }
    firstLine_.resize(firstLine_.find('\n'));
    const std::string prefix = "listening on 127.0.0.1:";
    if (firstLine_.rfind(prefix, 0) != 0) return SetError(error, "unexpected first line '" + firstLine_ + "'");
    port_ = static_cast<uint16_t>(std::atoi(firstLine_.c_str() + prefix.size()));
    if (port_ == 0) return SetError(error, "no port in '" + firstLine_ + "'");
    return true;
}

void DevsimProcess::DrainStderr(int timeoutMs) {
    if (stderrFd_ < 0) return;
    pollfd fd{stderrFd_, POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0) return;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(stderrFd_, buffer, sizeof buffer)) > 0) stderr_.append(buffer, static_cast<size_t>(n));
}

const std::string& DevsimProcess::Stderr() {
    DrainStderr(0);
    return stderr_;
}

bool DevsimProcess::WaitForStderr(std::string_view needle, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        DrainStderr(0);
        if (stderr_.find(needle) != std::string::npos) return true;
        if (Clock::now() >= deadline) return false;
        DrainStderr(std::min(MillisecondsLeft(deadline), 100));
    }
}

int DevsimProcess::WaitForExit(std::chrono::milliseconds timeout) {
    if (pid_ < 0) return -1;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            DrainStderr(0);
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (Clock::now() >= deadline) return -1;
        DrainStderr(10);  // doubles as a short bounded pause
        ::usleep(1000);
    }
}

int DevsimProcess::Stop() {
    int result = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        result = WaitForExit(5s);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    for (int* fd : {&stdoutFd_, &stderrFd_}) {
        if (*fd >= 0) {
            if (fd == &stderrFd_) DrainStderr(0);
            ::close(*fd);
            *fd = -1;
        }
    }
    return result;
}

Client::~Client() { Close(); }

Client::Client(Client&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

void Client::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool Client::Connect(uint16_t port) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool Client::ConnectWithin(uint16_t port, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!Connect(port)) {
        if (Clock::now() >= deadline) return false;
        ::usleep(10000);  // between attempts only; the wait is bounded by the deadline
    }
    return true;
}

bool Client::Send(std::span<const uint8_t> bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::optional<Bytes> Client::Receive(std::chrono::milliseconds timeout) {
    pollfd fd{fd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    Bytes buffer(RECEIVE_BUFFER_SIZE);
    const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buffer;
}

Bytes Client::Exchange(std::span<const uint8_t> request) {
    if (!Send(request)) return {};
    return Receive().value_or(Bytes{});
}

MessageHeader HeaderOf(std::span<const uint8_t> reply) {
    MessageHeader header;
    if (!ParseReplyHeader(reply, header)) header.type = 0xFF;
    return header;
}

Bytes MakeSection(size_t size, const std::vector<std::pair<std::string, std::string>>& tags, uint8_t seed) {
    Bytes section;
    for (int i = 0; i < 16; ++i) section.push_back(static_cast<uint8_t>(seed + i));
    for (const auto& [name, value] : tags) {
        const size_t valueField = (value.size() + 1 + 3) & ~size_t{3};
        PutU32(section, 0);
        PutU32(section, 0);
        PutU32(section, static_cast<uint32_t>(value.size() + 1));
        section.insert(section.end(), name.begin(), name.end());
        section.resize(section.size() + ((name.size() + 1 + 3) & ~size_t{3}) - name.size(), 0);
        section.insert(section.end(), value.begin(), value.end());
        section.resize(section.size() + valueField - value.size(), 0);
    }
    for (size_t i = 0; section.size() + 4 < size; ++i) section.push_back(static_cast<uint8_t>(seed * 7 + i * 13));
    const uint32_t crc = ImageCrc(std::span<const uint8_t>(section).subspan(16));
    PutU32(section, crc);
    return section;
}

std::vector<uint8_t> UploadSection(Client& client, std::span<const uint8_t> section) {
    std::vector<uint8_t> types;
    Bytes reply = client.Exchange(BuildUpgradeStartRequest());
    if (reply.empty()) return {};
    types.push_back(HeaderOf(reply).type);
    const size_t chunks = (section.size() + UPGRADE_CHUNK_SIZE - 1) / UPGRADE_CHUNK_SIZE;
    for (size_t index = 0; index < chunks; ++index) {
        const size_t offset = index * UPGRADE_CHUNK_SIZE;
        const size_t size = std::min(UPGRADE_CHUNK_SIZE, section.size() - offset);
        reply = client.Exchange(BuildUpgradeDataRequest(static_cast<uint32_t>(chunks - 1 - index),
                                                        static_cast<uint32_t>(offset), static_cast<uint32_t>(size),
                                                        section.subspan(offset, size)));
        if (reply.empty()) return {};
        types.push_back(HeaderOf(reply).type);
        if (HeaderOf(reply).status != 0) break;
    }
    return types;
}

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kbr-devsim-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::optional<Bytes> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint16_t UnusedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    (void)::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    (void)::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace kbr::devsim::test
