#include "maintenance/ImageLoader.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace raid {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

// Bytes in memory, read like a file.
class MemoryReader final : public FileReader {
public:
    explicit MemoryReader(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t length() const override { return bytes_.size(); }
    std::optional<std::size_t> readAt(std::uint64_t offset, std::uint8_t* dest, std::size_t count) override {
        if (offset >= bytes_.size()) return 0;
        const std::size_t n = std::min<std::size_t>(count, bytes_.size() - static_cast<std::size_t>(offset));
        std::copy_n(bytes_.data() + offset, n, reinterpret_cast<char*>(dest));
        return n;
    }

private:
    std::string_view bytes_;
};

}  // namespace

std::string ImageLoader::checksumText(std::uint32_t sum) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(sum));
    return std::string("Chksum:") + digits;
}

ImageLoadResult ImageLoader::load(const std::string& path, FirmwareImage& image) {
    return loadFrom(path, ports_.files.openForRead(path, kMaxImageFile), image);
}

ImageLoadResult ImageLoader::load(const std::string& name, std::string_view bytes, FirmwareImage& image) {
    OpenedFile file;
    if (bytes.size() <= kMaxImageFile) {
        file.status = ReadStatus::ok;
        file.reader = std::make_unique<MemoryReader>(bytes);
    } else {
        file.status = ReadStatus::tooLarge;
    }
    return loadFrom(name, std::move(file), image);
}

ImageLoadResult ImageLoader::loadFrom(const std::string& path, OpenedFile file, FirmwareImage& image) {
    checksum_.reset();
    ports_.reporter.panel(kFilePanel, "File:" + path);
    if (ports_.showFileName) ports_.showFileName(path);
    image.clear();

    if (file.status != ReadStatus::ok || !file.reader) {
        ports_.dialogs.messageBox(kOpenFailText, kOpenFailCaption, DialogPort::OkOnly);
        return ImageLoadResult::openFailed;
    }
    FileReader& reader = *file.reader;
    // The store has checked the length against the limit already.
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(reader.length(), kMaxImageFile));
    std::vector<std::uint8_t> bytes(size);

    // The file is read in large pieces; a piece that brings nothing is read again byte
    // by byte up to its end, so a bad spot is named by the index of its first byte, as
    // a byte-wise read would name it, without paying one call per byte for a good file.
    std::size_t at = 0;
    std::size_t bytewiseUntil = 0;
    int failuresHere = 0;
    int failures = 0;
    while (at < size) {
        const std::size_t want = at < bytewiseUntil ? 1 : std::min(kChunk, size - at);
        const auto got = reader.readAt(at, bytes.data() + at, want);
        if (got && *got > 0) {
            at += std::min(*got, want);
            failuresHere = 0;
            continue;
        }
        if (want > 1) {
            bytewiseUntil = at + want;
            continue;
        }
        // A byte that cannot be read (or a file that got shorter while open).
        ++failures;
        ++failuresHere;
        ports_.dialogs.messageBox(kReadErrorText + std::to_string(at), kReadErrorCaption, DialogPort::OkOnly);
        if (failuresHere > kReadRetries || failures >= kMaxReadFailures) {
            ports_.dialogs.messageBox(kOpenFailText, kOpenFailCaption, DialogPort::OkOnly);
            return ImageLoadResult::readFailed;
        }
    }
    file.reader.reset();

    FirmwareImage loaded(std::move(bytes));
    checksum_ = byteSum(loaded.bytes());
    ports_.reporter.panel(kChecksumPanel, checksumText(*checksum_));
    if (!loaded.valid()) {
        ports_.dialogs.messageBox(kNotFirmwareText, kNotFirmwareCaption, DialogPort::OkOnly);
        return ImageLoadResult::rejected;
    }
    image = std::move(loaded);
    return ImageLoadResult::loaded;
}

}  // namespace raid
