#include "sim/Scenario.h"

#include "sim/Records.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <functional>
#include <istream>
#include <map>
#include <sstream>
#include <string_view>

namespace raid::sim {

namespace {

namespace fs = std::filesystem;

// What sits at each drive number while the steps are read, so that a step that
// could not be applied at its moment is refused up front.
enum class Occupant { Empty, Plain, Enclosure };

struct ParseContext {
    std::string baseDir;
    std::array<Occupant, kMaxDrives> drives{};
};

using Args = std::vector<std::string>;
// Fills the step from the arguments; on a refusal returns false with `what` set.
using VerbParser = std::function<bool(ParseContext&, const Args&, ScenarioStep&, std::string& what)>;

struct VerbArity {
    std::size_t args;  // number of arguments
    VerbParser parse;
    std::size_t optional = 0;  // how many more may follow
};

bool parseInt(const std::string& s, int& v) {
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return !s.empty() && ec == std::errc() && p == s.data() + s.size();
}

bool parseDrive(const std::string& s, int& n, std::string& what) {
    if (!parseInt(s, n)) {
        what = "bad drive number '" + s + "'";
        return false;
    }
    if (n < 0 || n >= kMaxDrives) {
        what = "drive number " + s + " is outside 0..9";
        return false;
    }
    return true;
}

// Digits, optionally a point and more digits: no signs, exponents or words, so a
// typo cannot become a time by accident.
bool parseSeconds(const std::string& s, double& v) {
    std::size_t i = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == 0) return false;
    if (i < s.size()) {
        if (s[i] != '.') return false;
        const std::size_t frac = ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i == frac || i != s.size()) return false;
    }
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
    return ec == std::errc() && p == s.data() + s.size();
}

// A file a step names, taken from the scenario's folder unless it names where it is: on
// Windows "\\.\NUL" and "\\server\share\x" start at a root too, though the standard
// library finds no drive in them.
fs::path stepFile(const ParseContext& ctx, const std::string& file) {
    fs::path p(file);
    if (p.is_relative() && !p.has_root_directory() && !ctx.baseDir.empty()) p = fs::path(ctx.baseDir) / p;
    return p;
}

bool readBlock(const ParseContext& ctx, const std::string& file, const char* role, Block& out, std::string& what) {
    const fs::path p = stepFile(ctx, file);
    std::string err;
    if (!readBlockFile(p.string(), out, err)) {
        what = std::string(role) + " file " + err;
        return false;
    }
    return true;
}

bool requireEmpty(const ParseContext& ctx, int n, std::string& what) {
    if (ctx.drives[static_cast<std::size_t>(n)] == Occupant::Empty) return true;
    what = "drive " + std::to_string(n) + " is already present";
    return false;
}

bool requireEnclosure(const ParseContext& ctx, int n, std::string& what) {
    if (ctx.drives[static_cast<std::size_t>(n)] == Occupant::Enclosure) return true;
    what = "drive " + std::to_string(n) + " is not an enclosure";
    return false;
}

bool parsePath(const std::string& s, Path& p) {
    for (Path c : {Path::Mailbox, Path::Ata, Path::Vu1, Path::Vu2})
        if (s == pathName(c)) {
            p = c;
            return true;
        }
    return false;
}

bool parseFault(const std::string& s, FaultKind& f) {
    for (FaultKind c : {FaultKind::Read, FaultKind::Write, FaultKind::Inquiry, FaultKind::Ata, FaultKind::Vu, FaultKind::Any,
                        FaultKind::FlashRead, FaultKind::FlashErase, FaultKind::FlashProgram, FaultKind::FlashMode})
        if (s == faultName(c)) {
            f = c;
            return true;
        }
    return false;
}

bool parseDisk(ParseContext& ctx, const Args& a, ScenarioStep& s, std::string& what) {
    if (!parseDrive(a[0], s.drive, what) || !requireEmpty(ctx, s.drive, what)) return false;
    ctx.drives[static_cast<std::size_t>(s.drive)] = Occupant::Plain;
    return true;
}

bool parseAttach(ParseContext& ctx, const Args& a, ScenarioStep& s, std::string& what) {
    if (!parseDrive(a[0], s.drive, what) || !requireEmpty(ctx, s.drive, what)) return false;
    if (!parsePath(a[1], s.path)) {
        what = "unknown path '" + a[1] + "' (mailbox, ata, vu1 or vu2)";
        return false;
    }
    bool haveIdentity = false, haveStatus = false;
    for (std::size_t i = 2; i < a.size(); ++i) {
        const std::string& arg = a[i];
        if (arg.rfind("identity=", 0) == 0 && !haveIdentity) {
            if (!readBlock(ctx, arg.substr(9), "identity", s.identity, what)) return false;
            haveIdentity = true;
        } else if (arg.rfind("status=", 0) == 0 && !haveStatus) {
            if (!readBlock(ctx, arg.substr(7), "status", s.status, what)) return false;
            haveStatus = true;
        } else {
            what = "unexpected argument '" + arg + "' (expected identity=FILE status=FILE)";
            return false;
        }
    }
    ctx.drives[static_cast<std::size_t>(s.drive)] = Occupant::Enclosure;
    return true;
}

bool parseMember(ParseContext& ctx, const Args& a, ScenarioStep& s, std::string& what) {
    if (!parseDrive(a[0], s.drive, what) || !parseDrive(a[1], s.other, what)) return false;
    if (!requireEmpty(ctx, s.drive, what) || !requireEnclosure(ctx, s.other, what)) return false;
    ctx.drives[static_cast<std::size_t>(s.drive)] = Occupant::Enclosure;
    return true;
}

bool parseVolume(ParseContext&, const Args& a, ScenarioStep& s, std::string& what) {
    const std::string& l = a[0];
    char c = l.size() == 1 ? l[0] : 0;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'C' || c > 'Z') {
        what = "bad volume letter '" + l + "' (C..Z)";
        return false;
    }
    s.letter = c;
    return parseDrive(a[1], s.drive, what);
}

bool parseStatus(ParseContext& ctx, const Args& a, ScenarioStep& s, std::string& what) {
    if (!parseDrive(a[0], s.drive, what) || !requireEnclosure(ctx, s.drive, what)) return false;
    return readBlock(ctx, a[1], "status", s.status, what);
}

bool parseDetach(ParseContext& ctx, const Args& a, ScenarioStep& s, std::string& what) {
    if (!parseDrive(a[0], s.drive, what)) return false;
    if (ctx.drives[static_cast<std::size_t>(s.drive)] == Occupant::Empty) {
        what = "drive " + a[0] + " is not present";
        return false;
    }
    ctx.drives[static_cast<std::size_t>(s.drive)] = Occupant::Empty;
    return true;
}

bool parseFail(ParseContext&, const Args& a, ScenarioStep& s, std::string& what) {
    // Faults may be queued for an empty number: they hit the drive that arrives there.
    if (!parseDrive(a[0], s.drive, what)) return false;
    if (!parseFault(a[1], s.fault)) {
        what = "unknown fault '" + a[1] +
               "' (read, write, inquiry, ata, vu, any, flashread, flasherase, flashprogram or flashmode)";
        return false;
    }
    if (!parseInt(a[2], s.count) || s.count <= 0) {
        what = "bad count '" + a[2] + "'";
        return false;
    }
    return true;
}

bool parseFlash(ParseContext& ctx, const Args& a, ScenarioStep& s, std::string& what) {
    if (!parseDrive(a[0], s.drive, what) || !requireEnclosure(ctx, s.drive, what)) return false;
    const fs::path p = stepFile(ctx, a[1]);
    auto content = std::make_shared<std::vector<std::uint8_t>>();
    std::string err;
    if (!readFlashFile(p.string(), kFlashSize, *content, err)) {
        what = "flash file " + err;
        return false;
    }
    s.flash = std::move(content);
    return true;
}

bool parseFlipBit(ParseContext& ctx, const Args& a, ScenarioStep& s, std::string& what) {
    if (!parseDrive(a[0], s.drive, what) || !requireEnclosure(ctx, s.drive, what)) return false;
    s.count = 0;
    if (a.size() > 1 && (!parseInt(a[1], s.count) || s.count < 0)) {
        what = "bad number of reads to skip '" + a[1] + "'";
        return false;
    }
    return true;
}

// The built-in verbs. A new verb is one line here plus its parser and a case in
// applyStep.
const std::map<std::string, VerbArity, std::less<>>& verbTable() {
    static const std::map<std::string, VerbArity, std::less<>> table = {
        {"disk", {1, parseDisk, 0}},
        {"attach", {4, parseAttach, 0}},
        {"member", {2, parseMember, 0}},
        {"volume", {2, parseVolume, 0}},
        {"status", {2, parseStatus, 0}},
        {"detach", {1, parseDetach, 0}},
        {"fail", {3, parseFail, 0}},
        {"flash", {2, parseFlash, 0}},
        {"flipbit", {1, parseFlipBit, 1}},
    };
    return table;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

std::string formatSeconds(double v) {
    char buf[400];  // fixed notation of the largest double fits
    const auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    if (ec != std::errc()) return "0";
    return std::string(buf, p);
}

}  // namespace

bool parseScenario(std::istream& in, const std::string& displayName, const std::string& baseDir, Scenario& out,
                   std::string& error, const ExtraVerbs& extraVerbs) {
    ParseContext ctx;
    ctx.baseDir = baseDir;
    Scenario result;
    result.name = fs::path(displayName).stem().string();
    double previous = 0;
    std::string text;
    int lineNo = 0;
    auto refuse = [&](const std::string& what) {
        error = displayName + ":" + std::to_string(lineNo) + ": " + what;
        return false;
    };

    while (std::getline(in, text)) {
        ++lineNo;
        // "#" starts a comment, except inside a double-quoted value (where "\" escapes).
        bool inQuotes = false;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (inQuotes && text[i] == '\\') {
                ++i;
            } else if (text[i] == '"') {
                inQuotes = !inQuotes;
            } else if (!inQuotes && text[i] == '#') {
                text.erase(i);
                break;
            }
        }
        auto w = words(text);
        if (w.empty()) continue;
        if (w.size() < 2) return refuse("missing verb after the time");

        ScenarioStep step;
        step.line = lineNo;
        if (!parseSeconds(w[0], step.seconds)) return refuse("bad time '" + w[0] + "'");
        if (step.seconds < previous)
            return refuse("time " + w[0] + " is before the previous step's " + formatSeconds(previous));
        step.verb = w[1];
        step.args.assign(w.begin() + 2, w.end());
        {
            // The text after the verb as written, for verbs whose values may hold blanks.
            const std::size_t verbAt = text.find(w[1], text.find(w[0]) + w[0].size());
            const std::size_t restAt = text.find_first_not_of(" \t\r", verbAt + w[1].size());
            step.rest = restAt == std::string::npos ? "" : text.substr(restAt);
            while (!step.rest.empty() && (step.rest.back() == ' ' || step.rest.back() == '\t' || step.rest.back() == '\r'))
                step.rest.pop_back();
        }

        const auto& table = verbTable();
        if (const auto it = table.find(step.verb); it != table.end()) {
            const VerbArity& arity = it->second;
            if (step.args.size() < arity.args || step.args.size() > arity.args + arity.optional)
                return refuse("'" + step.verb + "' takes " + std::to_string(arity.args) +
                              (arity.optional ? " to " + std::to_string(arity.args + arity.optional) : std::string()) +
                              " argument" + (arity.args + arity.optional == 1 ? "" : "s") + ", not " +
                              std::to_string(step.args.size()));
            std::string what;
            if (!it->second.parse(ctx, step.args, step, what)) return refuse(what);
        } else if (std::find(extraVerbs.begin(), extraVerbs.end(), step.verb) == extraVerbs.end()) {
            return refuse("unknown verb '" + step.verb + "'");
        }
        previous = step.seconds;
        result.steps.push_back(std::move(step));
    }
    if (in.bad()) return refuse("read error");
    out = std::move(result);
    return true;
}

bool loadScenario(const std::string& path, Scenario& out, std::string& error, const ExtraVerbs& extraVerbs) {
    std::error_code ec;
    std::ifstream f;
    if (fs::is_regular_file(path, ec)) f.open(path);
    if (!f.is_open()) {
        error = path + ":0: cannot read the scenario file";
        return false;
    }
    return parseScenario(f, path, fs::path(path).parent_path().string(), out, error, extraVerbs);
}

bool applyStep(SimPlatform& platform, const ScenarioStep& s) {
    const bool later = s.seconds > 0;
    if (s.verb == "disk") {
        platform.addPlainDisk(s.drive);
        return later;
    }
    if (s.verb == "attach") {
        platform.attach(s.drive, s.path, s.identity, s.status);
        return later;
    }
    if (s.verb == "member") {
        platform.addMember(s.drive, s.other);
        return later;
    }
    if (s.verb == "detach") {
        platform.detach(s.drive);
        return later;
    }
    if (s.verb == "volume") platform.addVolume(s.letter, s.drive);
    else if (s.verb == "status") platform.setStatus(s.drive, s.status);
    else if (s.verb == "fail") platform.failNext(s.drive, s.fault, s.count);
    else if (s.verb == "flash" && s.flash) {
        if (SimEnclosure* e = platform.enclosure(s.drive)) e->loadFlash(*s.flash);
    } else if (s.verb == "flipbit") {
        if (SimEnclosure* e = platform.enclosure(s.drive)) e->flipBitOfRead(s.count);
    }
    return false;
}

Scenario defaultScenario() {
    Scenario sc;
    sc.name = "default";
    auto step = [&](const char* verb) -> ScenarioStep& {
        ScenarioStep s;
        s.line = static_cast<int>(sc.steps.size()) + 1;
        s.verb = verb;
        sc.steps.push_back(std::move(s));
        return sc.steps.back();
    };
    step("disk").drive = 0;
    {
        ScenarioStep& v = step("volume");
        v.letter = 'C';
        v.drive = 0;
    }
    {
        ScenarioStep& a = step("attach");
        a.drive = 1;
        a.path = Path::Mailbox;
        a.identity = makeIdentityPage();
        a.status = makeStatusRecord();  // RAID1, two healthy 4 TB drives
    }
    {
        ScenarioStep& v = step("volume");
        v.letter = 'E';
        v.drive = 1;
    }
    return sc;
}

std::string saveScenario(const Scenario& sc, const std::string& dir, std::string& error) {
    const std::string name = sc.name.empty() ? "scenario" : sc.name;
    const fs::path base(dir);
    std::ostringstream text;
    for (std::size_t i = 0; i < sc.steps.size(); ++i) {
        const ScenarioStep& s = sc.steps[i];
        const std::string tag = name + "-" + std::to_string(i + 1);
        auto block = [&](const char* role, const Block& b) {
            const std::string file = tag + "-" + role + ".bin";
            if (!writeBlockFile((base / file).string(), b)) {
                error = "cannot write " + (base / file).string();
                return std::string();
            }
            return file;
        };
        text << formatSeconds(s.seconds) << ' ' << s.verb;
        if (s.verb == "disk" || s.verb == "detach") {
            text << ' ' << s.drive;
        } else if (s.verb == "attach") {
            const std::string id = block("identity", s.identity);
            const std::string st = block("status", s.status);
            if (id.empty() || st.empty()) return {};
            text << ' ' << s.drive << ' ' << pathName(s.path) << " identity=" << id << " status=" << st;
        } else if (s.verb == "member") {
            text << ' ' << s.drive << ' ' << s.other;
        } else if (s.verb == "volume") {
            text << ' ' << s.letter << ' ' << s.drive;
        } else if (s.verb == "status") {
            const std::string st = block("status", s.status);
            if (st.empty()) return {};
            text << ' ' << s.drive << ' ' << st;
        } else if (s.verb == "fail") {
            text << ' ' << s.drive << ' ' << faultName(s.fault) << ' ' << s.count;
        } else if (s.verb == "flash" && s.flash) {
            const std::string file = tag + "-flash.bin";
            if (!writeFlashFile((base / file).string(), *s.flash)) {
                error = "cannot write " + (base / file).string();
                return {};
            }
            text << ' ' << s.drive << ' ' << file;
        } else if (s.verb == "flipbit") {
            text << ' ' << s.drive << ' ' << s.count;
        } else {
            for (const std::string& a : s.args) text << ' ' << a;
        }
        text << '\n';
    }
    const fs::path file = base / (name + ".scenario");
    std::ofstream f(file, std::ios::trunc);
    f << text.str();
    f.close();
    if (!f) {
        error = "cannot write " + file.string();
        return {};
    }
    return file.string();
}

}  // namespace raid::sim
