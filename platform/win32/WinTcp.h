// TCP connections over Winsock.
#pragma once

#include <memory>

#include "platform/TcpPort.h"

namespace raid::win32 {

// Name resolution runs on a helper thread so that a resolver that does not answer
// (an unreachable name server) is bounded by the connect time-out like the rest;
// the socket is non-blocking and every wait is a select() with what is left of the
// deadline.
class WinTcpPort final : public TcpPort {
public:
    WinTcpPort();
    std::unique_ptr<TcpConnection> connect(const std::string& host, std::uint16_t port,
                                           std::chrono::milliseconds timeout, std::string& error) override;
    std::string localHostName() override;
};

}  // namespace raid::win32
