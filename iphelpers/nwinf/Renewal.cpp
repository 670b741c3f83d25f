#include "iphelpers/nwinf/Renewal.h"

#include <cstdio>

#include "platform/ChildProcess.h"

namespace kbr::nwinf {

void Say(const std::string& line) { std::fprintf(stderr, "nwinf: %s\n", line.c_str()); }

bool RunRenewalProgram(const std::string& program, const std::vector<std::string>& arguments,
                       std::chrono::milliseconds limit, std::string& reason, bool outputExplains) {
    const platform::ProgramRun run =
        platform::RunProgram(program, arguments, static_cast<int>(limit.count()), /*searchPath=*/true);
    if (!run.started) {
        reason = "cannot run " + program;
        return false;
    }
    if (run.timedOut) {
        reason = program + " did not finish in time";
        return false;
    }
    if (run.exitCode != 0) {
        reason = FailureReason(program, outputExplains && run.errors.empty() ? run.output : run.errors);
        return false;
    }
    return true;
}

}  // namespace kbr::nwinf
