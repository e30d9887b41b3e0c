// The Status page, laid out so that every text the enclosure can report stays in its
// own box: the longest mode and firmware texts, 40-character drive models, the
// three-line centre text and flush positions of thirteen digits.
//
//   tabs ............................................ Event Log
//   Mode      Mirroring(RAID1)        Capacity  3726 GB
//   Firmware  101208.0.A01
//   +--------------------------------------------------------+
//   |  [ bay 1 ]        work between the bays       [ bay 2 ] |   Image0_Bays
//   +--------------------------------------------------------+
//      HDD1                 37%                      HDD2
//     3726 GB               <<<<                    3726 GB
//   model, up to         Rebuilding              model, up to
//   four lines           LBA: ...                four lines
//                        LBA: ...
//   [ Fan 1800 RPM                    Temperature 38 °C ]        Panel11
#include <QFrame>
#include <QLabel>
#include <QPalette>

#include "gui/Artwork.h"
#include "gui/EngineActions.h"
#include "gui/ImageControl.h"
#include "gui/pages/BaysPicture.h"
#include "gui/pages/FitLabel.h"
#include "gui/pages/PageBuilder.h"
#include "gui/MainWindow.h"
#include "gui/pages/Pages.h"

namespace raid::gui {

namespace {

constexpr int kMargin = 8;
constexpr int kPictureTop = 88;
constexpr int kColumnsTop = kPictureTop + BaysPicture::kSize.height() + 4;

}  // namespace

void buildStatusPage(PageBuilder& b, QWidget* page) {
    b.deviceTabs(page, names::statusDeviceImage);
    b.image(page, qname(names::Image0_Log), Artwork::pushButton(QStringLiteral("Event Log"), QSize(92, 28), false),
            {283, 6})
        ->hide();
    b.rule(page, QRect(4, 36, 377, 1));

    const int vc = Qt::AlignLeft | Qt::AlignVCenter;
    b.caption(page, QStringLiteral("Mode"), QRect(14, 42, 62, 20));
    b.fitLabel(page, qname(names::Label17), QRect(78, 42, 142, 20), vc, 13, true);
    b.caption(page, QStringLiteral("Capacity"), QRect(228, 42, 62, 20));
    b.fitLabel(page, qname(names::Label27), QRect(292, 42, 85, 20), vc, 13, true);
    b.caption(page, QStringLiteral("Firmware"), QRect(14, 62, 62, 20));
    b.fitLabel(page, qname(names::Label48), QRect(78, 62, 142, 20), vc, 13, true);
    // Beside the firmware, where the row has room: how long the rebuild or scan shown in
    // the centre has left (the label shrinks a long text to fit).
    b.fitLabel(page, qname(names::WorkTimeLeft), QRect(224, 62, 155, 20), Qt::AlignRight | Qt::AlignVCenter, 11);

    auto* bays = new BaysPicture(qname(names::Image0_Bays), page);
    bays->move(kMargin, kPictureTop);
    b.add(bays);

    // Each drive's labels stand in the column under its bay.
    const int column = BaysPicture::kColumnWidth;
    const int columnX[2] = {kMargin, kMargin + BaysPicture::kSize.width() - column};
    const char* drive[2][3] = {{names::Label45, names::Label25, names::Label51},
                               {names::Label46, names::Label26, names::Label52}};
    const int centred = Qt::AlignHCenter | Qt::AlignVCenter;
    for (int i = 0; i < 2; ++i) {
        const int x = columnX[i];
        b.fitLabel(page, qname(drive[i][0]), QRect(x, kColumnsTop, column, 16), centred, 12, true, mutedColor());
        b.fitLabel(page, qname(drive[i][1]), QRect(x, kColumnsTop + 16, column, 17), centred, 13, true);
        FitLabel* model = b.fitLabel(page, qname(drive[i][2]), QRect(x + 2, kColumnsTop + 35, column - 4, 53),
                                     Qt::AlignHCenter | Qt::AlignTop, 11);
        model->setWordWrap(true);
    }
    const int centreX = kMargin + column + 4;
    const int centreW = BaysPicture::kSize.width() - 2 * column - 8;
    FitLabel* centre = b.fitLabel(page, qname(names::Label18), QRect(centreX, kColumnsTop, centreW, 52),
                                  Qt::AlignCenter, 14, true);
    centre->setWordWrap(true);
    b.fitLabel(page, qname(names::Label20), QRect(centreX, kColumnsTop + 54, centreW, 14), Qt::AlignCenter, 11);
    b.fitLabel(page, qname(names::Label21), QRect(centreX, kColumnsTop + 68, centreW, 14), Qt::AlignCenter, 11);

    auto* panel = new ClickPanel(page);
    panel->setObjectName(qname(names::Panel11));
    panel->setGeometry(kMargin, 284, BaysPicture::kSize.width(), 32);
    panel->setFrameShape(QFrame::StyledPanel);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, QColor(0xF2, 0xF5, 0xF9));
    panel->setPalette(pal);
    panel->setAutoFillBackground(true);
    panel->setCursor(Qt::PointingHandCursor);
    panel->installEventFilter(&b.window());
    panel->setFocusPolicy(Qt::StrongFocus);
    TForm1* w = &b.window();
    QObject::connect(panel, &ClickPanel::activated, w, [w] { w->postClick(names::Panel11); });
    b.add(panel);
    b.caption(panel, QStringLiteral("Fan"), QRect(14, 6, 40, 20));
    b.fitLabel(panel, qname(names::Label5), QRect(54, 6, 60, 20), Qt::AlignRight | Qt::AlignVCenter, 13, true);
    b.caption(panel, QStringLiteral("RPM"), QRect(118, 6, 40, 20));
    b.caption(panel, QStringLiteral("Temperature"), QRect(190, 6, 90, 20));
    b.fitLabel(panel, qname(names::Label7), QRect(280, 6, 34, 20), Qt::AlignRight | Qt::AlignVCenter, 13, true);
    b.caption(panel, QString::fromUtf8("\xC2\xB0" "C"), QRect(318, 6, 30, 20));
    panel->hide();
}

}  // namespace raid::gui
