// Window tests run in one QApplication, offscreen unless told otherwise.
#include <QApplication>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace raid::test {
// ServiceWindowTest's window that starts an upgrade, run as a process of its own.
int runUpgradingWindow(const std::string& bus, const std::string& image);
}

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc == 4 && std::string(argv[1]) == "--upgrading-window") return raid::test::runUpgradingWindow(argv[2], argv[3]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
