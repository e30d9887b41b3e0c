// A certificate authority and server certificates for the TLS tests, made with the
// openssl tool in a folder of their own: "good" (127.0.0.1 and localhost), "other" (another
// host name), "expired", and the self-signed "self".
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace raid::testing {

inline bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// A certificate authority and server certificates made with the openssl tool.
struct TestPki {
    std::filesystem::path dir;
    bool ok = false;

    std::string path(const std::string& name) const { return (dir / name).string(); }

    void make() {
        dir = std::filesystem::temp_directory_path() / ("raid-pki-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        const std::string d = dir.string();
        const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        std::ofstream(dir / "ca.cnf") << "[ca]\ndefault_ca = test\n[test]\ndatabase = " << d
                                      << "/index.txt\nnew_certs_dir = " << d << "\nserial = " << d
                                      << "/serial\ndefault_md = sha256\npolicy = any\nunique_subject = no\n"
                                         "[any]\ncommonName = supplied\n"
                                         "[local]\nsubjectAltName = IP:127.0.0.1,DNS:localhost\n"
                                         "basicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n"
                                         "[other]\nsubjectAltName = DNS:mail.other.example\n"
                                         "basicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n";
        std::ofstream(dir / "index.txt");
        std::ofstream(dir / "serial") << "1000\n";
        const auto sign = [&](const std::string& name, const std::string& section, const std::string& dates) {
            return run("openssl req" + key + " -keyout " + d + "/" + name + ".key -out " + d + "/" + name +
                       ".csr -subj /CN=" + name) &&
                   run("openssl ca -batch -notext -config " + d + "/ca.cnf -cert " + d + "/ca.pem -keyfile " + d +
                       "/ca.key -in " + d + "/" + name + ".csr -out " + d + "/" + name + ".pem -extensions " +
                       section + " " + dates);
        };
        ok = run("openssl req -x509" + key + " -keyout " + d + "/ca.key -out " + d +
                 "/ca.pem -days 30 -subj '/CN=Raid Test CA' -addext basicConstraints=critical,CA:TRUE"
                 " -addext keyUsage=critical,keyCertSign,cRLSign") &&
             sign("good", "local", "-days 30") && sign("other", "other", "-days 30") &&
             sign("expired", "local", "-startdate 20200101000000Z -enddate 20200201000000Z") &&
             run("openssl req -x509" + key + " -keyout " + d + "/self.key -out " + d +
                 "/self.pem -days 30 -subj /CN=localhost -addext subjectAltName=IP:127.0.0.1,DNS:localhost");
    }
};


}  // namespace raid::testing
