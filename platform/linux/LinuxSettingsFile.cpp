#include "platform/linux/LinuxSettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileStore.h"
#include "platform/RegistryText.h"
#include "platform/linux/LinuxSafeFolder.h"

namespace raid {

namespace {


constexpr std::size_t kMaxSettingsFile = 1 << 20;

std::string lowerName(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

std::string errorText(int err) { return std::strerror(err); }

class SettingsFile final : public SettingsPort {
public:
    explicit SettingsFile(std::string path) : path_(std::move(path)) { load(); }

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

    std::string write(const std::string& name, const RegValue& value) override {
        auto next = values_;
        bool found = false;
        for (auto& e : next)
            if (lowerName(e.first) == lowerName(name)) {
                e.second = value;
                found = true;
            }
        if (!found) next.emplace_back(name, value);
        const std::string error = store(formatRegistryText(next));
        if (!error.empty()) return error;
        values_ = std::move(next);
        exists_ = true;
        return "";
    }

    std::vector<std::string> takeProblems() override {
        auto p = std::move(problems_);
        problems_.clear();
        return p;
    }

private:
    void load() {
        const BoundedRead r = makeStdFileStore()->readBounded(path_, kMaxSettingsFile);
        switch (r.status) {
            case ReadStatus::missing: return;
            case ReadStatus::unreadable: problems_.push_back(path_ + ": the settings cannot be read"); return;
            case ReadStatus::notRegular:
                problems_.push_back(path_ + ": not a regular file; the settings are not read from it");
                refused_ = true;
                return;
            case ReadStatus::tooLarge:
                problems_.push_back(path_ + ": larger than 1 MiB; the settings are not read from it");
                refused_ = true;
                return;
            case ReadStatus::ok: break;
        }
        RegistryText parsed = parseRegistryText(r.text);
        for (auto& p : parsed.problems) problems_.push_back(path_ + ": " + p);
        exists_ = parsed.hasKey;
        values_ = std::move(parsed.values);
    }

    // The new content beside the file, flushed, then renamed over it. Only into a
    // folder nobody else can write, and only through a new file of our own.
    std::string store(const std::string& text) {
        if (refused_) return path_ + ": not a regular file";
        // A folder made for the settings is the owner's alone: the file holds the
        // password record.
        const linuxport::OpenedFolder dir = linuxport::openWritableFolder(linuxport::folderOf(path_), 0700);
        if (!dir) return dir.problem;
        const std::string name = linuxport::nameOf(path_);
        if (name.empty() || name == "." || name == "..") return path_ + ": not a regular file";
        std::string temp;
        int fd = linuxport::createUnique(dir.fd.get(), name, ".tmp", 0600, temp);
        if (fd < 0) return errorText(errno);
        int err = 0;
        // The umask may have widened nothing, but make sure: the file is ours, made just now.
        if (::fchmod(fd, 0600) != 0) err = errno;
        std::size_t done = 0;
        while (err == 0 && done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                err = errno;
            } else {
                done += static_cast<std::size_t>(n);
            }
        }
        if (err == 0 && ::fsync(fd) != 0) err = errno;
        if (::close(fd) != 0 && err == 0) err = errno;
        if (err == 0) {
            struct stat st {};
            if (::fstatat(dir.fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
                ::unlinkat(dir.fd.get(), temp.c_str(), 0);
                return path_ + ": not a regular file";
            }
            if (::renameat(dir.fd.get(), temp.c_str(), dir.fd.get(), name.c_str()) != 0) err = errno;
        }
        if (err != 0) {
            ::unlinkat(dir.fd.get(), temp.c_str(), 0);
            return errorText(err);
        }
        // The rename itself reaches the disk with the folder.
        (void)::fsync(dir.fd.get());
        return "";
    }

    std::string path_;
    bool exists_ = false;
    bool refused_ = false;
    std::vector<std::pair<std::string, RegValue>> values_;
    std::vector<std::string> problems_;
};

}  // namespace

std::unique_ptr<SettingsPort> makeSettingsFile(const std::string& path) { return std::make_unique<SettingsFile>(path); }

std::string userSettingsPath(std::string_view xdgConfigHome, std::string_view home, std::string_view program) {
    std::string base;
    if (!xdgConfigHome.empty() && xdgConfigHome.front() == '/')
        base = std::string(xdgConfigHome);
    else if (!home.empty() && home.front() == '/')
        base = std::string(home) + "/.config";
    else
        return "";
    return base + "/" + std::string(program) + "/settings.reg";
}

}  // namespace raid
