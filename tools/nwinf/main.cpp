// nwinf: the IP helper the configuration program starts.
//   nwinf 1   at start-up, while the PC is cabled to the adaptor in its configuration mode:
//             renews nothing, records in nicinfo.tmp which interface faces the adaptor (the one
//             holding its 192.168.0.x address) and reports that interface's address.
//   nwinf 2   for "Refresh IP address": renews the DHCP lease of that interface (else of every
//             wired interface that holds one) the way `ipconfig /renew` does, and reports its
//             new address.
// It writes "ipinfo.tmp" (first line: the address, "0.0.0.0" when there is none; second line:
// the renewal's outcome) and "nicinfo.tmp" (the interfaces) into the current directory, and ends
// well within the limit the Reminder gives each run. A renewal that fails is said in nicinfo.tmp
// with its reason and logged.

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/ProblemLog.h"
#include "platform/SafeFile.h"
#include "tools/nwinf/NetInfo.h"
#ifndef Q_OS_WIN
#include "tools/renewal/LeaseSystem.h"
#endif

namespace {

using namespace kbr::nwinf;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The Reminder ends a helper run after 150 s; everything below shares this budget, and the files
// are written in the time kept back at its end.
constexpr auto RUN_BUDGET = 120s;
constexpr auto RENEW_COMMAND_LIMIT = 60s;
constexpr auto ADDRESS_WAIT_LIMIT = 20s;
constexpr int ADDRESS_POLL_MS = 250;
constexpr size_t NICINFO_READ_MAX = 64 * 1024;
// The adaptor's own address in its configuration mode.
constexpr const char* ADAPTOR_ADDRESS = "192.168.0.20";

void Say(const std::string& line) { std::fprintf(stderr, "nwinf: %s\n", line.c_str()); }

std::chrono::milliseconds Left(Clock::time_point deadline, std::chrono::milliseconds cap) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::clamp(left, std::chrono::milliseconds(0), cap);
}

// Runs PROGRAM ARGUMENTS; false with the reason when it could not run, failed or took too long.
bool RunCommand(const QString& program, const QStringList& arguments, std::chrono::milliseconds limit,
                std::string& reason) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted()) {
        reason = "cannot run " + program.toStdString();
        return false;
    }
    if (!process.waitForFinished(static_cast<int>(limit.count()))) {
        process.kill();
        process.waitForFinished();
        reason = program.toStdString() + " did not finish in time";
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QByteArray errors = process.readAllStandardError().trimmed();
        reason = program.toStdString() + " failed" +
                 (errors.isEmpty() ? std::string() : ": " + errors.split('\n').last().left(200).toStdString());
        return false;
    }
    return true;
}

// Renews `interface` (empty: every wired interface that holds a lease) through the system's DHCP
// client. Returns the interfaces renewed.
std::vector<std::string> RenewWithSystem(const std::string& interface, Clock::time_point deadline,
                                         RenewalStatus& status) {
    std::vector<std::string> renewed;
#ifdef Q_OS_WIN
    std::string reason;
    const QStringList arguments = interface.empty()
                                      ? QStringList{QStringLiteral("/renew")}
                                      : QStringList{QStringLiteral("/renew"), QString::fromStdString(interface)};
    if (RunCommand(QStringLiteral("ipconfig"), arguments, Left(deadline, RENEW_COMMAND_LIMIT), reason)) {
        status.state = RenewalStatus::State::Renewed;
        if (!interface.empty()) renewed.push_back(interface);
    } else {
        status = {RenewalStatus::State::Failed, reason};
    }
#else
    const kbr::renewal::Budget budget(Left(deadline, RUN_BUDGET));
    const kbr::renewal::Outcome outcome = kbr::renewal::Renew(interface, budget);
    for (const auto& done : outcome.done) {
        Say("renewed " + done.interface + " with " + std::string(kbr::renewal::ClientName(done.client)));
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
#endif
    return renewed;
}

// The interface named in nicinfo.tmp by an earlier run, if it is still there.
std::string RecordedInterface(const std::string& here, const std::vector<InterfaceFacts>& interfaces) {
    const auto nicinfo = kbr::platform::ReadRegularFile(here + "/" + NICINFO_FILE, NICINFO_READ_MAX);
    if (!nicinfo) return {};
    const std::string name = RecordedAdaptorInterface(*nicinfo);
    const bool present = std::any_of(interfaces.begin(), interfaces.end(),
                                     [&](const InterfaceFacts& facts) { return facts.name == name; });
    return present ? name : std::string();
}

// After a renewal the new lease can take a moment to show; wait (bounded) for a routable address.
std::string SettledAddress(const std::string& interface, bool wait, Clock::time_point deadline) {
    const auto until = Clock::now() + (wait ? Left(deadline, ADDRESS_WAIT_LIMIT) : 0ms);
    for (;;) {
        const auto interfaces = CollectInterfaces();
        const std::string address = interface.empty() ? PrimaryIPv4(interfaces, DefaultRouteInterface())
                                                      : AddressOf(interfaces, interface);
        const bool settled = address != NO_ADDRESS && address.rfind("169.254.", 0) != 0;
        if (settled || Clock::now() >= until) return address;
        QThread::msleep(ADDRESS_POLL_MS);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const auto deadline = Clock::now() + RUN_BUDGET;
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    auto options = ParseArguments(arguments);
    if (!options) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    if (qEnvironmentVariable(NO_RENEW_VARIABLE) == QLatin1String("1")) options->renew = false;

    const std::string here = QDir::currentPath().toStdString();
    const auto interfaces = CollectInterfaces();
    // The interface that faces the adaptor: found at start-up, remembered for the refresh.
    const std::string adaptor = options->mode == 1
                                    ? AdaptorInterface(interfaces, SourceAddressTowards(ADAPTOR_ADDRESS))
                                    : RecordedInterface(here, interfaces);

    RenewalStatus renewal;
    std::vector<std::string> renewed;
    if (options->mode == 2 && !options->renew) {
        renewal.state = RenewalStatus::State::Skipped;
        Say("renewal skipped (--no-renew or NWINF_NO_RENEW=1)");
    } else if (options->mode == 2 && !options->renewCommand.empty()) {
        const std::string target = adaptor.empty() ? PrimaryInterface(interfaces, DefaultRouteInterface()) : adaptor;
        std::string reason = "no network interface to renew";
        if (!target.empty() && RunCommand(QString::fromStdString(options->renewCommand),
                                          {QString::fromStdString(target)}, Left(deadline, RENEW_COMMAND_LIMIT),
                                          reason)) {
            renewal.state = RenewalStatus::State::Renewed;
            renewed.push_back(target);
        } else {
            renewal = {RenewalStatus::State::Failed, reason};
        }
    } else if (options->mode == 2) {
        renewed = RenewWithSystem(adaptor, deadline, renewal);
    }
    if (renewal.state == RenewalStatus::State::Failed) {
        Say("renewal failed: " + renewal.reason);
        kbr::platform::LogProblem("nwinf", "renewal failed: " + renewal.reason);
    }

    // Report the adaptor's interface; else the one interface renewed; else the primary address.
    std::string reported = adaptor;
    if (reported.empty() && renewed.size() == 1) reported = renewed.front();
    const std::string address = SettledAddress(reported, !renewed.empty(), deadline);

    const auto now = CollectInterfaces();
    // ipinfo.tmp last: whoever waits for it finds nicinfo.tmp already there.
    if (!WriteFileWhole(here, NICINFO_FILE, FormatNicInfo(now, DefaultRouteInterface(), adaptor, renewal)) ||
        !WriteFileWhole(here, IPINFO_FILE, FormatIpInfo(address, renewal))) {
        Say("could not write the information files in " + here);
        return 1;
    }
    return 0;
}
