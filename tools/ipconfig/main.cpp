// ipconfig for Linux: the small part of the Windows tool that the setup wizard relies on.
//   ipconfig                      show the IPv4 addresses of this PC's interfaces
//   ipconfig /release [adapter]   give up the DHCP address of the wired adapters
//   ipconfig /renew [adapter]     ask for a DHCP address again
// The work is done by NetworkManager (nmcli) where it runs, else by dhclient (as root).

#include "tools/ipconfig/IpconfigPlan.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using kbr::ipconfig::Action;

void PrintUsage(FILE* to) {
    std::fputs("Usage: ipconfig [/all | /release [adapter] | /renew [adapter] | /?]\n"
              "  (no option)  show the IPv4 address of every interface\n"
              "  /release     release the DHCP address of the wired adapters\n"
              "  /renew       obtain a DHCP address for the wired adapters again\n"
              "NetworkManager (nmcli) is used where it runs, otherwise dhclient (as root).\n",
               to);
}

bool OnSearchPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty()) {
            dir = ".";
        }
        if (access((dir + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// Runs argv from the search path and waits; its standard output goes to `output` when given.
int Run(const std::vector<std::string>& args, std::string* output = nullptr) {
    std::vector<char*> argv;
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output != nullptr) {
        if (pipe2(pipeFds, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return -1;
        }
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    }
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (output != nullptr) {
        close(pipeFds[1]);
        if (rc == 0) {
            char buffer[4096];
            ssize_t n;
            // Bounded: nmcli's device list is small; anything beyond is not ours to read.
            while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0 && output->size() < (1u << 20)) {
                output->append(buffer, static_cast<size_t>(n));
            }
        }
        close(pipeFds[0]);
    }
    if (rc != 0) {
        std::fprintf(stderr, "ipconfig: cannot run %s: %s\n", argv[0], std::strerror(rc));
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool NetworkManagerRunning() {
    if (!OnSearchPath("nmcli")) {
        return false;
    }
    std::string out;
    return Run({"nmcli", "-t", "-f", "RUNNING", "general"}, &out) == 0 && out.rfind("running", 0) == 0;
}

// The wizard starts "/release" and "/renew" back to back without waiting: a lock held for the
// whole run keeps the renewal from overtaking the release. The renewal yields briefly first so
// that a release started at the same moment gets the lock before it.
int TakeRunLock(Action action) {
    if (action == Action::Renew) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    const std::string path = (runtimeDir != nullptr && *runtimeDir != '\0')
                                 ? std::string(runtimeDir) + "/kbr-ipconfig.lock"
                                 : "/tmp/kbr-ipconfig-" + std::to_string(getuid()) + ".lock";
    // Never follow a link someone else planted in a shared directory.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        struct stat info {};
        if (fstat(fd, &info) != 0 || info.st_uid != getuid() || flock(fd, LOCK_EX) != 0) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

int Show() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        std::perror("ipconfig");
        return 1;
    }
    std::puts("IP Configuration\n");
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        char address[INET_ADDRSTRLEN] = "";
        char mask[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, address, sizeof address);
        if (entry->ifa_netmask != nullptr) {
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_netmask)->sin_addr, mask, sizeof mask);
        }
        std::printf("Adapter %s%s:\n   IPv4 Address. . . : %s\n   Subnet Mask . . . : %s\n\n", entry->ifa_name,
                    (entry->ifa_flags & IFF_UP) ? "" : " (down)", address, mask);
    }
    freeifaddrs(list);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto request = kbr::ipconfig::ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!request) {
        PrintUsage(stderr);
        return 2;
    }
    if (request->action == Action::Help) {
        PrintUsage(stdout);
        return 0;
    }
    if (request->action == Action::Show) {
        return Show();
    }

    const int lock = TakeRunLock(request->action);
    kbr::ipconfig::SystemFacts facts;
    facts.networkManagerRunning = NetworkManagerRunning();
    if (facts.networkManagerRunning) {
        std::string out;
        if (Run({"nmcli", "-t", "-f", "DEVICE,TYPE,STATE", "device", "status"}, &out) == 0) {
            facts.nmDevices = kbr::ipconfig::ParseNmcliDevices(out);
        }
    }
    facts.wiredInterfaces = kbr::ipconfig::ListWiredInterfaces("/sys/class/net");
    facts.haveDhclient = OnSearchPath("dhclient");
    facts.isRoot = geteuid() == 0;

    const kbr::ipconfig::Plan plan = kbr::ipconfig::MakePlan(*request, facts);
    int result = plan.problems.empty() ? 0 : 1;
    for (const auto& problem : plan.problems) {
        std::fprintf(stderr, "ipconfig: %s\n", problem.c_str());
    }
    for (const auto& command : plan.commands) {
        if (Run(command) != 0) {
            std::fprintf(stderr, "ipconfig: '%s' failed\n", command.front().c_str());
            result = 1;
        }
    }
    if (lock >= 0) {
        close(lock);
    }
    return result;
}
