// The trace decorator: one line per request, byte-exact, and readable back.
#include "Requests.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"
#include "sim/Trace.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace raid::sim;
using namespace simtest;

namespace {

std::vector<std::string> splitLines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

TEST(Trace, OneExactLinePerRequestKind) {
    SimPlatform sim;
    sim.addPlainDisk(0);
    sim.attach(1, Path::Mailbox, makeIdentityPage(), makeStatusRecord());
    sim.addVolume('E', 1);
    std::ostringstream out;
    TracePort t(sim, out);

    EXPECT_EQ(t.open(7), raid::kInvalidHandle);
    const DriveHandle h = t.open(1);
    auto r = read10(58);
    ASSERT_TRUE(r.send(t, h));
    Block cmd = mailboxCommand(0xAB);
    auto w = write10(20, cmd);
    ASSERT_TRUE(w.send(t, h));
    EXPECT_FALSE(vuTable(2).send(t, h));
    Ide id;
    ASSERT_TRUE(id.send(t, h));
    EXPECT_TRUE(t.rescanBus(h));
    t.close(h);
    const DriveHandle v = t.open('E');
    raid::DiskExtent ext;
    EXPECT_TRUE(t.volumeDiskExtents(v, ext));
    t.close(v);

    const std::string data = "3358ab" + std::string(509 * 2, '0');
    const std::vector<std::string> expected = {
        "1 OPEN PhysicalDrive7 fail",
        "2 OPEN PhysicalDrive1 ok",
        "3 SCSI in 512 cdb=28000000003a00000100 ok",
        "4 SCSI out 512 cdb=2a000000001400000100 data=" + data + " ok",
        "5 SCSI in 20 cdb=fefe7800000000000000 fail",
        "6 ATA regs=0000000000e0ec sectors=1 ok",
        "7 RESCAN ok",
        "8 CLOSE",
        "9 OPEN E: ok",
        "10 EXTENTS ok",
        "11 CLOSE",
    };
    EXPECT_EQ(splitLines(out.str()), expected);
    EXPECT_EQ(t.lines(), 11u);
}

TEST(Trace, ParserReadsEveryKindBack) {
    TraceLine l;
    ASSERT_TRUE(parseTraceLine("4 SCSI out 2 cdb=2a000000001400000100 data=ff01 ok", l));
    EXPECT_EQ(l.seq, 4u);
    EXPECT_EQ(l.kind, TraceLine::Kind::Scsi);
    EXPECT_FALSE(l.dataIn);
    EXPECT_EQ(l.length, 2u);
    EXPECT_EQ(l.cdb, (std::vector<std::uint8_t>{0x2a, 0, 0, 0, 0, 0x14, 0, 0, 1, 0}));
    EXPECT_EQ(l.data, (std::vector<std::uint8_t>{0xff, 0x01}));
    EXPECT_TRUE(l.ok);

    ASSERT_TRUE(parseTraceLine("6 ATA regs=0000000000e0ec sectors=1 fail", l));
    EXPECT_EQ(l.kind, TraceLine::Kind::Ata);
    EXPECT_EQ(l.regs[6], 0xEC);
    EXPECT_EQ(l.sectors, 1u);
    EXPECT_FALSE(l.ok);

    ASSERT_TRUE(parseTraceLine("9 OPEN E: ok", l));
    EXPECT_EQ(l.target, "E:");
    ASSERT_TRUE(parseTraceLine("2 OPEN PhysicalDrive1 fail", l));
    EXPECT_EQ(l.target, "PhysicalDrive1");
    ASSERT_TRUE(parseTraceLine("8 CLOSE", l));
    EXPECT_EQ(l.kind, TraceLine::Kind::Close);
    ASSERT_TRUE(parseTraceLine("7 EXTENTS ok", l));
    EXPECT_EQ(l.kind, TraceLine::Kind::Extents);

    for (const char* bad : {"", "0 CLOSE", "x CLOSE", "1 CLOSE extra", "1 SCSI in 512 cdb=2800 ok",
                            "1 SCSI in 2 cdb=28000000003a00000100 data=0000 ok", "1 SCSI out 2 cdb=2a000000001400000100 ok",
                            "1 SCSI out 1 cdb=2a000000001400000100 data=0 ok", "1 SCSI in 512 cdb=28000000003A00000100 ok",
                            "1 ATA regs=00 sectors=1 ok", "1 RESCAN maybe", "1 OPEN Drive1 ok", "1 FLY ok"})
        EXPECT_FALSE(parseTraceLine(bad, l)) << bad;
}

TEST(Trace, LinesWrittenParseBackToTheRequests) {
    SimPlatform sim;
    SimEnclosure& e = sim.attach(0, Path::Vu1, makeIdentityPage(), makeStatusRecord());
    std::ostringstream out;
    TracePort t(sim, out);
    const DriveHandle h = t.open(0);
    auto prog = vuProgram(1, 0x1000, 0x42);
    ASSERT_TRUE(vuErase(1, 0x1000).send(t, h));
    ASSERT_TRUE(prog.send(t, h));
    EXPECT_EQ(e.flash()[0x1000], 0x42);  // the decorator passed the request on unchanged

    const auto lines = splitLines(out.str());
    ASSERT_EQ(lines.size(), 3u);
    TraceLine l;
    ASSERT_TRUE(parseTraceLine(lines[2], l));
    EXPECT_EQ(l.seq, 3u);
    EXPECT_EQ(l.length, 256u);
    EXPECT_EQ(l.cdb, std::vector<std::uint8_t>(prog.block.begin() + 28, prog.block.begin() + 38));
    EXPECT_EQ(l.data, prog.data);
}

}  // namespace
