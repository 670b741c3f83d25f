// Stands in for ipconfig in the order test: the same executable plays both parts.
//   lease_order_probe /release MS    lives for MS milliseconds
//   lease_order_probe /renew FILE    waits for earlier releases, writes how long it waited (ms)
#include "iphelpers/renewal/LeaseSystem.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string option = argv[1];
    if (option != "/renew") {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    const bool ended = kbr::renewal::WaitForEarlierReleases(std::chrono::seconds(10));
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::ofstream(argv[2]) << waited << (ended ? "" : " still running") << "\n";
    return 0;
}
