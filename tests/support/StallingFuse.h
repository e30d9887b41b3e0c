// A FUSE file system whose one file, `file`, can be looked up, stat'ed and opened but
// never answers a read: what a hostile user's FUSE mount (or a hung network share)
// gives a program that reads a descriptor it was handed. It speaks the kernel's FUSE
// protocol on /dev/fuse itself, so it needs no library, but mounting needs root: ok()
// is false where it cannot mount (tests skip then). Unmounting ends every waiting read
// with an error.
#pragma once

#include <linux/fuse.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace raid::test {

class StallingFuse {
public:
    StallingFuse(const std::string& dir, std::uint64_t fileSize) : dir_(dir), size_(fileSize) {
        mkdir(dir.c_str(), 0755);
        fd_ = open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd_ < 0) return;
        const std::string options = "fd=" + std::to_string(fd_) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
        if (mount("stall", dir.c_str(), "fuse.stall", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
        if (pipe2(stop_, O_CLOEXEC) != 0) stop_[0] = stop_[1] = -1;
        thread_ = std::thread([this] { serve(); });
    }
    ~StallingFuse() {
        if (fd_ < 0) return;
        umount2(dir_.c_str(), MNT_DETACH);
        // The server ends first; closing its device then aborts the connection, and
        // every read left waiting fails.
        [[maybe_unused]] const ssize_t n = write(stop_[1], "x", 1);
        thread_.join();
        close(stop_[0]);
        close(stop_[1]);
        close(fd_);
    }
    StallingFuse(const StallingFuse&) = delete;
    StallingFuse& operator=(const StallingFuse&) = delete;

    bool ok() const { return fd_ >= 0; }
    std::string file() const { return dir_ + "/file"; }
    // Reads that came and are left waiting.
    int readsWaiting() const { return reads_.load(); }

private:
    void answer(const fuse_in_header& in, int error, const void* body = nullptr, std::size_t size = 0) {
        std::vector<char> out(sizeof(fuse_out_header) + size);
        fuse_out_header h{};
        h.len = static_cast<std::uint32_t>(out.size());
        h.error = -error;
        h.unique = in.unique;
        std::memcpy(out.data(), &h, sizeof h);
        if (size) std::memcpy(out.data() + sizeof h, body, size);
        [[maybe_unused]] const ssize_t n = write(fd_, out.data(), out.size());
    }
    fuse_attr attr(std::uint64_t node) const {
        fuse_attr a{};
        a.ino = node;
        a.nlink = 1;
        a.mode = node == FUSE_ROOT_ID ? (S_IFDIR | 0755) : (S_IFREG | 0444);
        a.size = node == FUSE_ROOT_ID ? 0 : size_;
        a.blksize = 4096;
        return a;
    }
    void serve() {
        std::vector<char> buf(FUSE_MIN_READ_BUFFER + 1'048'576);
        for (;;) {
            pollfd waits[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (poll(waits, 2, -1) < 0 && errno == EINTR) continue;
            if (waits[1].revents || (waits[0].revents & (POLLERR | POLLHUP))) return;
            if (!(waits[0].revents & POLLIN)) continue;
            const ssize_t n = read(fd_, buf.data(), buf.size());
            if (n < 0 && (errno == EINTR || errno == ENOENT)) continue;
            if (n < static_cast<ssize_t>(sizeof(fuse_in_header))) return;  // unmounted or aborted
            fuse_in_header in{};
            std::memcpy(&in, buf.data(), sizeof in);
            const char* arg = buf.data() + sizeof in;
            switch (in.opcode) {
                case FUSE_INIT: {
                    fuse_init_out o{};
                    o.major = FUSE_KERNEL_VERSION;
                    o.minor = 31;
                    o.max_write = 4096;
                    o.max_readahead = 0;
                    answer(in, 0, &o, sizeof o);
                    break;
                }
                case FUSE_LOOKUP: {
                    if (in.nodeid != FUSE_ROOT_ID || std::strcmp(arg, "file") != 0) {
                        answer(in, ENOENT);
                        break;
                    }
                    fuse_entry_out o{};
                    o.nodeid = 2;
                    o.attr = attr(2);
                    answer(in, 0, &o, sizeof o);
                    break;
                }
                case FUSE_GETATTR: {
                    fuse_attr_out o{};
                    o.attr = attr(in.nodeid);
                    answer(in, 0, &o, sizeof o);
                    break;
                }
                case FUSE_OPEN: {
                    fuse_open_out o{};
                    o.fh = 1;
                    o.open_flags = FOPEN_DIRECT_IO;
                    answer(in, 0, &o, sizeof o);
                    break;
                }
                case FUSE_READ: ++reads_; break;  // never answered
                case FUSE_INTERRUPT: break;
                case FUSE_FLUSH:
                case FUSE_RELEASE: answer(in, 0); break;
                case FUSE_FORGET:
                case FUSE_BATCH_FORGET: break;
                default: answer(in, ENOSYS); break;
            }
        }
    }

    std::string dir_;
    std::uint64_t size_;
    int fd_ = -1;
    int stop_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<int> reads_{0};
};

}  // namespace raid::test
