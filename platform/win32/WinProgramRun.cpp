#include "platform/ProgramRun.h"

namespace raid {

// The service runs no program of the owner's on Windows (see README, "Running a program
// on every alert"): its console program has no alerts of root's to hand on.
ProgramRunResult runProgram(const ProgramRunRequest&) {
    ProgramRunResult result;
    result.problem = "alert programs are not run on Windows";
    return result;
}

std::string trustedProgramRefusal(const std::string&) { return "alert programs are not run on Windows"; }

bool runningAsRoot() { return false; }

std::string machineHostName() { return {}; }

}  // namespace raid
