// The day log: one text file per calendar day, named "yymmdd.log", kept in memory as
// the day lines and written out after every decoder pass that changed them.
//
// How the file is kept in step with the day lines:
//  * After every successful save the file holds exactly the day lines, each ended by
//    CR LF.
//  * Normally a save only appends the lines added since the last save. That is safe
//    because the log remembers how many lines and bytes it put into the file and checks
//    the file's size first; if the file is not what we left there (a torn append after a
//    full disk, someone editing it), the whole day is written to a temporary file and
//    renamed over the old one. Either way a failing save never destroys what the file
//    held before, and the normal cost of a save depends only on what is new.
//  * When the log folder cannot be written, the user is told once (through `notice`),
//    the lines stay in memory and go to the fallback folder instead; every later save
//    checks whether the log folder has become writable again and moves back.
//  * A fallback copy belongs to the log folder it stood in for: it lives in a subfolder
//    of the fallback folder named after that log folder, with a marker file
//    ("log-folder.txt") that names it in full. A run with another log folder never
//    reads it, and a subfolder whose marker names another folder is never used.
//  * At the start of a day both copies are read and merged (DayLogMerge.h): when one
//    is a prefix of the other that is one history, when two runs wrote separate
//    histories both are kept in time order. No line of either copy is dropped.
//  * Only regular files of at most kMaxReadBack bytes are read back. A FIFO, a device
//    or a bigger file where the day file belongs is left alone; the day goes on in a
//    file beside it ("yymmdd-1.log", then "-2" ...), and the user is told once.
//  * A log folder that is missing is made (with the folders above it) at the first
//    save, and again at later saves while it cannot be: a folder whose parent appears
//    only later (a disk mounted late) is made then, and the log moves back into it.
//  * A day that could not be written anywhere is kept and retried at every save, also
//    after midnight: no event line is dropped while the program runs. At its end
//    saveAtExit() tries both folders once more and answers what is still lost, for the
//    program to say on standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/FileStore.h"

namespace raid {

class EventLog {
public:
    using Notice = std::function<void(const std::string& text)>;

    // `folder`: where day files live (the program's folder). `fallbackFolder`: where
    // they go while `folder` cannot be written ("" = nowhere, keep them in memory).
    // `appTitle` starts the start-up header line. `notice` gets status-bar texts.
    EventLog(FileStore& store, std::string folder, std::string fallbackFolder, std::string appTitle,
             Notice notice = {});

    // Called first in every decoder pass with the pass time. Opens or rolls over the
    // day, writes the start-up header or the pending device-change lines, and answers
    // whether an information block is due.
    bool prepareForPass(double wallSeconds, bool firstPass);
    // True after a prepareForPass that wrote the start-up header or the pending lines:
    // the decoder then seeds its previous drive flags again.
    bool reseedDue() const { return reseed_; }
    // The pass time as event text ("c" format) and the day name ("yymmdd").
    const std::string& timestamp() const { return ts_; }
    const std::string& dayName() const { return current_.name; }

    void addLine(std::string line);
    // Writes what the day file is missing. True when every line is on disk (in the log
    // folder or the fallback folder).
    bool save();
    // Whether some lines exist only in memory (a save failed, or none has run yet).
    bool hasUnsavedLines() const;
    // How many lines exist only in memory, over every day held.
    std::size_t unsavedLines() const;
    // The last save of a run: the log folder is tried again at once (made when missing),
    // then the fallback folder. "" when every line is on disk, otherwise one line for
    // the user: how many lines are lost and why ("3 event lines could not be saved:
    // ...").
    std::string saveAtExit();

    const std::vector<std::string>& lines() const { return current_.lines; }

    // Device-change lines waiting for the next pass.
    void addPendingLine(std::string line) { pending_.push_back(std::move(line)); }
    const std::vector<std::string>& pendingLines() const { return pending_; }
    bool deviceListChanged() const { return deviceListChanged_; }
    void setDeviceListChanged() { deviceListChanged_ = true; }

    // Where the day file of the current day is written now.
    std::string currentPath() const;
    bool usingFallback() const { return inFallback_; }
    const std::string& folder() const { return folder_; }
    const std::string& fallbackFolder() const { return fallbackFolder_; }
    // The subfolder of the fallback folder that holds this log folder's copies ("" when
    // there is none, or before the first pass looked for it).
    std::string fallbackDayFolder() const { return fallbackDir_.value_or(std::string()); }

    // Day files bigger than this are not read back (a day's log is a few MB at most).
    static constexpr std::size_t kMaxReadBack = std::size_t{16} << 20;
    // The marker file in a fallback subfolder: the log folder's full path and a LF.
    static constexpr const char* kFolderMarker = "log-folder.txt";
    // The subfolder of `fallbackRoot` where the copies of `folder`'s day files go when
    // no other folder's marker is already there: the folder's last name and a hash of
    // its absolute path, e.g. ".../raid-gui/bin-1f0c3a9d5e7b2c41".
    static std::string fallbackSubfolder(const std::string& fallbackRoot, const std::string& folder);
    // `folder` as an absolute path in normal form, as the marker names it.
    static std::string absoluteFolder(const std::string& folder);

    static std::string ruleLine() { return std::string(83, '-'); }
    // Splits a day file: lines end with CR LF or LF; a last line without an end counts.
    static std::vector<std::string> splitLines(const std::string& text);

private:
    // What one folder's copy of a day holds, as far as we know.
    struct Sink {
        std::string file;       // this day's file name in the folder ("" = none usable)
        bool known = false;     // the file holds exactly `lines` lines we wrote / read, `bytes` long
        bool blocked = false;   // an existing file we could not read: never overwrite it
        std::size_t lines = 0;
        std::uint64_t bytes = 0;
    };
    struct Day {
        std::string name;
        std::vector<std::string> lines;
        Sink primary;
        Sink fallback;
        bool opened = false;    // file names chosen and copies read
    };

    bool persisted(const Day& day) const;
    void startDay(const std::string& name);
    void openDay(Day& day);
    std::optional<std::string> chooseFile(const std::string& folder, const Day& day, Sink& sink);
    bool dayFileExists(const Day& day);
    const std::optional<std::string>& fallbackDir();
    bool saveDay(Day& day);
    bool writeFallback(Day& day);
    bool writeTo(const std::string& folder, Day& day, Sink& sink);
    void enterFallback(const Day& day);
    void leaveFallback();
    void tell(const std::string& text);

    FileStore& store_;
    std::string folder_;
    std::string fallbackFolder_;
    std::string appTitle_;
    Notice notice_;

    Day current_;
    std::vector<Day> backlog_;  // earlier days not yet written anywhere
    std::vector<std::string> pending_;
    bool deviceListChanged_ = false;
    std::string ts_;
    bool reseed_ = false;

    // The fallback subfolder of this log folder, once looked for; nullopt inside when
    // there is none to use. `markerDue_`: the marker is still to be written there.
    bool fallbackLookedFor_ = false;
    std::optional<std::string> fallbackDir_;
    bool markerDue_ = false;
    std::set<std::string> skippedNoticed_;  // special or oversized files already reported

    bool inFallback_ = false;
    bool memoryOnlyNoticed_ = false;
    // Backs off retries of the log folder when it looks writable but writing fails
    // (a full disk): waits 1, 2, 4 ... 64 saves between attempts.
    int retrySkip_ = 0;
    int retryGap_ = 1;
};

}  // namespace raid
