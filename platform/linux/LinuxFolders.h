// Making the folders a program writes its files into.
#pragma once

#include <string>

namespace raid::linuxport {

// Makes `folder` and every missing folder above it, one at a time, each created with
// mode 0755 when the program runs as root and 0700 otherwise (the umask may take more
// away). True when `folder` is a folder afterwards.
//
// The path is walked one name at a time from "/" (or the current folder), each step
// opened relative to the folder before it, so nothing swapped in between two steps
// can send the walk elsewhere. A link on the way is followed only when it belongs to
// root or to the program's own user: a link another user planted (in /tmp, in a
// shared folder) never decides where a folder of ours is made. A file where a folder
// should be ends the walk.
bool makeFolders(const std::string& folder);

}  // namespace raid::linuxport
