#include "device/DeviceText.h"

namespace raid {

std::string printableDeviceText(std::string_view raw) {
    const auto end = raw.find('\0');
    if (end != std::string_view::npos) raw = raw.substr(0, end);
    std::string text(raw);
    for (char& c : text) {
        if (!isPrintableDeviceByte(static_cast<unsigned char>(c))) c = ' ';
    }
    return text;
}

}  // namespace raid
