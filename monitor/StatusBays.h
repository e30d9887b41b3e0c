// What the enclosure picture on the Status page shows: the controller kind, each drive
// bay's state and the work running between the bays. The Status page model keeps it
// in step with the labels it draws (a bay changes when its labels change, the work
// when the centre text changes) and publishes it as the text of `Image0_Bays`, so the
// window, the headless runner and the tests all read the same words:
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
#include <string_view>

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

std::string encodeBays(const BaysView& view);
// False for anything that is not exactly the form above (the view is then left alone).
bool decodeBays(std::string_view text, BaysView& view);

}  // namespace raid
