// Loading image files: the texts on the status bar and in the boxes, what stays held
// after each outcome, bytes that fail to read, and special and huge files on the real
// Linux file store (under a deadline, so a blocking open fails the test, not the run).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "maintenance/ImageLoader.h"
#include "monitor/MemoryFileStore.h"
#include "platform/WithinDeadline.h"
#include "sim/FirmwareImages.h"
#include "support/Portable.h"
#include "support/QuietDialogs.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

struct PanelLog final : Reporter {
    std::vector<std::pair<int, std::string>> panels;
    void panel(int index, const std::string& text) override { panels.emplace_back(index, text); }
    void messageBox(const std::string&, const std::string&) override { ADD_FAILURE() << "boxes go to the dialogs"; }
    std::vector<std::string> of(int index) const {
        std::vector<std::string> texts;
        for (const auto& [i, t] : panels)
            if (i == index) texts.push_back(t);
        return texts;
    }
};

std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

const std::string kNotFirmware = "Error:The firmware file is not correct.\nPlease check it.";
const std::string kOpenFail = "Error:Fail to open firmware file";

class Loader : public ::testing::Test {
protected:
    ImageLoadResult load(const std::string& path) {
        dialogs.shown.clear();
        panels.panels.clear();
        return loader.load(path, image);
    }
    void put(const std::string& path, const std::vector<std::uint8_t>& bytes) { store.files[path] = text(bytes); }
    std::vector<std::string> readErrors(std::size_t at, int times) const {
        return std::vector<std::string>(static_cast<std::size_t>(times),
                                        "Warning::Error read from Source file. ByteCount = " + std::to_string(at));
    }

    testing::MemoryFileStore store;
    test::QuietDialogs dialogs;
    PanelLog panels;
    std::vector<std::string> fileNames;
    ImageLoader loader{ImageLoadPorts{store, dialogs, panels, [this](const std::string& p) { fileNames.push_back(p); }}};
    FirmwareImage image;
};

TEST_F(Loader, ThreeBytesShowTheirSumAndAreRefused) {
    put("/fw/three.bin", {0x01, 0x02, 0x03});
    EXPECT_EQ(load("/fw/three.bin"), ImageLoadResult::rejected);
    EXPECT_EQ(panels.of(kFilePanel), std::vector<std::string>{"File:/fw/three.bin"});
    EXPECT_EQ(fileNames, std::vector<std::string>{"/fw/three.bin"});
    EXPECT_EQ(panels.of(kChecksumPanel), std::vector<std::string>{"Chksum:00000006"});
    EXPECT_EQ(dialogs.shown, std::vector<std::string>{kNotFirmware});
    EXPECT_FALSE(image.loaded());
    EXPECT_EQ(image.size(), 0u);
}

TEST_F(Loader, AnErasedFlashPictureIsRefused) {
    put("/fw/ff.bin", std::vector<std::uint8_t>(0x80000, 0xFF));
    EXPECT_EQ(load("/fw/ff.bin"), ImageLoadResult::rejected);
    EXPECT_EQ(panels.of(kChecksumPanel), std::vector<std::string>{"Chksum:07F80000"});
    EXPECT_EQ(dialogs.shown, std::vector<std::string>{kNotFirmware});
    EXPECT_FALSE(image.loaded());

    put("/fw/empty.bin", {});
    EXPECT_EQ(load("/fw/empty.bin"), ImageLoadResult::rejected);
    EXPECT_EQ(panels.of(kChecksumPanel), std::vector<std::string>{"Chksum:00000000"});
}

TEST_F(Loader, TheVersionByteDecides) {
    sim::FirmwareImageOptions o;
    o.kind = 0xC0;
    const auto good = sim::makeFirmwareImage(o);
    put("/fw/c0.bin", good);
    EXPECT_EQ(load("/fw/c0.bin"), ImageLoadResult::loaded);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(panels.of(kChecksumPanel), std::vector<std::string>{ImageLoader::checksumText(byteSum(good))});
    ASSERT_EQ(image.size(), good.size());
    EXPECT_TRUE(std::equal(good.begin(), good.end(), image.bytes().begin()));

    auto bad = good;
    bad[0x78001] = 0xD0;
    put("/fw/d0.bin", bad);
    EXPECT_EQ(load("/fw/d0.bin"), ImageLoadResult::rejected);
    EXPECT_EQ(dialogs.shown, std::vector<std::string>{kNotFirmware});
    // The refused file's sum is still shown: 0xD0 - 0xC0 more than the good one.
    EXPECT_EQ(panels.of(kChecksumPanel), std::vector<std::string>{ImageLoader::checksumText(byteSum(good) + 0x10)});
    EXPECT_FALSE(image.loaded());
}

TEST_F(Loader, ANewFileReplacesTheHeldImageAndAFailureLeavesNone) {
    sim::FirmwareImageOptions a, b;
    b.kind = 0xB0;
    b.subCodes = {{0x35, std::nullopt, true}};
    put("/fw/a.bin", sim::makeFirmwareImage(a));
    put("/fw/b.bin", sim::makeFirmwareImage(b));
    put("/fw/short.bin", {'F', 'I', 'P', 'S'});

    ASSERT_EQ(load("/fw/a.bin"), ImageLoadResult::loaded);
    EXPECT_EQ(image.configRecord()->kind(), 0xA0);
    ASSERT_EQ(load("/fw/b.bin"), ImageLoadResult::loaded);
    EXPECT_EQ(image.configRecord()->kind(), 0xB0);
    EXPECT_EQ(image.configRecord()->entry(0).codeType, 0x35);

    EXPECT_EQ(load("/fw/short.bin"), ImageLoadResult::rejected);
    EXPECT_FALSE(image.loaded());

    ASSERT_EQ(load("/fw/a.bin"), ImageLoadResult::loaded);
    EXPECT_EQ(load("/fw/missing.bin"), ImageLoadResult::openFailed);
    EXPECT_EQ(dialogs.shown, std::vector<std::string>{kOpenFail});
    EXPECT_TRUE(panels.of(kChecksumPanel).empty());
    EXPECT_EQ(panels.of(kFilePanel), std::vector<std::string>{"File:/fw/missing.bin"});
    EXPECT_FALSE(image.loaded());
}

TEST_F(Loader, FilesThatCannotBeOpened) {
    store.special.insert("/fw/fifo.bin");
    store.files["/fw/locked.bin"] = text(sim::makeFirmwareImage());
    store.unreadable.insert("/fw/locked.bin");
    store.files["/fw/huge.bin"] = std::string(ImageLoader::kMaxImageFile + 1, '\xFF');
    for (const char* path : {"/fw/fifo.bin", "/fw/locked.bin", "/fw/huge.bin"}) {
        EXPECT_EQ(load(path), ImageLoadResult::openFailed) << path;
        EXPECT_EQ(dialogs.shown, std::vector<std::string>{kOpenFail}) << path;
        EXPECT_TRUE(panels.of(kChecksumPanel).empty()) << path;
    }
}

// A byte that fails is named and read again; three failed retries are the end of it.
TEST_F(Loader, ABadByteIsReadAgainAFewTimes) {
    const auto good = sim::makeFirmwareImage();
    put("/fw/a.bin", good);
    // In the middle of a read piece, and the very first and last bytes.
    for (const std::size_t at : {std::size_t{70000}, std::size_t{0}, good.size() - 1}) {
        store.readFaults["/fw/a.bin"] = {{at, ImageLoader::kReadRetries}};
        EXPECT_EQ(load("/fw/a.bin"), ImageLoadResult::loaded) << at;
        EXPECT_EQ(dialogs.shown, readErrors(at, ImageLoader::kReadRetries)) << at;
        EXPECT_EQ(panels.of(kChecksumPanel), std::vector<std::string>{ImageLoader::checksumText(byteSum(good))});
        EXPECT_TRUE(std::equal(good.begin(), good.end(), image.bytes().begin()));
    }

    store.readFaults["/fw/a.bin"] = {{4096, ImageLoader::kReadRetries + 1}};
    EXPECT_EQ(load("/fw/a.bin"), ImageLoadResult::readFailed);
    auto expected = readErrors(4096, ImageLoader::kReadRetries + 1);
    expected.push_back(kOpenFail);
    EXPECT_EQ(dialogs.shown, expected);
    EXPECT_TRUE(panels.of(kChecksumPanel).empty());
    EXPECT_FALSE(image.loaded());
}

TEST_F(Loader, AFileFullOfBadSpotsIsGivenUp) {
    put("/fw/a.bin", sim::makeFirmwareImage());
    std::map<std::uint64_t, int> faults;
    for (std::uint64_t k = 0; k < 100; ++k) faults[k * 5000] = 1;
    store.readFaults["/fw/a.bin"] = faults;
    EXPECT_EQ(load("/fw/a.bin"), ImageLoadResult::readFailed);
    ASSERT_EQ(dialogs.shown.size(), static_cast<std::size_t>(ImageLoader::kMaxReadFailures) + 1);
    EXPECT_EQ(dialogs.shown.front(), readErrors(0, 1).front());
    EXPECT_EQ(dialogs.shown[ImageLoader::kMaxReadFailures - 1],
              readErrors(5000 * (ImageLoader::kMaxReadFailures - 1), 1).front());
    EXPECT_EQ(dialogs.shown.back(), kOpenFail);
}

// A file that gets shorter while it is read ends in the byte-count warnings too.
TEST(LoaderShrinkingFile, TheMissingTailCountsAsUnreadable) {
    struct Shrunk final : FileReader {
        std::uint64_t length() const override { return 1000; }
        std::optional<std::size_t> readAt(std::uint64_t offset, std::uint8_t* dest, std::size_t count) override {
            if (offset >= 600) return 0;
            const std::size_t n = std::min<std::size_t>(count, 600 - offset);
            std::fill_n(dest, n, std::uint8_t{1});
            return n;
        }
    };
    struct Store final : FileStore {
        bool exists(const std::string&) override { return true; }
        std::optional<std::uint64_t> size(const std::string&) override { return 1000; }
        std::optional<std::string> readAll(const std::string&) override { return std::nullopt; }
        OpenedFile openForRead(const std::string&, std::size_t) override {
            return {ReadStatus::ok, std::make_unique<Shrunk>()};
        }
        bool append(const std::string&, std::string_view) override { return false; }
        bool replace(const std::string&, std::string_view) override { return false; }
        bool remove(const std::string&) override { return false; }
        bool folderWritable(const std::string&) override { return false; }
    } store;
    test::QuietDialogs dialogs;
    NullReporter reporter;
    FirmwareImage image;
    ImageLoader loader({store, dialogs, reporter, nullptr});
    EXPECT_EQ(loader.load("/fw/x.bin", image), ImageLoadResult::readFailed);
    ASSERT_EQ(dialogs.shown.size(), static_cast<std::size_t>(ImageLoader::kReadRetries) + 2);
    EXPECT_EQ(dialogs.shown.front(), "Warning::Error read from Source file. ByteCount = 600");
}

class LinuxLoader : public ::testing::Test {
protected:
    void SetUp() override {
        dir = test::makeTempDir();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string at(const std::string& name) const { return (dir / name).string(); }

    struct Outcome {
        ImageLoadResult result = ImageLoadResult::loaded;
        std::vector<std::string> shown;
        bool held = true;
    };
    // The whole load on the real store, on a thread of its own: a load that blocks
    // fails the test by the deadline. A FIFO left waiting is opened from here so the
    // thread can end before the folder goes.
    bool within(const std::string& path, Outcome& outcome, const std::string& fifo = "") {
        auto out = std::make_shared<Outcome>();
        raid::testing::Deadline d([out, path] {
            auto files = makeStdFileStore();
            test::QuietDialogs dialogs;
            NullReporter reporter;
            FirmwareImage image;
            out->result = ImageLoader({*files, dialogs, reporter, nullptr}).load(path, image);
            out->shown = dialogs.shown;
            out->held = image.loaded();
        });
        if (d.wait()) {
            outcome = *out;
            return true;
        }
#ifndef _WIN32
        if (!fifo.empty()) {
            const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
#else
        (void)fifo;  // the named pipe goes with its PlantedPipe
#endif
        d.wait();
        return false;
    }

    fs::path dir;
};

TEST_F(LinuxLoader, SpecialFilesAreRefusedWithoutBlocking) {
    const test::PlantedPipe pipe(dir.string(), "fifo.bin");
    const std::string fifo = pipe.path;
    ASSERT_FALSE(fifo.empty());
    std::vector<std::string> paths{fifo, test::kEndlessDevice, at("folder.bin")};
    fs::create_directory(at("folder.bin"));
#ifndef _WIN32  // a link to a device: Windows' links to devices are no files of a folder
    fs::create_symlink("/dev/zero", at("zero.bin"));
    paths.push_back(at("zero.bin"));
#endif
    for (const std::string& path : paths) {
        Outcome o;
        ASSERT_TRUE(within(path, o, fifo)) << path;
        EXPECT_EQ(o.result, ImageLoadResult::openFailed) << path;
        EXPECT_EQ(o.shown, std::vector<std::string>{kOpenFail}) << path;
        EXPECT_FALSE(o.held);
    }
}

TEST_F(LinuxLoader, RealFilesLoadAndHugeOnesAreNotRead) {
    const auto good = sim::makeFirmwareImage();
    std::ofstream(at("good.bin"), std::ios::binary) << text(good);
    Outcome o;
    ASSERT_TRUE(within(at("good.bin"), o));
    EXPECT_EQ(o.result, ImageLoadResult::loaded);
    EXPECT_TRUE(o.shown.empty());
    EXPECT_TRUE(o.held);

    // A sparse file past the limit: refused by its length, never read.
    std::ofstream(at("huge.bin")).flush();
    fs::resize_file(at("huge.bin"), ImageLoader::kMaxImageFile + 1);
    ASSERT_TRUE(within(at("huge.bin"), o));
    EXPECT_EQ(o.result, ImageLoadResult::openFailed);
    EXPECT_EQ(o.shown, std::vector<std::string>{kOpenFail});
}

}  // namespace
}  // namespace raid
