#include "testkit/DevsimHarness.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "devtools/image/ImageBuilder.h"
#include "link/UpgradeImage.h"
#include "platform/Platform.h"

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

}  // namespace

DevsimProcess::~DevsimProcess() { Stop(); }

bool DevsimProcess::Start(const std::vector<std::string>& args, std::string* error) {
    std::vector<std::string> all = {"--listen", "127.0.0.1:0"};
    all.insert(all.end(), args.begin(), args.end());
    std::string reason;
    if (!process_.Start(KBR_DEVSIM_PATH, all, &reason)) return SetError(error, "cannot start the simulator: " + reason);

    const auto deadline = Clock::now() + 10s;
    while (firstLine_.find('\n') == std::string::npos) {
        if (!process_.Read(platform::ChildProcess::Stream::Output, firstLine_,
                           std::min(MillisecondsLeft(deadline), 50))) {
            return SetError(error, "simulator ended before its first line; stderr: " + Stderr());
        }
        if (firstLine_.find('\n') == std::string::npos && Clock::now() >= deadline) {
            return SetError(error, "no first line within 10 s; stderr: " + Stderr());
        }
    }
    firstLine_.resize(firstLine_.find('\n'));
    if (!firstLine_.empty() && firstLine_.back() == '\r') firstLine_.pop_back();
    const std::string prefix = "listening on 127.0.0.1:";
    if (firstLine_.rfind(prefix, 0) != 0) return SetError(error, "unexpected first line '" + firstLine_ + "'");
    port_ = static_cast<uint16_t>(std::atoi(firstLine_.c_str() + prefix.size()));
    if (port_ == 0) return SetError(error, "no port in '" + firstLine_ + "'");
    return true;
}

void DevsimProcess::DrainStderr(int timeoutMs) {
    (void)process_.Read(platform::ChildProcess::Stream::Error, stderr_, timeoutMs);
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
    if (!process_.Started()) return -1;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (const auto code = process_.Wait(0)) {
            DrainStderr(0);
            return *code;
        }
        if (Clock::now() >= deadline) return -1;
        DrainStderr(10);  // doubles as a short bounded pause
        std::this_thread::sleep_for(1ms);
    }
}

int DevsimProcess::Stop() {
    if (!process_.Started()) return -1;
    if (process_.Wait(0)) {
        DrainStderr(0);
        return *process_.Wait(0);
    }
    process_.RequestStop();
    int result = WaitForExit(5s);
    if (!process_.Wait(0)) {
        process_.Kill();
        (void)process_.Wait(-1);
        result = -1;
    }
    DrainStderr(0);
    return result;
}

Client::~Client() { Close(); }

Client::Client(Client&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

void Client::Close() {
    platform::CloseSocket(fd_);
    fd_ = platform::NO_SOCKET;
}

bool Client::Connect(uint16_t port) {
    Close();
    fd_ = platform::OpenSocket(SOCK_STREAM);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return fd_ != platform::NO_SOCKET && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool Client::ConnectWithin(uint16_t port, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!Connect(port)) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);  // between attempts only; the wait is bounded by the deadline
    }
    return true;
}

bool Client::Send(std::span<const uint8_t> bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const long n = platform::SendSome(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::optional<Bytes> Client::Receive(std::chrono::milliseconds timeout) {
    if (platform::WaitSocket(fd_, false, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    Bytes buffer(RECEIVE_BUFFER_SIZE);
    const long n = platform::ReceiveSome(fd_, buffer.data(), buffer.size());
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buffer;
}

Bytes Client::Exchange(std::span<const uint8_t> request) {
    if (!Send(request)) return {};
    return Receive().value_or(Bytes{});
}

bool Client::LogIn(std::string_view password) {
    const Bytes reply = Exchange(BuildLoginRequest(password));
    return reply.size() >= MESSAGE_HEADER_SIZE && HeaderOf(reply).status == 0;
}

MessageHeader HeaderOf(std::span<const uint8_t> reply) {
    const Decoded<MessageHeader> header = ReadReplyHeader(reply);
    if (header) return *header;
    MessageHeader none;
    none.type = 0xFF;
    return none;
}

std::string ValueText(std::span<const uint8_t> reply) {
    const Decoded<std::string> value = ReadValueReply(reply);
    return value ? *value : "(no value: " + value.error + ")";
}

Bytes MakeSection(size_t size, const std::vector<std::pair<std::string, std::string>>& tags, uint8_t seed) {
    Bytes section;
    for (size_t i = 0; i < IMAGE_SECTION_START_SIZE; ++i) section.push_back(static_cast<uint8_t>(seed + i));
    for (const auto& [name, value] : tags) {
        const Bytes record = EncodeImageTag(name, value);
        section.insert(section.end(), record.begin(), record.end());
    }
    for (size_t i = 0; section.size() + IMAGE_CRC_SIZE < size; ++i) {
        section.push_back(static_cast<uint8_t>(seed * 7 + i * 13));
    }
    section.resize(section.size() + IMAGE_CRC_SIZE);
    SealImageSection(section);
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
    path_ = platform::MakeFreshFolder(std::filesystem::temp_directory_path().string(), "kbr-devsim-");
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
    const platform::SocketHandle fd = platform::OpenSocket(SOCK_STREAM);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    platform::SocketLength length = sizeof address;
    (void)::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    (void)::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    platform::CloseSocket(fd);
    return ntohs(address.sin_port);
}

}  // namespace kbr::devsim::test
