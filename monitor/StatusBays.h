// What the enclosure picture on the Status page shows: the controller kind, each drive
// bay's state and the work running between the bays. The Status page model keeps it
// in step with the labels it draws (a bay changes when its labels change, the work
// when the centre text changes) and publishes it as the typed view of `Image0_Bays`;
// the window draws the view, the headless output prints it as words:
//
//   <controller> <bay1> <bay2> <work> [<target> <percent>]
//
//   controller  none | raid | hybrid   (none: a kind the page does not draw drives for)
//   bay         unknown | empty | present | absent | failed
//   work        idle | rebuild | scan | flush
//   target      1 | 2 (the bay being rebuilt or scanned), 0 when the record names neither
//   percent     0..255 as the record gives it
//
// On a hybrid controller bay 1 is the SSD and bay 2 the HDD; a flush runs from the SSD
// to the HDD. A rebuild of bay 1 copies from bay 2 ("<<<<"), of bay 2 from bay 1 (">>>>").
#pragma once

#include <string>

namespace raid {

enum class BayController { None, Raid, Hybrid };
enum class BayLook { Unknown, Empty, Present, Absent, Failed };
enum class BayWork { Idle, Rebuild, Scan, Flush };

struct BaysView {
    BayController controller = BayController::None;
    BayLook bay[2] = {BayLook::Unknown, BayLook::Unknown};
    BayWork work = BayWork::Idle;
    int target = 0;   // rebuild/scan: 1 or 2, 0 = neither
    int percent = 0;  // rebuild/scan only

    friend bool operator==(const BaysView& a, const BaysView& b) {
        return a.controller == b.controller && a.bay[0] == b.bay[0] && a.bay[1] == b.bay[1] && a.work == b.work &&
               a.target == b.target && a.percent == b.percent;
    }
};

// The view as the words above (for output lines and messages; nothing reads them back).
std::string baysWords(const BaysView& view);
// Whether every field is one the picture knows: a known controller, looks and work,
// a target of 0..2 and a percentage of 0..255. A view that came from elsewhere than
// the Status page model (another process, a test) is checked before it is drawn.
bool baysInRange(const BaysView& view);

}  // namespace raid
