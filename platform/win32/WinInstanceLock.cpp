#include "platform/win32/WinInstanceLock.h"

#include <windows.h>

#include "platform/win32/WinPlatform.h"

namespace raid::win32 {

namespace {

class MutexInstanceLock final : public InstanceLock {
public:
    ~MutexInstanceLock() override { release(); }

    bool acquire(const std::string& name) override {
        if (mutex_) return true;
        // A '\' would pick another namespace ("Global\..."): the name stays one word
        // of this session's.
        std::string object = name.empty() ? std::string("instance") : name;
        for (char& c : object)
            if (c == '\\') c = '_';
        HANDLE m = ::CreateMutexA(nullptr, TRUE, object.c_str());
        if (!m) return false;  // a same-named object of another kind, or no rights to it
        if (::GetLastError() == ERROR_ALREADY_EXISTS) {
            ::CloseHandle(m);
            return false;
        }
        mutex_ = m;
        return true;
    }

    void release() override {
        if (!mutex_) return;
        // Owned by the thread that made it; from any other thread closing is enough:
        // the object goes with its last handle.
        ::ReleaseMutex(mutex_);
        ::CloseHandle(mutex_);
        mutex_ = nullptr;
    }

private:
    HANDLE mutex_ = nullptr;
};

}  // namespace

std::unique_ptr<InstanceLock> makeInstanceLock() { return std::make_unique<MutexInstanceLock>(); }

}  // namespace raid::win32
