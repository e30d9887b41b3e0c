// The history chart window: the engine side. A click on the fan and temperature panel
// of the Status page opens it for the enclosure the page shows; the window asks for
// other ranges. The history itself comes from a HistorySource given from outside (the
// engine's own store, or the service over the bus); the answer may take its time, so
// the window opens at once with "Loading..." and gets the chart when it comes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "app/HistoryChart.h"
#include "app/pages/HandlerTable.h"
#include "monitor/HistorySample.h"

namespace raid {

class MainForm;

class HistoryWindowSide {
public:
    explicit HistoryWindowSide(MainForm& form) : form_(form) {}
    void registerHandlers(HandlerTable& table);
    // Where the history comes from (nullptr: none, the window says so). Not owned; it
    // outlives the form or is cleared first.
    void setSource(HistorySource* source) { source_ = source; }
    // The window asks for another range.
    void showRange(HistoryRange range);
    void closed();
    bool open() const { return open_; }
    const HistoryChart& chart() const { return chart_; }

    // Set by the front end, called on the engine thread: open the window / show this
    // chart in it (the window drops it when it is closed meanwhile).
    std::function<void()> onShow;
    std::function<void(const HistoryChart&)> onChart;

private:
    void panelClick();
    void request();
    void publish(HistoryChart chart);

    MainForm& form_;
    HistorySource* source_ = nullptr;
    bool open_ = false;
    int device_ = 0;
    HistoryRange range_ = HistoryRange::Day;
    std::uint64_t asked_ = 0;  // numbers each request; only the latest answer is shown
    HistoryChart chart_;
    // Answers arriving after the form has gone find this expired.
    std::shared_ptr<HistoryWindowSide*> self_ = std::make_shared<HistoryWindowSide*>(this);
};

}  // namespace raid
