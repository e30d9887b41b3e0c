// Placeholder until the Windows storage ports land: no drive, no volume, no change.
#include "platform/NoDevices.h"
#include "platform/win32/WinPlatform.h"

namespace raid::win32 {

namespace {
class NoChanges final : public DeviceChangePort {
public:
    void start(std::function<void()>) override {}
    void stop() override {}
};
}  // namespace

std::unique_ptr<StoragePort> makeStorage() { return std::make_unique<NoDevices>(); }
std::unique_ptr<VolumePort> makeVolumes() { return std::make_unique<NoDevices>(); }
std::unique_ptr<DeviceChangePort> makeDeviceChange() { return std::make_unique<NoChanges>(); }

}  // namespace raid::win32
