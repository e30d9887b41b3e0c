// Host information: DMI files, the host name and interface address selection.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <climits>
#include <deque>

#include "FakeTree.h"
#include "platform/linux/LinuxHostInfo.h"

using namespace raid::linuxport;
using raid::test::FakeTree;

TEST(LinuxHostInfo, AnswersBoardFromDmiFilesAndNothingForUnknownQueries) {
    FakeTree dmi;
    dmi.write(dmi.root + "/board_vendor", "ASUSTeK COMPUTER INC.\n");
    dmi.write(dmi.root + "/board_name", "  PRIME B450M-A  \n");
    LinuxHostInfo info(dmi.root);
    EXPECT_EQ(info.query("Win32_BaseBoard", "Manufacturer"), "ASUSTeK COMPUTER INC.");
    EXPECT_EQ(info.query("Win32_BaseBoard", "Product"), "PRIME B450M-A");
    EXPECT_EQ(info.query("win32_baseboard", "PRODUCT"), "PRIME B450M-A");
    EXPECT_EQ(info.query("Win32_BaseBoard", "SerialNumber"), "");
    EXPECT_EQ(info.query("Win32_Processor", "Name"), "");
    EXPECT_EQ(info.query("", ""), "");

    LinuxHostInfo noDmi(dmi.root + "/missing");  // virtual machines often have none
    EXPECT_EQ(noDmi.query("Win32_BaseBoard", "Manufacturer"), "");
}

TEST(LinuxHostInfo, SystemNameIsTheHostName) {
    char name[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
    EXPECT_EQ(LinuxHostInfo().query("Win32_Bus", "SystemName"), name);
}

namespace {

// Builds an ifaddrs chain the way getifaddrs returns it.
struct FakeInterfaces {
    std::deque<ifaddrs> nodes;
    std::deque<sockaddr_storage> addrs;
    std::deque<std::string> names;
    void add(const char* name, int family, const char* text, unsigned flags = IFF_UP) {
        names.emplace_back(name);
        sockaddr_storage& ss = addrs.emplace_back();
        ss = {};
        ss.ss_family = static_cast<sa_family_t>(family);
        if (family == AF_INET) inet_pton(AF_INET, text, &reinterpret_cast<sockaddr_in&>(ss).sin_addr);
        if (family == AF_INET6) {
            auto& in6 = reinterpret_cast<sockaddr_in6&>(ss);
            inet_pton(AF_INET6, text, &in6.sin6_addr);
            in6.sin6_scope_id = 2;
        }
        ifaddrs& node = nodes.emplace_back();
        node = {};
        node.ifa_name = names.back().data();
        node.ifa_flags = flags;
        node.ifa_addr = reinterpret_cast<sockaddr*>(&ss);
        if (nodes.size() > 1) nodes[nodes.size() - 2].ifa_next = &node;
    }
    const ifaddrs* list() const { return nodes.empty() ? nullptr : &nodes.front(); }
};

}  // namespace

TEST(LinuxHostInfo, AddressesOfTheFirstNonLoopbackInterfaceIPv4First) {
    FakeInterfaces ifs;
    ifs.add("lo", AF_INET, "127.0.0.1", IFF_UP | IFF_LOOPBACK);
    ifs.add("eth0", AF_PACKET, nullptr);  // link-layer entry, no IP
    ifs.add("eth0", AF_INET6, "fe80::1");
    ifs.add("eth0", AF_INET, "192.0.2.10");
    ifs.add("wlan0", AF_INET, "198.51.100.7");
    ifs.add("eth0", AF_INET, "192.0.2.11");
    ifs.add("eth0", AF_INET6, "2001:db8::5");
    EXPECT_EQ(firstInterfaceAddresses(ifs.list()), "192.0.2.10, 192.0.2.11, fe80::1, 2001:db8::5");

    FakeInterfaces onlyLoopback;
    onlyLoopback.add("lo", AF_INET, "127.0.0.1", IFF_UP | IFF_LOOPBACK);
    onlyLoopback.add("lo", AF_INET6, "::1", IFF_UP | IFF_LOOPBACK);
    EXPECT_EQ(firstInterfaceAddresses(onlyLoopback.list()), "");
    EXPECT_EQ(firstInterfaceAddresses(nullptr), "");

    FakeInterfaces v6only;
    v6only.add("tun0", AF_INET6, "2001:db8::9");
    EXPECT_EQ(firstInterfaceAddresses(v6only.list()), "2001:db8::9");
}

TEST(LinuxHostInfo, RealInterfacesGiveNumericAddressesWithoutLoopback) {
    const std::string text = LinuxHostInfo().query("Win32_NetworkAdapterConfiguration", "IPAddress");
    EXPECT_EQ(text.find("127.0.0.1"), std::string::npos);
    EXPECT_EQ(text.find('%'), std::string::npos);
    for (char c : text) EXPECT_TRUE(isxdigit(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == ',' || c == ' ') << text;
}
