// System-wide lock per physical drive: two programs (the window in two desktop
// sessions, the window and the unattended monitor) must never interleave commands
// to one enclosure, or their mailbox commands corrupt each other.
//
// A program takes the drive's lock before it sends the drive any command and keeps
// it while the drive's enclosure is in its device list. Every method may be called
// from any thread.
#pragma once

#include <string>

namespace raid {

enum class DriveLockState {
    Taken,        // ours (now or from before)
    Busy,         // another program holds it: send the drive nothing
    Refused,      // this program could not take it (see reason): send the drive nothing
    Unavailable,  // no lock can be had at all (see reason): go on without it
};

struct DriveLockResult {
    DriveLockState state = DriveLockState::Unavailable;
    std::string reason;  // Refused, Unavailable: why, for the user
    std::string note;    // Taken: something the user is told once (a lock file that was replaced)
};

class DriveLockPort {
public:
    virtual ~DriveLockPort() = default;
    // Takes physical drive `drive`'s lock; a lock already held is Taken again.
    virtual DriveLockResult take(int drive) = 0;
    // Lets go of one drive's lock (nothing when not held).
    virtual void release(int drive) = 0;
    virtual void releaseAll() = 0;
    virtual bool held(int drive) const = 0;
};

}  // namespace raid
