#include <QLabel>

#include "gui/Artwork.h"
#include "gui/EngineActions.h"
#include "gui/pages/PageBuilder.h"
#include "gui/pages/Pages.h"

namespace raid::gui {

void buildAboutPage(PageBuilder& b, QWidget* page) {
    auto* picture = new QLabel(page);
    picture->setPixmap(Artwork::enclosure(QSize(150, 110)));
    picture->setGeometry(117, 30, 150, 110);
    b.label(page, qname(names::Label63), QRect(0, 156, 385, 28), Qt::AlignCenter, 18, true);
    b.label(page, qname(names::Label65), QRect(0, 186, 385, 20), Qt::AlignCenter, 13);
    b.rule(page, QRect(92, 220, 200, 1));
    QLabel* blurb = b.caption(page,
                              QStringLiteral("Status monitoring, event log, e-mail alerts and firmware "
                                             "upgrade for two-bay storage enclosures."),
                              QRect(40, 232, 305, 40), 12, false, Qt::AlignHCenter | Qt::AlignTop);
    blurb->setWordWrap(true);
}

}  // namespace raid::gui
