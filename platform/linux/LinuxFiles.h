// Small helpers for reading sysfs-style attribute files. Internal to platform/linux.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raid::linuxport {

// Whole content of a small file (sysfs attributes, mountinfo). nullopt when it
// cannot be opened or read. `limit` caps the bytes read so a wrong path pointing at
// something huge cannot eat memory.
std::optional<std::string> readFile(const std::string& path, std::size_t limit = 4u << 20);

// The attribute's text with surrounding white space (the kernel's trailing newline)
// removed.
std::optional<std::string> readAttribute(const std::string& path);

// Unsigned decimal attribute ("start", "size", "removable"). nullopt for missing
// files and for text that is not a plain number.
std::optional<std::uint64_t> readU64Attribute(const std::string& path);

std::string_view trim(std::string_view text);
std::optional<std::uint64_t> parseU64(std::string_view text);

// Names inside a directory (no "." / ".."), unsorted. Empty when it cannot be read.
std::vector<std::string> listDirectory(const std::string& path);

}  // namespace raid::linuxport
