#include "app/HistorySources.h"

#include "app/ServiceFeed.h"

namespace raid {

namespace {

class StoreHistory final : public HistorySource {
public:
    StoreHistory(Scheduler& scheduler, HistoryRecorder& recorder) : scheduler_(scheduler), recorder_(recorder) {}
    void history(int deviceIndex, std::int64_t fromMinute, HistoryDone done) override {
        // The store is the engine's: it is read where it is written.
        scheduler_.post([this, deviceIndex, fromMinute, done = std::move(done)] {
            const std::string key = recorder_.keyOf(deviceIndex);
            if (key.empty()) {
                done(false, HistorySeries{}, "No history has been recorded for this enclosure yet");
                return;
            }
            done(true, recorder_.store().read(key, fromMinute, kMaxHistorySamples), std::string());
        });
    }

private:
    Scheduler& scheduler_;
    HistoryRecorder& recorder_;
};

class ServiceHistory final : public HistorySource {
public:
    ServiceHistory(Scheduler& scheduler, ServiceFeed& feed) : scheduler_(scheduler), feed_(feed) {}
    void history(int deviceIndex, std::int64_t fromMinute, HistoryDone done) override {
        scheduler_.post([this, deviceIndex, fromMinute, done = std::move(done)] {
            const std::string path = feed_.enclosurePath(deviceIndex);
            if (path.empty()) {
                done(false, HistorySeries{}, "The service shows no such enclosure");
                return;
            }
            feed_.port().getHistory(path, fromMinute, [done](const ServiceHistoryAnswer& a) {
                done(a.errorName.empty(), a.series, a.errorText);
            });
        });
    }

private:
    Scheduler& scheduler_;
    ServiceFeed& feed_;
};

}  // namespace

std::unique_ptr<HistorySource> makeStoreHistorySource(Scheduler& scheduler, HistoryRecorder& recorder) {
    return std::make_unique<StoreHistory>(scheduler, recorder);
}

std::unique_ptr<HistorySource> makeServiceHistorySource(Scheduler& scheduler, ServiceFeed& feed) {
    return std::make_unique<ServiceHistory>(scheduler, feed);
}

}  // namespace raid
