// Host facts for alert mails, answered from DMI, the host name and the network
// interfaces.
#pragma once

#include <memory>
#include <string>

#include "platform/HostInfo.h"

struct ifaddrs;

namespace raid::linuxport {

// Addresses of the first interface in `list` order that is not a loopback and has
// any IPv4 or IPv6 address: IPv4 ones first, then IPv6, each group in list order,
// joined with ", ". IPv6 addresses are written without a "%scope" suffix, as the
// original platform's adapter configuration lists them. "" when there is none.
std::string firstInterfaceAddresses(const ifaddrs* list);

class LinuxHostInfo final : public HostInfoPort {
public:
    explicit LinuxHostInfo(std::string dmiDir = "/sys/class/dmi/id");

    // Answers (class and property names compare without regard to case, as the
    // management service does):
    //   Win32_BaseBoard / Manufacturer                 <dmi>/board_vendor
    //   Win32_BaseBoard / Product                      <dmi>/board_name
    //   Win32_Bus / SystemName                         host name
    //   Win32_NetworkAdapterConfiguration / IPAddress  firstInterfaceAddresses()
    std::string query(const std::string& className, const std::string& propertyName) override;

private:
    std::string dmiDir_;
};

std::unique_ptr<HostInfoPort> makeHostInfo();

}  // namespace raid::linuxport
