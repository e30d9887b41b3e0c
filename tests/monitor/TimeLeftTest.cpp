// The time-left estimate on rebuilds simulated the way the engine sees them: a reading
// every 4 s (with jitter), whole percents only, through stalls, restarts, a rate change,
// readings that are not percents and a clock that jumps.
#include <gtest/gtest.h>

#include <limits>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "monitor/TimeLeft.h"

namespace raid {
namespace {

constexpr double kPoll = 4.0;

// Drives an estimator with polls of a true progress curve (seconds -> percent) and
// checks each estimate against the true time left.
struct Polls {
    TimeLeft est;
    std::mt19937 rng{24};
    double t = 1000.0;  // seconds on the caller's clock
    double prevShown = -1;
    double prevT = 0;
    int worstJump = 0;  // the largest growth of the time left, in percent steps

    std::optional<FinishedWork> poll(int percent, WorkKind kind = WorkKind::Rebuild, int bay = 1) {
        std::uniform_real_distribution<double> jitter(-2.0, 2.0);
        t += kPoll + jitter(rng);
        auto f = est.feed(static_cast<std::int64_t>(t * 1e6), percent, kind, bay);
        const TimeLeftEstimate e = est.estimate();
        if (e.known && prevShown >= 0) {
            const double step = 3600.0 / e.percentPerHour;
            const double grow = e.secondsLeft - (prevShown - (t - prevT));
            worstJump = std::max(worstJump, static_cast<int>(std::ceil(grow / step - 1e-3)));
        }
        prevShown = e.known ? e.secondsLeft : -1;
        prevT = t;
        return f;
    }
};

bool near(double estimate, double truth) {
    // 10 % of the truth; in the last minutes one poll's worth of slack as well.
    return std::fabs(estimate - truth) <= std::max(0.10 * truth, 10.0);
}

TEST(TimeLeftTest, RebuildsAtSteadyDoubledStalledAndRestartedRates) {
    // Steady: 6 h for the whole rebuild.
    {
        Polls run;
        const double total = 6 * 3600.0, start = run.t;
        int checked = 0;
        for (;;) {
            const double done = (run.t + kPoll - start) / total * 100;
            if (done >= 100)
                break;
            run.poll(static_cast<int>(done));
            const double truth = total - (run.t - start);
            if (run.t - start >= total / 10 && done < 99) {
                const TimeLeftEstimate e = run.est.estimate();
                ASSERT_TRUE(e.known) << "at " << done << " %";
                ASSERT_TRUE(near(e.secondsLeft, truth)) << e.secondsLeft << " vs " << truth;
                ASSERT_NEAR(e.percentPerHour, 100 / 6.0, 100 / 6.0 * 0.1);
                ++checked;
            }
        }
        EXPECT_GT(checked, 4000);
        EXPECT_LE(run.worstJump, 1);
        EXPECT_EQ(timeLeftText(run.est.estimate(), WorkKind::Rebuild).rfind("about ", 0), 0u);
        // It ends: one finished piece of work, about six hours long.
        run.poll(100);
        auto f = run.poll(0, WorkKind::None, -1);
        ASSERT_TRUE(f.has_value());
        EXPECT_EQ(f->kind, WorkKind::Rebuild);
        EXPECT_EQ(f->bay, 1);
        EXPECT_TRUE(f->complete);
        EXPECT_NEAR(f->seconds, total, 60);
        EXPECT_EQ(timeLeftText(run.est.estimate(), WorkKind::None), "");
    }
    // Doubled half-way: 8 h at the first rate would be 4 h for the first half, then 2 h.
    {
        Polls run;
        const double half = 4 * 3600.0, start = run.t;
        for (;;) {
            const double s = run.t + kPoll - start;
            const double done = s < half ? s / half * 50 : 50 + (s - half) / (half / 2) * 50;
            if (done >= 100)
                break;
            run.poll(static_cast<int>(done));
            const double el = run.t - start;
            if (el >= half + 600 && done < 99) {
                const double truth = half + half / 2 - el;
                ASSERT_TRUE(near(run.est.estimate().secondsLeft, truth))
                    << run.est.estimate().secondsLeft << " vs " << truth << " at " << done << " %";
            }
        }
        EXPECT_LE(run.worstJump, 1);
    }
    // Stalled at 40 % for half an hour, restarted from 0, then ended halfway by a
    // removed drive; readings that are no percents on the way are ignored.
    {
        Polls run;
        const double step = 180;  // seconds per percent
        double start = run.t;
        while (run.t - start < 40 * step)
            run.poll(static_cast<int>((run.t + kPoll - start) / step));
        ASSERT_TRUE(run.est.estimate().known);
        const double stallFrom = run.t;
        bool sawUnknown = false;
        while (run.t - stallFrom < 1800) {
            run.poll(40);
            for (int bad : {-1, 101, 255, INT_MAX, INT_MIN})
                EXPECT_FALSE(run.est.feed(static_cast<std::int64_t>(run.t * 1e6), bad, WorkKind::Rebuild, 1));
            const TimeLeftEstimate e = run.est.estimate();
            if (run.t - stallFrom > 3 * step + 2 * kPoll) {
                ASSERT_FALSE(e.known) << "still a number " << run.t - stallFrom << " s into the stall";
            }
            if (!e.known) {
                sawUnknown = true;
                EXPECT_EQ(timeLeftText(e, WorkKind::Rebuild), "time left unknown");
            } else {
                ASSERT_FALSE(sawUnknown) << "a number came back while still stalled";
            }
        }
        // Restarted from 0: nothing of the earlier run counts, and two changes of the
        // new run are enough for a number again.
        EXPECT_FALSE(run.poll(0).has_value());
        EXPECT_FALSE(run.est.estimate().known);
        start = run.t;
        while (run.t - start < 20 * step) {
            const int now = static_cast<int>((run.t + kPoll - start) / (step / 2));
            run.poll(now);
            if (now >= 2) {
                ASSERT_TRUE(run.est.estimate().known) << "at " << now << " % after the restart";
            }
            if (run.t - start > 600) {
                ASSERT_TRUE(near(run.est.estimate().secondsLeft, 100 * step / 2 - (run.t - start)));
            }
        }
        // The clock set back an hour, then forward a day: no number from the jump
        // itself, and the rate measured afresh afterwards.
        for (double jump : {-3600.0, 86400.0}) {
            run.t += jump;
            run.poll(static_cast<int>((run.t - jump + kPoll - start) / (step / 2)));
            start += jump;
            EXPECT_FALSE(run.est.estimate().known) << jump;
            while (run.est.estimate().known == false && run.t - start < 60 * step / 2)
                run.poll(static_cast<int>((run.t + kPoll - start) / (step / 2)));
            ASSERT_TRUE(run.est.estimate().known) << jump;
            EXPECT_NEAR(run.est.estimate().percentPerHour, 3600 / (step / 2), 3600 / (step / 2) * 0.1);
        }
        // A scan on the other bay replaces it: the rebuild is reported as ended.
        auto f = run.poll(3, WorkKind::Scan, 0);
        ASSERT_TRUE(f.has_value());
        EXPECT_EQ(f->kind, WorkKind::Rebuild);
        EXPECT_FALSE(f->complete);
        EXPECT_EQ(run.est.kind(), WorkKind::Scan);
        EXPECT_FALSE(run.est.estimate().known);
    }
    EXPECT_EQ(durationText(59), "under 1 min");
    EXPECT_EQ(durationText(7800), "2 h 10 min");
    EXPECT_EQ(durationText(49 * 3600 + 1790), "2 d 1 h");
    // A crawl of 0.01 %/h: no minutes of a year, no rate of zero.
    EXPECT_EQ(timeLeftText({true, 99 / 0.01 * 3600, 0.01}, WorkKind::Rebuild), "over 99 d left (0.01 %/h)");
    EXPECT_EQ(durationText(1e300), "over 99 d");
    EXPECT_EQ(durationText(std::numeric_limits<double>::quiet_NaN()), "under 1 min");
}

}  // namespace
}  // namespace raid
