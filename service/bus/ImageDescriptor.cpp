#include "service/bus/ImageDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "maintenance/FirmwareImage.h"

namespace raid::bus {

namespace {

DescriptorImage refused(ImageLoadResult result) {
    DescriptorImage out;
    out.result = result;
    out.problem = result == ImageLoadResult::openFailed ? kOpenFailText : kNotFirmwareText;
    return out;
}

}  // namespace

DescriptorImage readImageDescriptor(int fd) {
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return refused(ImageLoadResult::openFailed);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_WRONLY || (flags & O_PATH) != 0)
        return refused(ImageLoadResult::openFailed);
    if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > ImageLoader::kMaxImageFile)
        return refused(ImageLoadResult::openFailed);
    if (static_cast<std::size_t>(st.st_size) != firmware::kFlashSize) return refused(ImageLoadResult::rejected);
    // One byte more than an image: a file that grew since fstat shows it.
    DescriptorImage out;
    out.bytes.resize(firmware::kFlashSize + 1);
    std::size_t got = 0;
    while (got < out.bytes.size()) {
        const ssize_t n = pread(fd, out.bytes.data() + got, out.bytes.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return refused(ImageLoadResult::openFailed);
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got != firmware::kFlashSize) return refused(ImageLoadResult::rejected);
    out.bytes.resize(firmware::kFlashSize);
    char link[4096];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(proc.c_str(), link, sizeof link);
    out.name = n > 0 && static_cast<std::size_t>(n) < sizeof link ? std::string(link, static_cast<std::size_t>(n))
                                                                  : "(descriptor)";
    out.result = ImageLoadResult::loaded;
    return out;
}

}  // namespace raid::bus
