#include "platform/win32/WinFileStore.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/win32/WinPlatform.h"

namespace raid {
namespace win32 {

namespace {

constexpr DWORD kNotPlainFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

// Everything after the last separator.
std::string_view lastComponent(std::string_view path) {
    const std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool missingError(DWORD e) {
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME ||
           e == ERROR_BAD_NETPATH || e == ERROR_DIRECTORY;
}

// The handle's file is a plain file on a disk: not a pipe, a console or a device, not a
// folder and not a reparse point opened as itself.
bool isPlainFile(HANDLE h) {
    if (::GetFileType(h) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) return false;
    return (info.dwFileAttributes & kNotPlainFile) == 0;
}

// The engine's paths are UTF-8 (the window's texts, the dialog's choice, the wide
// command line). Bytes that are not UTF-8 came from an ANSI source and are read in the
// ANSI code page, as they always were.
std::wstring widePath(const std::string& path) {
    if (path.empty()) return {};
    const int size = static_cast<int>(std::min<std::size_t>(path.size(), std::numeric_limits<int>::max()));
    UINT page = CP_UTF8;
    int n = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
    if (n <= 0) {
        page = CP_ACP;
        n = ::MultiByteToWideChar(page, 0, path.data(), size, nullptr, 0);
    }
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(page, page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, path.data(), size, out.data(), n);
    return out;
}

std::string folderOfPath(const std::string& path) {
    const std::size_t cut = path.find_last_of('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// Opens an existing or new file for writing without following a reparse point; only
// a plain file is kept open.
Handle openForWriting(const std::string& path, DWORD access, DWORD disposition, bool& created) {
    created = false;
    if (isDeviceName(path)) return {};
    Handle h(::CreateFileW(widePath(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h) return {};
    created = disposition == CREATE_NEW || (disposition == OPEN_ALWAYS && ::GetLastError() != ERROR_ALREADY_EXISTS);
    if (!isPlainFile(h.get())) return {};
    return h;
}

bool writeAll(HANDLE h, std::string_view data) {
    while (!data.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
        DWORD done = 0;
        if (!::WriteFile(h, data.data(), chunk, &done, nullptr) || done == 0) return false;
        data.remove_prefix(done);
    }
    return true;
}

class HandleReader final : public FileReader {
public:
    HandleReader(Handle h, std::uint64_t length) : h_(std::move(h)), length_(length) {}
    std::uint64_t length() const override { return length_; }
    std::optional<std::size_t> readAt(std::uint64_t offset, std::uint8_t* dest, std::size_t count) override {
        if (offset >= length_) return 0;
        const std::uint64_t left = length_ - offset;
        const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>({count, left, 1u << 30}));
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!::ReadFile(h_.get(), dest, want, &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
            return std::nullopt;
        }
        return got;
    }

private:
    Handle h_;
    std::uint64_t length_;
};

class WinFiles final : public FileStore {
public:
    bool exists(const std::string& path) override {
        const std::string p = nativePath(path);
        if (isDeviceName(p)) return true;
        return ::GetFileAttributesW(widePath(p).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::optional<std::uint64_t> size(const std::string& path) override {
        Handle h;
        std::uint64_t n = 0;
        if (openRegular(nativePath(path), std::numeric_limits<std::uint64_t>::max(), h, n) != ReadStatus::ok)
            return std::nullopt;
        return n;
    }

    std::optional<std::string> readAll(const std::string& path) override {
        BoundedRead r = readBounded(path, std::numeric_limits<std::size_t>::max());
        if (r.status != ReadStatus::ok) return std::nullopt;
        return std::move(r.text);
    }

    BoundedRead readBounded(const std::string& path, std::size_t limit) override {
        BoundedRead r;
        Handle h;
        std::uint64_t n = 0;
        r.status = openRegular(nativePath(path), limit, h, n);
        if (r.status != ReadStatus::ok) return r;
        // Never more than the length seen at the open, even when the file grows.
        try {
            r.text.resize(static_cast<std::size_t>(n));
        } catch (const std::bad_alloc&) {
            r.status = ReadStatus::tooLarge;
            return r;
        }
        std::size_t done = 0;
        while (done < r.text.size()) {
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(r.text.size() - done, 1u << 30));
            DWORD got = 0;
            if (!::ReadFile(h.get(), r.text.data() + done, want, &got, nullptr)) {
                r.text.clear();
                r.status = ReadStatus::unreadable;
                return r;
            }
            if (got == 0) break;  // the file shrank
            done += got;
        }
        r.text.resize(done);
        return r;
    }

    OpenedFile openForRead(const std::string& path, std::size_t limit) override {
        OpenedFile f;
        Handle h;
        std::uint64_t n = 0;
        f.status = openRegular(nativePath(path), limit, h, n);
        if (f.status == ReadStatus::ok) f.reader = std::make_unique<HandleReader>(std::move(h), n);
        return f;
    }

    bool append(const std::string& path, std::string_view data) override {
        const std::string p = nativePath(path);
        const std::string folder = folderOfPath(p);
        if (!folder.empty() && !makeFolders(folder)) return false;
        if (whatIsAt(p) == ReadStatus::notRegular) return false;
        bool created = false;
        Handle h = openForWriting(p, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, created);
        if (!h) return false;
        LARGE_INTEGER end{};
        if (!::GetFileSizeEx(h.get(), &end)) return false;
        LARGE_INTEGER zero{};
        if (!::SetFilePointerEx(h.get(), zero, nullptr, FILE_END)) return false;
        if (writeAll(h.get(), data) && ::FlushFileBuffers(h.get())) return true;
        // Back to the earlier length, so a half-written line does not stay behind.
        if (::SetFilePointerEx(h.get(), end, nullptr, FILE_BEGIN)) ::SetEndOfFile(h.get());
        return false;
    }

    bool replace(const std::string& path, std::string_view data) override {
        const std::string p = nativePath(path);
        const std::string folder = folderOfPath(p);
        if (!folder.empty() && !makeFolders(folder)) return false;
        return replaceFile(p, data).empty();
    }

    CreateResult createNew(const std::string& path, std::string_view data, unsigned) override {
        // The mode has no meaning here: a new file takes the access rules of its folder.
        const std::string p = nativePath(path);
        if (isDeviceName(p)) return CreateResult::exists;
        Handle h(::CreateFileW(widePath(p).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!h) {
            const DWORD e = ::GetLastError();
            return e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS ? CreateResult::exists : CreateResult::failed;
        }
        if (writeAll(h.get(), data) && ::FlushFileBuffers(h.get())) return CreateResult::created;
        // Nothing left behind: the file is ours, made just now.
        FILE_DISPOSITION_INFO gone{TRUE};
        ::SetFileInformationByHandle(h.get(), FileDispositionInfo, &gone, sizeof gone);
        h.reset();
        ::DeleteFileW(widePath(p).c_str());
        return CreateResult::failed;
    }

    bool remove(const std::string& path) override {
        const std::string p = nativePath(path);
        switch (whatIsAt(p)) {
            case ReadStatus::missing: return true;
            case ReadStatus::ok: break;
            default: return false;
        }
        if (::DeleteFileW(widePath(p).c_str())) return true;
        return missingError(::GetLastError());
    }

    bool folderWritable(const std::string& folder) override {
        std::string f = nativePath(folder);
        while (f.size() > 1 && f.back() == '\\' && f[f.size() - 2] != ':') f.pop_back();
        const DWORD a = ::GetFileAttributesW(widePath(f).c_str());
        if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return false;
        // The rights are asked of the system the only sure way: a file made and gone.
        static std::atomic<unsigned> serial{0};
        const std::string probe = f + (f.back() == '\\' ? "" : "\\") + ".raid-gui-probe-" +
                                  std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(serial++);
        Handle h(::CreateFileW(widePath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        return static_cast<bool>(h);
    }

    bool makeFolder(const std::string& folder) override { return makeFolders(nativePath(folder)); }

    std::optional<std::vector<std::string>> listFolder(const std::string& folder) override {
        std::string f = nativePath(folder.empty() ? std::string(".") : folder);
        if (f.back() != '\\') f.push_back('\\');
        WIN32_FIND_DATAW found{};
        const HANDLE h = ::FindFirstFileW(widePath(f + "*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return std::nullopt;
        std::vector<std::string> names;
        do {
            const std::wstring w = found.cFileName;
            if (w == L"." || w == L"..") continue;
            const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
            std::string name(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
            if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), name.data(), n, nullptr, nullptr);
            names.push_back(std::move(name));
        } while (::FindNextFileW(h, &found));
        ::FindClose(h);
        return names;
    }
};

}  // namespace

std::string errorText(DWORD code) {
    char* text = nullptr;
    const DWORD n =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text) ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

std::string nativePath(std::string_view path) {
    std::string out(path);
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

bool isDeviceName(std::string_view path) {
    const std::string p = nativePath(path);
    if (p.rfind("\\\\.\\", 0) == 0) return true;
    if (p.rfind("\\\\?\\", 0) == 0) {
        const std::string rest = upper(std::string_view(p).substr(4));
        const bool drive =
            rest.size() >= 3 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':' && rest[2] == '\\';
        if (!drive && rest.rfind("UNC\\", 0) != 0) return true;
    }
    // The reserved names are devices in every folder, whatever follows a dot, and
    // the system drops trailing blanks and dots before it looks.
    std::string name = upper(lastComponent(p));
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos && name.compare(0, dot, "CONIN$") != 0 && name.compare(0, dot, "CONOUT$") != 0)
        name.resize(dot);
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* n : kNames)
        if (name == n) return true;
    if (name.size() == 4 && (name.rfind("COM", 0) == 0 || name.rfind("LPT", 0) == 0) && name[3] >= '0' &&
        name[3] <= '9')
        return true;
    return false;
}

ReadStatus whatIsAt(const std::string& path) {
    if (isDeviceName(path)) return ReadStatus::notRegular;
    const DWORD a = ::GetFileAttributesW(widePath(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = ::GetLastError();
        return missingError(e) ? ReadStatus::missing : ReadStatus::unreadable;
    }
    return (a & kNotPlainFile) ? ReadStatus::notRegular : ReadStatus::ok;
}

ReadStatus openRegular(const std::string& path, std::uint64_t limit, Handle& file, std::uint64_t& size) {
    const ReadStatus seen = whatIsAt(path);
    if (seen != ReadStatus::ok) return seen;
    Handle h(::CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h) return missingError(::GetLastError()) ? ReadStatus::missing : ReadStatus::unreadable;
    // The name may have changed hands since it was looked at: the handle decides.
    if (!isPlainFile(h.get())) return ReadStatus::notRegular;
    LARGE_INTEGER n{};
    if (!::GetFileSizeEx(h.get(), &n)) return ReadStatus::unreadable;
    if (static_cast<std::uint64_t>(n.QuadPart) > limit) return ReadStatus::tooLarge;
    size = static_cast<std::uint64_t>(n.QuadPart);
    file = std::move(h);
    return ReadStatus::ok;
}

bool makeFolders(const std::string& folder) {
    std::string f = nativePath(folder);
    while (f.size() > 1 && f.back() == '\\' && f[f.size() - 2] != ':') f.pop_back();
    if (f.empty()) return false;
    const DWORD a = ::GetFileAttributesW(widePath(f).c_str());
    if (a != INVALID_FILE_ATTRIBUTES) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::size_t cut = f.find_last_of('\\');
    if (cut != std::string::npos && cut > 0) {
        const std::string parent = f.substr(0, cut);
        // A drive's root ("C:") or a share's ("\\server") is there or not: never made here.
        const bool root = parent.back() == ':' || parent.back() == '\\';
        if (!root && !makeFolders(parent)) return false;
    }
    if (::CreateDirectoryW(widePath(f).c_str(), nullptr)) return true;
    const DWORD again = ::GetFileAttributesW(widePath(f).c_str());
    return again != INVALID_FILE_ATTRIBUTES && (again & FILE_ATTRIBUTE_DIRECTORY);
}

std::string currentUserSid() {
    std::string text;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return text;
    alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    char* sid = nullptr;
    if (::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        text = sid;
        ::LocalFree(sid);
    }
    ::CloseHandle(token);
    return text;
}

std::string replaceFile(const std::string& path, std::string_view data, bool privateFile) {
    if (whatIsAt(path) == ReadStatus::notRegular) return path + ": not a regular file";
    // A private file is made with its rules: there is no moment at which others may
    // open it (the settings hold the password record).
    PSECURITY_DESCRIPTOR sd = nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    if (privateFile) {
        const std::string me = currentUserSid();
        const std::string rules =
            "D:P" + (me.empty() ? std::string() : "(A;;FA;;;" + me + ")") + "(A;;FA;;;SY)(A;;FA;;;BA)";
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(rules.c_str(), SDDL_REVISION_1, &sd, nullptr))
            return path + ": " + errorText(::GetLastError());
        attributes.lpSecurityDescriptor = sd;
    }
    struct FreeLater {
        PSECURITY_DESCRIPTOR sd;
        ~FreeLater() {
            if (sd) ::LocalFree(sd);
        }
    } freeLater{sd};
    static std::atomic<unsigned> serial{0};
    std::string temp;
    Handle h;
    for (int attempt = 0; attempt < 100 && !h; ++attempt) {
        temp = path + "." + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(serial++) + ".tmp";
        h = Handle(::CreateFileW(widePath(temp).c_str(), GENERIC_WRITE | (privateFile ? WRITE_DAC : 0), 0,
                                 privateFile ? &attributes : nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!h && ::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)
            return path + ": " + errorText(::GetLastError());
    }
    if (!h) return path + ": no name free for the new file beside it";
    DWORD err = 0;
    if (privateFile) {
        // The rules once more on the new file itself, before anything is in it: not
        // every system applies those given at creation (Wine does not).
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        if (!::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) err = ::GetLastError();
        if (err == 0)
            err = ::SetSecurityInfo(h.get(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    dacl, nullptr);
        // A volume that keeps no rules at all (FAT) has nothing to protect the file with.
        if (err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_FUNCTION) err = 0;
    }
    if (err == 0 && (!writeAll(h.get(), data) || !::FlushFileBuffers(h.get()))) err = ::GetLastError();
    h.reset();
    // Looked at again just before the move: what stands there now is what is replaced.
    if (err == 0 && whatIsAt(path) == ReadStatus::notRegular) {
        ::DeleteFileW(widePath(temp).c_str());
        return path + ": not a regular file";
    }
    // Another program that has the file open without sharing its deletion (a virus
    // scanner, an indexer, a reader of an older build) holds the move off for moments:
    // the move is tried again for about a second before the save is given up.
    for (int attempt = 0; err == 0; ++attempt) {
        if (::MoveFileExW(widePath(temp).c_str(), widePath(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) break;
        err = ::GetLastError();
        if ((err != ERROR_ACCESS_DENIED && err != ERROR_SHARING_VIOLATION) || attempt >= 20) break;
        err = 0;
        ::Sleep(50);
    }
    if (err != 0) {
        ::DeleteFileW(widePath(temp).c_str());
        return path + ": " + errorText(err);
    }
    return "";
}

std::string programFolder() {
    // Wide, then UTF-8 like every other path the engine holds: a folder with letters
    // outside the ANSI code page still names the right place.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return ".\\";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) return ".\\";
        path.resize(path.size() * 2);
    }
    const std::size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return ".\\";
    path.resize(cut + 1);
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), out.data(), n, nullptr, nullptr);
    return out.empty() ? std::string(".\\") : out;
}

}  // namespace win32

std::unique_ptr<FileStore> makeStdFileStore() { return std::make_unique<win32::WinFiles>(); }

LogFolders defaultLogFolders(const char*) {
    // The system names the program's folder; the folder the program was started in,
    // or what argv[0] says, do not count.
    LogFolders folders;
    folders.log = win32::programFolder();
    const char* local = std::getenv("LOCALAPPDATA");
    if (local && *local && isAbsolutePath(local)) folders.fallback = win32::nativePath(local) + "\\raid-gui";
    return folders;
}

}  // namespace raid
