// A stand-in for the device's configuration port in the wizard's whole-program tests: it accepts
// connections on ADDRESS:PORT and logs, one line each, when a connection was accepted and when the
// peer closed it ("accept MS" / "close MS", milliseconds of the system clock). It never sends.
// Run only inside a private network namespace.
//   wizard_probe_listener ADDRESS PORT LOGFILE

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void Log(FILE* log, const char* what) {
    std::fprintf(log, "%s %lld\n", what, NowMs());
    std::fflush(log);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s ADDRESS PORT LOGFILE\n", argv[0]);
        return 2;
    }
    FILE* log = std::fopen(argv[3], "a");
    if (log == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &address.sin_addr) != 1) {
        std::fprintf(stderr, "bad address %s\n", argv[1]);
        return 2;
    }
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (server < 0 || bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(server, 8) != 0) {
        std::perror("listen");
        return 1;
    }
    Log(log, "listening");

    std::vector<pollfd> fds{{server, POLLIN, 0}};
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            continue;
        }
        for (size_t i = fds.size(); i-- > 1;) {
            if (fds[i].revents == 0) {
                continue;
            }
            char buffer[256];
            if (read(fds[i].fd, buffer, sizeof buffer) <= 0) {
                Log(log, "close");
                close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<long>(i));
            }
        }
        if (fds[0].revents & POLLIN) {
            const int client = accept(server, nullptr, nullptr);
            if (client >= 0) {
                Log(log, "accept");
                fds.push_back({client, POLLIN, 0});
            }
        }
    }
}
