#include "platform/linux/LinuxHostInfo.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <vector>

#include "platform/linux/LinuxFiles.h"

namespace raid::linuxport {
namespace {

bool equalsNoCase(const std::string& a, const char* b) {
    return ::strcasecmp(a.c_str(), b) == 0;
}

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

}  // namespace

std::string firstInterfaceAddresses(const ifaddrs* list) {
    const char* chosen = nullptr;
    std::vector<std::string> v4, v6;
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || !a->ifa_name || (a->ifa_flags & IFF_LOOPBACK)) continue;
        const int family = a->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        if (!chosen) chosen = a->ifa_name;
        if (std::strcmp(chosen, a->ifa_name) != 0) continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
            if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) v4.emplace_back(text);
        } else {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr);
            if (::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text)) v6.emplace_back(text);
        }
    }
    std::string joined;
    for (const auto* group : {&v4, &v6}) {
        for (const auto& address : *group) {
            if (!joined.empty()) joined += ", ";
            joined += address;
        }
    }
    return joined;
}

LinuxHostInfo::LinuxHostInfo(std::string dmiDir) : dmiDir_(std::move(dmiDir)) {}

std::string LinuxHostInfo::query(const std::string& className, const std::string& propertyName) {
    if (equalsNoCase(className, "Win32_BaseBoard")) {
        if (equalsNoCase(propertyName, "Manufacturer")) return readAttribute(dmiDir_ + "/board_vendor").value_or("");
        if (equalsNoCase(propertyName, "Product")) return readAttribute(dmiDir_ + "/board_name").value_or("");
        return {};
    }
    if (equalsNoCase(className, "Win32_Bus") && equalsNoCase(propertyName, "SystemName")) return hostName();
    if (equalsNoCase(className, "Win32_NetworkAdapterConfiguration") && equalsNoCase(propertyName, "IPAddress")) {
        ifaddrs* list = nullptr;
        if (::getifaddrs(&list) != 0) return {};
        std::string addresses = firstInterfaceAddresses(list);
        ::freeifaddrs(list);
        return addresses;
    }
    return {};
}

std::unique_ptr<HostInfoPort> makeHostInfo() { return std::make_unique<LinuxHostInfo>(); }

}  // namespace raid::linuxport
