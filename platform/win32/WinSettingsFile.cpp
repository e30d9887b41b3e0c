#include "platform/win32/WinSettingsFile.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/FileStore.h"
#include "platform/RegistryText.h"
#include "platform/win32/WinFileStore.h"
#include "platform/win32/WinPlatform.h"

namespace raid::win32 {

namespace {

constexpr std::size_t kMaxSettingsFile = 1 << 20;

std::string lowerName(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class SettingsFile final : public SettingsPort {
public:
    explicit SettingsFile(std::string path) : path_(nativePath(path)) { load(); }

    bool keyExists() override { return exists_; }

    std::vector<std::string> valueNames() override {
        std::vector<std::string> n;
        for (const auto& e : values_) n.push_back(e.first);
        return n;
    }

    std::optional<RegValue> read(const std::string& name) override {
        for (const auto& e : values_)
            if (lowerName(e.first) == lowerName(name)) return e.second;
        return std::nullopt;
    }

    std::string update(const std::vector<SettingsUpdate>& updates) override {
        // One save at a time across programs, from reading to moving into place.
        const MachineLock lock("settings file " + lowerName(path_));
        // The file as it is now: another program may have saved since it was read.
        const BoundedRead r = makeStdFileStore()->readBounded(path_, kMaxSettingsFile);
        if (r.status != ReadStatus::ok && r.status != ReadStatus::missing)
            return path_ + ": " + unreadable(r.status) + "; it is not written over, and nothing was saved";
        const std::string& text = r.text;
        const RegistryText now = parseRegistryText(text);
        const auto current = [&now](const std::string& name) -> std::optional<RegValue> {
            for (const auto& e : now.values)
                if (lowerName(e.first) == lowerName(name)) return e.second;
            return std::nullopt;
        };
        std::vector<std::pair<std::string, RegValue>> changes;
        for (const SettingsUpdate& u : updates) {
            const std::optional<RegValue> was = current(u.name);
            std::optional<RegValue> v = u.value(was);
            if (v && !(was && *was == *v)) changes.emplace_back(u.name, std::move(*v));
        }
        if (changes.empty()) {
            adopt(now, r.status == ReadStatus::ok);
            return "";
        }
        const std::string next = editRegistryText(text, changes);
        // What is written must read back: never a file the next start refuses.
        if (next.size() > kMaxSettingsFile)
            return path_ + ": the settings would grow larger than 1 MiB; nothing was saved";
        const RegistryText saved = parseRegistryText(next);
        for (const auto& [name, v] : changes) {
            bool back = false;
            for (const auto& e : saved.values) back = back || (lowerName(e.first) == lowerName(name) && e.second == v);
            if (!back) return path_ + ": \"" + name + "\" would not read back from the file; nothing was saved";
        }
        const std::size_t cut = path_.find_last_of('\\');
        if (cut != std::string::npos && cut > 0 && !makeFolders(path_.substr(0, cut)))
            return path_ + ": its folder cannot be made; nothing was saved";
        const std::string error = replaceFile(path_, next, true);
        if (!error.empty()) return error;
        adopt(saved, true);
        return "";
    }

    std::vector<std::string> reread() override {
        const BoundedRead r = makeStdFileStore()->readBounded(path_, kMaxSettingsFile);
        if (r.status == ReadStatus::missing) return {path_ + ": there is no settings file"};
        if (r.status != ReadStatus::ok) return {path_ + ": " + unreadable(r.status)};
        const RegistryText parsed = parseRegistryText(r.text);
        std::vector<std::string> problems;
        for (const auto& p : parsed.problems) problems.push_back(path_ + ": " + p);
        if (!parsed.hasKey) problems.push_back(path_ + ": it holds no settings");
        if (problems.empty()) adopt(parsed, true);
        return problems;
    }

    std::vector<std::string> takeProblems() override {
        auto p = std::move(problems_);
        problems_.clear();
        return p;
    }

private:
    static std::string unreadable(ReadStatus status) {
        switch (status) {
            case ReadStatus::notRegular: return "not a regular file";
            case ReadStatus::tooLarge: return "larger than 1 MiB";
            default: return "cannot be read";
        }
    }

    void load() {
        const BoundedRead r = makeStdFileStore()->readBounded(path_, kMaxSettingsFile);
        switch (r.status) {
            case ReadStatus::missing: return;
            case ReadStatus::unreadable: report(path_ + ": the settings cannot be read"); return;
            case ReadStatus::notRegular:
                report(path_ + ": not a regular file; the settings are not read from it");
                return;
            case ReadStatus::tooLarge: report(path_ + ": larger than 1 MiB; the settings are not read from it"); return;
            case ReadStatus::ok: break;
        }
        adopt(parseRegistryText(r.text), true, true);
    }

    // The store's values from now on. What a save finds wrong in the file it keeps as it
    // stands; the start-up has told it (a line's number may move with a save).
    void adopt(const RegistryText& parsed, bool exists, bool tell = false) {
        if (tell)
            for (const auto& p : parsed.problems) report(path_ + ": " + p);
        exists_ = exists && parsed.hasKey;
        values_ = parsed.values;
    }

    void report(const std::string& problem) {
        if (std::find(reported_.begin(), reported_.end(), problem) != reported_.end()) return;
        reported_.push_back(problem);
        problems_.push_back(problem);
    }

    std::string path_;
    bool exists_ = false;
    std::vector<std::string> reported_;  // every problem reported, so each is told once
    std::vector<std::pair<std::string, RegValue>> values_;
    std::vector<std::string> problems_;
};

// FNV-1a: a kernel object's name has no room for a whole path, nor any '\'.
std::string objectName(const std::string& what) {
    std::uint64_t h = 14695981039346656037ull;
    for (const unsigned char c : what) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return std::string("Global\\raid-gui-lock-") + hex;
}

}  // namespace

MachineLock::MachineLock(const std::string& what) {
    HANDLE m = ::CreateMutexA(nullptr, FALSE, objectName(what).c_str());
    if (!m) return;
    mutex_ = m;
    const DWORD w = ::WaitForSingleObject(m, 5000);
    // An owner that died mid-save left the file whole (the move is atomic): take it.
    owned_ = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
}

MachineLock::~MachineLock() {
    if (owned_) ::ReleaseMutex(static_cast<HANDLE>(mutex_));
    if (mutex_) ::CloseHandle(static_cast<HANDLE>(mutex_));
}

std::unique_ptr<SettingsPort> makeSettingsFile(const std::string& path) { return std::make_unique<SettingsFile>(path); }

}  // namespace raid::win32
