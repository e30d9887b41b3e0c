#include "app/ControlNames.h"
#include "gui-win32/pages/PageBuilder.h"

namespace raid::win {

void buildUpgradePage(PageBuilder& b, HWND page) {
    b.deviceTabs(page, names::upgradeDeviceImage);
    b.rule(page, box(4, 36, 377, 1));

    const UINT left = DT_LEFT | DT_VCENTER | DT_SINGLELINE;
    b.caption(page, L"Firmware Version:", box(14, 48, 128, 20));
    b.label(page, names::FirmwareVersion, box(144, 48, 228, 20), left, 13, true);
    b.caption(page, L"Firmware File:", box(14, 78, 128, 20));
    b.edit(page, names::Edit9, box(14, 99, 262, 26), 0, {}, false, ES_READONLY);
    EnableWindow(b.pushImage(page, names::Image2_Load, box(283, 98, 92, 28), L"Load", false), FALSE);

    b.label(page, names::UpgradeTitle, box(14, 142, 358, 20), left, 14, true, kInk, L"Firmware Upgrade");
    b.progress(page, names::ProgressBar1, box(14, 168, 358, 18));
    HWND panel = b.label(page, names::UpgradePanel, box(14, 192, 358, 22), DT_CENTER | DT_VCENTER | DT_SINGLELINE,
                         13, true);
    b.entry(panel).framed = true;
    ShowWindow(panel, SW_HIDE);

    EnableWindow(b.pushImage(page, names::Image2_Upgrade, box(132, 232, 120, 34), L"Upgrade", true), FALSE);
    b.caption(page, L"Keep the enclosure powered on until the upgrade has completed.", box(14, 280, 358, 32), 11,
              false, DT_CENTER | DT_WORDBREAK);
}

}  // namespace raid::win
