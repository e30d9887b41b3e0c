#include "service/StatusFiles.h"

#ifdef _WIN32

// On Windows the window is the one program on the enclosures and no service runs
// beside it: there is no summary to leave, and --status looks for itself.
namespace raid::service {

std::string writeStatusFiles(const std::string&, const StatusSummary&) { return "no status files on Windows"; }
void removeStatusFiles(const std::string&) {}
std::string writeMetricsFile(const std::string&, const std::string&) { return "no metrics file on Windows"; }
void removeMetricsFile(const std::string&) {}
std::optional<SavedStatus> readStatusFiles(const std::string&, double) { return std::nullopt; }

}  // namespace raid::service

#else

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <ctime>

#include "monitor/Metrics.h"
#include "platform/Paths.h"
#include "platform/linux/LinuxSafeFolder.h"

namespace raid::service {

using linuxport::OpenedFolder;
using linuxport::UniqueFd;

namespace {

constexpr std::size_t kLargestFile = 1 << 20;
constexpr const char* kJson = "status.json";
constexpr const char* kText = "status.txt";

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A new file of our own beside `name`, renamed over it. Whatever stands under any
// other name (a link, a stale file of a crashed run) is never opened.
std::string replaceFile(int dir, const std::string& folder, const std::string& name, const std::string& text) {
    std::string temp;
    UniqueFd fd(linuxport::createUnique(dir, name, ".new", 0644, temp));
    if (!fd) return "cannot create a file in " + folder + ": " + std::strerror(errno);
    // The summary holds nothing secret (no password, no address): readable by every
    // user, whatever the service's umask, so `--status` works without root. The mode is
    // set on the file made just now, never on one found.
    bool ok = ::fchmod(fd.get(), 0644) == 0 && writeAll(fd.get(), text);
    int error = errno;
    if (ok && ::close(fd.release()) != 0) {
        ok = false;
        error = errno;
    }
    if (ok && ::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (ok) return "";
    ::unlinkat(dir, temp.c_str(), 0);
    return "cannot write " + paths::join(folder, name) + ": " + std::strerror(error);
}

std::optional<std::string> readSmall(const std::string& path, double maxAgeSeconds) {
    // Only a regular file: a link, a FIFO or a device planted there is never followed,
    // waited on or read.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > kLargestFile) return std::nullopt;
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const double age = static_cast<double>(now.tv_sec - st.st_mtim.tv_sec) +
                       static_cast<double>(now.tv_nsec - st.st_mtim.tv_nsec) / 1e9;
    if (age > maxAgeSeconds || age < -5) return std::nullopt;
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kLargestFile) return std::nullopt;
    }
    return text;
}

}  // namespace

std::string writeStatusFiles(const std::string& folder, const StatusSummary& summary) {
    if (folder.empty()) return "no folder for the status files";
    const OpenedFolder dir = linuxport::openWritableFolder(folder, 0755);
    if (!dir) return dir.error != 0 ? "cannot open the folder " + folder + ": " + dir.problem : dir.problem;
    // The text first: a reader that finds the new JSON finds its text beside it.
    std::string error = replaceFile(dir.fd.get(), folder, kText, statusText(summary));
    if (error.empty()) error = replaceFile(dir.fd.get(), folder, kJson, statusJson(summary));
    return error;
}

namespace {

void removeRegular(const std::string& folder, std::initializer_list<const char*> names) {
    if (folder.empty()) return;
    const OpenedFolder dir = linuxport::openWritableFolder(folder);
    if (!dir) return;
    for (const char* name : names) {
        struct stat st {};
        if (::fstatat(dir.fd.get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(dir.fd.get(), name, 0);
    }
}

}  // namespace

void removeStatusFiles(const std::string& folder) { removeRegular(folder, {kJson, kText}); }

std::string writeMetricsFile(const std::string& folder, const std::string& text) {
    if (folder.empty()) return "no folder for the metrics file";
    const OpenedFolder dir = linuxport::openWritableFolder(folder);
    if (!dir) return dir.error != 0 ? "cannot open the folder " + folder + ": " + dir.problem : dir.problem;
    // The collector reads only *.prom: the temporary name (".new" at its end) is never
    // read half written, and the rename hands it over whole.
    return replaceFile(dir.fd.get(), folder, kMetricsFileName, text);
}

// A file left behind would be served as the enclosures' state for as long as the
// collector runs: gone, the series end and a missing service can be alerted on.
void removeMetricsFile(const std::string& folder) { removeRegular(folder, {kMetricsFileName}); }

std::optional<SavedStatus> readStatusFiles(const std::string& folder, double maxAgeSeconds) {
    if (folder.empty()) return std::nullopt;
    const auto json = readSmall(paths::join(folder, kJson), maxAgeSeconds);
    const auto text = readSmall(paths::join(folder, kText), maxAgeSeconds);
    if (!json || !text) return std::nullopt;
    // The exit status as the service's summary gave it (our own format: the first
    // "exitCode" of the document).
    const std::string key = "\"exitCode\":";
    const std::size_t at = json->find(key);
    if (at == std::string::npos || at + key.size() >= json->size()) return std::nullopt;
    const char digit = (*json)[at + key.size()];
    if (digit < '0' || digit > '2') return std::nullopt;
    return SavedStatus{*json, *text, digit - '0'};
}

}  // namespace raid::service

#endif
