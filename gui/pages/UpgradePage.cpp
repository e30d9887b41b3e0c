#include <QLabel>
#include <QFrame>
#include <QLineEdit>
#include <QProgressBar>

#include "gui/Artwork.h"
#include "gui/EngineActions.h"
#include "gui/ImageControl.h"
#include "gui/pages/PageBuilder.h"
#include "gui/pages/Pages.h"

namespace raid::gui {

void buildUpgradePage(PageBuilder& b, QWidget* page) {
    b.deviceTabs(page, names::upgradeDeviceImage);
    b.rule(page, QRect(4, 36, 377, 1));

    const int vc = Qt::AlignLeft | Qt::AlignVCenter;
    b.caption(page, QStringLiteral("Firmware Version:"), QRect(14, 48, 128, 20));
    b.label(page, qname(names::FirmwareVersion), QRect(144, 48, 228, 20), vc, 13, true);
    b.caption(page, QStringLiteral("Firmware File:"), QRect(14, 78, 128, 20));
    QLineEdit* file = b.edit(page, qname(names::Edit9), QRect(14, 99, 262, 26));
    file->setReadOnly(true);
    b.image(page, qname(names::Image2_Load), Artwork::pushButton(QStringLiteral("Load"), QSize(92, 28), false),
            {283, 98})
        ->setEnabled(false);

    b.label(page, qname(names::UpgradeTitle), QRect(14, 142, 358, 20), vc, 14, true,
            QStringLiteral("Firmware Upgrade"));
    auto* bar = new QProgressBar(page);
    bar->setObjectName(qname(names::ProgressBar1));
    bar->setGeometry(14, 168, 358, 18);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    b.add(bar);
    QLabel* panel = b.label(page, qname(names::UpgradePanel), QRect(14, 192, 358, 22), Qt::AlignCenter, 13, true);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->hide();

    b.image(page, qname(names::Image2_Upgrade),
            Artwork::pushButton(QStringLiteral("Upgrade"), QSize(120, 34), true), {132, 232})
        ->setEnabled(false);
    QLabel* note = b.caption(page,
                             QStringLiteral("Keep the enclosure powered on until the upgrade has completed."),
                             QRect(14, 280, 358, 32), 11, false, Qt::AlignHCenter | Qt::AlignTop);
    note->setWordWrap(true);
}

}  // namespace raid::gui
