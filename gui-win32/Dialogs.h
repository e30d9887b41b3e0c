// Message boxes and the open-file dialog for the engine, native.
//
// The engine asks on its own thread and must wait for the answer, the way a modal box
// holds up the code that raised it. The box is shown on the window's thread
// (MessageBoxW, owned by the main window); the engine thread sleeps until the user has
// answered. Boxes asked for while one is open wait their turn rather than piling up on
// top of each other. Once shutdown() has run every question is answered at once (Ok,
// no file), and a question whose turn never comes because the window's thread is
// closing is let go too, so an engine that asks during shutdown cannot hang the program.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "app/Dialogs.h"

namespace raid::win {

class UiThread;

class WinDialogs final : public DialogPort {
public:
    struct Shown {
        std::string text;
        std::string caption;  // as the user sees it ("Error" for an empty caption)
        int buttons = OkOnly;
    };
    // Answers in place of a shown box (tests). Called on the asking thread.
    using Hook = std::function<int(const std::string& text, const std::string& caption, int buttons)>;
    // Answers in place of the file dialog (tests): the chosen path, or "" to cancel.
    using FileHook = std::function<std::string(const std::string& filter)>;

    // Window's thread.
    explicit WinDialogs(UiThread& ui);
    ~WinDialogs() override;
    WinDialogs(const WinDialogs&) = delete;
    WinDialogs& operator=(const WinDialogs&) = delete;

    // The window boxes and the file dialog belong to (disabled while they are open).
    void setOwner(HWND owner);

    // DialogPort. Any thread; blocks until answered.
    int messageBox(const std::string& text, const std::string& caption, int buttons) override;
    bool chooseFile(const std::string& filter, std::string& path) override;

    // Any thread. From now on nothing is shown; waiting and later questions are
    // answered Ok (a box) or no file (the dialog) at once.
    void shutdown();

    void setTestHook(Hook hook);
    void setFileHook(FileHook hook);
    // Every box asked for so far (shown, answered by the hook, or refused at shutdown).
    std::vector<Shown> shown() const;

    // A "name|pattern|name|pattern" filter as GetOpenFileNameW takes it: each part
    // ended by a NUL and the list by a second one. An empty part would end the list
    // early, so it is filled in (a name without pattern matches everything).
    static std::wstring nativeFilter(const std::string& filter);
    // The caption a box shows for the engine's caption.
    static std::string shownCaption(const std::string& caption) { return caption.empty() ? "Error" : caption; }

    struct State;
    struct Request;

private:
    // Runs `request` on the window's thread and waits for it; false when it was not
    // answered (shut down, or the window's thread dropped it).
    bool ask(const std::shared_ptr<Request>& request);

    UiThread& ui_;
    std::shared_ptr<State> state_;
};

}  // namespace raid::win
