// The bus policy the package installs, loaded into a private bus whose default is the
// system bus's (nobody owns a name or calls a method unless a policy file says so): root
// owns the service's name, another user cannot own it (before or while root holds it), and
// that user can still call the service.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/PrivateBus.h"

namespace raid {
namespace {

using test::PrivateBus;

constexpr char kName[] = "org.qxraidgui.Monitor1";
constexpr char kPath[] = "/org/qxraidgui/Monitor1";

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The system bus's own default, as Debian's system.conf has it.
constexpr char kSystemDefault[] =
    "  <policy context=\"default\">\n"
    "    <deny own=\"*\"/>\n"
    "    <deny send_type=\"method_call\"/>\n"
    "    <allow send_destination=\"org.freedesktop.DBus\" send_interface=\"org.freedesktop.DBus\"/>\n"
    "    <allow send_destination=\"org.freedesktop.DBus\" send_interface=\"org.freedesktop.DBus.Introspectable\"/>\n"
    "    <allow send_destination=\"org.freedesktop.DBus\" send_interface=\"org.freedesktop.DBus.Properties\"/>\n"
    "  </policy>\n";

TEST(BusPolicy, RootOwnsTheNameAnotherUserCannotButMayCallIt) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
    // The <policy> elements of the installed file, as they stand.
    const std::string file = slurp(std::string(RAID_SOURCE_DIR) + "/packaging/org.qxraidgui.Monitor1.conf");
    const std::size_t from = file.find("<policy"), to = file.rfind("</policy>");
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    const std::string policies = file.substr(from, to + std::string("</policy>").size() - from);

    char tmpl[] = "/tmp/raid-buspolicy-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    {
        PrivateBus bus(dir, kSystemDefault + policies + "\n");
        if (!bus.start()) GTEST_SKIP() << "dbus-daemon is not installed";
        const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups timeout 60 busctl --address=" +
                                     bus.address() + " ";
        const std::string out = dir + "/out.txt";
        auto nobody = [&](const std::string& args) {
            const int rc = std::system((asNobody + args + " >" + out + " 2>&1").c_str());
            return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        };

        // Another user asks for the name: refused, before and while root holds it.
        const std::string request =
            std::string("call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus RequestName su ") +
            kName + " 4";
        EXPECT_NE(nobody(request), 0);
        EXPECT_NE(slurp(out).find("ccess denied"), std::string::npos) << slurp(out);

        // Root takes it (the service), with a method to call.
        if (std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0)
            GTEST_SKIP() << "python3-dbusmock is not installed";
        ASSERT_TRUE(bus.startMock(kName, kPath, kName));
        ASSERT_EQ(bus.busctl(std::string("call ") + kName + " " + kPath +
                             " org.freedesktop.DBus.Mock AddMethod sssss '' Ping '' s \"ret = 'pong'\""),
                  0);
        EXPECT_NE(nobody(request), 0);
        EXPECT_NE(slurp(out).find("ccess denied"), std::string::npos) << slurp(out);

        // Another user calls it and gets the answer.
        EXPECT_EQ(nobody(std::string("call ") + kName + " " + kPath + " " + kName + " Ping"), 0) << slurp(out);
        EXPECT_NE(slurp(out).find("pong"), std::string::npos) << slurp(out);
    }
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace
}  // namespace raid
