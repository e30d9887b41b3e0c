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
//    checks whether the log folder has become writable again and moves back. Each
//    folder's file is always a complete prefix of the day, so on start-up the longer of
//    the two is the one to continue from.
//  * A day that could not be written anywhere is kept and retried at every save, also
//    after midnight: no event line is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

    static std::string ruleLine() { return std::string(83, '-'); }
    // Splits a day file: lines end with CR LF or LF; a last line without an end counts.
    static std::vector<std::string> splitLines(const std::string& text);

private:
    // What one folder's copy of a day holds, as far as we know.
    struct Sink {
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
    };

    std::string pathIn(const std::string& folder, const Day& day) const;
    bool persisted(const Day& day) const;
    void startDay(const std::string& name);
    void loadDay();
    bool saveDay(Day& day);
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

    bool inFallback_ = false;
    bool memoryOnlyNoticed_ = false;
    // Backs off retries of the log folder when it looks writable but writing fails
    // (a full disk): waits 1, 2, 4 ... 64 saves between attempts.
    int retrySkip_ = 0;
    int retryGap_ = 1;
};

}  // namespace raid
