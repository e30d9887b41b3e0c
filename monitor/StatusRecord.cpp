#include "monitor/StatusRecord.h"

#include <algorithm>

#include "device/DeviceText.h"

namespace raid {

std::uint8_t byteAt(const Sector& page, std::size_t offset) {
    return offset < page.size() ? page[offset] : 0;
}

std::uint16_t le16At(const Sector& page, std::size_t offset) {
    return static_cast<std::uint16_t>(byteAt(page, offset) | (byteAt(page, offset + 1) << 8));
}

std::uint32_t le32At(const Sector& page, std::size_t offset) {
    std::uint32_t v = 0;
    for (std::size_t i = 4; i-- > 0;) v = (v << 8) | byteAt(page, offset + i);
    return v;
}

std::uint64_t le40At(const Sector& page, std::size_t offset) {
    std::uint64_t v = 0;
    for (std::size_t i = 5; i-- > 0;) v = (v << 8) | byteAt(page, offset + i);
    return v;
}

namespace {

// The field's characters in text order, full width (zero bytes included).
std::string rawAtaChars(const Sector& page, std::size_t offset, std::size_t length) {
    // An odd-length field has no partner for its last byte.
    std::string s(length & ~std::size_t{1}, '\0');
    for (std::size_t k = 0; k < s.size(); ++k) s[k] = static_cast<char>(byteAt(page, offset + (k ^ 1u)));
    return s;
}

}  // namespace

std::string ataString(const Sector& page, std::size_t offset, std::size_t length) {
    return printableDeviceText(rawAtaChars(page, offset, length));
}

std::string ataModel(const Sector& page, std::size_t offset) {
    constexpr std::size_t kModelLength = 40;
    std::string s = printableDeviceText(rawAtaChars(page, offset, kModelLength));
    // Blanks are cut from the 40th character back; the first six always stay. A text
    // that a zero byte ended early has no 40th character, so nothing of it is cut.
    // Control characters are blanks by now and are cut like them.
    if (s.size() == kModelLength) {
        std::size_t end = s.size();
        while (end > 6 && s[end - 1] == ' ') --end;
        s.resize(end);
    }
    return s;
}

std::string raidModeText(std::uint8_t mode) {
    if (mode < RaidModeNames.size()) return RaidModeNames[mode];
    if (mode == 63) return "Bypass";
    return "Undefine";
}

std::string hybridModeText(std::uint8_t mode) {
    switch (mode) {
    case 'D': return "CacheHDD";
    case 'M': return "Safe";
    case 'S': return "Extended";
    case 'd': return "CacheSSD";
    case 's': return "SingleHDD";
    case 127: return "VirtualDisk";
    default: return "Undefined";
    }
}

std::string sataSpeedName(unsigned nibble) {
    return nibble < SataSpeedNames.size() ? SataSpeedNames[nibble] : "";
}

std::string driveName(std::uint8_t kind, int drive) {
    if (kind == kControllerHybrid) return drive == 0 ? "SSD" : "HDD";
    return drive == 0 ? "HDD1" : "HDD2";
}

const StatusLayout& raidLayout() {
    static const StatusLayout layout{{58, 78}, {256, 302}, {296, 342}, 98, 104, 105, 357};
    return layout;
}

const StatusLayout& hybridLayout() {
    static const StatusLayout layout{{56, 123}, {76, 143}, {116, 183}, 197, 202, 203, 263};
    return layout;
}

const StatusLayout& layoutFor(std::uint8_t kind) {
    return kind == kControllerRaid ? raidLayout() : hybridLayout();
}

std::string StatusRecord::serial(int drive) const {
    return ataString(page_, layout_.serial[drive == 0 ? 0 : 1], 20);
}

std::string StatusRecord::model(int drive) const { return ataModel(page_, layout_.model[drive == 0 ? 0 : 1]); }

std::string StatusRecord::fullModel(int drive) const {
    return ataString(page_, layout_.model[drive == 0 ? 0 : 1], 40);
}

std::uint64_t StatusRecord::capacity(int drive) const {
    return le40At(page_, layout_.capacity[drive == 0 ? 0 : 1]);
}

std::string StatusRecord::subCode() const {
    const auto hex = [](std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    const std::uint8_t a = byte(187), b = byte(188), c = byte(189);
    if (a >= 'A' && a <= 'Z' && hex(b) && hex(c)) {
        return std::string{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
    }
    return "C00";
}

std::string firmwareRevision(const Sector& identity) { return ataString(identity, 46, 8); }

std::string enclosureModel(const Sector& identity) { return ataModel(identity, 54); }

int productClass(const Sector& identity) {
    switch (identity[260]) {
    case 16: return 1;
    case 1: return 4;
    default: return 2;
    }
}

namespace {

// The six-digit number of a revision like "101208.0"; -1 when the text has another form.
long revisionNumber(std::string_view revision) {
    if (revision.size() < 7 || revision[6] != '.') return -1;
    long n = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        if (revision[i] < '0' || revision[i] > '9') return -1;
        n = n * 10 + (revision[i] - '0');
    }
    return n;
}

}  // namespace

bool scanCapable(std::string_view revision) { return revisionNumber(revision) >= 90619; }

bool monitorCapable(std::string_view revision) { return revisionNumber(revision) >= 100126; }

const Sector& zeroPage() {
    static const Sector zero{};
    return zero;
}

int deviceSlot(const DeviceState& dev, int deviceIndex) {
    const int count = std::clamp(dev.ActiveCount.load(), 0, static_cast<int>(dev.ActiveDevices.size()));
    if (deviceIndex < 0 || deviceIndex >= count) return -1;
    return static_cast<int>(dev.ActiveDevices[static_cast<std::size_t>(deviceIndex)] & kCodeDriveMask);
}

const Sector& statusSlot(const DeviceState& dev, int slot) {
    if (slot < 0 || static_cast<std::size_t>(slot) >= dev.EnclosureStatus.size()) return zeroPage();
    return dev.EnclosureStatus[static_cast<std::size_t>(slot)];
}

const Sector& identitySlot(const DeviceState& dev, int slot) {
    if (slot < 0 || static_cast<std::size_t>(slot) >= dev.EnclosureIdentity.size()) return zeroPage();
    return dev.EnclosureIdentity[static_cast<std::size_t>(slot)];
}

const Sector& freshPageSlot(const DeviceState& dev, int slot) {
    if (slot < 0 || static_cast<std::size_t>(slot) >= dev.freshPages.size()) return zeroPage();
    return dev.freshPages[static_cast<std::size_t>(slot)];
}

const Sector& statusOf(const DeviceState& dev, int deviceIndex) {
    return statusSlot(dev, deviceSlot(dev, deviceIndex));
}

const Sector& identityOf(const DeviceState& dev, int deviceIndex) {
    return identitySlot(dev, deviceSlot(dev, deviceIndex));
}

}  // namespace raid
