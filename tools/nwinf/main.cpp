// nwinf: the IP helper the configuration program starts ("1" at start-up, "2" for a refresh).
// It renews this PC's address where the system allows it, then writes "ipinfo.tmp" (first line:
// the primary IPv4 address, "0.0.0.0" when there is none) and "nicinfo.tmp" (the interfaces)
// into the current directory, and ends.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/nwinf/NetInfo.h"

namespace {

using namespace kbr::nwinf;

constexpr int RENEW_COMMAND_LIMIT_MS = 60'000;
constexpr int ADDRESS_WAIT_MS = 20'000;
constexpr int ADDRESS_POLL_MS = 500;

void Say(const std::string& line) { std::fprintf(stderr, "nwinf: %s\n", line.c_str()); }

bool RunCommand(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted()) {
        Say("could not start " + program.toStdString());
        return false;
    }
    if (!process.waitForFinished(RENEW_COMMAND_LIMIT_MS)) {
        process.kill();
        process.waitForFinished();
        Say(program.toStdString() + " did not finish in time");
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The system's own ways of renewing one interface's lease, tried in this order; the first one
// that is installed and succeeds is enough.
bool RenewWithSystem(const QString& interface) {
#ifdef Q_OS_WIN
    Q_UNUSED(interface);
    return RunCommand(QStringLiteral("ipconfig"), {QStringLiteral("/renew")});
#else
    const std::vector<std::pair<QString, QStringList>> ways = {
        {QStringLiteral("networkctl"), {QStringLiteral("renew"), interface}},
        {QStringLiteral("nmcli"), {QStringLiteral("device"), QStringLiteral("reapply"), interface}},
        {QStringLiteral("dhcpcd"), {QStringLiteral("--rebind"), interface}},
    };
    for (const auto& [name, arguments] : ways) {
        const QString program = QStandardPaths::findExecutable(name);
        if (program.isEmpty()) continue;
        Say("renewing " + interface.toStdString() + " with " + name.toStdString());
        if (RunCommand(program, arguments)) return true;
    }
    Say("no way to renew the address here; reporting the current one");
    return false;
#endif
}

bool Renew(const Options& options, const std::string& interface) {
    if (!options.renew) {
        Say("renewal skipped (--no-renew or NWINF_NO_RENEW=1)");
        return false;
    }
    if (interface.empty()) {
        Say("no network interface to renew");
        return false;
    }
    if (!options.renewCommand.empty()) {
        Say("renewing " + interface + " with " + options.renewCommand);
        return RunCommand(QString::fromStdString(options.renewCommand), {QString::fromStdString(interface)});
    }
    return RenewWithSystem(QString::fromStdString(interface));
}

// After a renewal the new lease can take a moment to show; wait (bounded) for a routable address.
std::string SettledAddress(bool renewed) {
    QDeadlineTimer deadline(renewed ? ADDRESS_WAIT_MS : 0);
    for (;;) {
        const std::string address = PrimaryIPv4(CollectInterfaces(), DefaultRouteInterface());
        const bool settled = address != NO_ADDRESS && address.rfind("169.254.", 0) != 0;
        if (settled || deadline.hasExpired()) return address;
        QThread::msleep(ADDRESS_POLL_MS);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    auto options = ParseArguments(arguments);
    if (!options) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    if (qEnvironmentVariable(NO_RENEW_VARIABLE) == QLatin1String("1")) options->renew = false;

    const auto interfaces = CollectInterfaces();
    const bool renewed = Renew(*options, PrimaryInterface(interfaces, DefaultRouteInterface()));
    const std::string address = SettledAddress(renewed);

    const std::string here = QDir::currentPath().toStdString();
    const auto now = CollectInterfaces();
    // ipinfo.tmp last: whoever waits for it finds nicinfo.tmp already there.
    if (!WriteFileWhole(here, NICINFO_FILE, FormatNicInfo(now, DefaultRouteInterface())) ||
        !WriteFileWhole(here, IPINFO_FILE, FormatIpInfo(address))) {
        Say("could not write the information files in " + here);
        return 1;
    }
    return 0;
}
