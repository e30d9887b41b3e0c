// The settings as Windows keeps them: the registry key with its real value types and
// access rules, checked with the registry's own functions, and the settings file
// written byte for byte as the Linux program writes it.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/RegistryText.h"
#include "platform/win32/WinPlatform.h"
#include "platform/win32/WinRegistry.h"

namespace raid {
namespace {

constexpr char kKey[] = "SOFTWARE\\QX_RAID_GUI";

struct Raw {
    LSTATUS status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> data;
};

Raw rawValue(const char* subkey, const char* name) {
    Raw r;
    HKEY k = nullptr;
    r.status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &k);
    if (r.status != ERROR_SUCCESS) return r;
    DWORD size = 0;
    r.status = RegQueryValueExA(k, name, nullptr, &r.type, nullptr, &size);
    if (r.status == ERROR_SUCCESS) {
        r.data.resize(size);
        r.status = RegQueryValueExA(k, name, nullptr, &r.type, r.data.data(), &size);
        r.data.resize(size);
    }
    RegCloseKey(k);
    return r;
}

std::vector<std::uint8_t> bytes(const std::string& s, bool zero = true) {
    std::vector<std::uint8_t> b(s.begin(), s.end());
    if (zero) b.push_back(0);
    return b;
}

LSTATUS setRaw(const char* subkey, const char* name, DWORD type, const std::vector<std::uint8_t>& data) {
    HKEY k = nullptr;
    LSTATUS rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                                 &k, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExA(k, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(k);
    return rc;
}

void dropKey(const char* subkey) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, subkey);  // the 32-bit program's view is the same under Wine64
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subkey, KEY_WOW64_64KEY, 0);
}

// An object's access rules in the system's descriptor language, each allowed trustee
// after it ("allow:S-1-5-18" ...), and whether they are shielded from what the parent
// passes down.
std::string rulesOf(HANDLE object, SE_OBJECT_TYPE type, bool& isProtected) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL dacl = nullptr;
    if (GetSecurityInfo(object, type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd) !=
        ERROR_SUCCESS)
        return "?";
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd, &control, &revision);
    isProtected = (control & SE_DACL_PROTECTED) != 0;
    std::string out;
    char* text = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                             nullptr)) {
        out = text;
        LocalFree(text);
    }
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace) || static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        char* sidText = nullptr;
        if (ConvertSidToStringSidA(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, &sidText)) {
            out += std::string(" allow:") + sidText;
            LocalFree(sidText);
        }
    }
    LocalFree(sd);
    return out;
}

std::string daclText(const char* subkey, bool& isProtected) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, READ_CONTROL | KEY_WOW64_64KEY, &k) != ERROR_SUCCESS) return "?";
    std::string out = rulesOf(k, SE_REGISTRY_KEY, isProtected);
    RegCloseKey(k);
    return out;
}

// Nobody but the system and the administrators (and, for a file, its user) is
// allowed anything.
void expectPrivate(const std::string& rules) {
    EXPECT_NE(rules.find("allow:S-1-5-18"), std::string::npos) << rules;
    EXPECT_NE(rules.find("allow:S-1-5-32-544"), std::string::npos) << rules;
    for (const char* other : {"allow:S-1-1-0", "allow:S-1-5-32-545", "allow:S-1-5-11", "allow:S-1-3-0"})
        EXPECT_EQ(rules.find(other), std::string::npos) << other << " in " << rules;
}

TEST(RegistrySettings, RealTypesAnAdminOnlyKeyAndWholeSaves) {
    dropKey(kKey);
    // Nothing there yet: the program sees no key and makes none by reading.
    auto store = openSettings(machineSettingsName());
    EXPECT_FALSE(store->keyExists());
    EXPECT_EQ(rawValue(kKey, "Port").status, ERROR_FILE_NOT_FOUND);

    const std::vector<std::uint8_t> record(18, 0xA5);
    ASSERT_EQ(store->update({SettingsUpdate::set("Port", RegValue::sz("25")),
                             SettingsUpdate::set("SMTP", RegValue::sz("mail.example.org")),
                             SettingsUpdate::set("EMailSend", RegValue::number(3)),
                             SettingsUpdate::set("ProductID", RegValue::binary(record)),
                             SettingsUpdate::set("ToAddrCount", RegValue::number(1)),
                             SettingsUpdate::set("ToAddr_00", RegValue::sz("caf\xe9@example.org"))}),
              "");
    EXPECT_TRUE(store->keyExists());

    // The registry holds the real types, as any Windows tool reads them.
    Raw port = rawValue(kKey, "Port");
    EXPECT_EQ(port.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(port.data, bytes("25"));
    Raw send = rawValue(kKey, "EMailSend");
    EXPECT_EQ(send.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(send.data, (std::vector<std::uint8_t>{3, 0, 0, 0}));
    Raw product = rawValue(kKey, "ProductID");
    EXPECT_EQ(product.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(product.data, record);
    EXPECT_EQ(rawValue(kKey, "ToAddr_00").data, bytes("caf\xe9@example.org"));

    // The key holds the password record: SYSTEM and the administrators only, nothing
    // passed down from SOFTWARE, no entry for users, everyone or the signed-in.
    bool isProtected = false;
    const std::string acl = daclText(kKey, isProtected);
    EXPECT_TRUE(isProtected) << acl;
    expectPrivate(acl);

    // A value another program wrote since is seen by the save and kept; a value of a
    // type the program does not keep is told once and left alone.
    ASSERT_EQ(setRaw(kKey, "Addr", REG_SZ, bytes("other@example.org")), ERROR_SUCCESS);
    ASSERT_EQ(setRaw(kKey, "Extra", REG_MULTI_SZ, {'a', 0, 'b', 0, 0}), ERROR_SUCCESS);
    std::optional<RegValue> seen;
    ASSERT_EQ(store->update({{"Addr",
                              [&seen](const std::optional<RegValue>& now) {
                                  seen = now;
                                  return std::nullopt;
                              }},
                             SettingsUpdate::set("EMailSend", RegValue::number(0))}),
              "");
    EXPECT_EQ(seen, RegValue::sz("other@example.org"));
    EXPECT_EQ(store->read("addr"), RegValue::sz("other@example.org"));
    EXPECT_EQ(rawValue(kKey, "Extra").type, static_cast<DWORD>(REG_MULTI_SZ));

    // All or nothing: a save whose second value the registry refuses (a name longer
    // than any value name may be) leaves the first as it was.
    const std::string error = store->update({SettingsUpdate::set("Port", RegValue::sz("2525")),
                                             SettingsUpdate::set("SMTP", RegValue::sz("new.example.org")),
                                             SettingsUpdate::set(std::string(20000, 'N'), RegValue::number(1))});
    EXPECT_NE(error.find("nothing was saved"), std::string::npos) << error;
    EXPECT_EQ(rawValue(kKey, "Port").data, bytes("25"));
    EXPECT_EQ(rawValue(kKey, "SMTP").data, bytes("mail.example.org"));
    EXPECT_EQ(store->read("Port"), RegValue::sz("25"));
    // A string with a zero in it would come back cut: refused before anything is written.
    EXPECT_NE(store->write("Port", RegValue::sz(std::string("25\0x", 4))), "");
    EXPECT_EQ(rawValue(kKey, "Port").data, bytes("25"));

    // Another start reads what was saved, and tells of the value it does not keep.
    auto again = win32::makeRegistrySettings();
    EXPECT_EQ(again->read("ProductID"), RegValue::binary(record));
    EXPECT_EQ(again->read("EMailSend"), RegValue::number(0));
    const auto problems = again->takeProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("\"Extra\""), std::string::npos) << problems[0];
    dropKey(kKey);
}

TEST(RegistrySettings, AKeyThatExistsKeepsItsAccessRulesAndAFailedFirstSaveLeavesNoKey) {
    const std::string sub = std::string(kKey) + "_TEST_" + std::to_string(GetCurrentProcessId());
    dropKey(sub.c_str());
    auto store = win32::makeRegistrySettingsAt(HKEY_LOCAL_MACHINE, sub, "test key");
    // The first save fails half-way: the key it made is gone again.
    EXPECT_NE(store->update({SettingsUpdate::set("Port", RegValue::sz("25")),
                             SettingsUpdate::set(std::string(20000, 'N'), RegValue::number(1))}),
              "");
    EXPECT_FALSE(store->keyExists());
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &k), ERROR_FILE_NOT_FOUND);

    // A key someone else made keeps the rules they gave it.
    ASSERT_EQ(setRaw(sub.c_str(), "Port", REG_SZ, bytes("25")), ERROR_SUCCESS);
    bool before = false, after = false;
    const std::string was = daclText(sub.c_str(), before);
    EXPECT_EQ(store->write("SMTP", RegValue::sz("mail.example.org")), "");
    EXPECT_EQ(daclText(sub.c_str(), after), was);
    EXPECT_EQ(after, before);
    dropKey(sub.c_str());
}

std::string fileBytes(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string out(1 << 16, '\0');
    DWORD got = 0;
    ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &got, nullptr);
    CloseHandle(h);
    out.resize(got);
    return out;
}

TEST(SettingsFileOnWindows, HoldsTheBytesTheLinuxFileHolds) {
    char temp[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string folder = std::string(temp) + "raid-settings-" + std::to_string(GetCurrentProcessId());
    // Written through '/' and a folder that is not there yet.
    const std::string path = folder + "/sub/settings.reg";
    auto store = openSettings(path);
    EXPECT_FALSE(store->keyExists());
    ASSERT_EQ(store->update({SettingsUpdate::set("Port", RegValue::sz("25")),
                             SettingsUpdate::set("UserName", RegValue::sz("Q\\\"X\"")),
                             SettingsUpdate::set("EMailSend", RegValue::number(0x12)),
                             SettingsUpdate::set("ProductID", RegValue::binary({0, 0x0d, 0x0a, 0xff})),
                             SettingsUpdate::set("FilePath", RegValue::sz("C:\\texts\r\nnext"))}),
              "");
    // The very text the Linux program writes for these values: no CR added before a
    // line feed, none dropped from a value.
    const std::string linux =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QX_RAID_GUI]\n"
        "\"Port\"=\"25\"\n"
        "\"UserName\"=\"Q\\\\\\\"X\\\"\"\n"
        "\"EMailSend\"=dword:00000012\n"
        "\"ProductID\"=hex:00,0d,0a,ff\n"
        "\"FilePath\"=hex(1):43,3a,5c,74,65,78,74,73,0d,0a,6e,65,78,74,00\n";
    const std::string nativePath = folder + "\\sub\\settings.reg";
    EXPECT_EQ(fileBytes(nativePath), linux);
    // The file holds the password record: its user's, the system's and the
    // administrators' alone, whatever the folder passes down. Wine keeps no access
    // rules on files (it shows the Unix mode as rules, and changes nothing when asked
    // to set them): there this is not checked.
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) {
        HANDLE file =
            CreateFileA(nativePath.c_str(), READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        bool isProtected = false;
        const std::string rules = rulesOf(file, SE_FILE_OBJECT, isProtected);
        CloseHandle(file);
        EXPECT_TRUE(isProtected) << rules;
        expectPrivate(rules);
    }
    // A later save edits the file in place of its value and reads back.
    ASSERT_EQ(store->write("Port", RegValue::sz("587")), "");
    std::string edited = linux;
    edited.replace(edited.find("\"25\""), 4, "\"587\"");
    EXPECT_EQ(fileBytes(nativePath), edited);
    auto again = openSettings(nativePath);
    EXPECT_TRUE(again->keyExists());
    EXPECT_EQ(again->read("FilePath"), RegValue::sz("C:\\texts\r\nnext"));
    EXPECT_TRUE(again->takeProblems().empty());
    // Nothing but the file is left in its folder (no temporary file).
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "\\sub\\*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::string> names;
    do names.emplace_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    EXPECT_EQ(names.size(), 3u);  // ".", ".." and settings.reg

    // A device where the file is expected is neither read nor written.
    auto device = openSettings("\\\\.\\NUL");
    EXPECT_FALSE(device->takeProblems().empty());
    EXPECT_NE(device->write("Port", RegValue::sz("25")), "");
    auto console = openSettings(folder + "\\CON");
    EXPECT_NE(console->write("Port", RegValue::sz("25")), "");

    DeleteFileA(nativePath.c_str());
    RemoveDirectoryA((folder + "\\sub").c_str());
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
}  // namespace raid
