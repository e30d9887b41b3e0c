// Placeholder until the Winsock port lands: every connection is refused.
#include "platform/win32/WinPlatform.h"

namespace raid::win32 {

namespace {
class NoTcp final : public TcpPort {
public:
    std::unique_ptr<TcpConnection> connect(const std::string&, std::uint16_t, std::chrono::milliseconds,
                                           std::string& error) override {
        error = "no network on this build";
        return nullptr;
    }
    std::string localHostName() override { return {}; }
};
}  // namespace

std::unique_ptr<TcpPort> makeTcpPort() { return std::make_unique<NoTcp>(); }

}  // namespace raid::win32
