#include "app/ControlNames.h"
#include "gui-win32/pages/PageBuilder.h"

namespace raid::win {

void buildAboutPage(PageBuilder& b, HWND page) {
    // The enclosure picture is drawn by the page itself (a container of its own).
    b.entry(b.container(page, {}, box(117, 30, 150, 110))).drawsEnclosure = true;
    const UINT centred = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    b.label(page, names::Label63, box(0, 156, 385, 28), centred, 18, true);
    b.label(page, names::Label65, box(0, 186, 385, 20), centred, 13);
    b.rule(page, box(92, 220, 200, 1));
    b.caption(page,
              L"Status monitoring, event log, e-mail alerts and firmware upgrade for two-bay storage enclosures.",
              box(40, 232, 305, 40), 12, false, DT_CENTER | DT_WORDBREAK);
}

}  // namespace raid::win
