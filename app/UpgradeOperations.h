// Operations on the engine's firmware side, for any front end: the Firmware Upgrade
// page's Load image and Upgrade, and later clients in another process. Each takes
// typed values and gives a typed outcome that says in values what the user was shown.
// Unlike the mail side, the load and the upgrade show their boxes and status-bar lines
// as they go: a box pauses them the way it pauses the window (an unreadable byte is
// read again once its box is answered; the upgrade's closing box comes before the
// controller is let go). All of them are called on the engine thread.
//
//   loadFirmwareImage  a file's path in. Out: loaded or not and why (the words of the
//                      box that refused it), the name the page shows for the file, its
//                      byte sum, and the loaded image's controller kind and sub-codes.
//   startUpgrade       the loaded image into the Upgrade page's chosen device. Runs to
//                      the end inside the call; the engine's other work goes on between
//                      requests. Out: started or refused and why, ok, the procedure
//                      chosen, the copy of the flash kept, the failure as a value (also
//                      kept as the engine's last upgrade failure, see UpgradePage).
//                      The outcome's `closingText` is the last box it showed.
//                      Progress is value of maximum: `watch` hears each move (engine
//                      thread, between requests), upgradeProgress tells it at any time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "maintenance/FirmwareUpgrade.h"
#include "maintenance/ImageLoader.h"

namespace raid {

class MainForm;

struct ImageLoadOutcome {
    bool loaded = false;
    // How the load ended; nullopt when it was refused at once because an upgrade runs
    // (nothing read, nothing shown, the held image kept).
    std::optional<ImageLoadResult> result;
    std::string fileName;                   // what the page's file-name field shows: the path
    std::optional<std::uint32_t> checksum;  // the file's byte sum, once it was read whole
    std::uint8_t kind = 0;                  // the image's controller kind, when loaded
    std::size_t subCodes = 0;               // entries in its directory, when loaded
    std::string problem;                    // the refusing box's words ("" when loaded)
};

ImageLoadOutcome loadFirmwareImage(MainForm& form, const std::string& path);
// The same for an image a client read and handed over: `name` is what the page shows
// for it; the same checks, boxes and texts as a file's.
ImageLoadOutcome loadFirmwareImage(MainForm& form, const std::string& name, std::string_view bytes);
// The same for a file opened by the caller, as a client window opens the image with the
// user's own rights.
ImageLoadOutcome loadFirmwareImage(MainForm& form, const std::string& path, OpenedFile file);

struct UpgradeProgress {
    bool running = false;  // the progress panel is up
    std::uint32_t value = 0;
    std::uint32_t maximum = 0;
    std::string step;  // what the progress panel says ("Process 2 / 4")
    bool operator==(const UpgradeProgress&) const = default;
};

// The upgrade's progress now: the counter as it stands while the panel is up (never
// past the maximum), else what the bar showed last.
UpgradeProgress upgradeProgress(MainForm& form);

using UpgradeWatch = std::function<void(const UpgradeProgress&)>;

UpgradeOutcome startUpgrade(MainForm& form, UpgradeWatch watch = {});

}  // namespace raid
