// Loading a firmware image file chosen on the Firmware Upgrade page into the window's
// `FirmwareImage`: the file read through the file store, its byte sum shown on the
// status bar, and anything that is not a firmware image refused.
//
// The caller keeps maintenance operations apart: a load is asked for only while
// `MaintenanceBusy` is clear (the Load image ignores clicks during an upgrade), and the
// load itself runs to completion on the engine thread.
//
// Reading is bounded where a file could otherwise keep the engine forever:
// - only a regular file of at most kMaxImageFile bytes is opened; a FIFO, a device such
//   as /dev/zero, a folder or a huge file is refused as a file that cannot be opened,
//   without blocking;
// - a byte that cannot be read is named to the user and read again, but only
//   kReadRetries times; after that, or after kMaxReadFailures failed reads in one file,
//   the file counts as unreadable and no image is held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/DialogPort.h"
#include "device/Reporter.h"
#include "maintenance/FirmwareImage.h"
#include "platform/FileStore.h"

namespace raid {

inline constexpr const char* kOpenFailText = "Fail to open firmware file";
inline constexpr const char* kOpenFailCaption = "Error";
inline constexpr const char* kReadErrorText = "Error read from Source file. ByteCount = ";
inline constexpr const char* kReadErrorCaption = "Warning:";
inline constexpr const char* kNotFirmwareText = "The firmware file is not correct.\nPlease check it.";
inline constexpr const char* kNotFirmwareCaption = "Error";

// Status bar panels the load writes.
constexpr int kChecksumPanel = 0;
constexpr int kFilePanel = 4;

struct ImageLoadPorts {
    FileStore& files;
    // The three boxes of a load, all OK boxes. The port carries no icon: the captions
    // "Error" and "Warning:" are what the window shows them by (both with its error
    // icon).
    DialogPort& dialogs;
    // Panel 4 "File:" + path, panel 0 "Chksum:" + 8 hex digits. Widening panel 4 to the
    // room the other panels leave is the window's own layout.
    Reporter& reporter;
    // The file-name field of the Firmware Upgrade page.
    std::function<void(const std::string&)> showFileName;
};

enum class ImageLoadResult {
    loaded,      // `image` holds the file
    openFailed,  // not opened (missing, special, too large, no permission)
    readFailed,  // a byte stayed unreadable
    rejected,    // read, but not a firmware image
};

class ImageLoader {
public:
    // Larger than any image the upgrade can use many times over; enough to refuse a
    // file that would only fill memory.
    static constexpr std::size_t kMaxImageFile = 16u << 20;
    static constexpr int kReadRetries = 3;
    static constexpr int kMaxReadFailures = 16;

    explicit ImageLoader(ImageLoadPorts ports) : ports_(std::move(ports)) {}

    // Loads `path` into `image`. A held image is freed first, so after any failure no
    // image is held.
    ImageLoadResult load(const std::string& path, FirmwareImage& image);
    // The same for bytes already read (an image a client handed over): the same checks,
    // boxes and status-bar texts, `name` standing where the path stands.
    ImageLoadResult load(const std::string& name, std::string_view bytes, FirmwareImage& image);
    // The same for a file the caller opened itself (through a file store of its own).
    ImageLoadResult load(const std::string& path, OpenedFile file, FirmwareImage& image) {
        return loadFrom(path, std::move(file), image);
    }

    // The byte sum of the file the last load read whole (nullopt when it read none).
    const std::optional<std::uint32_t>& checksum() const { return checksum_; }

    // "Chksum:" + the sum as 8 upper-case hexadecimal digits.
    static std::string checksumText(std::uint32_t sum);

private:
    ImageLoadResult loadFrom(const std::string& name, OpenedFile file, FirmwareImage& image);

    ImageLoadPorts ports_;
    std::optional<std::uint32_t> checksum_;
};

}  // namespace raid
