// raid-gui-monitor: the engine without a window, for machines nobody sits at.
#include <iostream>

int main() {
    std::cerr << "raid-gui-monitor: not ready yet\n";
    return 2;
}
