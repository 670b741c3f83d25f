// Linux: the same renewal as ipconfig /renew, through NetworkManager, dhclient or
// systemd-networkd (iphelpers/renewal).

#include "iphelpers/nwinf/Renewal.h"
#include "iphelpers/renewal/LeaseSystem.h"

namespace kbr::nwinf {

std::vector<std::string> RenewWithSystem(const std::string& interface, Clock::time_point deadline,
                                         RenewalStatus& status) {
    std::vector<std::string> renewed;
    const renewal::Budget budget(Left(deadline, RUN_BUDGET));
    const renewal::Outcome outcome = renewal::Renew(interface, budget);
    for (const auto& done : outcome.done) {
        Say("renewed " + done.interface + " with " + std::string(renewal::ClientName(done.client)));
        renewed.push_back(done.interface);
    }
    if (outcome.Failed()) {
        std::string reasons;
        for (const auto& problem : outcome.failures) {
            reasons += (reasons.empty() ? "" : "; ") + (problem.interface.empty() ? "" : problem.interface + ": ") +
                       problem.reason;
        }
        status = {RenewalStatus::State::Failed, reasons};
    } else {
        status.state = RenewalStatus::State::Renewed;
    }
    return renewed;
}

}  // namespace kbr::nwinf
