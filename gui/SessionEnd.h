// The desktop session is ending: SIGTERM, SIGHUP, SIGINT (Ctrl-C in the terminal the
// program was started from), or the session manager's quit request. Each asks the engine (QueryEndSession) whether the program may end.
//
// Waiting for that answer is the one place the window waits on the engine. It waits
// in a nested event loop, so the window keeps painting and a box the engine raises
// meanwhile ("Firmware is upgrading, please wait a moment.") can be shown and answered.
#pragma once

#include <QObject>

#include <functional>

#include "gui/EngineActions.h"

class QSessionManager;
class QSocketNotifier;

namespace raid::gui {

class SessionEnd final : public QObject {
    Q_OBJECT
public:
    // `engineRunning` false: there is no engine to ask, the session may end.
    SessionEnd(ActionPoster post, std::function<bool()> engineRunning, QObject* parent = nullptr);
    ~SessionEnd() override;

    // Runs QueryEndSession on the engine thread and waits for its answer. When the
    // answer is yes the engine has already asked the program to quit. A request that
    // arrives while one is being answered is the same session end: it returns false
    // and leaves the first one to finish.
    bool query();
    bool asking() const { return asking_; }

    // SIGTERM / SIGHUP / SIGINT reach query(). Only one SessionEnd in a process can hold the
    // signals; false when another one does (or the platform has no such signals).
    bool signalsInstalled() const { return signalsInstalled_; }

private:
    void installSignals();
    void removeSignals();
    void onSignalReadable();
    void onCommitData(QSessionManager& manager);

    ActionPoster post_;
    std::function<bool()> engineRunning_;
    bool asking_ = false;
    bool signalsInstalled_ = false;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace raid::gui
