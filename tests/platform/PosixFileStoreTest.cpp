// The real file store against real special files: FIFOs, device links, sparse files.
// Every call that could block on a FIFO runs under a deadline, so a regression fails
// the test instead of hanging the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "platform/FileStore.h"
#include "platform/WithinDeadline.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using raid::testing::Deadline;

class PosixFileStore : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/raid-filestore-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string at(const std::string& name) const { return (dir / name).string(); }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    // Runs `call` against the store under the deadline; a FIFO left waiting is opened
    // from here so that the blocked thread can finish before the folder goes.
    template <class Call>
    bool within(Call call, const std::string& fifo = "") {
        auto files = std::shared_ptr<FileStore>(makeStdFileStore());
        Deadline d([files, call] { call(*files); });
        if (d.wait()) return true;
        if (!fifo.empty()) {
            const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
        d.wait();
        return false;
    }

    fs::path dir;
    std::unique_ptr<FileStore> store = makeStdFileStore();
};

TEST_F(PosixFileStore, AFifoIsNeverOpened) {
    const std::string fifo = at("261207.log");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    auto read = std::make_shared<BoundedRead>();
    auto all = std::make_shared<std::optional<std::string>>("unset");
    auto appended = std::make_shared<bool>(true);
    auto replaced = std::make_shared<bool>(true);
    EXPECT_TRUE(within(
        [=](FileStore& s) {
            *read = s.readBounded(fifo, 1 << 20);
            *all = s.readAll(fifo);
            *appended = s.append(fifo, "line\r\n");
            *replaced = s.replace(fifo, "line\r\n");
        },
        fifo));
    EXPECT_EQ(read->status, ReadStatus::notRegular);
    EXPECT_FALSE(all->has_value());
    EXPECT_FALSE(*appended);
    EXPECT_FALSE(*replaced);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_FALSE(store->size(fifo).has_value());
    EXPECT_TRUE(store->exists(fifo));
}

TEST_F(PosixFileStore, AFifoWhereTheWriteProbeGoesDoesNotBlockTheProbe) {
    const std::string fifo = at(".raid-gui-write-probe.tmp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    auto writable = std::make_shared<bool>(false);
    EXPECT_TRUE(within([=, folder = dir.string()](FileStore& s) { *writable = s.folderWritable(folder); }, fifo));
    EXPECT_TRUE(*writable);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1);
}

TEST_F(PosixFileStore, ALinkToADeviceIsNeitherReadNorWritten) {
    const std::string zero = at("zero.log");
    const std::string null = at("null.log");
    fs::create_symlink("/dev/zero", zero);
    fs::create_symlink("/dev/null", null);
    EXPECT_EQ(store->readBounded(zero, 1 << 20).status, ReadStatus::notRegular);
    EXPECT_FALSE(store->readAll(zero).has_value());
    EXPECT_FALSE(store->append(null, "x\r\n"));
    EXPECT_FALSE(store->replace(null, "x\r\n"));
    EXPECT_TRUE(fs::is_symlink(null));
    EXPECT_EQ(fs::read_symlink(null), "/dev/null");
    // A folder is not a file either.
    EXPECT_EQ(store->readBounded(dir.string(), 1 << 20).status, ReadStatus::notRegular);
}

TEST_F(PosixFileStore, ReadBackIsBoundedWithoutReading) {
    const std::string sparse = at("huge.log");
    {
        const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
        ::close(fd);
    }
    const BoundedRead r = store->readBounded(sparse, 16u << 20);
    EXPECT_EQ(r.status, ReadStatus::tooLarge);
    EXPECT_TRUE(r.text.empty());

    write("exact.log", "12345");
    EXPECT_EQ(store->readBounded(at("exact.log"), 5).status, ReadStatus::ok);
    EXPECT_EQ(store->readBounded(at("exact.log"), 5).text, "12345");
    EXPECT_EQ(store->readBounded(at("exact.log"), 4).status, ReadStatus::tooLarge);
    EXPECT_EQ(store->readBounded(at("exact.log"), 0).status, ReadStatus::tooLarge);
    EXPECT_EQ(store->readBounded(at("exact.log"), SIZE_MAX).text, "12345");
    write("empty.log", "");
    EXPECT_EQ(store->readBounded(at("empty.log"), 0).status, ReadStatus::ok);
}

TEST_F(PosixFileStore, MissingAndUnderAFileAreMissing) {
    EXPECT_EQ(store->readBounded(at("none.log"), 10).status, ReadStatus::missing);
    write("plain", "x");
    EXPECT_EQ(store->readBounded(at("plain/261207.log"), 10).status, ReadStatus::missing);
    EXPECT_FALSE(store->append(at("plain/261207.log"), "x"));
    EXPECT_FALSE(store->folderWritable(at("plain")));
    EXPECT_FALSE(store->exists(at("plain/261207.log")));
}

TEST_F(PosixFileStore, ReplaceKeepsTheFilesPermissionsAndLeavesNoTemporaryFile) {
    write("261207.log", "old\r\n");
    ASSERT_EQ(::chmod(at("261207.log").c_str(), 02640), 0);
    EXPECT_TRUE(store->replace(at("261207.log"), "new\r\n"));
    EXPECT_EQ(store->readAll(at("261207.log")), "new\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(at("261207.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);  // never a set-id bit
    // A new file gets what the umask leaves of rw for everyone, like any created file.
    const mode_t mask = ::umask(022);
    EXPECT_TRUE(store->replace(at("sub/new.log"), "a\r\n"));
    ::umask(mask);
    ASSERT_EQ(::stat(at("sub/new.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 2);  // the file and sub/
}

TEST_F(PosixFileStore, FilesAreWrittenOnlyIntoAFolderOfOurOwnAndNeverThroughALink) {
    // A file nobody else may read, and links to it where day files are expected.
    write("secret", "secret\n");
    ASSERT_EQ(::chmod(at("secret").c_str(), 0600), 0);
    auto untouched = [&] {
        struct stat st {};
        EXPECT_EQ(::stat(at("secret").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(store->readAll(at("secret")), "secret\n");
    };
    // In our own folder: an append never goes through a link; a replace puts a file of
    // ours in the link's place.
    fs::create_symlink(at("secret"), at("261207.log"));
    EXPECT_FALSE(store->append(at("261207.log"), "line\r\n"));
    EXPECT_FALSE(store->size(at("261207.log")).has_value());  // nothing to append to
    untouched();
    EXPECT_TRUE(store->replace(at("261207.log"), "line\r\n"));
    EXPECT_FALSE(fs::is_symlink(at("261207.log")));
    untouched();

    // In a folder others can write (even with the sticky bit): nothing is written or
    // made, and a link there is not read either, so its target never reaches a copy.
    fs::create_directory(at("open"));
    ASSERT_EQ(::chmod(at("open").c_str(), 01777), 0);
    fs::create_symlink(at("secret"), at("open/261208.log"));
    EXPECT_FALSE(store->append(at("open/261208.log"), "line\r\n"));
    EXPECT_FALSE(store->replace(at("open/261208.log"), "line\r\n"));
    EXPECT_FALSE(store->append(at("open/261209.log"), "line\r\n"));
    EXPECT_FALSE(store->folderWritable(at("open")));
    ASSERT_EQ(::chmod(at("open").c_str(), 0777), 0);
    EXPECT_FALSE(store->replace(at("open/sub/261209.log"), "line\r\n"));
    EXPECT_EQ(store->readBounded(at("open/261208.log"), 1 << 20).status, ReadStatus::notRegular);
    EXPECT_EQ(std::distance(fs::directory_iterator(at("open")), fs::directory_iterator{}), 1);
    untouched();
    // Our own link to it is read as before.
    EXPECT_EQ(store->readBounded(at("261207.log"), 1 << 20).text, "line\r\n");

    if (::geteuid() != 0) return;
    // A folder of another user's, and a link of another user's on the way to ours.
    ASSERT_EQ(::chmod(at("open").c_str(), 0755), 0);
    ASSERT_EQ(::chown(at("open").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(store->replace(at("open/261209.log"), "line\r\n"));
    EXPECT_FALSE(store->folderWritable(at("open")));
    fs::create_directory(at("mine"));
    fs::create_directory_symlink(at("mine"), at("theirs"));
    ASSERT_EQ(::lchown(at("theirs").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(store->append(at("theirs/261209.log"), "line\r\n"));
    EXPECT_TRUE(fs::is_empty(at("mine")));
    untouched();
}

TEST_F(PosixFileStore, AppendGoesOnAtTheEndOfWhatIsThere) {
    EXPECT_TRUE(store->append(at("a/b/261207.log"), "one\r\n"));
    EXPECT_TRUE(store->append(at("a/b/261207.log"), "two\r\n"));
    EXPECT_EQ(store->readAll(at("a/b/261207.log")), "one\r\ntwo\r\n");
    EXPECT_EQ(store->size(at("a/b/261207.log")), 10u);
    EXPECT_TRUE(store->append(at("a/b/261207.log"), ""));
    EXPECT_EQ(store->size(at("a/b/261207.log")), 10u);
}

// Piecewise reads: by offset, never past the length the file had when it was opened,
// and the same refusals as the bounded read.
TEST_F(PosixFileStore, PiecewiseReadsStopAtTheLengthSeenAtOpen) {
    write("image.bin", "0123456789");
    OpenedFile f = store->openForRead(at("image.bin"), 10);
    ASSERT_EQ(f.status, ReadStatus::ok);
    ASSERT_TRUE(f.reader);
    std::ofstream(dir / "image.bin", std::ios::binary | std::ios::app) << "more";
    EXPECT_EQ(f.reader->length(), 10u);
    std::uint8_t buf[16] = {};
    EXPECT_EQ(f.reader->readAt(7, buf, sizeof buf), 3u);
    EXPECT_EQ(std::string(buf, buf + 3), "789");
    EXPECT_EQ(f.reader->readAt(10, buf, sizeof buf), 0u);
    EXPECT_EQ(f.reader->readAt(~std::uint64_t{0}, buf, sizeof buf), 0u);

    EXPECT_EQ(store->openForRead(at("image.bin"), 13).status, ReadStatus::tooLarge);
    EXPECT_EQ(store->openForRead(at("none.bin"), 100).status, ReadStatus::missing);
    EXPECT_EQ(store->openForRead(dir.string(), 100).status, ReadStatus::notRegular);
    fs::create_symlink("/dev/zero", at("zero.bin"));
    const OpenedFile zero = store->openForRead(at("zero.bin"), 100);
    EXPECT_EQ(zero.status, ReadStatus::notRegular);
    EXPECT_FALSE(zero.reader);
}

// Folders of ours are made one name at a time, with the mode of a private folder (a
// public one for root), and never where a link somebody else planted points.
TEST_F(PosixFileStore, MakesMissingFoldersButNeverThroughAPlantedLink) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const mode_t expected = (::geteuid() == 0 ? 0755 : 0700) & ~mask;
    const auto modeOf = [](const fs::path& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? st.st_mode & 07777 : mode_t{07777};
    };
    ASSERT_TRUE(store->makeFolder(at("a/b/c")));
    EXPECT_EQ(modeOf(dir / "a"), expected);
    EXPECT_EQ(modeOf(dir / "a/b/c"), expected);
    EXPECT_TRUE(store->makeFolder(at("a/b/c")));  // already there
    EXPECT_TRUE(store->makeFolder(at("a/./b/../b/d/")));
    EXPECT_TRUE(fs::is_directory(dir / "a/b/d"));

    // A file in the way stays a file.
    write("file", "x");
    EXPECT_FALSE(store->makeFolder(at("file/sub")));
    EXPECT_TRUE(fs::is_regular_file(dir / "file"));

    // The program's own links are followed, relative or absolute, also dangling ones.
    fs::create_directory(dir / "real");
    fs::create_directory_symlink("real", dir / "mine");
    fs::create_directory_symlink(dir / "real" / "later", dir / "dangling");
    EXPECT_TRUE(store->makeFolder(at("mine/sub")));
    EXPECT_TRUE(fs::is_directory(dir / "real/sub"));
    EXPECT_TRUE(store->makeFolder(at("dangling/x")));
    EXPECT_TRUE(fs::is_directory(dir / "real/later/x"));

    // Links of another user are not, whether their target exists or not.
    if (::geteuid() != 0) GTEST_SKIP() << "planting another user's link needs root";
    fs::create_directory(dir / "victim");
    fs::create_directory_symlink(dir / "victim", dir / "planted");
    fs::create_directory_symlink(dir / "victim" / "new", dir / "planted-dangling");
    ASSERT_EQ(::lchown((dir / "planted").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::lchown((dir / "planted-dangling").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(store->makeFolder(at("planted/sub")));
    EXPECT_FALSE(store->makeFolder(at("planted-dangling")));
    EXPECT_FALSE(store->makeFolder(at("a/../planted/sub")));
    EXPECT_TRUE(fs::is_empty(dir / "victim"));
}

// The environment is the process's own: each case puts back what it found.
class DefaultLogFolders : public ::testing::Test {
protected:
    void SetUp() override {
        save("STATE_DIRECTORY", service_);
        save("XDG_STATE_HOME", state_);
        save("HOME", home_);
        ::unsetenv("STATE_DIRECTORY");
    }
    void TearDown() override {
        restore("STATE_DIRECTORY", service_);
        restore("XDG_STATE_HOME", state_);
        restore("HOME", home_);
    }

private:
    static void save(const char* name, std::optional<std::string>& into) {
        if (const char* v = std::getenv(name)) into = v;
    }
    static void restore(const char* name, const std::optional<std::string>& from) {
        if (from) {
            ::setenv(name, from->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    std::optional<std::string> service_;
    std::optional<std::string> state_;
    std::optional<std::string> home_;
};

TEST_F(DefaultLogFolders, TheExecutablesFolderHoweverItWasStarted) {
    const std::string exeFolder = fs::read_symlink("/proc/self/exe").parent_path().string();
    EXPECT_EQ(defaultLogFolders("test_platform").log, exeFolder);  // found through PATH
    EXPECT_EQ(defaultLogFolders("./somewhere/else").log, exeFolder);
    EXPECT_EQ(defaultLogFolders(nullptr).log, exeFolder);
    EXPECT_EQ(defaultLogFolders("").log, exeFolder);
}

TEST_F(DefaultLogFolders, TheFallbackFollowsTheEnvironment) {
    ::setenv("XDG_STATE_HOME", "/x/state", 1);
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(defaultLogFolders(nullptr).fallback, "/x/state/raid-gui");
    ::setenv("XDG_STATE_HOME", "relative/state", 1);
    EXPECT_EQ(defaultLogFolders(nullptr).fallback, "/home/u/.local/state/raid-gui");
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(defaultLogFolders(nullptr).fallback, "/home/u/.local/state/raid-gui");
    ::unsetenv("HOME");
    EXPECT_EQ(defaultLogFolders(nullptr).fallback, "");
    // The service has no HOME: systemd gives it a state folder of its own.
    ::setenv("STATE_DIRECTORY", "/var/lib/raid-gui", 1);
    EXPECT_EQ(defaultLogFolders(nullptr).fallback, "/var/lib/raid-gui");
}

}  // namespace
}  // namespace raid
