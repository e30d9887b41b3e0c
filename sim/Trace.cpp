#include "sim/Trace.h"

#include "sim/Block.h"

#include <charconv>
#include <string>

namespace raid::sim {

namespace {

constexpr std::size_t kTracedCdbBytes = 10;  // every command the program sends is a 10-byte CDB

const char* okText(bool ok) { return ok ? " ok" : " fail"; }

std::string targetName(std::uint8_t target) {
    if (target <= 'B') return "PhysicalDrive" + std::to_string(target);
    if (target > ' ' && target < 0x7F) return std::string(1, static_cast<char>(target)) + ":";
    // Not a letter at all; keep the line one token wide and still readable.
    return "0x" + toHex(&target, 1) + ":";
}

std::vector<std::string_view> splitSpaces(std::string_view s) {
    std::vector<std::string_view> parts;
    std::size_t i = 0;
    while (i <= s.size()) {
        const std::size_t j = s.find(' ', i);
        const std::size_t end = j == std::string_view::npos ? s.size() : j;
        parts.push_back(s.substr(i, end - i));
        if (j == std::string_view::npos) break;
        i = j + 1;
    }
    return parts;
}

template <typename T>
bool parseDecimal(std::string_view s, T& v) {
    if (s.empty()) return false;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && p == s.data() + s.size();
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // the writer never emits upper case
}

bool parseHex(std::string_view s, std::vector<std::uint8_t>& out) {
    if (s.size() % 2) return false;
    out.clear();
    out.reserve(s.size() / 2);
    for (std::size_t i = 0; i < s.size(); i += 2) {
        const int hi = hexDigit(s[i]);
        const int lo = hexDigit(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return true;
}

bool parseField(std::string_view token, std::string_view key, std::string_view& value) {
    if (token.substr(0, key.size()) != key) return false;
    value = token.substr(key.size());
    return true;
}

bool parseOk(std::string_view s, bool& ok) {
    if (s == "ok") ok = true;
    else if (s == "fail") ok = false;
    else return false;
    return true;
}

}  // namespace

std::string toHex(const std::uint8_t* bytes, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.resize(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        s[2 * i] = digits[bytes[i] >> 4];
        s[2 * i + 1] = digits[bytes[i] & 0xF];
    }
    return s;
}

TracePort::TracePort(StoragePort& inner, std::ostream& out) : inner_(inner), out_(out) {}

std::uint64_t TracePort::lines() const {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    return seq_;
}

void TracePort::writeLine(const std::string& rest) {
    out_ << ++seq_ << ' ' << rest << '\n';
    out_.flush();  // a crash must not lose the last requests
}

// The lock is held across the inner call so the sequence numbers follow the order
// in which requests were actually handled.
DriveHandle TracePort::open(std::uint8_t target) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    const DriveHandle h = inner_.open(target);
    writeLine("OPEN " + targetName(target) + okText(h != kInvalidHandle));
    return h;
}

void TracePort::close(DriveHandle handle) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    inner_.close(handle);
    writeLine("CLOSE");
}

bool TracePort::scsiPassThrough(DriveHandle handle, std::uint8_t* request, std::uint8_t* data) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    if (!request) {
        // Nothing to describe; still one line per request.
        const bool ok = inner_.scsiPassThrough(handle, request, data);
        writeLine(std::string("SCSI out 0 cdb=") + std::string(2 * kTracedCdbBytes, '0') + " data=" + okText(ok));
        return ok;
    }
    const bool in = request[spt::kDataIn] == 1;
    const std::uint32_t length = getLe32(request + spt::kDataTransferLength);
    std::string line = std::string("SCSI ") + (in ? "in " : "out ") + std::to_string(length) +
                       " cdb=" + toHex(request + spt::kCdb, kTracedCdbBytes);
    // The outgoing data is captured before the call: what was sent, not what the
    // buffer holds afterwards.
    if (!in) line += " data=" + (data ? toHex(data, length) : std::string());
    const bool ok = inner_.scsiPassThrough(handle, request, data);
    writeLine(line + okText(ok));
    return ok;
}

bool TracePort::idePassThrough(DriveHandle handle, std::uint8_t* block, std::size_t size) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    std::string regs(14, '0');
    std::uint32_t sectors = 0;
    if (block && size >= ide::kData) {
        regs = toHex(block + ide::kRegisters, 7);
        sectors = getLe32(block + ide::kDataSize) / 512;
    }
    const bool ok = inner_.idePassThrough(handle, block, size);
    writeLine("ATA regs=" + regs + " sectors=" + std::to_string(sectors) + okText(ok));
    return ok;
}

bool TracePort::rescanBus(DriveHandle handle) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    const bool ok = inner_.rescanBus(handle);
    writeLine(std::string("RESCAN") + okText(ok));
    return ok;
}

bool TracePort::volumeDiskExtents(DriveHandle handle, DiskExtent& first) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    const bool ok = inner_.volumeDiskExtents(handle, first);
    writeLine(std::string("EXTENTS") + okText(ok));
    return ok;
}

bool parseTraceLine(std::string_view line, TraceLine& out) {
    const auto t = splitSpaces(line);
    if (t.size() < 2) return false;
    TraceLine r;
    if (!parseDecimal(t[0], r.seq) || r.seq == 0) return false;
    const std::string_view kind = t[1];

    if (kind == "OPEN") {
        if (t.size() != 4 || t[2].empty()) return false;
        r.kind = TraceLine::Kind::Open;
        r.target = std::string(t[2]);
        const bool physical = t[2].substr(0, 13) == "PhysicalDrive";
        unsigned n = 0;
        if (physical ? !parseDecimal(t[2].substr(13), n) : t[2].back() != ':') return false;
        if (!parseOk(t[3], r.ok)) return false;
    } else if (kind == "CLOSE") {
        if (t.size() != 2) return false;
        r.kind = TraceLine::Kind::Close;
        r.ok = true;
    } else if (kind == "SCSI") {
        if (t.size() != 6 && t.size() != 7) return false;
        r.kind = TraceLine::Kind::Scsi;
        if (t[2] == "in") r.dataIn = true;
        else if (t[2] != "out") return false;
        if (!parseDecimal(t[3], r.length)) return false;
        std::string_view v;
        if (!parseField(t[4], "cdb=", v) || !parseHex(v, r.cdb) || r.cdb.size() != kTracedCdbBytes) return false;
        // data= belongs to "out" lines and only to them.
        if (t.size() == 7) {
            if (r.dataIn || !parseField(t[5], "data=", v) || !parseHex(v, r.data)) return false;
        } else if (!r.dataIn) {
            return false;
        }
        if (!parseOk(t.back(), r.ok)) return false;
    } else if (kind == "ATA") {
        if (t.size() != 5) return false;
        r.kind = TraceLine::Kind::Ata;
        std::string_view v;
        if (!parseField(t[2], "regs=", v) || !parseHex(v, r.regs) || r.regs.size() != 7) return false;
        if (!parseField(t[3], "sectors=", v) || !parseDecimal(v, r.sectors)) return false;
        if (!parseOk(t[4], r.ok)) return false;
    } else if (kind == "RESCAN" || kind == "EXTENTS") {
        if (t.size() != 3) return false;
        r.kind = kind == "RESCAN" ? TraceLine::Kind::Rescan : TraceLine::Kind::Extents;
        if (!parseOk(t[2], r.ok)) return false;
    } else {
        return false;
    }
    out = std::move(r);
    return true;
}

}  // namespace raid::sim
