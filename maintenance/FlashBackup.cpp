#include "maintenance/FlashBackup.h"

#include <cstdio>

#include "monitor/StatusRecord.h"
#include "monitor/TimeFormat.h"
#include "platform/Paths.h"

namespace raid {

namespace {

constexpr std::size_t kIdentitySerial = 20;
constexpr std::size_t kIdentitySerialLength = 20;
constexpr std::size_t kMaxPart = 40;

// Device text as one part of a file name.
std::string namePart(const std::string& text) {
    std::string part;
    for (char c : text) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '_' || c == '.';
        if (keep)
            part += c;
        else if (!part.empty() && part.back() != '_')
            part += '_';
        if (part.size() >= kMaxPart) break;
    }
    while (!part.empty() && (part.back() == '_' || part.back() == '.')) part.pop_back();
    while (!part.empty() && (part.front() == '.' || part.front() == '_')) part.erase(part.begin());
    return part;
}

}  // namespace

std::string firmwareBackupName(const std::string& model, const std::string& serial, double wallSeconds,
                               unsigned copy) {
    std::string name = namePart(model);
    if (name.empty()) name = "enclosure";
    const std::string id = namePart(serial);
    if (!id.empty()) name += "-" + id;
    char stamp[32] = "00000000-000000";
    if (const auto t = localTimeParts(wallSeconds))
        std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", t->year, t->month, t->day, t->hour, t->minute,
                      t->second);
    name += std::string("-flash-") + stamp;
    if (copy >= 2) name += "-" + std::to_string(copy);
    return name + ".bin";
}

std::string enclosureSerial(const Sector& identity) {
    std::string serial = ataString(identity, kIdentitySerial, kIdentitySerialLength);
    while (!serial.empty() && serial.back() == ' ') serial.pop_back();
    while (!serial.empty() && serial.front() == ' ') serial.erase(serial.begin());
    return serial;
}

std::optional<std::string> keepFlashCopy(FileStore& files, const std::string& folder, const std::string& model,
                                         const std::string& serial, double wallSeconds,
                                         std::span<const std::uint8_t> flash, std::string& error) {
    const std::string dir = paths::withSeparator(folder);
    const std::string_view data(reinterpret_cast<const char*>(flash.data()), flash.size());
    for (unsigned copy = 1; copy <= kMaxCopiesPerSecond; ++copy) {
        const std::string path = dir + firmwareBackupName(model, serial, wallSeconds, copy);
        switch (files.createNew(path, data, 0600)) {
            case CreateResult::created: return path;
            case CreateResult::exists: continue;
            case CreateResult::failed: error = "cannot write " + path; return std::nullopt;
        }
    }
    error = "no free name in " + dir;
    return std::nullopt;
}

}  // namespace raid
