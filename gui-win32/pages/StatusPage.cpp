// The Status page, laid out as the Qt window lays it out: every text the enclosure can
// report stays in its own box (the labels shrink their text to fit).
#include "app/ControlNames.h"
#include "gui-win32/pages/PageBuilder.h"

namespace raid::win {

namespace {
constexpr int kMargin = 8;
constexpr int kPictureTop = 88;
constexpr int kColumnsTop = kPictureTop + Artwork::kBaysSize.cy + 4;
constexpr UINT kLeft = DT_LEFT | DT_VCENTER | DT_SINGLELINE;
constexpr UINT kCentred = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
}  // namespace

void buildStatusPage(PageBuilder& b, HWND page) {
    b.deviceTabs(page, names::statusDeviceImage);
    ShowWindow(b.pushImage(page, names::Image0_Log, box(283, 6, 92, 28), L"Event Log", false), SW_HIDE);
    b.rule(page, box(4, 36, 377, 1));

    b.caption(page, L"Mode", box(14, 42, 62, 20));
    b.label(page, names::Label17, box(78, 42, 142, 20), kLeft, 13, true);
    b.caption(page, L"Capacity", box(228, 42, 62, 20));
    b.label(page, names::Label27, box(292, 42, 85, 20), kLeft, 13, true);
    b.caption(page, L"Firmware", box(14, 62, 62, 20));
    b.label(page, names::Label48, box(78, 62, 142, 20), kLeft, 13, true);
    // Beside the firmware: the time left on the rebuild or scan shown in the centre.
    b.label(page, names::WorkTimeLeft, box(224, 62, 155, 20), DT_RIGHT | DT_VCENTER | DT_SINGLELINE, 11);

    b.bays(page, names::Image0_Bays, box(kMargin, kPictureTop, Artwork::kBaysSize.cx, Artwork::kBaysSize.cy));

    // Each drive's labels stand in the column under its bay.
    const int column = Artwork::kBaysColumnWidth;
    const int columnX[2] = {kMargin, kMargin + Artwork::kBaysSize.cx - column};
    const char* drive[2][3] = {{names::Label45, names::Label25, names::Label51},
                               {names::Label46, names::Label26, names::Label52}};
    for (int i = 0; i < 2; ++i) {
        const int x = columnX[i];
        b.label(page, drive[i][0], box(x, kColumnsTop, column, 16), kCentred, 12, true, kMuted);
        b.label(page, drive[i][1], box(x, kColumnsTop + 16, column, 17), kCentred, 13, true);
        b.label(page, drive[i][2], box(x + 2, kColumnsTop + 35, column - 4, 53), DT_CENTER | DT_WORDBREAK, 11);
    }
    const int centreX = kMargin + column + 4;
    const int centreW = Artwork::kBaysSize.cx - 2 * column - 8;
    b.label(page, names::Label18, box(centreX, kColumnsTop, centreW, 52), DT_CENTER | DT_WORDBREAK, 14, true);
    b.label(page, names::Label20, box(centreX, kColumnsTop + 54, centreW, 14), kCentred, 11);
    b.label(page, names::Label21, box(centreX, kColumnsTop + 68, centreW, 14), kCentred, 11);

    HWND panel = b.clickPanel(page, names::Panel11, box(kMargin, 284, Artwork::kBaysSize.cx, 32), RGB(0xF2, 0xF5, 0xF9));
    b.caption(panel, L"Fan", box(14, 6, 40, 20));
    b.label(panel, names::Label5, box(54, 6, 60, 20), DT_RIGHT | DT_VCENTER | DT_SINGLELINE, 13, true);
    b.caption(panel, L"RPM", box(118, 6, 40, 20));
    b.caption(panel, L"Temperature", box(190, 6, 90, 20));
    b.label(panel, names::Label7, box(280, 6, 34, 20), DT_RIGHT | DT_VCENTER | DT_SINGLELINE, 13, true);
    b.caption(panel, L"\u00B0C", box(318, 6, 30, 20));
    ShowWindow(panel, SW_HIDE);
}

}  // namespace raid::win
