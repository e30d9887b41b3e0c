// TForm5, the event log window, native: the day's log live, or an older log file.
//
// The lines belong to the engine; every second the window asks for the ones it does
// not have yet (EngineCommands::logSnapshot) and appends them. A chosen log file is
// read by the engine too (EngineCommands::readLogFile): regular files only, without
// blocking, at most 16 MiB, so a pipe or a device picked in the dialog cannot freeze
// the window; a box says why it is not shown. Answers come back through UiThread.
//
// Lines are appended a bounded chunk at a time from a low-priority timer, so that a
// day of 100 000 lines or a 16 MiB file never holds the window's thread for long: input
// and painting go on between chunks.
//
// The window is modal to its owner (the owner is disabled while it is open), closes on
// Escape, is resizable with the text filling it, and is laid out for its monitor's DPI.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "gui-win32/EngineActions.h"

namespace raid::win {

class UiThread;
class WinDialogs;

class LogWindow {
public:
    static constexpr const char* kLiveCaption = "Event log - Real Time";
    static constexpr const char* kPausedCaption = "Event log - Real Time( Paused )";
    // The open-file dialog's filter.
    static constexpr const char* kFileFilter = "Log File (*.log)|*.log|All File|*.*";

    // Window's thread. Opens the window (shown, owner disabled) on the live day log.
    LogWindow(HWND owner, ActionPoster post, WinDialogs& dialogs, UiThread& ui);
    // Closes the window if it is still open (without calling onClosed).
    ~LogWindow();
    LogWindow(const LogWindow&) = delete;
    LogWindow& operator=(const LogWindow&) = delete;

    // nullptr once closed.
    HWND hwnd() const { return hwnd_; }

    // Asks the engine for a log file (what "View Log File" does after the file dialog)
    // and returns at once. When its lines arrive they replace the text and the caption
    // names the file; a file that cannot be shown leaves both as they were and a box
    // says why.
    void viewFile(const std::string& path);
    // Back to the live day log ("Real Time Log").
    void realTime();

    // Called on the window's thread once the window has closed (the user closed it);
    // the owner may delete this object from it. The engine is told by the window itself.
    std::function<void()> onClosed;

    struct Life;

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK keys(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);

    void create();
    void applyDpi(UINT dpi);
    void layout();
    void requestLines(bool restart);
    void applySnapshot(std::vector<std::string> lines, std::size_t total, bool restart, bool live, int generation);
    void applyFile(bool ok, std::vector<std::string> lines, const std::string& problem, const std::string& path,
                   int generation);
    void setLive(bool live);
    void setCaption(const std::string& caption);
    void clearText();
    void queueLines(std::vector<std::string> lines);
    void appendChunk();
    void chooseFile();
    void closed();

    HWND owner_;
    ActionPoster post_;
    WinDialogs& dialogs_;
    UiThread& ui_;
    std::shared_ptr<Life> life_;

    HWND hwnd_ = nullptr;
    HWND text_ = nullptr;
    HWND realTime_ = nullptr;
    HWND viewFile_ = nullptr;
    HFONT mono_ = nullptr;
    HFONT font_ = nullptr;
    double scale_ = 1.0;
    bool disabledOwner_ = false;
    bool destroying_ = false;

    bool live_ = true;
    std::size_t have_ = 0;      // day lines received so far
    int generation_ = 0;        // bumped by every switch between live log and file
    bool asking_ = false;       // a snapshot request is on its way
    bool textEmpty_ = true;     // the next appended line needs no line break before it
    std::deque<std::string> pending_;  // lines received, not yet in the text
};

}  // namespace raid::win
