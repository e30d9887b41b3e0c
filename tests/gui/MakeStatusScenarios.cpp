// Writes the Status page scenarios (StatusScenarios.h) into a folder:
//
//   raid_status_scenarios DOCS/scenarios
#include <cstdio>
#include <fstream>

#include "StatusScenarios.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: raid_status_scenarios FOLDER\n");
        return 2;
    }
    for (const auto& f : raid::gui::scenarios::files()) {
        const std::string path = std::string(argv[1]) + "/" + f.name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(f.bytes.data(), static_cast<std::streamsize>(f.bytes.size()));
        if (!out.flush()) {
            std::fprintf(stderr, "raid_status_scenarios: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
