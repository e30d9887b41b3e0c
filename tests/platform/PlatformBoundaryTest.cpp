// Where the system is reached: Linux calls only in platform/linux/, Windows calls only
// in platform/win32/, and the program entries get their platform from the one neutral
// factory. A system header anywhere else is a piece that builds on one system only.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

namespace raid {
namespace {

TEST(PlatformBoundary, SystemCallsStayInTheirPlatformFolders) {
    namespace fs = std::filesystem;
    const fs::path root = RAID_SOURCE_DIR;
    const std::regex systemInclude(
        R"(#\s*include\s*[<"](unistd\.h|fcntl\.h|poll\.h|pthread\.h|signal\.h|spawn\.h|sys/[a-z_]+\.h|)"
        R"(windows\.h|winsock2\.h|ws2tcpip\.h|platform/linux/[^">]+|platform/win32/[^">]+)[">])");
    // The Linux-only pieces outside platform/: the service's side of the system bus and
    // the Qt window's session end; the service's summary files keep their POSIX code
    // behind a Windows branch of their own.
    const std::set<std::string> linuxOnly = {"service/BusBridge.cpp", "service/StatusFiles.cpp",
                                             "gui/SessionEnd.cpp"};
    int scanned = 0;
    for (const char* layer : {"app", "device", "monitor", "notify", "maintenance", "sim", "service", "gui"}) {
        for (const auto& entry : fs::recursive_directory_iterator(root / layer)) {
            const std::string ext = entry.path().extension().string();
            if (ext != ".cpp" && ext != ".h") continue;
            const std::string rel = fs::relative(entry.path(), root).generic_string();
            if (rel.rfind("service/bus/", 0) == 0 || linuxOnly.count(rel)) continue;
            ++scanned;
            std::ifstream in(entry.path());
            std::string line;
            for (int n = 1; std::getline(in, line); ++n)
                EXPECT_FALSE(std::regex_search(line, systemInclude)) << rel << ":" << n << ": " << line;
        }
    }
    EXPECT_GT(scanned, 100);
}

}  // namespace
}  // namespace raid
