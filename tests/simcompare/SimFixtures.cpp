// Writes the record files the test suite's scenarios name beside them (id.bin, id2.bin,
// ok.bin) into the folder given, so that scripts/compare-sim.sh can play those scenarios
// on Linux and under Wine from the same bytes.
#include <cstdio>
#include <string>

#include "platform/Paths.h"
#include "sim/Records.h"

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == 0) {
        std::fprintf(stderr, "usage: sim_fixtures FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    raid::sim::IdentityOptions second;
    second.serial = "SIMENC00000000000002";
    const raid::sim::Block id = raid::sim::makeIdentityPage();
    const raid::sim::Block id2 = raid::sim::makeIdentityPage(second);
    const raid::sim::Block status = raid::sim::makeStatusRecord();
    bool ok = raid::sim::writeBlockFile(raid::paths::join(folder, "id.bin"), id);
    ok = raid::sim::writeBlockFile(raid::paths::join(folder, "id2.bin"), id2) && ok;
    ok = raid::sim::writeBlockFile(raid::paths::join(folder, "ok.bin"), status) && ok;
    if (!ok) std::fprintf(stderr, "sim_fixtures: cannot write into %s\n", folder.c_str());
    return ok ? 0 : 1;
}
