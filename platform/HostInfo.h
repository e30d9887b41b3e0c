// Host facts that go into alert mails, asked for the way Windows
// programs ask its management service: a class name and a property name.
#pragma once

#include <string>

namespace raid {

class HostInfoPort {
public:
    virtual ~HostInfoPort() = default;
    // The property's value as text; "" for anything unknown.
    virtual std::string query(const std::string& className, const std::string& propertyName) = 0;
};

}  // namespace raid
