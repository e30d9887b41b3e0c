#include "service/BusUpgrade.h"

#include <chrono>

#include "app/UpgradeOperations.h"
#include "app/ViewOperations.h"

namespace raid::service {

namespace {

constexpr char kUpgradingText[] = "Firmware is upgrading, please wait a moment.";
constexpr char kNoDeviceText[] = "No Device found !";
constexpr auto kProgressEvery = std::chrono::milliseconds(50);

bus::UpgradeReport reportOf(MainForm& f, bus::UpgradeReport::Kind kind) {
    const UpgradeProgress p = upgradeProgress(f);
    bus::UpgradeReport r;
    r.kind = kind;
    r.running = p.running;
    r.title = f.upgradePage().model().view().title;
    r.panelText = p.step;
    r.value = p.value;
    r.maximum = p.maximum;
    return r;
}

void refuse(const bus::BusEngine::UpgradeReporter& report, std::string text) {
    bus::UpgradeReport r;
    r.kind = bus::UpgradeReport::Kind::refused;
    r.errorText = std::move(text);
    report(std::move(r));
}

// The device index (0 or 1, what the Upgrade page's tabs choose) of the enclosure at
// `slot`; -1 when neither is.
int deviceOf(const MainForm& f, int slot) {
    const int count = std::min(f.dev.ActiveCount.load(), 2);
    for (int i = 0; i < count; ++i)
        if (static_cast<int>(f.dev.ActiveDevices[static_cast<std::size_t>(i)] & kCodeDriveMask) == slot) return i;
    return -1;
}

}  // namespace

void runBusUpgrade(MainForm& f, const bus::UpgradeRequest& request, const bus::BusEngine::UpgradeReporter& report) {
    using Kind = bus::UpgradeReport::Kind;
    // As the page ignores Load and Upgrade while one runs; the bus caller hears why.
    if (f.MaintenanceBusy) return refuse(report, kUpgradingText);
    const int device = deviceOf(f, request.slot);
    if (device < 0 || f.dev.DetectionPending) return refuse(report, kNoDeviceText);
    const DeviceSelection chosen = selectShownDevice(f, DeviceTabs::upgrade, device);
    if (!chosen.selected) return refuse(report, chosen.refusal == ViewRefusal::maintenance ? kUpgradingText : kNoDeviceText);
    const ImageLoadOutcome loaded = loadFirmwareImage(f, request.name, request.image);
    if (!loaded.result) return refuse(report, kUpgradingText);
    if (!loaded.loaded) return refuse(report, loaded.problem);
    // The bar and the panel still show the last upgrade's end: this one starts at none.
    bus::UpgradeReport start = reportOf(f, Kind::started);
    start.panelText.clear();
    start.value = start.maximum = 0;
    report(std::move(start));
    auto sent = std::chrono::steady_clock::now();
    UpgradeProgress last = upgradeProgress(f);
    const UpgradeOutcome outcome = startUpgrade(f, [&](const UpgradeProgress& p) {
        const auto now = std::chrono::steady_clock::now();
        const bool step = p.running != last.running || p.step != last.step || p.maximum != last.maximum;
        if (!step && now - sent < kProgressEvery) return;
        sent = now;
        last = p;
        report(reportOf(f, Kind::progress));
    });
    bus::UpgradeReport end = reportOf(f, Kind::finished);
    if (!outcome.started) {
        // Refused before any procedure ran (a rebuild under way ...): the page still
        // shows the last upgrade's bar, which is not this job's.
        end.panelText.clear();
        end.value = end.maximum = 0;
    }
    end.succeeded = outcome.ok;
    end.outcome = !outcome.closingText.empty() ? outcome.closingText : outcome.failure.lastWords();
    end.backupPath = outcome.backupPath;
    report(std::move(end));
}

}  // namespace raid::service
