// Joining the two copies of one day's log file into one history.
//
// A day can have a copy in the log folder and one in the fallback folder. Usually one
// copy is a prefix of the other (a run that moved to the fallback folder wrote the
// whole day there), and then the longer one is the day. But two runs can also have
// written separate histories, one into each copy (a run that could not even read the
// log folder starts its copy from nothing), and then both belong in the day.
//
// When one copy already holds every line of the other in the same order (a prefix, or
// an earlier merge meeting the stale copy it was made from), it is the day. Otherwise
// the merge cuts each copy into segments: a segment starts at a rule line followed by
// a line that carries a time (the start-up header, a device change, the first event
// after an information block) and runs up to the next such start; what comes before
// the first start is the copy's preamble. Segments that both copies hold, equal or one
// cut short, in the same order, are one history and kept once (the longer); the rest
// are interleaved by the time of day they start at, the log folder's copy first on a
// tie. Every line of either copy is in the result, each copy's own order is kept (so
// merging the result with either copy again gives the result back).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raid {

// `primary`: the log folder's copy; `fallback`: the fallback folder's copy.
std::vector<std::string> mergeDayCopies(const std::vector<std::string>& primary,
                                        const std::vector<std::string>& fallback);

// Seconds since midnight of the last "h:mm:ss" in the line (followed by AM or PM on
// a 12-hour clock); nullopt when the line has none. Event times are in the locale's
// format, and the time of day is the part of it that every usual locale writes so.
std::optional<int> timeOfDay(std::string_view line);

}  // namespace raid
