// Finding the enclosures among the PC's drives.
//
// A detection pass fills the drive-letter table and asks physical drives 0..9 the
// probe of every way a bridge controller can be spoken to (device/DevicePath: the
// identification page at sector 58 for the mailbox, the "3X" mark in the ATA IDENTIFY
// data, the vendor-unique identification with either prefix length). Drives of one
// enclosure answer identically and are grouped into one entry. What the pass meets
// goes to the transport's report as values; it shows nothing itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/DeviceState.h"
#include "device/Transport.h"
#include "platform/DriveLockPort.h"
#include "platform/VolumePort.h"

namespace raid {

// 0 when equal, else a[i] - b[i] at the first differing byte.
int ComparePages(const std::uint8_t* a, const std::uint8_t* b, std::size_t n);

class Discovery {
public:
    // `messageTurn` is called before each drive when the routine runs on the engine
    // thread (the window gets a turn); pass an empty function on the detection thread.
    Discovery(Transport& transport, VolumePort& volumes, DeviceState& state);

    int EnumerateLetters(const std::function<void()>& messageTurn = {});
    int CountPhysicalDrives(const std::function<void()>& messageTurn = {});
    void BuildDriveTable();
    int IdentifyEnclosures();
    void DetectionPass();

    std::uint32_t statusSearchLimit = 0x80000;

    // With drive locks every drive is locked before it is sent anything: a drive
    // another program holds, or whose lock this program may not take, is skipped; one
    // found to be no enclosure is let go at once, an enclosure's lock stays (its owner
    // lets go when it leaves the list).
    void setDriveLocks(DriveLockPort* locks) { locks_ = locks; }
    // What the last IdentifyEnclosures met. Written by the pass, read by whoever
    // takes the finished pass (the detection hand-over orders the two).
    std::uint16_t BusyDrives = 0;        // bit k: drive k is another program's, nothing was sent
    std::uint16_t RefusedDrives = 0;     // bit k: drive k's lock could not be taken, nothing was sent
    std::string RefusedReason;           // why, for the first of them
    std::string LockProblem;             // the first reason drives are used without a lock ("" none)
    std::vector<std::string> LockNotes;  // what the locks had to tell, each said once

private:
    bool heldDrive(int k, std::uint32_t& heldCode) const;

    Transport& transport_;
    VolumePort& volumes_;
    DeviceState& state_;
    DriveLockPort* locks_ = nullptr;
};

}  // namespace raid
