#include "platform/win32/WinDriveLocks.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/Fnv1a.h"
#include "platform/Platform.h"
#include "platform/win32/WinFileStore.h"
#include "platform/win32/WinPlatform.h"

namespace raid::win32 {

namespace {

constexpr std::size_t kMaxIdLength = 96;

std::string hashText(std::string_view s) {
    // FNV's own offset basis here: these names were always made with it.
    const std::uint64_t h = fnv1a(s, 14695981039346656037ull);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

// Whether this process runs with the Administrators group in its token (elevated).
bool elevated() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                    &admins))
        return false;
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, admins, &member)) member = FALSE;
    ::FreeSid(admins);
    return member != FALSE;
}

// Whether the lock object was made by someone allowed to keep this program off a
// drive: the system, the administrators, or this process's own user. Anybody may make
// an object under a Global name first and hold it for ever.
bool trustedOwner(HANDLE object, const std::string& me) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &sd) != ERROR_SUCCESS)
        return false;
    bool trusted = false;
    char* text = nullptr;
    if (owner && ::ConvertSidToStringSidA(owner, &text)) {
        trusted = me == text || ::IsWellKnownSid(owner, WinLocalSystemSid) ||
                  ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
        ::LocalFree(text);
    }
    ::LocalFree(sd);
    return trusted;
}

// The rules a lock this program makes gets: this user as its owner (so that other
// programs can tell it from a squatter's; Wine gives an object none by itself), full
// access for this user, the system and the administrators, none for anyone else.
class LockAccess {
public:
    explicit LockAccess(const std::string& me) {
        if (me.empty()) return;
        const std::string text = "O:" + me + "D:(A;;GA;;;" + me + ")(A;;GA;;;SY)(A;;GA;;;BA)";
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &sd_, nullptr))
            sd_ = nullptr;
        attributes_ = {sizeof attributes_, sd_, FALSE};
    }
    ~LockAccess() {
        if (sd_) ::LocalFree(sd_);
    }
    LockAccess(const LockAccess&) = delete;
    LockAccess& operator=(const LockAccess&) = delete;
    SECURITY_ATTRIBUTES* get() { return sd_ ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR sd_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

class MutexDriveLocks final : public DriveLockPort {
public:
    MutexDriveLocks(std::string scope, std::function<std::optional<std::string>(int)> idOf)
        : scope_(std::move(scope)),
          idOf_(std::move(idOf)),
          elevated_(elevated()),
          me_(currentUserSid()),
          access_(me_),
          owner_([this] { run(); }) {}

    ~MutexDriveLocks() override {
        {
            std::lock_guard<std::mutex> g(mu_);
            stopping_ = true;
        }
        wake_.notify_all();
        owner_.join();
    }
    MutexDriveLocks(const MutexDriveLocks&) = delete;
    MutexDriveLocks& operator=(const MutexDriveLocks&) = delete;

    DriveLockResult take(int drive) override {
        const std::optional<std::string> id = idOf_ ? idOf_(drive) : std::nullopt;
        if (!id) return {DriveLockState::Unavailable, "no drive " + std::to_string(drive), {}};
        const std::string name = driveLockName(scope_, *id);
        return ask([this, drive, name] { return takeOnOwner(drive, name); });
    }

    void release(int drive) override {
        ask([this, drive] {
            releaseOnOwner(drive);
            return DriveLockResult{};
        });
    }

    void releaseAll() override {
        ask([this] {
            while (!held_.empty()) releaseOnOwner(held_.begin()->first);
            return DriveLockResult{};
        });
    }

    bool held(int drive) const override {
        std::lock_guard<std::mutex> g(mu_);
        return heldDrives_.count(drive) != 0;
    }

private:
    using Job = std::packaged_task<DriveLockResult()>;

    DriveLockResult ask(std::function<DriveLockResult()> work) {
        Job job(std::move(work));
        std::future<DriveLockResult> answer = job.get_future();
        {
            std::lock_guard<std::mutex> g(mu_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_all();
        return answer.get();
    }

    // The owner thread: every mutex is waited for and released here.
    void run() {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> g(mu_);
                wake_.wait(g, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) break;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
        while (!held_.empty()) releaseOnOwner(held_.begin()->first);
    }

    DriveLockResult takeOnOwner(int drive, const std::string& name) {
        const auto was = held_.find(drive);
        if (was != held_.end()) {
            if (was->second.name == name) return {DriveLockState::Taken, {}, {}};
            // Another disk under the same number now: the old one's lock goes.
            releaseOnOwner(drive);
        }
        HANDLE m = ::CreateMutexA(access_.get(), FALSE, name.c_str());
        if (!m) {
            const DWORD e = ::GetLastError();
            if (e == ERROR_ACCESS_DENIED)
                return {DriveLockState::Refused,
                        "the drive's lock belongs to a program of another user, which may be using the drive",
                        {}};
            return {DriveLockState::Unavailable, "the drive's lock cannot be made: " + errorText(e), {}};
        }
        if (::GetLastError() == ERROR_ALREADY_EXISTS && !trustedOwner(m, me_)) {
            ::CloseHandle(m);
            // An administrator's program goes on without the lock rather than let any
            // user keep it off the drive; any other program sends the drive nothing.
            const char* why = "the drive's lock was made by a program of another user, not an administrator";
            if (elevated_) return {DriveLockState::Unavailable, std::string(why) + "; going on without it", {}};
            return {DriveLockState::Refused, why, {}};
        }
        const DWORD w = ::WaitForSingleObject(m, 0);
        if (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED) {
            held_[drive] = {name, m};
            std::lock_guard<std::mutex> g(mu_);
            heldDrives_.insert(drive);
            return {DriveLockState::Taken, {}, {}};
        }
        ::CloseHandle(m);
        if (w == WAIT_TIMEOUT) return {DriveLockState::Busy, {}, {}};
        return {DriveLockState::Unavailable, "the drive's lock cannot be taken: " + errorText(::GetLastError()), {}};
    }

    void releaseOnOwner(int drive) {
        const auto it = held_.find(drive);
        if (it == held_.end()) return;
        ::ReleaseMutex(it->second.mutex);
        ::CloseHandle(it->second.mutex);
        held_.erase(it);
        std::lock_guard<std::mutex> g(mu_);
        heldDrives_.erase(drive);
    }

    struct Held {
        std::string name;
        HANDLE mutex = nullptr;
    };

    const std::string scope_;
    const std::function<std::optional<std::string>(int)> idOf_;
    const bool elevated_;
    const std::string me_;
    LockAccess access_;
    std::map<int, Held> held_;  // the owner thread's alone
    mutable std::mutex mu_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::set<int> heldDrives_;
    bool stopping_ = false;
    std::thread owner_;  // last: it starts once everything above is there
};

}  // namespace

std::string driveLockName(std::string_view scope, std::string_view id) {
    std::string clean;
    for (const char c : id) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '_' || c == '-';
        clean.push_back(ok ? c : '_');
    }
    if (clean.size() > kMaxIdLength) clean = clean.substr(0, kMaxIdLength - 17) + "-" + hashText(id);
    std::string name = "Global\\raid-gui-drive-";
    if (!scope.empty()) name += hashText(scope) + "-";
    return name + clean;
}

std::unique_ptr<DriveLockPort> makeMutexDriveLocks(std::string scope,
                                                   std::function<std::optional<std::string>(int)> idOf) {
    return std::make_unique<MutexDriveLocks>(std::move(scope), std::move(idOf));
}

std::unique_ptr<DriveLockPort> makeDriveLocks() {
    // PhysicalDriveN names one disk for as long as it is attached, in every session.
    return makeMutexDriveLocks({}, [](int n) -> std::optional<std::string> {
        if (n < 0) return std::nullopt;
        return "PhysicalDrive" + std::to_string(n);
    });
}

}  // namespace raid::win32

namespace raid {

std::unique_ptr<DriveLockPort> makeNamedDriveLocks(std::string folder,
                                                   std::function<std::optional<std::string>(int)> idOf) {
    // No folder on Windows: it only keeps apart the locks of separate sets of drives.
    return win32::makeMutexDriveLocks(std::move(folder), std::move(idOf));
}

}  // namespace raid
