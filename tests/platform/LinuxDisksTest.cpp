// Physical drive list, mountinfo parsing and drive letters over fake sysfs trees,
// plus a sanity pass over the machine's real /sys and mounts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "platform/linux/LinuxDiskTable.h"
#include "platform/linux/LinuxStorage.h"
#include "platform/linux/LinuxVolumes.h"
#include "FakeTree.h"

using namespace raid;
using namespace raid::linuxport;
using raid::test::FakeTree;

namespace {

std::vector<std::string> names(const std::vector<PhysicalDisk>& disks) {
    std::vector<std::string> out;
    for (const auto& d : disks) out.push_back(d.name);
    return out;
}

}  // namespace

TEST(LinuxDisks, ListsWholeDisksInKernelNameOrderAndSkipsStackedAndOpticalDevices) {
    FakeTree tree;
    for (const char* name : {"sdb", "sda", "sdaa", "sdz", "nvme10n1", "nvme2n1", "vda", "mmcblk0", "mmcblk0boot0",
                             "mmcblk0rpmb", "loop0", "ram0", "zram0", "dm-0", "md127", "nbd0", "zd0", "sr0", "fd0", "hda"})
        tree.addDisk(name);
    tree.addDisk("nvme0c0n1", 1000, false, "", /*hidden=*/true);
    tree.addPartition("sda", "sda1", 2048, 100);  // partitions are never drives of their own

    const auto disks = scanPhysicalDisks(tree.sys);
    EXPECT_EQ(names(disks), (std::vector<std::string>{"hda", "mmcblk0", "nvme2n1", "nvme10n1", "sda", "sdb", "sdz",
                                                      "sdaa", "vda"}));

    LinuxDiskTable table(tree.sys, tree.dev);
    table.refreshDisks();
    EXPECT_EQ(table.diskNumber("sda"), 4u);
    ASSERT_TRUE(table.disk(8));
    EXPECT_EQ(table.disk(8)->name, "vda");
    EXPECT_FALSE(table.disk(9));
}

TEST(LinuxDisks, NameOrderIsAStrictOrder) {
    const std::vector<std::string> sorted = {"hda", "nvme1n1", "nvme1n2", "nvme1n10", "sda", "sdz", "sdaa", "sdab",
                                             "sdba", "sdaaa", "vdb", "xvda"};
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        EXPECT_FALSE(diskNameLess(sorted[i], sorted[i])) << sorted[i];
        for (std::size_t j = i + 1; j < sorted.size(); ++j) {
            EXPECT_TRUE(diskNameLess(sorted[i], sorted[j])) << sorted[i] << " < " << sorted[j];
            EXPECT_FALSE(diskNameLess(sorted[j], sorted[i])) << sorted[j] << " < " << sorted[i];
        }
    }
}

TEST(LinuxMountInfo, DecodesFieldsEscapesAndOptionalTagsAndSkipsBrokenLines) {
    const char* text =
        "26 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
        "30 26 8:17 / /media/usb\\040stick rw,nosuid shared:5 master:2 - vfat /dev/disk/by-uuid/1234-ABCD rw\n"
        "31 26 8:2 /home/a\\011b /srv/back\\134slash rw - ext4 /dev/sda2 rw\n"
        "32 26 8:5 / - rw - ext4 /dev/sda5 rw\n"
        "this is not a mount line\n"
        "40 26 8:3 / /no/separator rw ext4 /dev/sda3 rw\n"
        "41 26 x:y / /bad/devnum rw - ext4 /dev/sda3 rw\n"
        "\n"
        "21 26 0:20 / /proc rw,relatime - proc proc rw";  // last line without newline
    const auto entries = parseMountInfo(text);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].major, 8u);
    EXPECT_EQ(entries[0].minor, 2u);
    EXPECT_EQ(entries[0].mountPoint, "/");
    EXPECT_EQ(entries[0].fsType, "ext4");
    EXPECT_EQ(entries[0].source, "/dev/sda2");
    EXPECT_EQ(entries[1].mountPoint, "/media/usb stick");
    EXPECT_EQ(entries[1].source, "/dev/disk/by-uuid/1234-ABCD");
    EXPECT_EQ(entries[1].fsType, "vfat");
    EXPECT_EQ(entries[2].root, "/home/a\tb");
    EXPECT_EQ(entries[2].mountPoint, "/srv/back\\slash");
    EXPECT_EQ(entries[3].mountPoint, "-");
    EXPECT_EQ(entries[3].source, "/dev/sda5");
    EXPECT_EQ(entries[4].fsType, "proc");
    EXPECT_EQ(entries[4].source, "proc");
}

// Two disks with partitions, a removable stick, a filesystem on a whole disk, and
// the usual noise of a desktop: proc, tmpfs, overlay, a snap loop, LUKS on dm.
class LinuxVolumesTest : public ::testing::Test {
protected:
    void SetUp() override {
        tree.addDisk("sda", 4000000, false, "8:0");
        tree.addPartition("sda", "sda2", 1050624, 2000000, "8:2");
        tree.addPartition("sda", "sda1", 2048, 1048576, "8:1");
        tree.addDisk("sdb", 60000, true, "8:16");
        tree.addPartition("sdb", "sdb1", 2048, 2048, "8:17");
        tree.addPartition("sdb", "sdb2", 4096, 50000, "8:18");
        tree.addDisk("sdc", 8000, false, "8:32");
        tree.addDisk("dm-0", 1000, false, "254:0");
        tree.addDisk("loop0", 1000, false, "7:0");
        std::filesystem::create_directories(tree.dev + "/disk/by-uuid");
        std::filesystem::create_directories(tree.dev + "/mapper");
        std::filesystem::create_symlink("../../sdb1", tree.dev + "/disk/by-uuid/1234-ABCD");
        std::filesystem::create_symlink("../dm-0", tree.dev + "/mapper/crypt");
        lines = {
            "21 26 0:20 / /proc rw,relatime - proc proc rw",
            "24 23 0:22 / /dev/shm rw,relatime - tmpfs tmpfs rw",
            "26 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw",
            "30 26 8:17 / /media/usb\\040stick rw,nosuid shared:5 - vfat /dev/disk/by-uuid/1234-ABCD rw",
            "31 26 8:2 /srv /srv/data rw,relatime shared:1 - ext4 /dev/sda2 rw",
            "32 26 0:40 / /var/lib/docker/overlay2/x/merged rw - overlay overlay rw,lowerdir=/a",
            "33 26 8:1 / /boot/efi rw - vfat /dev/sda1 rw",
            "34 26 254:0 / /mnt/crypt rw - ext4 /dev/mapper/crypt rw",
            "35 26 7:0 / /snap/core ro - squashfs /dev/loop0 ro",
            "36 26 8:32 / /mnt/whole rw - ext4 /dev/sdc rw",
            "37 26 0:50 / /mnt/scratch rw - tmpfs /dev/sdb1 rw",
            "38 26 8:18 / /mnt/second rw - ext4 /dev/root rw",
        };
        writeMounts(lines);
    }
    void writeMounts(const std::vector<std::string>& text) {
        std::ostringstream out;
        for (const auto& l : text) out << l << "\n";
        tree.write(mountInfo(), out.str());
    }
    std::string mountInfo() const { return tree.root + "/mountinfo"; }
    std::shared_ptr<LinuxDiskTable> table() const {
        return std::make_shared<LinuxDiskTable>(tree.sys, tree.dev, mountInfo());
    }
    static std::vector<std::string> devices(const std::vector<VolumeInfo>& volumes) {
        std::vector<std::string> out;
        for (const auto& v : volumes) out.push_back(std::string(1, v.letter) + "=" + v.device);
        return out;
    }

    FakeTree tree;
    std::vector<std::string> lines;
};

TEST_F(LinuxVolumesTest, GivesOneLetterPerDeviceInDiskThenStartOrder) {
    auto shared = table();
    LinuxVolumePort port(shared);
    EXPECT_EQ(port.logicalDriveMask(), 0x7Cu);  // C..G
    // sdb2 is mounted as /dev/root: found through the device number.
    EXPECT_EQ(devices(shared->volumes()),
              (std::vector<std::string>{"C=sda1", "D=sda2", "E=sdb1", "F=sdb2", "G=sdc"}));
    auto whole = shared->volume('G');
    ASSERT_TRUE(whole);
    EXPECT_TRUE(whole->wholeDisk);
    EXPECT_EQ(whole->disk, 2u);
    EXPECT_EQ(whole->diskName, "sdc");

    EXPECT_EQ(port.driveType('C'), kDriveFixed);
    EXPECT_EQ(port.driveType('E'), kDriveRemovable);
    EXPECT_EQ(port.driveType('f'), kDriveRemovable);
    EXPECT_EQ(port.driveType('H'), kDriveNoRootDir);
    EXPECT_EQ(port.driveType('A'), kDriveNoRootDir);
}

TEST_F(LinuxVolumesTest, LettersDoNotDependOnMountOrderAndFollowMountsAndUnmounts) {
    auto first = table();
    first->refresh();
    std::reverse(lines.begin(), lines.end());
    writeMounts(lines);
    auto second = table();
    second->refresh();
    EXPECT_EQ(devices(first->volumes()), devices(second->volumes()));

    // Unmounting the EFI partition moves everyone after it up one letter, and the
    // volume port sees it on its next mask call.
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& l) { return l.find("/boot/efi") != std::string::npos; }),
                lines.end());
    writeMounts(lines);
    LinuxVolumePort port(second);
    EXPECT_EQ(port.logicalDriveMask(), 0x3Cu);
    EXPECT_EQ(devices(second->volumes()), (std::vector<std::string>{"C=sda2", "D=sdb1", "E=sdb2", "F=sdc"}));
}

TEST(LinuxVolumeLetters, StopAtZ) {
    std::vector<VolumeCandidate> many;
    for (int i = 0; i < 30; ++i) {
        VolumeCandidate c;
        c.device = "disk" + std::to_string(i) + "p1";
        c.disk = static_cast<std::size_t>(i);
        c.startSector = 2048;
        many.push_back(c);
        many.push_back(c);  // mounted twice: still one letter
    }
    const auto volumes = assignLetters(many);
    ASSERT_EQ(volumes.size(), 24u);
    EXPECT_EQ(volumes.front().letter, 'C');
    EXPECT_EQ(volumes.back().letter, 'Z');
    EXPECT_EQ(volumes.back().disk, 23u);
}

TEST_F(LinuxVolumesTest, ExtentsComeFromTheVolumesPartitionAndItsParentDisk) {
    auto shared = table();
    LinuxVolumePort volumes(shared);
    LinuxStoragePort storage(shared);
    volumes.logicalDriveMask();

    DiskExtent extent;
    DriveHandle root = storage.open('D');
    ASSERT_NE(root, kInvalidHandle);
    ASSERT_TRUE(storage.volumeDiskExtents(root, extent));
    EXPECT_EQ(extent.diskNumber, 0u);
    EXPECT_EQ(extent.startingOffset, 1050624LL * 512);
    EXPECT_EQ(extent.extentLength, 2000000LL * 512);

    DriveHandle stick = storage.open('F');
    ASSERT_TRUE(storage.volumeDiskExtents(stick, extent));
    EXPECT_EQ(extent.diskNumber, 1u);
    EXPECT_EQ(extent.startingOffset, 4096LL * 512);

    DriveHandle whole = storage.open('G');
    ASSERT_TRUE(storage.volumeDiskExtents(whole, extent));
    EXPECT_EQ(extent.diskNumber, 2u);
    EXPECT_EQ(extent.startingOffset, 0);
    EXPECT_EQ(extent.extentLength, 8000LL * 512);

    DriveHandle physical = storage.open(1);
    ASSERT_NE(physical, kInvalidHandle);
    EXPECT_FALSE(storage.volumeDiskExtents(physical, extent));
    EXPECT_EQ(storage.open('H'), kInvalidHandle);

    // The stick is pulled while its handle is open: its disk has left the list.
    std::filesystem::remove(tree.sys + "/block/sdb");
    EXPECT_FALSE(storage.volumeDiskExtents(stick, extent));
    EXPECT_TRUE(storage.volumeDiskExtents(whole, extent));
    EXPECT_EQ(extent.diskNumber, 1u);  // sdc moved up to drive 1

    for (DriveHandle h : {root, stick, whole, physical}) storage.close(h);
}

TEST(LinuxDisksReal, RealSysfsGivesOpenableDisksAndConsistentVolumes) {
    if (!std::filesystem::exists("/sys/block")) GTEST_SKIP() << "no sysfs";
    const auto disks = scanPhysicalDisks("/sys");
    for (const auto& d : disks) {
        EXPECT_TRUE(isPhysicalDiskName(d.name)) << d.name;
        EXPECT_FALSE(d.name.rfind("loop", 0) == 0 || d.name.rfind("zram", 0) == 0) << d.name;
    }
    auto shared = std::make_shared<LinuxDiskTable>();
    LinuxVolumePort volumes(shared);
    LinuxStoragePort storage(shared);
    const std::uint32_t mask = volumes.logicalDriveMask();
    EXPECT_EQ(mask & 0x3u, 0u);  // A: and B: are never handed out
    for (const auto& v : shared->volumes()) {
        ASSERT_LT(v.disk, disks.size());
        EXPECT_EQ(volumes.driveType(v.letter), disks[v.disk].removable ? kDriveRemovable : kDriveFixed);
        DriveHandle h = storage.open(static_cast<std::uint8_t>(v.letter));
        if (h == kInvalidHandle) continue;  // no permission for the node
        DiskExtent extent;
        ASSERT_TRUE(storage.volumeDiskExtents(h, extent)) << v.device;
        EXPECT_EQ(extent.diskNumber, v.disk);
        EXPECT_GT(extent.extentLength, 0);
        EXPECT_LE(extent.startingOffset + extent.extentLength,
                  static_cast<std::int64_t>(disks[v.disk].sizeSectors * 512));
        storage.close(h);
    }
}
