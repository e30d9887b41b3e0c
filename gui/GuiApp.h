// The window around an engine host: TForm1, the control bridge, the message boxes and
// the session end, wired together.
#pragma once

#include <functional>
#include <memory>

#include <QPointer>
#include <QWidget>

#include <vector>

#include "app/EngineHost.h"

namespace raid::gui {

class ControlBridge;
class DesktopNotifier;
class GuiDialogs;
class HistoryWindow;
class ServiceClient;
class ServiceLink;
class SessionEnd;
class TForm1;
class TForm5;

// Everything runWindow does except owning the QApplication and its loop, so tests
// can run a real window inside their own application object.
class GuiSession {
public:
    // Registers the bridge and the quit callback on `host`; the engine must not have
    // started yet. A QApplication must exist.
    explicit GuiSession(EngineHost& host);
    // Releases any engine thread waiting for a box, then stops the engine.
    ~GuiSession();
    GuiSession(const GuiSession&) = delete;
    GuiSession& operator=(const GuiSession&) = delete;

    // Shows the window and starts the engine.
    void start();
    // A client window: follows the service on the bus at `address` (empty: the system
    // bus) and hands what it sees to the engine. After start().
    void attachService(ServiceLink& link, const QString& address);
    ServiceClient* serviceClient() const { return service_.get(); }

    TForm1& window() { return *window_; }
    GuiDialogs& dialogs() { return *dialogs_; }
    SessionEnd& sessionEnd() { return *sessionEnd_; }
    EngineHost& host() { return host_; }
    // Shows each alert on the desktop (session bus unless told another).
    DesktopNotifier& notifier() { return *notifier_; }
    // The event log window while it is open (nullptr otherwise).
    TForm5* logWindow() const;
    // The history chart window while it is open (nullptr otherwise).
    HistoryWindow* historyWindow() const;

    // What ends the program once the engine has granted it (window's thread). The
    // default quits the application; the window has already been allowed to close.
    void setQuitHandler(std::function<void()> handler) { quitHandler_ = std::move(handler); }

private:
    void quitRequested();
    // The engine asks for the event log window (Image0_Log).
    void showLogWindow();
    // The engine opens the history chart window / sends the chart it shows.
    void showHistoryWindow();
    void showHistoryChart(const HistoryChart& chart);

    EngineHost& host_;
    std::unique_ptr<GuiDialogs> dialogs_;
    std::unique_ptr<TForm1> window_;
    std::unique_ptr<SessionEnd> sessionEnd_;
    std::shared_ptr<ControlBridge> bridge_;
    std::unique_ptr<DesktopNotifier> notifier_;
    std::unique_ptr<ServiceClient> service_;
    std::function<void()> quitHandler_;
    QPointer<TForm5> logWindow_;
    QPointer<HistoryWindow> historyWindow_;
    std::vector<std::unique_ptr<QWidget>> shells_;
};

// Where a client window finds its enclosures (runWindow without it: the engine's own).
struct ServiceOptions {
    ServiceLink* link = nullptr;
    QString busAddress;  // empty: the system bus
};

// The program with a window: creates the application, the window and its helpers,
// starts the engine, runs the event loop until the engine ends the program, stops the
// engine. Returns the process exit code (0).
int runWindow(int& argc, char** argv, EngineHost& host, const ServiceOptions& service = {});

}  // namespace raid::gui
