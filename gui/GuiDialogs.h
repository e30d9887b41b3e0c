// Message boxes for the engine.
//
// The engine asks on its own thread and must wait for the answer, the way a modal
// box holds up the code that raised it. The box itself is shown on the window's
// thread; the engine thread sleeps until the user has answered. Once the window is
// gone (shutdown()) every question is answered with Ok at once, so an engine that
// raises a box during shutdown can never hang the program.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/Dialogs.h"

namespace raid::gui {

class GuiDialogs final : public QObject, public DialogPort {
    Q_OBJECT
public:
    struct Shown {
        std::string text;
        std::string caption;  // as the user sees it ("Error" for an empty caption)
        int buttons = OkOnly;
    };
    // Answers in place of a shown box (tests). Called on the asking thread.
    using Hook = std::function<int(const std::string& text, const std::string& caption, int buttons)>;

    explicit GuiDialogs(QObject* parent = nullptr);
    ~GuiDialogs() override;

    // The window the boxes belong to (centred on it, modal to it).
    void setWindow(QWidget* window) { window_ = window; }
    void setTestHook(Hook hook);
    // Every box asked for so far (shown, answered by the hook, or refused at shutdown).
    std::vector<Shown> shown() const;

    // From now on no box is shown; waiting and later questions are answered Ok.
    void shutdown();

    // DialogPort. Any thread; blocks until answered.
    int messageBox(const std::string& text, const std::string& caption, int buttons) override;

    // DialogPort: the open-file dialog, on the window's thread; any thread may ask.
    bool chooseFile(const std::string& filter, std::string& path) override;
    // Answers in place of the file dialog (tests): the chosen path, or "" to cancel.
    using FileHook = std::function<std::string(const std::string& filter)>;
    void setFileHook(FileHook hook);
    // A "name|pattern|name|pattern" filter as Qt writes it: "name;;name".
    static QString qtFilter(const std::string& filter);

    // The caption a box shows for the engine's caption.
    static std::string shownCaption(const std::string& caption) { return caption.empty() ? "Error" : caption; }

private:
    struct Request {
        std::string text, caption;
        int buttons = OkOnly;
        bool done = false;
        int answer = Ok;
        bool file = false;     // the open-file dialog instead of a box
        std::string chosen;    // its answer ("" = cancelled)
    };
    // Runs `request` on the window's thread and waits for it (false: the window is gone).
    bool ask(const std::shared_ptr<Request>& request);
    // Window thread: shows the box and hands the answer back.
    void show(const std::shared_ptr<Request>& request);
    static int exec(QWidget* parent, const std::string& text, const std::string& caption, int buttons);

    mutable std::mutex mu_;
    std::condition_variable answered_;
    bool closed_ = false;
    Hook hook_;
    FileHook fileHook_;
    std::vector<Shown> shown_;
    QPointer<QWidget> window_;
};

}  // namespace raid::gui
