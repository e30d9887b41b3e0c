// A throw-away sysfs + /dev tree laid out like the kernel's (devices/ holds the real
// directories, block/ and class/block/ point into it), for the Linux port tests.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace raid::test {

class FakeTree {
public:
    FakeTree() {
        char pattern[] = "/tmp/raid-platform-XXXXXX";
        root = ::mkdtemp(pattern);
        sys = root + "/sys";
        dev = root + "/dev";
        std::filesystem::create_directories(sys + "/block");
        std::filesystem::create_directories(sys + "/class/block");
        std::filesystem::create_directories(sys + "/devices/virtual/block");
        std::filesystem::create_directories(dev);
    }
    ~FakeTree() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;

    void write(const std::string& path, const std::string& text) const {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path) << text;
    }

    // A whole disk with a /dev node (a plain file: enough to open, not to SG_IO).
    void addDisk(const std::string& name, unsigned long long sectors = 1000, bool removable = false,
                 const std::string& devNumber = "", bool hidden = false) const {
        const std::string dir = sys + "/devices/virtual/block/" + name;
        write(dir + "/size", std::to_string(sectors) + "\n");
        write(dir + "/removable", removable ? "1\n" : "0\n");
        if (!devNumber.empty()) write(dir + "/dev", devNumber + "\n");
        if (hidden) write(dir + "/hidden", "1\n");
        std::filesystem::create_directory_symlink("../devices/virtual/block/" + name, sys + "/block/" + name);
        std::filesystem::create_directory_symlink("../../devices/virtual/block/" + name,
                                                  sys + "/class/block/" + name);
        write(dev + "/" + name, "");
    }

    void addPartition(const std::string& disk, const std::string& name, unsigned long long start,
                      unsigned long long sectors, const std::string& devNumber = "") const {
        const std::string dir = sys + "/devices/virtual/block/" + disk + "/" + name;
        write(dir + "/partition", "1\n");
        write(dir + "/start", std::to_string(start) + "\n");
        write(dir + "/size", std::to_string(sectors) + "\n");
        if (!devNumber.empty()) write(dir + "/dev", devNumber + "\n");
        std::filesystem::create_directory_symlink("../../devices/virtual/block/" + disk + "/" + name,
                                                  sys + "/class/block/" + name);
        write(dev + "/" + name, "");
    }

    std::string read(const std::string& path) const {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string root, sys, dev;
};

}  // namespace raid::test
