// TCP connections over BSD sockets.
#pragma once

#include <memory>

#include "platform/TcpPort.h"

namespace raid::linuxport {

// Name resolution runs on a helper thread so that a resolver that does not answer
// (an unreachable name server) is bounded by the connect time-out like the rest;
// the socket is non-blocking and every wait is a poll() with what is left of the
// deadline.
class LinuxTcpPort final : public TcpPort {
public:
    std::unique_ptr<TcpConnection> connect(const std::string& host, std::uint16_t port,
                                           std::chrono::milliseconds timeout, std::string& error) override;
    std::string localHostName() override;
};

std::unique_ptr<TcpPort> makeTcpPort();

}  // namespace raid::linuxport
