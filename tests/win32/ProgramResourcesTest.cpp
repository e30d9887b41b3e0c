// What the built programs carry for Windows itself, read back the way Windows reads it:
// the manifest (the execution level each asks for, Common Controls 6, DPI awareness,
// the supported systems), the icon "Z1" the window loads, and the version resource
// Explorer and the uninstall list show.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/MainForm.h"
#include "support/ToolRun.h"

namespace raid {
namespace {

std::wstring wide(const std::string& s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
    w.resize(w.size() - 1);
    return w;
}

std::string narrow(const wchar_t* w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.resize(s.size() - 1);
    return s;
}

std::string resourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    return data ? std::string(static_cast<const char*>(data), SizeofResource(module, found)) : std::string();
}

std::string versionString(const std::vector<char>& block, const wchar_t* field) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + field;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return {};
    return narrow(static_cast<const wchar_t*>(value));
}

TEST(ProgramResources, ManifestIconAndVersionOfEachProgram) {
    struct Program {
        const char* name;
        const char* level;
    };
    for (const Program& p : {Program{"raid-gui", "requireAdministrator"}, Program{"raid-gui-sim", "asInvoker"},
                             Program{"raid-gui-monitor", "asInvoker"}}) {
        SCOPED_TRACE(p.name);
        const std::wstring path = wide(test::builtProgram(p.name));
        // As data: nothing of the program runs, and its manifest asks nothing of us.
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << "cannot load " << narrow(path.c_str()) << ": " << GetLastError();

        const std::string manifest = resourceBytes(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
        EXPECT_NE(manifest.find(std::string("level=\"") + p.level + "\""), std::string::npos) << manifest;
        EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
        EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
        EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
        for (const char* os : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                               "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
            EXPECT_NE(manifest.find(os), std::string::npos) << os;
        // The ports spell their paths and texts in the system's ANSI code page.
        EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos);

        // The icon group "Z1": one entry per size, and each size decodes to a picture
        // of that size (256 is the one stored as PNG).
        const std::string group = resourceBytes(module, L"Z1", MAKEINTRESOURCEW(14));
        ASSERT_GE(group.size(), 6u);
        const unsigned count = static_cast<unsigned char>(group[4]) | static_cast<unsigned char>(group[5]) << 8;
        ASSERT_EQ(group.size(), 6u + 14u * count);
        std::vector<int> sizes;
        for (unsigned i = 0; i < count; ++i) {
            const int w = static_cast<unsigned char>(group[6 + 14 * i]);
            sizes.push_back(w == 0 ? 256 : w);
        }
        EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 256}));
        for (const int s : sizes) {
            HICON icon = static_cast<HICON>(LoadImageW(module, L"Z1", IMAGE_ICON, s, s, 0));
            ASSERT_NE(icon, nullptr) << s;
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP colour{};
            ASSERT_NE(info.hbmColor, nullptr);
            GetObjectW(info.hbmColor, sizeof colour, &colour);
            EXPECT_EQ(colour.bmWidth, s);
            EXPECT_EQ(colour.bmHeight, s);
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
        FreeLibrary(module);

        // The version resource, as Explorer's properties read it.
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_GT(size, 0u);
        std::vector<char> block(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedLength = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength));
        EXPECT_EQ(fixed->dwFileVersionMS, (0u << 16) | 23u);
        EXPECT_EQ(fixed->dwFileVersionLS, (7u << 16) | 3u);
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
        // The caption's version text, the one the engine shows.
        EXPECT_EQ(versionString(block, L"FileVersion"), kVersionText);
        EXPECT_EQ(versionString(block, L"ProductVersion"), kVersionText);
        EXPECT_EQ(versionString(block, L"ProductName"), "RAID GUI");
        EXPECT_EQ(versionString(block, L"OriginalFilename"), std::string(p.name) + ".exe");
        EXPECT_FALSE(versionString(block, L"CompanyName").empty());
        EXPECT_FALSE(versionString(block, L"FileDescription").empty());
    }
}

}  // namespace
}  // namespace raid
