// Host facts from Windows' management service, as the alert mails carry them.
#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>

#include <thread>

#include "platform/Platform.h"

namespace raid {
namespace {

TEST(HostInfo, AKnownClassAnswersAndAnythingElseIsEmpty) {
    auto host = makeHostInfo();
    // Every system, Wine's too, describes its operating system and its board.
    EXPECT_FALSE(host->query("Win32_OperatingSystem", "Caption").empty());
    EXPECT_FALSE(host->query("Win32_BaseBoard", "Manufacturer").empty());
    // Unknown classes and properties, and names that would change the query, give "".
    EXPECT_EQ(host->query("Win32_NoSuchClass", "Name"), "");
    EXPECT_EQ(host->query("Win32_BaseBoard", "NoSuchProperty"), "");
    EXPECT_EQ(host->query("Win32_BaseBoard WHERE Manufacturer<>''", "Manufacturer"), "");
    EXPECT_EQ(host->query("Win32_BaseBoard", "Manufacturer, Product"), "");
    EXPECT_EQ(host->query("", ""), "");
    EXPECT_EQ(host->query(std::string(100000, 'A'), "Name"), "");
    // An array property's elements are joined with ", ": never a leading or doubled one.
    const std::string addresses = host->query("Win32_NetworkAdapterConfiguration", "IPAddress");
    EXPECT_NE(addresses.rfind(", ", 0), 0u) << addresses;
    // Wine has no Win32_Bus rows, so the system name is "" there; Windows names the host.

    // From a thread that lives in a single-threaded apartment, as a window's does.
    std::string fromWindowThread;
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        fromWindowThread = host->query("Win32_OperatingSystem", "Caption");
        CoUninitialize();
    }).join();
    EXPECT_EQ(fromWindowThread, host->query("Win32_OperatingSystem", "Caption"));
}

}  // namespace
}  // namespace raid
