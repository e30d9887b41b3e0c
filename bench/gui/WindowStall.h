// The window thread's longest stall: the gap between two turns of a short timer
// beyond its interval, while the engine works beside it.
#pragma once

#include <QEventLoop>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace raid::bench {

// Runs the window's event loop for up to `ms` (or until `done`), tracking the longest
// gap between two turns of a `tickMs` timer beyond its interval.
inline double runMeasuring(int ms, int tickMs, const std::function<bool()>& done = {}) {
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    double worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, static_cast<double>(now - last) / 1e6 - tickMs);
        last = now;
        if (done && done()) loop.quit();
    });
    tick.start(tickMs);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return worst;
}

}  // namespace raid::bench
