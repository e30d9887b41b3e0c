// The simulated enclosures the README's Status page pictures show, as scenario files
// with their 512-byte identity and status blocks. The committed copies under
// docs/scenarios/ are written by raid_status_scenarios and checked against these
// builders by the window tests, so the pictures always come from what is built here.
#pragma once

#include <string>
#include <vector>

#include "sim/Block.h"
#include "sim/Records.h"

namespace raid::gui::scenarios {

// A RAID1 enclosure rebuilding drive 1 from drive 2, 37 % done.
sim::StatusOptions raidRebuild();
sim::IdentityOptions raidIdentity();
// A hybrid enclosure (SSD cache in front of an HDD) in mode CacheHDD, flushing the
// cache into the HDD.
sim::StatusOptions hybridFlush();
sim::IdentityOptions hybridIdentity();

struct File {
    std::string name;
    std::string bytes;
};

// Every file of docs/scenarios/: the two scenarios and the blocks they name.
std::vector<File> files();

}  // namespace raid::gui::scenarios
