// Scenario files: what the simulated machine looks like and what happens to it over
// virtual time.
//
//   # comment (anywhere on a line)
//   <seconds> <verb> <args>
//
// Seconds count virtual time from the start (fractions allowed, "20.3") and never go
// backwards. Verbs:
//   disk N                                          a plain disk as physical drive N
//   attach N mailbox|ata|vu1|vu2 identity=FILE status=FILE
//                                                   an enclosure as physical drive N
//   member N OF                                     drive N is a second drive of the enclosure at OF
//   volume L N                                      volume letter L (C..Z) on drive N
//   status N FILE                                   the enclosure's live status record becomes FILE
//   detach N                                        unplug drive N
//   fail N KIND COUNT                               the next COUNT such requests to N fail;
//        KIND: read|write|inquiry|ata|vu|any|flashread|flasherase|flashprogram|flashmode
//   flash N FILE                                    the enclosure's flash becomes FILE (512 KiB)
//   flipbit N [SKIP]                                the flash read-back after SKIP more (default 0)
//                                                   comes back with one bit flipped
// "#" starts a comment anywhere outside a double-quoted value.
// FILE is a 512-byte binary file (flash: 524288 bytes); a relative path is relative to the scenario's folder.
//
// Everything is checked before the run: a scenario that loads plays to the end.
// The drive table is followed while parsing, so attaching over a present drive,
// unplugging an empty number, or a member/status of something that is not an
// enclosure at that moment are refused along with malformed lines.
#pragma once

#include "sim/Block.h"
#include "sim/SimEnclosure.h"
#include "sim/SimPlatform.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace raid::sim {

struct ScenarioStep {
    double seconds = 0;
    int line = 0;
    std::string verb;
    // Parsed fields.
    int drive = -1;
    int other = -1;  // member: the enclosure's drive
    Path path = Path::Mailbox;
    char letter = 0;
    FaultKind fault = FaultKind::Any;
    int count = 0;
    Block identity{}, status{};
    // flash: the content (kFlashSize bytes), shared by copies of the step.
    std::shared_ptr<const std::vector<std::uint8_t>> flash;
    // The words after the verb as written; the only content of verbs the caller
    // handles itself (see `extraVerbs`).
    std::vector<std::string> args;
    // The text after the verb as written (blanks inside quotes kept).
    std::string rest;
};

struct Scenario {
    std::string name;
    std::vector<ScenarioStep> steps;
};

// Verbs the caller handles itself (for example the runner's "check"): accepted with
// any arguments, which are passed through in ScenarioStep::args.
using ExtraVerbs = std::vector<std::string>;

// Return false and fill `error` ("<file>:<line>: <what is wrong>") on a refusal.
bool loadScenario(const std::string& path, Scenario& out, std::string& error, const ExtraVerbs& extraVerbs = {});
bool parseScenario(std::istream& in, const std::string& displayName, const std::string& baseDir, Scenario& out,
                   std::string& error, const ExtraVerbs& extraVerbs = {});

// Applies one step to the platform. Returns true when the step is a hot-plug (a
// drive arriving or leaving at a time > 0) that must deliver a device-change
// notification. Caller-handled verbs are left alone (false).
bool applyStep(SimPlatform& platform, const ScenarioStep& step);

// Built in: plain system disk 0 with volume C:, one RAID1 enclosure on the mailbox
// path at drive 1 with two healthy drives, and volume E: on it.
Scenario defaultScenario();

// Writes the scenario as `<dir>/<name>.scenario` plus one block file per identity or
// status it carries, named after the step's line, so that loadScenario reads the
// same steps back. Returns the scenario file's path, or "" with `error` filled.
std::string saveScenario(const Scenario& scenario, const std::string& dir, std::string& error);

}  // namespace raid::sim
