// Firmware image files are whatever the user picks. This target runs one through
// validation, the record and directory readers and the upgrade's record-area search,
// and loads it with the image loader from an in-memory file store, with or without a
// byte that fails to read a few times. An image that loads and makes a sub-code update
// is then written into a simulated enclosure's flash.
//
// Input layout:
//   byte 0     flags: bit 0 the image is the flash size plus (byte 1 x 16) bytes of
//              0xFF, the rest of the input split in half, the first half written at 0
//              (the head) and the second at size - 0x8000 (the record); otherwise the
//              rest of the input is the file as it is.
//              bit 1: the byte at (bytes 2-3, little-endian) fails (bits 2-4) times.
//   bytes 1-3  as above
//   then       the file's bytes
// Checked: the shown sum is the byte sum, a file loads exactly when it is valid and
// stayed readable, only a file of the flash's size is valid, the record is the 256
// bytes at size - 0x8000, every usable sub-code lies inside the image before its record
// area and passed the offset test, and the record the update leaves in the flash lists
// only sub-codes it wrote: each present entry names a slot that holds that sub-code,
// and an image with an entry the update cannot take leaves the flash untouched.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/DevicePresenter.h"
#include "maintenance/FirmwareImage.h"
#include "maintenance/FirmwareUpgrade.h"
#include "maintenance/ImageLoader.h"
#include "monitor/MemoryFileStore.h"
#include "platform/Random.h"
#include "platform/Scheduler.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"

namespace {

using namespace raid;

void require(bool ok) {
    if (!ok) std::abort();
}

struct Boxes final : DialogPort {
    std::vector<std::string> shown;
    int messageBox(const std::string& text, const std::string& caption, int) override {
        shown.push_back(caption + ":" + text);
        return Ok;
    }
};

struct Panels final : Reporter {
    std::string checksum;
    std::string file;
    void panel(int index, const std::string& text) override { (index == kChecksumPanel ? checksum : file) = text; }
    void messageBox(const std::string&, const std::string&) override { std::abort(); }
};

void readers(const FirmwareImage& image) {
    const auto bytes = image.bytes();
    const auto record = image.configRecord();
    require(record.has_value() == (image.size() >= firmware::kRecordAreaSize));
    if (record) {
        require(std::equal(record->bytes().begin(), record->bytes().end(),
                           bytes.begin() + static_cast<std::ptrdiff_t>(image.size() - firmware::kRecordAreaSize)));
        require(record->checksumValid() == (recordChecksum(record->bytes()) == record->storedChecksum()));
    }
    require(!image.valid() || image.size() == firmware::kFlashSize);
    unsigned sink = 0;
    const auto dir = imageDirectory(image);
    require(dir.size() <= firmware::kDirectoryEntries);
    for (const DirectoryItem& item : dir) {
        require(item.entry.present());
        if (!item.usable()) {
            require(!item.entry.offsetAcceptable() || !image.subCodeFits(item.entry));
            continue;
        }
        const auto code = *item.subCode;
        require(item.entry.offsetAcceptable());
        require(code.size() == firmware::kSlotSize);
        require(code.data() >= bytes.data() &&
                code.data() + code.size() <= bytes.data() + bytes.size() - firmware::kRecordAreaSize);
        // Every byte, so the sanitizers see any read that strays.
        for (const std::uint8_t b : code) sink += b;
    }

    // The same bytes as a flash's record area read back from a device (any length).
    const FlashDirectory flash = readFlashDirectory(bytes.last(std::min(bytes.size(), firmware::kRecordAreaSize)));
    require(flash.currentIndex < firmware::kRecordSlots);
    require(flash.low >= 0 && flash.high >= 0 && flash.total() <= static_cast<int>(firmware::kDirectoryEntries));
    const UpgradeKind kind = chooseUpgrade(flash, dir.size());
    require(dir.size() <= upgrade::kMaxSubCodeEntries || kind == UpgradeKind::Full);
    volatile unsigned keep = sink;
    (void)keep;
}

struct NoPage final : UpgradeDisplay {
    void beginProgress(const std::string&, const std::string&, std::uint32_t) override {}
    void panelText(const std::string&) override {}
    void endProgress() override {}
};

struct Panel4 final : Reporter {
    std::string text;
    void panel(int index, const std::string& t) override {
        if (index == 4) text = t;
    }
    void messageBox(const std::string&, const std::string&) override {}
};

// A byte for every flash address that no sub-code of an image holds there by chance.
std::uint8_t stale(std::size_t address) { return static_cast<std::uint8_t>((address * 7 + (address >> 9) + 0x5B) & 0xFF); }

// The image into a simulated enclosure whose record lists no sub-code, so that an image
// of up to four sub-codes makes a sub-code update. Every slot holds stale bytes first:
// a record entry naming a slot the update did not fill points at them.
void subCodeUpdate(const FirmwareImage& image) {
    const auto dir = imageDirectory(image);
    if (dir.size() > upgrade::kMaxSubCodeEntries) return;  // a full upgrade: the flash becomes the image
    sim::SimPlatform platform;
    sim::SimEnclosure& enclosure = platform.attach(0, sim::Path::Vu1, sim::makeIdentityPage(), sim::makeStatusRecord());
    std::vector<std::uint8_t> before = enclosure.flashCopy();
    for (std::size_t a = upgrade::kLowBank; a < firmware::kRecordAreaStart; ++a) before[a] = stale(a);
    require(enclosure.loadFlash(before));

    const std::unique_ptr<Scheduler> sched = makeVirtualScheduler(0);
    XorShiftRandom random{1};
    Panel4 panel;
    DevicePresenter presenter{panel};
    Transport transport{platform, *sched, random, presenter};
    DeviceState dev;
    dev.ActiveDevices[0] = kCodeVu | kCodeShortPrefix;
    dev.ActiveCount = 1;
    std::uint32_t progress = 0;
    SpiFlash spi{SpiPorts{transport, dev, {}, progress}};
    NoPage page;
    std::vector<std::string> boxes;
    UpgradePorts ports{spi,
                       transport,
                       dev,
                       panel,
                       page,
                       [&](const std::string& text, const std::string& caption) { boxes.push_back(caption + ":" + text); },
                       [](std::int64_t) {},
                       progress,
                       nullptr};
    const UpgradeOutcome outcome = FirmwareUpgrade(ports).run(image, 0);
    require(outcome.started && outcome.kind == UpgradeKind::SubCode);
    const std::vector<std::uint8_t> after = enclosure.flashCopy();

    const bool takesAll = std::all_of(dir.begin(), dir.end(), [](const DirectoryItem& item) { return item.usable(); });
    if (!takesAll) {
        require(!outcome.ok && after == before);
        require(boxes.size() == 1 && boxes[0] == std::string(kFileOffsetErrorCaption) + ":" + kFileOffsetErrorText);
        return;
    }
    require(outcome.ok);
    const auto area = std::span<const std::uint8_t>(after).subspan(firmware::kRecordAreaStart, firmware::kRecordAreaSize);
    const ConfigRecord record = readFlashDirectory(area).record;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < firmware::kDirectoryEntries; ++i) {
        const SubCodeEntry entry = record.entry(i);
        if (!entry.present()) continue;
        ++listed;
        const auto item =
            std::find_if(dir.begin(), dir.end(), [i](const DirectoryItem& d) { return d.index == i; });
        require(item != dir.end());
        // A whole slot between the head and the record area, holding this sub-code.
        require(entry.offset >= upgrade::kLowBank && entry.offset % firmware::kSlotSize == 0 &&
                entry.offset + firmware::kSlotSize <= firmware::kRecordAreaStart);
        require(std::equal(item->subCode->begin(), item->subCode->end(), after.begin() + entry.offset));
    }
    require(listed == dir.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint8_t flags = data[0];
    const std::uint8_t* rest = data + 4;
    const std::size_t restSize = size - 4;

    std::vector<std::uint8_t> file;
    if (flags & 1) {
        file.assign(firmware::kFlashSize + std::size_t{data[1]} * 16, 0xFF);
        const std::size_t head = restSize / 2;
        std::memcpy(file.data(), rest, std::min(head, file.size()));
        const std::size_t tail = std::min(restSize - head, firmware::kRecordAreaSize);
        std::memcpy(file.data() + file.size() - firmware::kRecordAreaSize, rest + head, tail);
    } else {
        file.assign(rest, rest + restSize);
    }

    const FirmwareImage direct(file);
    readers(direct);

    raid::testing::MemoryFileStore store;
    store.files["/fw/image.bin"] = std::string(file.begin(), file.end());
    const std::size_t faultAt = std::size_t{data[2]} | std::size_t{data[3]} << 8;
    const int faults = (flags & 2) ? (flags >> 2) & 7 : 0;
    if (faults > 0) store.readFaults["/fw/image.bin"] = {{faultAt, faults}};
    Boxes boxes;
    Panels panels;
    std::string shownName;
    FirmwareImage image(std::vector<std::uint8_t>(3, 1));  // a held image, to be freed first
    const ImageLoadResult result =
        ImageLoader({store, boxes, panels, [&](const std::string& p) { shownName = p; }}).load("/fw/image.bin", image);

    require(panels.file == "File:/fw/image.bin" && shownName == "/fw/image.bin");
    const bool readable = faults <= ImageLoader::kReadRetries || faultAt >= file.size();
    if (!readable) {
        require(result == ImageLoadResult::readFailed && !image.loaded() && panels.checksum.empty());
        return 0;
    }
    require(panels.checksum == ImageLoader::checksumText(byteSum(file)));
    require((result == ImageLoadResult::loaded) == direct.valid());
    require(image.loaded() == direct.valid());
    if (image.loaded()) {
        require(std::equal(file.begin(), file.end(), image.bytes().begin(), image.bytes().end()));
        readers(image);
        subCodeUpdate(image);
    } else {
        require(result == ImageLoadResult::rejected);
        require(boxes.shown.back() == std::string("Error:") + kNotFirmwareText);
    }
    return 0;
}
