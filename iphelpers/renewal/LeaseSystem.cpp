#include "iphelpers/renewal/LeaseSystem.h"

#include <fcntl.h>
#include <net/if.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): POSIX kill() and sigaction() are declared here
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/PrivateFolder.h"
#include "platform/ProcessHandle.h"
#include "platform/Network.h"
#include "platform/ProcessFacts.h"
#include "platform/SafeFile.h"

namespace kbr::renewal {

namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

constexpr size_t OUTPUT_MAX = 64 * 1024;
constexpr size_t PROC_FILE_MAX = 64 * 1024;
constexpr size_t RECORD_MAX = 64 * 1024;
// One nmcli question; a connect waits for the new lease, which takes seconds.
constexpr Ms QUERY_LIMIT = 10s;
constexpr Ms STEP_LIMIT = 60s;
// A dhclient that was told to release should be gone by then; otherwise it is ended.
constexpr Ms STOP_WAIT = 3s;
// A client asked for a new lease gets it in seconds when a server answers.
constexpr Ms LEASE_WAIT = 30s;
// An earlier run still working on the leases is waited for this long at most.
constexpr Ms LOCK_WAIT = 30s;

std::optional<std::string> ReadProcFile(const std::string& path) {
    return platform::ReadRegularFile(path, PROC_FILE_MAX);
}

std::string OwnNetworkNamespace() {
    const auto self = platform::DescribeThisProcess();
    return self && self->networkNamespace ? *self->networkNamespace : std::string();
}

enum class Namespace { Ours, Other, Unknown };

Namespace NamespaceOf(const platform::ProcessFacts& process, const std::string& ours) {
    if (!process.networkNamespace) return Namespace::Unknown;  // another user's process
    return *process.networkNamespace == ours ? Namespace::Ours : Namespace::Other;
}

bool HasProgram(const std::string& name) { return FindSystemProgram(name).has_value(); }

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// ---- NetworkManager, dhclient, systemd-networkd -------------------------------------------------

void CollectNetworkManager(const Budget& budget, SystemFacts& facts) {
    if (!HasProgram("nmcli")) return;
    const CommandResult running = RunCommand({"nmcli", "-t", "-f", "RUNNING", "general"}, budget.Slice(QUERY_LIMIT));
    facts.networkManagerRunning = running.Succeeded() && running.output.rfind("running", 0) == 0;
    if (!facts.networkManagerRunning) return;
    const CommandResult devices =
        RunCommand({"nmcli", "-t", "-f", "DEVICE,TYPE,STATE,CON-UUID", "device", "status"}, budget.Slice(QUERY_LIMIT));
    if (devices.Succeeded()) facts.nmDevices = ParseNmcliDevices(devices.output);
    for (const NmDevice& device : facts.nmDevices) {
        if (device.state != "connected" || std::find(facts.wiredInterfaces.begin(), facts.wiredInterfaces.end(),
                                                     device.name) == facts.wiredInterfaces.end()) {
            continue;
        }
        // A device with a DHCP lease has its options listed; a static one has none.
        const CommandResult lease =
            RunCommand({"nmcli", "-t", "-f", "DHCP4", "device", "show", device.name}, budget.Slice(QUERY_LIMIT));
        if (lease.Succeeded() && lease.output.find_first_not_of(" \n") != std::string::npos) {
            facts.nmDhcpLeases.insert(device.name);
        }
    }
}

// The dhclient processes this run may act on, each held by a pidfd: a signal goes to that very
// process only, never to one that later got its pid.
using ProcessHandles = std::map<int64_t, platform::ProcessHandle>;

bool RunsAsRoot(const platform::ProcessFacts& process) { return process.realUser == 0 && process.effectiveUser == 0; }

// A folder dhclient's files may be in only when root alone can change what is in it (checked on
// the opened folder).
bool RootsFolder(const std::string& folder) {
    const platform::Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    return fd.Valid() && ::fstat(fd.Get(), &info) == 0 && info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Drops a kept -pf or -lf whose folder is not root's alone: dhclient then uses its own default.
std::vector<std::string> TrustedDhclientFiles(const std::vector<std::string>& kept) {
    std::vector<std::string> trusted;
    for (size_t i = 0; i + 1 < kept.size(); i += 2) {
        const std::string& path = kept[i + 1];
        if (InDhclientFolder(path) && RootsFolder(path.substr(0, path.rfind('/')))) {
            trusted.push_back(kept[i]);
            trusted.push_back(path);
        }
    }
    return trusted;
}

// As root: a process counts as a dhclient only when it runs as root, its executable is the very
// file the plan runs as dhclient, and it is in this network namespace; it is held by a pidfd
// opened before those facts are read and still valid after them (so the facts were about it, not
// about a process that got its pid meanwhile).
void CollectRootDhclient(int64_t pid, const platform::FileIdentity& dhclientFile, const std::string& ours,
                         SystemFacts& facts, ProcessHandles& handles) {
    platform::ProcessHandle handle = platform::ProcessHandle::Open(pid);
    if (!handle.Valid()) return;
    const auto process = platform::DescribeProcess(pid);
    if (!process || process->defunct || !RunsAsRoot(*process) || process->executable != dhclientFile ||
        NamespaceOf(*process, ours) != Namespace::Ours) {
        return;
    }
    auto dhclient = ParseDhclientCommandLine(process->commandLine);
    if (!dhclient || !handle.Alive()) return;
    dhclient->pid = handle.Pid();
    dhclient->keptArguments = TrustedDhclientFiles(dhclient->keptArguments);
    facts.dhclients.push_back(std::move(*dhclient));
    handles.emplace(handle.Pid(), std::move(handle));
}

// As another user: root's dhclient cannot be checked (its namespace and executable are not
// readable), nor acted on; where it may serve an interface, only root may renew that.
void CollectOtherDhclient(const platform::ProcessFacts& process, const std::string& ours, SystemFacts& facts) {
    if (!RunsAsRoot(process) || NamespaceOf(process, ours) != Namespace::Unknown) {
        return;  // not root's (nobody's client but a look-alike), or in a namespace we can see is another
    }
    const auto dhclient = ParseDhclientCommandLine(process.commandLine);
    if (!dhclient) return;
    for (const std::string& interface : dhclient->interfaces.empty() ? facts.wiredInterfaces : dhclient->interfaces) {
        facts.dhclientOfOtherUser.insert(interface);
    }
}

void CollectProcesses(SystemFacts& facts, ProcessHandles& handles) {
    const std::string ours = OwnNetworkNamespace();
    const auto dhclient = FindSystemProgram("dhclient");
    const auto dhclientFile = dhclient ? platform::IdentityOfFile(*dhclient) : std::nullopt;
    for (const int64_t pid : platform::ProcessIds()) {
        const auto process = platform::DescribeProcess(pid);
        if (!process || process->defunct) continue;
        if (process->shortName == "dhclient") {
            if (facts.isRoot && dhclientFile) {
                CollectRootDhclient(pid, *dhclientFile, ours, facts, handles);
            } else if (!facts.isRoot) {
                CollectOtherDhclient(*process, ours, facts);
            }
        } else if (process->shortName == "systemd-network") {  // systemd-networkd, as the kernel shortens it
            // It runs as its own user: where its namespace cannot be read it is taken for ours.
            if (NamespaceOf(*process, ours) != Namespace::Other) facts.networkdRunning = true;
        }
    }
}

std::string NetworkdLeaseFile(const std::string& interface) {
    const unsigned index = ::if_nametoindex(interface.c_str());
    return index == 0 ? std::string() : "/run/systemd/netif/leases/" + std::to_string(index);
}

bool HoldsNetworkdLease(const std::string& leaseFile) {
    const auto lease = leaseFile.empty() ? std::nullopt : ReadProcFile(leaseFile);
    return lease && lease->find("\nADDRESS=") != std::string::npos;
}

void CollectNetworkdLeases(SystemFacts& facts) {
    if (!facts.networkdRunning) return;
    for (const std::string& interface : facts.wiredInterfaces) {
        if (HoldsNetworkdLease(NetworkdLeaseFile(interface))) facts.networkdLeases.insert(interface);
    }
}

// systemd-networkd replaces its lease file (a new file, renamed into place) for every lease.
struct LeaseFileMark {
    bool present = false;
    ino_t inode = 0;
    timespec modified{};
    bool operator==(const LeaseFileMark& o) const {
        return present == o.present && inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec;
    }
};

LeaseFileMark MarkOf(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return {};
    return {true, info.st_ino, info.st_mtim};
}

// After a reconfigure the old address stays until the new lease is there: wait for the new one.
bool AwaitNewLease(const std::string& leaseFile, const LeaseFileMark& before, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (!(MarkOf(leaseFile) == before) && HoldsNetworkdLease(leaseFile)) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(50ms);
    }
}

// ---- the release record -----------------------------------------------------------------------

std::string RecordName() {
    std::string ns = OwnNetworkNamespace();  // "net:[4026531840]"
    ns.erase(std::remove_if(ns.begin(), ns.end(), [](char c) { return !std::isdigit(static_cast<unsigned char>(c)); }),
             ns.end());
    return "released-" + (ns.empty() ? std::string("0") : ns);
}

std::vector<Released> LoadRecord(const platform::PrivateFolder& folder) {
    const auto text = folder.Read(RecordName(), RECORD_MAX);
    return text ? ParseReleased(*text) : std::vector<Released>{};
}

[[nodiscard]] bool SaveRecord(const platform::PrivateFolder& folder, const std::vector<Released>& entries,
                              std::string* error = nullptr) {
    if (entries.empty()) {
        if (folder.Remove(RecordName())) return true;
        if (error) *error = "cannot remove the release record in " + folder.Path();
        return false;
    }
    return folder.Replace(RecordName(), FormatReleased(entries), error);
}

// Keeps two runs of ours from working on the leases at the same time. Waits for an earlier run
// at most until the budget (or LOCK_WAIT) runs out, then gives up with a reason.
class RunLock {
public:
    [[nodiscard]] bool Take(const platform::PrivateFolder& folder, const Budget& budget, std::string& why) {
        fd_ = folder.OpenLockFile("ipconfig.lock");
        if (!fd_.Valid()) {
            why = "cannot open the lock file in " + folder.Path();
            return false;
        }
        const auto until = std::chrono::steady_clock::now() + budget.Slice(LOCK_WAIT);
        for (;;) {
            if (::flock(fd_.Get(), LOCK_EX | LOCK_NB) == 0) return true;
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            if (std::chrono::steady_clock::now() >= until) {
                why = "another ipconfig or nwinf is still working on the leases; try again later";
                return false;
            }
            std::this_thread::sleep_for(50ms);
        }
        why = std::string("cannot lock ") + folder.Path() + "/ipconfig.lock: " + std::strerror(errno);
        return false;
    }

private:
    platform::Descriptor fd_;
};

// ---- running a plan ---------------------------------------------------------------------------

// A dhclient told to release should end by itself; one that does not is ended (through its
// pidfd only), so that no second client ever runs beside the one started next.
void EnsureStopped(const platform::ProcessHandle& process) {
    if (process.WaitEnded(STOP_WAIT)) return;
    (void)process.Signal(SIGTERM);
    if (process.WaitEnded(2s)) return;
    (void)process.Signal(SIGKILL);
    (void)process.WaitEnded(2s);
}

Outcome RunPlan(const Plan& plan, const ProcessHandles& handles, const Budget& budget,
                std::vector<bool>* stepOk = nullptr) {
    Outcome outcome;
    outcome.failures = plan.problems;
    for (const Step& step : plan.steps) {
        bool ok = false;
        const std::string what = Joined(step.command);
        const auto held = handles.find(step.stopsProcess);
        if (step.command.empty()) {
            // Stopping a dhclient that serves other interfaces too: SIGTERM ends it without a
            // release, through its pidfd only.
            if (held == handles.end()) {
                outcome.failures.push_back(
                    {step.interface,
                     "cannot stop dhclient " + std::to_string(step.stopsProcess) + " safely: it was not checked"});
            } else {
                (void)held->second.Signal(SIGTERM);
                EnsureStopped(held->second);
                ok = !held->second.Alive() || held->second.WaitEnded(Ms(0));
                if (!ok) {
                    outcome.failures.push_back(
                        {step.interface, "dhclient " + std::to_string(step.stopsProcess) + " did not stop"});
                }
            }
            if (stepOk) stepOk->push_back(ok);
            continue;
        }
        if (budget.Expired()) {
            outcome.failures.push_back({step.interface, "no time left for '" + what + "'"});
        } else {
            const std::string leaseFile = step.awaitsLease ? NetworkdLeaseFile(step.interface) : std::string();
            const LeaseFileMark before = MarkOf(leaseFile);
            const CommandResult result = RunCommand(step.command, budget.Slice(STEP_LIMIT), step.startsClient);
            if (!result.started) {
                outcome.failures.push_back(
                    {step.interface, "cannot run " + step.command.front() +
                                         (result.errors.empty() ? std::string() : ": " + result.errors)});
            } else if (!result.finished) {
                outcome.failures.push_back({step.interface, step.startsClient
                                                                ? step.command.front() + " got no lease in time"
                                                                : "'" + what + "' timed out"});
            } else if (result.exitCode != 0) {
                std::string reason = ReasonFromErrorOutput(result.errors);
                if (reason.empty())
                    reason = "'" + what + "' failed (exit code " + std::to_string(result.exitCode) + ")";
                outcome.failures.push_back({step.interface, reason});
            } else if (step.awaitsLease && !AwaitNewLease(leaseFile, before, budget.Slice(LEASE_WAIT))) {
                outcome.failures.push_back(
                    {step.interface, std::string(ClientName(step.client)) + " got no new lease in time"});
            } else {
                ok = true;
                outcome.done.push_back({step.interface, step.client});
            }
        }
        if (step.stopsProcess != 0 && held != handles.end()) {
            EnsureStopped(held->second);
        }
        if (stepOk) stepOk->push_back(ok);
    }
    return outcome;
}

}  // namespace

Budget::Budget(std::chrono::milliseconds total) : deadline_(std::chrono::steady_clock::now() + total) {}

std::chrono::milliseconds Budget::Remaining() const {
    return std::max(Ms(0), std::chrono::duration_cast<Ms>(deadline_ - std::chrono::steady_clock::now()));
}

std::chrono::milliseconds Budget::Slice(std::chrono::milliseconds cap) const { return std::min(cap, Remaining()); }

std::optional<std::string> FindProgramIn(std::string_view name, const std::vector<std::string>& folders) {
    if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..") return std::nullopt;
    for (const std::string& folder : folders) {
        const std::string path = folder + "/" + std::string(name);
        struct stat info {};
        // What the path leads to is what runs: that file must be root's, and root's alone to change.
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == 0 &&
            (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 && (info.st_mode & S_IXUSR) != 0) {
            return path;
        }
    }
    return std::nullopt;
}

std::optional<std::string> FindSystemProgram(std::string_view name) {
    static const std::vector<std::string> SYSTEM_FOLDERS = {"/usr/sbin", "/usr/bin", "/sbin", "/bin"};
    return FindProgramIn(name, SYSTEM_FOLDERS);
}

const std::vector<std::string>& HelperEnvironment() {
    // Untranslated messages (their reasons are read), and nothing else of the caller's.
    static const std::vector<std::string> ENVIRONMENT = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C"};
    return ENVIRONMENT;
}

CommandResult RunCommand(const std::vector<std::string>& command, std::chrono::milliseconds limit, bool leaveRunning) {
    CommandResult result;
    if (command.empty()) return result;
    const auto program = FindSystemProgram(command.front());
    if (!program) {
        result.errors = command.front() + " is not installed in /usr/sbin, /usr/bin, /sbin or /bin (owned by root)";
        return result;
    }
    platform::RunOptions options;
    options.environment = HelperEnvironment();
    options.leaveRunning = leaveRunning;
    options.outputMax = OUTPUT_MAX;
    const platform::ProgramRun run =
        platform::RunProgram(*program, std::vector<std::string>(command.begin() + 1, command.end()),
                             static_cast<int>(std::min<int64_t>(limit.count(), INT32_MAX)), options);
    result.started = run.started;
    result.finished = run.Finished();
    result.exitCode = run.Finished() ? run.exitCode : -1;
    result.output = run.output;
    result.errors = run.errors;
    return result;
}

std::vector<std::string> WiredInterfaces() {
    std::vector<std::string> names;
    for (const platform::NetworkInterface& facts : platform::ListNetworkInterfaces()) {
        if (facts.wired) names.push_back(facts.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

// Every interface of this namespace but loopback, sorted.
std::vector<std::string> AllInterfaces() {
    std::vector<std::string> names;
    for (const platform::NetworkInterface& facts : platform::ListNetworkInterfaces()) {
        if (!facts.loopback) names.push_back(facts.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

SystemFacts CollectFacts(const Budget& budget, ProcessHandles& handles) {
    SystemFacts facts;
    facts.isRoot = ::geteuid() == 0;
    facts.wiredInterfaces = WiredInterfaces();
    facts.allInterfaces = AllInterfaces();
    CollectNetworkManager(budget, facts);
    CollectProcesses(facts, handles);
    CollectNetworkdLeases(facts);
    return facts;
}

// The record as /renew may use it: a dhclient's files only where root alone keeps them.
std::vector<Released> LoadTrustedRecord(const platform::PrivateFolder& folder) {
    std::vector<Released> record = LoadRecord(folder);
    for (Released& entry : record) {
        if (entry.client != Client::Dhclient) continue;
        std::vector<std::string> argv = {"dhclient"};
        argv.insert(argv.end(), entry.dhclientArguments.begin(), entry.dhclientArguments.end());
        if (auto process = ParseDhclientCommandLine(argv)) {
            entry.dhclientArguments = TrustedDhclientFiles(process->keptArguments);
            entry.dhclientArguments.insert(entry.dhclientArguments.end(), process->interfaces.begin(),
                                           process->interfaces.end());
        }
    }
    return record;
}

}  // namespace

SystemFacts CollectFacts(const Budget& budget) {
    ProcessHandles handles;
    return CollectFacts(budget, handles);
}

Outcome Release(std::string_view adapter, const Budget& budget) {
    Outcome outcome;
    std::string why;
    // Nothing may be given up that /renew could not bring back.
    const platform::PrivateFolder folder = platform::PrivateFolder::ForThisUser(&why);
    if (!folder.Valid()) {
        outcome.failures.push_back({"", "no private folder for the release record (" + why +
                                            "); nothing was released, so that /renew can bring it back"});
        return outcome;
    }
    RunLock lock;
    if (!lock.Take(folder, budget, why)) {
        outcome.failures.push_back({"", why + "; nothing was released"});
        return outcome;
    }
    ProcessHandles handles;
    const SystemFacts facts = CollectFacts(budget, handles);
    const Plan plan = PlanRelease(facts, adapter);

    // What is about to be given up is recorded first (beside what an earlier release, not yet
    // renewed, recorded): without the record nothing is released.
    const std::vector<Released> earlier = LoadRecord(folder);
    auto merged = [&](const std::vector<bool>& given) {
        std::vector<Released> record = earlier;
        for (size_t i = 0; i < plan.released.size(); ++i) {
            if (!given[i]) continue;
            record.erase(std::remove_if(record.begin(), record.end(),
                                        [&](const Released& r) { return r.interface == plan.released[i].interface; }),
                         record.end());
            record.push_back(plan.released[i]);
        }
        return record;
    };
    if (!plan.released.empty() && !SaveRecord(folder, merged(std::vector<bool>(plan.released.size(), true)), &why)) {
        outcome.failures = plan.problems;
        outcome.failures.push_back({"", "cannot keep the release record (" + why +
                                            "); nothing was released, so that /renew can bring it back"});
        return outcome;
    }
    std::vector<bool> stepOk;
    Outcome ran = RunPlan(plan, handles, budget, &stepOk);
    // An entry whose step did not work was not given up: it leaves the record again.
    std::vector<bool> given(plan.released.size(), true);
    for (size_t i = 0; i < plan.steps.size(); ++i) {
        const int entry = plan.steps[i].record;
        if (entry >= 0 && static_cast<size_t>(entry) < given.size() && (i >= stepOk.size() || !stepOk[i])) {
            given[static_cast<size_t>(entry)] = false;
        }
    }
    if (std::find(given.begin(), given.end(), false) != given.end() && !SaveRecord(folder, merged(given), &why)) {
        ran.failures.push_back({"", "cannot update the release record: " + why});
    }
    return ran;
}

Outcome Renew(std::string_view adapter, const Budget& budget) {
    std::string why;
    const platform::PrivateFolder folder = platform::PrivateFolder::ForThisUser(&why);
    RunLock lock;
    if (folder.Valid() && !lock.Take(folder, budget, why)) {
        Outcome outcome;
        outcome.failures.push_back({"", why});
        return outcome;
    }
    // Without the folder there is no record either (a release would have kept nothing): every
    // lease still held is renewed all the same.
    const std::vector<Released> record = folder.Valid() ? LoadTrustedRecord(folder) : std::vector<Released>{};
    ProcessHandles handles;
    const SystemFacts facts = CollectFacts(budget, handles);
    const Plan plan = PlanRenew(facts, record, adapter);
    std::vector<bool> stepOk;
    Outcome outcome = RunPlan(plan, handles, budget, &stepOk);
    if (!folder.Valid()) return outcome;
    // What came back is no longer pending; what could not come back stays recorded (its failure
    // is said above), and so does a release of another adapter.
    std::vector<bool> keep(record.size(), false);
    for (const size_t index : plan.stillReleased) {
        if (index < keep.size()) keep[index] = true;
    }
    for (size_t i = 0; i < plan.steps.size(); ++i) {
        const int entry = plan.steps[i].record;
        if (entry >= 0 && static_cast<size_t>(entry) < keep.size() && (i >= stepOk.size() || !stepOk[i])) {
            keep[static_cast<size_t>(entry)] = true;
        }
    }
    std::vector<Released> rest;
    for (size_t i = 0; i < record.size(); ++i) {
        if (keep[i]) rest.push_back(record[i]);
    }
    if (rest != record && !SaveRecord(folder, rest, &why)) {
        outcome.failures.push_back({"", "cannot update the release record: " + why});
    }
    return outcome;
}

bool WaitForEarlierReleases(std::chrono::milliseconds limit) {
    const auto self = platform::DescribeThisProcess();
    if (!self || !self->executable || !self->networkNamespace) return true;

    auto earlierRelease = [&](int64_t pid) {
        if (pid == self->pid) return false;
        const auto process = platform::DescribeProcess(pid);
        if (!process || process->defunct || process->effectiveUser != self->effectiveUser ||
            process->executable != self->executable || process->networkNamespace != self->networkNamespace ||
            process->startTime > self->startTime || process->commandLine.size() < 2) {
            return false;
        }
        std::string option = process->commandLine[1];
        std::transform(option.begin(), option.end(), option.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return option == "/release" || option == "-release" || option == "--release";
    };

    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto pids = platform::ProcessIds();
        if (std::none_of(pids.begin(), pids.end(), earlierRelease)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
}

}  // namespace kbr::renewal
