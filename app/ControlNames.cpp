#include "app/ControlNames.h"

#include <algorithm>
#include <set>

namespace raid::names {

std::string yellowPicture(const std::string& image) { return image + "_Yellow"; }
std::string whitePicture(const std::string& image) { return image + "_White"; }
std::string caption(const std::string& control) {
    for (const Caption& c : captions)
        if (control == c.control) return c.text;
    return {};
}

std::string panel(int index) { return std::string(StatusBar1) + ".Panel" + std::to_string(index); }

const std::vector<std::string>& all() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v(listed.begin(), listed.end());
        auto pictures = [&v](const auto& images) {
            for (const char* image : images) {
                v.push_back(yellowPicture(image));
                v.push_back(whitePicture(image));
            }
        };
        pictures(navigationImages);
        pictures(statusDeviceImage);
        pictures(upgradeDeviceImage);
        pictures(emailSubPageImages);
        for (int i = 0; i < 5; ++i) v.push_back(panel(i));
        return v;
    }();
    return names;
}

bool known(const std::string& name) {
    static const std::set<std::string> set(all().begin(), all().end());
    return set.count(name) != 0;
}

}  // namespace raid::names
