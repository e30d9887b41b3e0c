#include "gui/SessionEnd.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSessionManager>
#include <QSocketNotifier>

#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace raid::gui {

#ifdef Q_OS_UNIX
namespace {

// The self-pipe: a signal handler may do almost nothing, so it only writes one byte;
// the window's thread reads it through a socket notifier and does the real work.
int g_pipe[2] = {-1, -1};
bool g_pipeTaken = false;
struct sigaction g_oldTerm, g_oldHup, g_oldInt;

extern "C" void onSessionSignal(int) {
    const int saved = errno;
    const char byte = 1;
    if (g_pipe[1] >= 0) {
        [[maybe_unused]] const auto n = ::write(g_pipe[1], &byte, 1);
    }
    errno = saved;
}

bool makePipe() {
    if (::pipe(g_pipe) != 0) return false;
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    return true;
}

}  // namespace
#endif

SessionEnd::SessionEnd(ActionPoster post, std::function<bool()> engineRunning, QObject* parent)
    : QObject(parent), post_(std::move(post)), engineRunning_(std::move(engineRunning)) {
    installSignals();
#ifndef QT_NO_SESSIONMANAGER
    if (qGuiApp)
        connect(qGuiApp, &QGuiApplication::commitDataRequest, this, &SessionEnd::onCommitData, Qt::DirectConnection);
#endif
}

SessionEnd::~SessionEnd() { removeSignals(); }

bool SessionEnd::query() {
    if (asking_) return false;
    if (!engineRunning_ || !engineRunning_() || !post_) return true;
    asking_ = true;

    struct State {
        bool done = false;
        bool answer = true;
        QEventLoop* loop = nullptr;
    };
    auto state = std::make_shared<State>();
    QEventLoop loop;
    state->loop = &loop;
    QPointer<SessionEnd> self(this);
    SessionEnd* context = this;
    post_([state, context](EngineCommands& f) {
        const bool mayEnd = f.QueryEndSession();
        // Back to the window's thread; `state` is only ever touched there.
        QMetaObject::invokeMethod(
            context,
            [state, mayEnd] {
                state->answer = mayEnd;
                state->done = true;
                if (state->loop) state->loop->quit();
            },
            Qt::QueuedConnection);
    });
    if (!state->done) loop.exec();
    state->loop = nullptr;
    if (self) asking_ = false;
    // Leaving without an answer means the application is quitting: the engine said
    // yes and asked for the quit before its answer could arrive.
    return state->done ? state->answer : true;
}

void SessionEnd::onCommitData(QSessionManager& manager) {
#ifndef QT_NO_SESSIONMANAGER
    // The engine may want to show a box (maintenance running): ask for permission to
    // interact first, as the session protocol requires.
    manager.allowsInteraction();
    if (!query()) manager.cancel();
    manager.release();
#else
    Q_UNUSED(manager);
#endif
}

void SessionEnd::installSignals() {
#ifdef Q_OS_UNIX
    if (g_pipeTaken || !makePipe()) return;
    g_pipeTaken = true;
    struct sigaction sa {};
    sa.sa_handler = onSessionSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, &g_oldTerm);
    ::sigaction(SIGHUP, &sa, &g_oldHup);
    // Ctrl-C in the terminal the window was started from: the same request to end,
    // refused while the flash is written, never an end in the middle of it. A program
    // started in the background by a shell without job control has SIGINT ignored,
    // so that Ctrl-C meant for the shell's foreground leaves it alone: that stays so.
    ::sigaction(SIGINT, &sa, &g_oldInt);
    if (g_oldInt.sa_handler == SIG_IGN) ::sigaction(SIGINT, &g_oldInt, nullptr);
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SessionEnd::onSignalReadable);
    signalsInstalled_ = true;
#endif
}

void SessionEnd::removeSignals() {
#ifdef Q_OS_UNIX
    if (!signalsInstalled_) return;
    ::sigaction(SIGTERM, &g_oldTerm, nullptr);
    ::sigaction(SIGHUP, &g_oldHup, nullptr);
    ::sigaction(SIGINT, &g_oldInt, nullptr);
    delete notifier_;
    notifier_ = nullptr;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
    g_pipeTaken = false;
    signalsInstalled_ = false;
#endif
}

void SessionEnd::onSignalReadable() {
#ifdef Q_OS_UNIX
    // Several signals may have come in; they are one session end.
    char buffer[64];
    while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
    }
    query();
#endif
}

}  // namespace raid::gui
