// A firmware image a client hands the service as an open file descriptor.
//
// The client opens the file itself, with its own rights: the service never opens a path
// a caller names, so it cannot be made to read a file the caller may not, nor follow a
// link. The descriptor is still the caller's: it may be a FIFO that never ends, a device
// with no end (/dev/zero), a socket, a huge or growing file, or not open for reading.
// Only a regular file of an image's size is read, from its start, and never more than
// one byte past that size, without moving the caller's file offset and without waiting.
#pragma once

#include <string>

#include "maintenance/ImageLoader.h"

namespace raid::bus {

struct DescriptorImage {
    // loaded: `bytes` holds the image's bytes; openFailed: not a regular file, larger
    // than the loader takes, or not readable; rejected: not an image's size, or it
    // changed while it was read.
    ImageLoadResult result = ImageLoadResult::openFailed;
    std::string bytes;
    // The loader's own words for the refusal ("" when loaded).
    std::string problem;
    // What the file is called, for people: where the descriptor points as the kernel
    // names it (never opened), or "(descriptor)".
    std::string name;
};

DescriptorImage readImageDescriptor(int fd);

}  // namespace raid::bus
