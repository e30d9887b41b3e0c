// Host facts for alert mails, asked of Windows' management service (WMI) through
// COM: "SELECT * FROM <class>" in ROOT\CIMV2, the first object whose property has a
// value giving the answer (an array's elements joined with ", ").
//
// Each query runs on a thread of its own, which joins the multi-threaded apartment
// and leaves it again: the caller may be a window's thread in a single-threaded
// apartment, or a thread that never met COM. A class or property name that is not a
// plain word is never put into a query. A service that does not answer within
// kQueryTimeout gives "".
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/HostInfo.h"

namespace raid::win32 {

inline constexpr std::chrono::seconds kQueryTimeout{30};

std::unique_ptr<HostInfoPort> makeHostInfo();

}  // namespace raid::win32
