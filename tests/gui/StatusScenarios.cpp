#include "StatusScenarios.h"

namespace raid::gui::scenarios {

namespace {

std::string bytes(const sim::Block& b) { return std::string(reinterpret_cast<const char*>(b.data()), b.size()); }

}  // namespace

sim::IdentityOptions raidIdentity() {
    return sim::IdentityOptions().setModel("SIM DUAL BAY RAID ENCLOSURE").setFirmware("101208.0");
}

sim::StatusOptions raidRebuild() {
    sim::StatusOptions o;
    o.setKind(sim::kKindRaid).setMode(sim::kMirroring);
    o.setDrive(0, {sim::kDrivePresent, "WDC WD40EFRX-68N32N0", "WD-WCC7K1AAAAA1", sim::k4TbSectors, sim::kSata6});
    o.setDrive(1, {sim::kDrivePresent, "WDC WD40EFRX-68N32N0", "WD-WCC7K2BBBBB2", sim::k4TbSectors, sim::kSata6});
    // Bits 0..1 of the activity byte: a rebuild runs; bit 0, of drive 1.
    o.setActivity(0x01, 37);
    o.setFan(0xA0, 1800, 38);
    return o;
}

sim::IdentityOptions hybridIdentity() {
    return sim::IdentityOptions()
        .setModel("SIM HYBRID SSD CACHE ENCLOSURE")
        .setFirmware("101208.0")
        .setProductClass(1);
}

sim::StatusOptions hybridFlush() {
    constexpr std::uint64_t kSsdSectors = 976773168;  // 500 GB
    sim::StatusOptions o;
    o.setKind(sim::kKindHybrid).setMode('D');  // CacheHDD
    o.setDrive(0, {sim::kDrivePresent, "Samsung SSD 870 EVO 500GB", "S62ANJ0R123456A", kSsdSectors, sim::kSata6});
    o.setDrive(1, {sim::kDrivePresent, "WDC WD40EFRX-68N32N0", "WD-WCC7K2BBBBB2", sim::k4TbSectors, sim::kSata6});
    o.setCapacity(sim::k4TbSectors);
    // Cache enabled (byte 203 clear) and a flush under way from the SSD into the HDD.
    o.flushPosition = 183954432;
    o.flushPosition2 = kSsdSectors - 1;
    return o;
}

std::vector<File> files() {
    return {
        {"identity-raid.bin", bytes(sim::makeIdentityPage(raidIdentity()))},
        {"raid1-rebuild.bin", bytes(sim::makeStatusRecord(raidRebuild()))},
        {"status-rebuild.scenario",
         "# A RAID1 enclosure rebuilding drive 1 from drive 2, 37 % done (docs/status-rebuild.png).\n"
         "0 disk 0\n"
         "0 volume C 0\n"
         "0 attach 1 mailbox identity=identity-raid.bin status=raid1-rebuild.bin\n"
         "0 volume E 1\n"},
        {"identity-hybrid.bin", bytes(sim::makeIdentityPage(hybridIdentity()))},
        {"hybrid-flush.bin", bytes(sim::makeStatusRecord(hybridFlush()))},
        {"status-hybrid.scenario",
         "# A hybrid enclosure in mode CacheHDD flushing its SSD cache into the HDD\n"
         "# (docs/status-hybrid.png).\n"
         "0 disk 0\n"
         "0 volume C 0\n"
         "0 attach 1 mailbox identity=identity-hybrid.bin status=hybrid-flush.bin\n"
         "0 volume F 1\n"},
    };
}

}  // namespace raid::gui::scenarios
