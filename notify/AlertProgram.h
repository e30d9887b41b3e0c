// An owner's own program, run for every raised alert (as smartd's -M exec and mdadm's
// PROGRAM run theirs): how it is named in the settings, and what it is told.
//
// The program is one absolute path, run without a shell and without arguments; the
// alert reaches it as environment variables and the same text on standard input. Its
// environment is built here, whole: nothing of the service's own environment is passed
// on. Running it is the service's work (service/AlertProgramRunner).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace raid {

// The settings value that names the program ("" or missing: none is run). Only root
// sets it (raid-gui-monitor --set alert-command=PATH): the service runs it as root.
inline constexpr const char* kAlertCommandValue = "AlertCommand";
// Longest path taken, in bytes (Linux's PATH_MAX).
inline constexpr std::size_t kAlertCommandLimit = 4096;
// The search path the program starts with: only folders root owns.
inline constexpr const char* kAlertProgramPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// Why `path` cannot name the program ("" when it can, and for "", which means none):
// it must be absolute and hold no control character, no "." or ".." step, at most
// kAlertCommandLimit bytes.
std::string alertCommandRefusal(const std::string& path);

// "drive-fail", "enclosure-removed", "over-heat", "fan-fail" for kinds 1..4.
std::string alertKindWord(int kind);

struct AlertFacts {
    int kind = 1;
    int deviceIndex = 0;  // 0-based: Device1 is 0
    int port = 0;
    std::string model;    // the enclosure's model as its identity page gives it
    std::string subject;  // the alert mail's subject
    std::vector<std::string> lines;  // the alert's detail lines
    std::string host;                // the machine's name
    double wallSeconds = 0;          // when the event was seen
};

struct AlertProgramCall {
    // Which alert it is, for the day log: "Device1 P1 Hard Disk Drive fail, event 12/10/26 03:40:12".
    std::string alert;
    std::vector<std::pair<std::string, std::string>> environment;  // name, value
    std::string input;                                             // standard input
};

// The environment and standard input of one run. Every value is one line of text
// without control characters (bytes below 0x20 and DEL become blanks), except the
// detail lines and the input, whose lines are joined with line feeds. Each value is
// cut to 16 KiB.
AlertProgramCall alertProgramCall(const AlertFacts& facts);

}  // namespace raid
