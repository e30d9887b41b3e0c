// The Windows storage ports: the SCSI request translated to the system's 64-bit
// structure and back, the program finding and polling a simulated enclosure through
// the Windows port, a device notification reaching the detection countdown, and the
// real system calls failing cleanly on handles and paths that are no drives.
//
// Wine answers pass-through with ERROR_NOT_SUPPORTED and has no physical drive of an
// enclosure, so the enclosure is reached through the port's system-call seam: the
// adapter below reads the NATIVE structure the port sent (its own reading, not the
// port's) and hands the 80-byte block the core filled to the simulated platform.
#include <gtest/gtest.h>

// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <dbt.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "device/Transport.h"
#include "platform/win32/WinDeviceChange.h"
#include "platform/win32/WinScsiMarshal.h"
#include "platform/win32/WinStorage.h"
#include "platform/win32/WinVolumes.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"
#include "support/QuietDialogs.h"

namespace raid {
namespace {

using win32::DriveCalls;
using win32::NativeScsiRequest;
using win32::WinStoragePort;

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void putLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Waits (polling) until `done` holds; a generous bound only so a stuck port fails the
// test instead of hanging it.
template <typename F>
bool waitUntil(F done, std::chrono::seconds bound = std::chrono::seconds(120)) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A folder of the test's own under the system's temporary folder.
struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        path = std::filesystem::temp_directory_path() /
               ("raidgui-win-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount64()));
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// The simulated machine behind the port's system calls, the way the storage stack
// would take the port's requests.
struct SimBehindSeam {
    sim::SimPlatform& sim;
    std::mutex m;
    std::vector<std::string> paths;
    int opens = 0, closes = 0, scsi = 0, dataOut = 0, ide = 0, ideMisaligned = 0, rescans = 0, extents = 0;

    explicit SimBehindSeam(sim::SimPlatform& s) : sim(s) {}

    DriveCalls calls() {
        DriveCalls c;
        c.open = [this](const std::string& path) -> HANDLE {
            std::uint8_t target = 0;
            if (path.rfind("\\\\.\\PhysicalDrive", 0) == 0)
                target = static_cast<std::uint8_t>(std::stoi(path.substr(17)));
            else if (path.size() == 6 && path.rfind("\\\\.\\", 0) == 0 && path[5] == ':')
                target = static_cast<std::uint8_t>(path[4]);
            else {
                ::SetLastError(ERROR_FILE_NOT_FOUND);
                return INVALID_HANDLE_VALUE;
            }
            const DriveHandle h = sim.open(target);
            std::lock_guard lock(m);
            paths.push_back(path);
            if (h == kInvalidHandle) {
                ::SetLastError(sim.accessDenied() ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
                return INVALID_HANDLE_VALUE;
            }
            ++opens;
            return reinterpret_cast<HANDLE>(h);
        };
        c.close = [this](HANDLE h) {
            sim.close(reinterpret_cast<DriveHandle>(h));
            std::lock_guard lock(m);
            ++closes;
        };
        c.control = [this](HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                           DWORD* returned) -> BOOL {
            const DriveHandle drive = reinterpret_cast<DriveHandle>(h);
            bool ok = false;
            *returned = 0;
            switch (code) {
                case IOCTL_SCSI_PASS_THROUGH_DIRECT:
                    ok = scsiRequest(drive, in, inSize, out, outSize, returned);
                    break;
                case IOCTL_IDE_PASS_THROUGH: {
                    std::lock_guard lock(m);
                    ++ide;
                    if (reinterpret_cast<std::uintptr_t>(in) % 4096 != 0) ++ideMisaligned;
                }
                    ok = in == out && inSize == outSize &&
                         sim.idePassThrough(drive, static_cast<std::uint8_t*>(in), inSize);
                    if (ok) *returned = outSize;
                    break;
                case IOCTL_SCSI_RESCAN_BUS: {
                    std::lock_guard lock(m);
                    ++rescans;
                }
                    ok = !in && !out && sim.rescanBus(drive);
                    break;
                case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
                    {
                        std::lock_guard lock(m);
                        ++extents;
                    }
                    DiskExtent first;
                    if (outSize < sizeof(VOLUME_DISK_EXTENTS) || !sim.volumeDiskExtents(drive, first)) break;
                    auto* answer = static_cast<VOLUME_DISK_EXTENTS*>(out);
                    answer->NumberOfDiskExtents = 1;
                    answer->Extents[0].DiskNumber = first.diskNumber;
                    answer->Extents[0].StartingOffset.QuadPart = first.startingOffset;
                    answer->Extents[0].ExtentLength.QuadPart = first.extentLength;
                    *returned = sizeof(VOLUME_DISK_EXTENTS);
                    ok = true;
                    break;
                }
                default:
                    ::SetLastError(ERROR_INVALID_FUNCTION);
                    return FALSE;
            }
            if (!ok) ::SetLastError(ERROR_IO_DEVICE);
            return ok;
        };
        return c;
    }

    // Reads the system's structure at its 64-bit offsets and builds the block of a
    // 32-bit program from it, as the simulated controller expects.
    bool scsiRequest(DriveHandle drive, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
        if (in != out || inSize != sizeof(NativeScsiRequest) || outSize != inSize) return false;
        auto* native = static_cast<std::uint8_t*>(in);
        if (native[0] != 56 || native[1] != 0) return false;  // Length: the 64-bit structure
        std::uint8_t block[spt::kSize] = {};
        block[spt::kLength] = 44;
        std::memcpy(block + 2, native + 2, 7);  // status, path, target, lun, cdb length, sense length, direction
        std::memcpy(block + spt::kDataTransferLength, native + 12, 8);  // length, timeout
        std::uint8_t* data = nullptr;
        std::memcpy(&data, native + 24, sizeof data);
        putLe32(block + spt::kDataBuffer, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(data)));
        const std::uint32_t senseOffset = le32(native + 32);
        if (senseOffset != 56) return false;
        putLe32(block + spt::kSenseInfoOffset, 48);
        std::memcpy(block + spt::kCdb, native + 36, 16);
        {
            std::lock_guard lock(m);
            ++scsi;
            if (block[spt::kDataIn] == 0 && le32(block + spt::kDataTransferLength) > 0) ++dataOut;
        }
        if (!sim.scsiPassThrough(drive, block, data)) return false;
        native[2] = block[spt::kScsiStatus];
        std::memcpy(native + senseOffset, block + spt::kSense, native[7]);
        std::memcpy(native + 12, block + spt::kDataTransferLength, 4);
        *returned = inSize;
        return true;
    }
};

// A device notification as the system delivers it: sent (never posted, the system
// refuses to post WM_DEVICECHANGE with a structure behind lParam), from another
// thread, with the interface's description.
bool sendDeviceChange(HWND window, WPARAM event) {
    DEV_BROADCAST_DEVICEINTERFACE_A info{};
    info.dbcc_size = sizeof info;
    info.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    DWORD_PTR answer = 1;
    return ::SendMessageTimeoutA(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&info), SMTO_NORMAL,
                                 120000, &answer) != 0 &&
           answer == 0;
}

// The block the core fills for READ(10) of 100 sectors at 0x12345678 into `data`.
void readRequest(std::uint8_t* block, const void* data) {
    std::uint8_t cdb[10];
    buildReadWriteCdb(cdb, false, 0x12345678, 100);
    buildScsiRequest(block, cdb, true, 100 * 512, 2, data);
}

TEST(WinScsiMarshal, TheCoresBlockBecomesTheSystems64BitStructureAndTheAnswerComesBack) {
    static_assert(sizeof(NativeScsiRequest) == 80);
    std::vector<std::uint8_t> buffer(100 * 512);
    std::uint8_t block[spt::kSize];
    readRequest(block, buffer.data());
    // The block's 32-bit address field is a truncated pointer: the port must use the
    // real one.
    putLe32(block + spt::kDataBuffer, 0xDEADBEEF);

    NativeScsiRequest native;
    std::memset(&native, 0xCC, sizeof native);
    ASSERT_TRUE(win32::marshalScsiRequest(block, buffer.data(), native));
    std::uint8_t bytes[sizeof native];
    std::memcpy(bytes, &native, sizeof native);
    std::uint8_t want[80] = {
        56, 0, 0, 0, 1, 0, 10, 24, 1, 0, 0, 0,  // Length 56, status, path, target 1, lun, cdb 10, sense 24, in
        0x00, 0xC8, 0, 0, 2, 0, 0, 0,           // 51200 bytes, 2 s
        0, 0, 0, 0,                             // padding before the 8-byte pointer
        0, 0, 0, 0, 0, 0, 0, 0,                 // DataBuffer (below)
        56, 0, 0, 0,                            // SenseInfoOffset: the sense bytes follow the structure
        0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 0x64, 0, 0, 0, 0, 0, 0, 0,  // Cdb at 36
        0, 0, 0, 0};                            // padding to 56, then 24 sense bytes, all 0
    const auto address = reinterpret_cast<std::uintptr_t>(buffer.data());
    for (int i = 0; i < 8; ++i) want[24 + i] = static_cast<std::uint8_t>(address >> (8 * i));
    for (std::size_t i = 0; i < sizeof want; ++i) EXPECT_EQ(bytes[i], want[i]) << "byte " << i;
    EXPECT_EQ(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer), 24u);
    EXPECT_EQ(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb), 36u);
    EXPECT_EQ(native.header.DataBuffer, buffer.data());

    // Data out: WRITE(10) of one sector, the direction byte 0.
    std::uint8_t cdb[10];
    buildReadWriteCdb(cdb, true, 20, 1);
    std::uint8_t writeBlock[spt::kSize];
    buildScsiRequest(writeBlock, cdb, false, 512, 2, buffer.data());
    ASSERT_TRUE(win32::marshalScsiRequest(writeBlock, buffer.data(), native));
    EXPECT_EQ(native.header.DataIn, SCSI_IOCTL_DATA_OUT);
    EXPECT_EQ(native.header.DataTransferLength, 512u);
    EXPECT_EQ(native.header.Cdb[0], 0x2A);
    EXPECT_EQ(native.header.Cdb[5], 20);
    EXPECT_EQ(native.header.DataBuffer, buffer.data());

    // Back: status, sense and a short transfer reach the block; nothing else changes.
    ASSERT_TRUE(win32::marshalScsiRequest(block, buffer.data(), native));
    native.header.ScsiStatus = 0x02;
    for (std::size_t i = 0; i < win32::kScsiSenseBytes; ++i) native.sense[i] = static_cast<UCHAR>(0x70 + i);
    native.header.DataTransferLength = 200;
    std::uint8_t before[spt::kSize];
    std::memcpy(before, block, sizeof before);
    win32::unmarshalScsiResult(native, block);
    EXPECT_EQ(block[spt::kScsiStatus], 0x02);
    for (std::size_t i = 0; i < win32::kScsiSenseBytes; ++i) EXPECT_EQ(block[spt::kSense + i], 0x70 + i);
    EXPECT_EQ(le32(block + spt::kDataTransferLength), 200u);
    for (std::size_t i = 0; i < spt::kSize; ++i) {
        const bool result = i == spt::kScsiStatus || (i >= spt::kSense && i < spt::kSense + 24) ||
                            (i >= spt::kDataTransferLength && i < spt::kDataTransferLength + 4);
        if (!result) {
            EXPECT_EQ(block[i], before[i]) << "byte " << i;
        }
    }
    // A driver claiming more than was asked cannot make the caller read past its buffer.
    native.header.DataTransferLength = 0xFFFFFFFF;
    win32::unmarshalScsiResult(native, block);
    EXPECT_EQ(le32(block + spt::kDataTransferLength), 200u);

    // Blocks no driver should see.
    std::uint8_t bad[spt::kSize];
    for (int cdbLength : {0, 17, 255}) {
        readRequest(bad, buffer.data());
        bad[spt::kCdbLength] = static_cast<std::uint8_t>(cdbLength);
        EXPECT_FALSE(win32::marshalScsiRequest(bad, buffer.data(), native)) << cdbLength;
    }
    readRequest(bad, buffer.data());
    bad[spt::kDataIn] = 3;
    EXPECT_FALSE(win32::marshalScsiRequest(bad, buffer.data(), native));
    readRequest(bad, buffer.data());
    EXPECT_FALSE(win32::marshalScsiRequest(bad, nullptr, native));
    EXPECT_FALSE(win32::marshalScsiRequest(nullptr, buffer.data(), native));
    readRequest(bad, buffer.data());
    bad[spt::kSenseInfoLength] = 200;  // more sense than there is room for
    ASSERT_TRUE(win32::marshalScsiRequest(bad, buffer.data(), native));
    EXPECT_EQ(native.header.SenseInfoLength, 24);
}

// The program on the engine thread, as the window runs it, finds the simulated
// enclosure and polls it through the Windows storage port; a device notification to
// the port's window then starts the countdown, and the re-count finds the enclosure
// plugged in meanwhile.
TEST(WinStorage, TheProgramFindsAndPollsAnEnclosureThroughThePortAndADeviceChangeRedetects) {
    sim::SimPlatform sim;
    sim.addPlainDisk(0);
    sim.attach(1, sim::Path::Mailbox, sim::makeIdentityPage(sim::IdentityOptions().setModel("FIRST")),
               sim::makeStatusRecord());
    sim.addVolume('C', 0);
    sim.addVolume('E', 1);
    SimBehindSeam seam(sim);
    WinStoragePort port(seam.calls());
    win32::WinDeviceChange changes;
    test::QuietDialogs dialogs;
    TempFolder logs;

    std::atomic<int> active{0};
    std::atomic<unsigned> polls{0};
    std::atomic<bool> counting{false};
    {
        EngineHost host(makeRealScheduler(), [&](Scheduler& s, Controls& c, DialogPort& d) {
            Ports ports{s, port, sim, d, &changes, nullptr, nullptr, logs.path.string(), logs.path.string()};
            return std::make_unique<MainForm>(ports, c);
        });
        host.start(dialogs);
        const auto watch = [&] {
            host.post([&](MainForm& f) {
                active = f.dev.ActiveCount.load();
                polls = f.PollsDone;
                if (f.DeviceChangeCountdown != 0) counting = true;
            });
        };
        EXPECT_TRUE(waitUntil([&] {
            watch();
            return active == 1 && polls >= 1;
        })) << "active " << active << " polls " << polls;
        ASSERT_NE(changes.window(), nullptr);

        sim.attach(2, sim::Path::Ata, sim::makeIdentityPage(sim::IdentityOptions().setModel("SECOND")),
                   sim::makeStatusRecord());
        ASSERT_TRUE(sendDeviceChange(changes.window(), DBT_DEVICEARRIVAL));
        EXPECT_TRUE(waitUntil([&] {
            watch();
            return active == 2;
        })) << "active " << active;
        EXPECT_TRUE(counting);
        host.stop();
    }
    changes.stop();
    EXPECT_EQ(changes.window(), nullptr);

    std::lock_guard lock(seam.m);
    // The exact paths of the drives and of the letters the extents were asked for.
    const auto opened = [&](const std::string& path) {
        return std::find(seam.paths.begin(), seam.paths.end(), path) != seam.paths.end();
    };
    EXPECT_TRUE(opened("\\\\.\\PhysicalDrive0"));
    EXPECT_TRUE(opened("\\\\.\\PhysicalDrive1"));
    EXPECT_TRUE(opened("\\\\.\\PhysicalDrive2"));
    EXPECT_TRUE(opened("\\\\.\\C:"));
    EXPECT_TRUE(opened("\\\\.\\E:"));
    EXPECT_GT(seam.scsi, 0);
    EXPECT_GT(seam.dataOut, 0);  // the action command told the enclosure the program found it
    EXPECT_GT(seam.ide, 0);      // the ATA enclosure was recognised by its IDENTIFY data
    EXPECT_EQ(seam.ideMisaligned, 0);
    EXPECT_GT(seam.rescans, 0);
    EXPECT_GT(seam.extents, 0);
    EXPECT_EQ(seam.opens, seam.closes);
    EXPECT_EQ(sim.openHandles(), 0);
    EXPECT_FALSE(port.accessDenied());
}

// A drive refused for want of rights says so; every out-of-range target and every
// request the port cannot vouch for fails before it reaches the system.
TEST(WinStorage, RefusedAndMalformedRequestsFailBeforeTheSystemSeesThem) {
    sim::SimPlatform sim;
    sim.attach(1, sim::Path::Ata, sim::makeIdentityPage(), sim::makeStatusRecord());
    SimBehindSeam seam(sim);
    WinStoragePort port(seam.calls());

    EXPECT_EQ(win32::drivePath(0), "\\\\.\\PhysicalDrive0");
    EXPECT_EQ(win32::drivePath(66), "\\\\.\\PhysicalDrive66");
    EXPECT_EQ(win32::drivePath('C'), "\\\\.\\C:");
    EXPECT_EQ(win32::drivePath('e'), "\\\\.\\E:");
    for (int target : {int{'['}, int{'`'}, int{'{'}, 0x7F, 0x80, 0xFF})
        EXPECT_EQ(port.open(static_cast<std::uint8_t>(target)), kInvalidHandle) << target;
    EXPECT_TRUE(seam.paths.empty());

    const DriveHandle h = port.open(1);
    ASSERT_NE(h, kInvalidHandle);
    std::vector<std::uint8_t> ideBlock(ide::kHeader + 512);
    const std::uint8_t identify[7] = {0, 0, 0, 0, 0, 0xE0, 0xEC};
    std::memcpy(ideBlock.data(), identify, 7);
    putLe32(ideBlock.data() + ide::kDataSize, 512);
    EXPECT_TRUE(port.idePassThrough(h, ideBlock.data(), ideBlock.size()));
    EXPECT_EQ(ideBlock[ide::kData + 258], '3');
    EXPECT_EQ(ideBlock[ide::kData + 259], 'X');
    // A size field that disagrees with the block, or a huge one, never gets sent.
    putLe32(ideBlock.data() + ide::kDataSize, 1024);
    EXPECT_FALSE(port.idePassThrough(h, ideBlock.data(), ideBlock.size()));
    putLe32(ideBlock.data() + ide::kDataSize, 0xFFFFFE00u);
    EXPECT_FALSE(port.idePassThrough(h, ideBlock.data(), ideBlock.size()));
    EXPECT_FALSE(port.idePassThrough(h, ideBlock.data(), 8));
    EXPECT_FALSE(port.idePassThrough(h, nullptr, ideBlock.size()));
    std::uint8_t block[spt::kSize];
    readRequest(block, nullptr);
    EXPECT_FALSE(port.scsiPassThrough(h, block, nullptr));
    EXPECT_FALSE(port.scsiPassThrough(h, nullptr, nullptr));
    EXPECT_EQ(seam.ide, 1);
    EXPECT_EQ(seam.scsi, 0);
    // Handles the port never gave out reach nothing and close nothing.
    EXPECT_FALSE(port.rescanBus(h + 1000));
    port.close(h + 1000);
    port.close(kInvalidHandle);
    EXPECT_EQ(seam.closes, 0);
    // A physical-drive handle has no volume extent.
    DiskExtent extent;
    EXPECT_FALSE(port.volumeDiskExtents(h, extent));
    port.close(h);
    port.close(h);
    EXPECT_EQ(seam.closes, 1);
    EXPECT_FALSE(port.rescanBus(h));

    EXPECT_FALSE(port.accessDenied());
    sim.setAccessDenied(true);
    EXPECT_EQ(port.open(1), kInvalidHandle);
    EXPECT_TRUE(port.accessDenied());
    EXPECT_EQ(sim.openHandles(), 0);
}

bool underWine() { return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// The real system calls on handles that are no enclosure's: every command fails, none
// crashes; a pipe behind a drive's path is not even opened.
TEST(WinStorage, RealSystemCallsFailCleanlyOnFilesPipesAndWinesDrives) {
    TempFolder folder;
    const std::string file = (folder.path / "drive.bin").string();
    std::ofstream(file, std::ios::binary) << std::string(4096, 'x');
    char pipeName[96];
    std::snprintf(pipeName, sizeof pipeName, "\\\\.\\pipe\\raidgui-drive-%lu", ::GetCurrentProcessId());
    HANDLE pipe = ::CreateNamedPipeA(pipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                     nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);

    // The drive paths the port asks for lead to the planted file and pipe.
    DriveCalls calls = win32::systemDriveCalls();
    const auto realOpen = calls.open;
    std::vector<std::string> asked;
    calls.open = [&](const std::string& path) {
        asked.push_back(path);
        return realOpen(path == "\\\\.\\PhysicalDrive3" ? file : path == "\\\\.\\P:" ? std::string(pipeName) : path);
    };
    WinStoragePort port(calls);

    const DriveHandle h = port.open(3);
    ASSERT_NE(h, kInvalidHandle);
    std::vector<std::uint8_t> data(100 * 512, 0x5A);
    std::uint8_t block[spt::kSize];
    readRequest(block, data.data());
    EXPECT_FALSE(port.scsiPassThrough(h, block, data.data()));
    EXPECT_EQ(data[0], 0x5A);
    std::vector<std::uint8_t> ideBlock(ide::kHeader + 512);
    putLe32(ideBlock.data() + ide::kDataSize, 512);
    EXPECT_FALSE(port.idePassThrough(h, ideBlock.data(), ideBlock.size()));
    EXPECT_FALSE(port.rescanBus(h));
    DiskExtent extent;
    EXPECT_FALSE(port.volumeDiskExtents(h, extent));
    port.close(h);
    EXPECT_TRUE(std::filesystem::remove(file));  // the handle is closed

    EXPECT_EQ(port.open('P'), kInvalidHandle);
    EXPECT_EQ(asked, (std::vector<std::string>{"\\\\.\\PhysicalDrive3", "\\\\.\\P:"}));
    ::CloseHandle(pipe);

    // Wine's own volume opens, and answers pass-through with ERROR_NOT_SUPPORTED.
    if (underWine()) {
        WinStoragePort system;
        const DriveHandle c = system.open('C');
        ASSERT_NE(c, kInvalidHandle);
        readRequest(block, data.data());
        EXPECT_FALSE(system.scsiPassThrough(c, block, data.data()));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
        EXPECT_EQ(data[0], 0x5A);
        EXPECT_FALSE(system.idePassThrough(c, ideBlock.data(), ideBlock.size()));
        EXPECT_FALSE(system.rescanBus(c));
        system.close(c);
        EXPECT_FALSE(system.accessDenied());
    }

    // The letters and their types, straight from the system.
    win32::WinVolumePort volumes;
    const std::uint32_t mask = volumes.logicalDriveMask();
    EXPECT_NE(mask & (1u << ('C' - 'A')), 0u);
    EXPECT_EQ(volumes.driveType('C'), kDriveFixed);
    EXPECT_EQ(volumes.driveType('c'), kDriveFixed);
    for (char odd : {'\0', '\\', ':', '[', '@', static_cast<char>(0xC3)})
        EXPECT_EQ(volumes.driveType(odd), kDriveNoRootDir) << int{odd};
}

// The notification window on its own thread: arrivals and removals reach the
// callback, an outside WM_CLOSE does not silence it, a throwing callback does not end
// it, and it starts and stops again and again.
TEST(WinDeviceChange, NotificationsReachTheCallbackUntilStopped) {
    std::mutex m;
    std::condition_variable cv;
    int calls = 0;
    DWORD callbackThread = 0;
    const auto onChange = [&] {
        std::lock_guard lock(m);
        ++calls;
        callbackThread = ::GetCurrentThreadId();
        cv.notify_all();
        if (calls == 2) throw std::runtime_error("receiver broke");
    };
    const auto waitFor = [&](int n) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, std::chrono::seconds(120), [&] { return calls >= n; });
    };

    win32::WinDeviceChange changes;
    for (int round = 0; round < 3; ++round) {
        changes.start(onChange);
        ASSERT_NE(changes.window(), nullptr);
        changes.stop();
        EXPECT_EQ(changes.window(), nullptr);
    }
    changes.start(onChange);
    HWND window = changes.window();
    ASSERT_NE(window, nullptr);
    // USB devices, disks and volumes.
    EXPECT_EQ(changes.registrations(), 3);
    ASSERT_TRUE(sendDeviceChange(window, DBT_DEVICEARRIVAL));
    EXPECT_TRUE(waitFor(1));
    EXPECT_NE(callbackThread, ::GetCurrentThreadId());
    ASSERT_TRUE(sendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE));  // the callback throws
    EXPECT_TRUE(waitFor(2));
    ASSERT_TRUE(::PostMessageA(window, WM_CLOSE, 0, 0));
    ASSERT_TRUE(sendDeviceChange(window, DBT_DEVICEARRIVAL));
    EXPECT_TRUE(waitFor(3));
    changes.stop();
    changes.stop();
    EXPECT_FALSE(::IsWindow(window));
    {
        win32::WinDeviceChange other;  // the destructor stops a running port
        other.start([] {});
    }
}

}  // namespace
}  // namespace raid
