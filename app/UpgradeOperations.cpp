#include "app/UpgradeOperations.h"

#include <algorithm>
#include <exception>

#include "app/MainForm.h"
#include "maintenance/FlashBackup.h"
#include "monitor/StatusRecord.h"

namespace raid {

namespace {

const char* problemOf(ImageLoadResult result) {
    switch (result) {
        case ImageLoadResult::loaded: return "";
        case ImageLoadResult::openFailed:
        case ImageLoadResult::readFailed: return kOpenFailText;
        case ImageLoadResult::rejected: return kNotFirmwareText;
    }
    return "";
}

// Keeps the flash before a full upgrade beside the day logs.
std::optional<std::string> saveBackup(MainForm& f, std::span<const std::uint8_t> flash, std::string& error) {
    const EventLog& log = f.eventLog();
    std::string folder = log.folder();
    if (!f.files().folderWritable(folder.empty() ? "." : folder)) folder = log.fallbackFolder();
    if (folder.empty() || !f.files().folderWritable(folder)) {
        error = "no folder to write it in";
        return std::nullopt;
    }
    const Sector& identity = identityOf(f.dev, f.UpgradeDevice);
    return keepFlashCopy(f.files(), folder, enclosureModel(identity), enclosureSerial(identity),
                         f.scheduler().wallSeconds(), flash, error);
}

}  // namespace

namespace {

template <class Load>
ImageLoadOutcome loadImage(MainForm& f, Load load) {
    ImageLoadOutcome out;
    if (f.MaintenanceBusy) return out;
    UpgradePage& page = f.upgradePage();
    ImageLoader loader(ImageLoadPorts{f.files(), f.dialogs(), f.reporter(),
                                      [&page](const std::string& name) { page.showFileName(name); }});
    out.result = load(loader);
    out.loaded = *out.result == ImageLoadResult::loaded;
    out.fileName = page.fileName();
    out.checksum = loader.checksum();
    out.problem = problemOf(*out.result);
    if (out.loaded) {
        const FirmwareImage& image = f.firmwareImage();
        out.kind = image.configRecord() ? image.configRecord()->kind() : 0;
        out.subCodes = imageDirectory(image).size();
    }
    return out;
}

}  // namespace

ImageLoadOutcome loadFirmwareImage(MainForm& f, const std::string& path) {
    return loadImage(f, [&](ImageLoader& loader) { return loader.load(path, f.firmwareImage()); });
}

ImageLoadOutcome loadFirmwareImage(MainForm& f, const std::string& name, std::string_view bytes) {
    return loadImage(f, [&](ImageLoader& loader) { return loader.load(name, bytes, f.firmwareImage()); });
}

ImageLoadOutcome loadFirmwareImage(MainForm& f, const std::string& path, OpenedFile file) {
    return loadImage(f, [&](ImageLoader& loader) { return loader.load(path, std::move(file), f.firmwareImage()); });
}

UpgradeProgress upgradeProgress(MainForm& f) {
    const UpgradePageView& v = f.upgradePage().model().view();
    UpgradeProgress p;
    p.running = v.panelShown;
    p.maximum = v.maximum;
    p.value = p.running ? std::min(f.ProgressValue, v.maximum) : v.value;
    p.step = v.panelText;
    return p;
}

UpgradeOutcome startUpgrade(MainForm& f, UpgradeWatch watch) {
    UpgradeOutcome outcome;
    // A detection pass owns the drives until it is published (the image is disabled
    // meanwhile; a click queued before that waits for nobody).
    if (f.MaintenanceBusy || f.dev.DetectionPending) {
        outcome.refusal = UpgradeRefusal::busy;
        outcome.failure = DeviceResult::failure(DeviceFault::refused);
        return outcome;
    }
    UpgradePage& page = f.upgradePage();
    Scheduler& sched = f.scheduler();
    UpgradeProgress told = upgradeProgress(f);
    auto follow = [&] {
        if (!watch) return;
        const UpgradeProgress now = upgradeProgress(f);
        if (now == told) return;
        told = now;
        watch(now);
    };
    SpiFlash spi(SpiPorts{f.transport(), f.dev,
                          [&] {
                              sched.processPending();
                              follow();
                          },
                          f.ProgressValue});
    UpgradePorts ports{
        spi,
        f.transport(),
        f.dev,
        f.reporter(),
        page,
        [&f, &outcome](const std::string& text, const std::string& caption) {
            outcome.closingText = text;
            f.messageBox(text, caption);
        },
        [&sched](std::int64_t ms) { sched.pumpUntil([] { return false; }, ms * 1000); },
        f.ProgressValue,
        [&f](std::span<const std::uint8_t> flash, std::string& error) { return saveBackup(f, flash, error); },
        f.statusSearchLimit};
    // Whatever throws inside, the upgrade ends as a failed one does: the controller
    // leaves its upgrade mode, the progress panel goes, and the busy flag no longer
    // keeps polling, re-detection and closing away for good.
    struct EndAnyway {
        MainForm& f;
        SpiFlash& spi;
        const int exceptions = std::uncaught_exceptions();
        ~EndAnyway() {
            if (std::uncaught_exceptions() > exceptions) {
                // Nothing may escape from here while the first exception is on its way.
                try {
                    f.transport().CloseCurrent();
                    if (f.dev.HeldDevice != kNoHeldDevice) spi.SpiModeCommand(spimode::kUpgradeOff);
                    if (f.upgradePage().model().view().panelShown) f.upgradePage().endProgress();
                } catch (...) {
                }
            }
            f.dev.UpgradeHoldsDevice = false;
            try {
                f.setMaintenanceBusy(false);
            } catch (...) {
                f.MaintenanceBusy = false;
                f.dev.HeldDevice = kNoHeldDevice;
            }
        }
    } endAnyway{f, spi};
    f.setMaintenanceBusy(true);
    std::string closing;
    {
        UpgradeOutcome ran = FirmwareUpgrade(ports).run(f.firmwareImage(), f.UpgradeDevice);
        closing = std::move(outcome.closingText);
        outcome = std::move(ran);
    }
    outcome.closingText = std::move(closing);
    page.upgradeEnded(outcome.failure);
    follow();
    return outcome;
}

}  // namespace raid
