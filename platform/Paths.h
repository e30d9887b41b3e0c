// Joining and splitting paths by hand, the same way on every platform: '/' separates
// folders everywhere, and where the platform's own separator is another ('\' on
// Windows) that one does too. A joined path goes on in the spelling its folder already
// uses, so "C:\Logs" gives "C:\Logs\261207.log" and "/logs" gives "/logs/261207.log" on
// either system; a folder that shows no separator takes the platform's own.
#pragma once

#include <string>
#include <string_view>

namespace raid::paths {

// The platform's own folder separator.
char separator();
// Whether `c` separates folders here.
bool isSeparator(char c);
// `name` inside `folder` ("" is the current folder: `name` itself).
std::string join(std::string_view folder, std::string_view name);
// The folder part of `path` with its last separator ("/logs/" of "/logs/a.log"), ""
// when `path` names no folder.
std::string folderOf(std::string_view path);
// The last part of `path` (after its last separator).
std::string fileNameOf(std::string_view path);
// `folder` ending in one separator, as a prefix for file names ("" gives "./").
std::string withSeparator(std::string_view folder);
// `folder` without separators at its end, but a root keeps its own ("/", "C:\").
std::string withoutTrailingSeparators(std::string_view folder);
// `name` as it is meant when a file at `file` names it: a relative name lies in the
// folder that holds `file`; an absolute one stands as it is.
std::string besideFile(std::string_view file, std::string_view name);

}  // namespace raid::paths
