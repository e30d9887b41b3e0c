#include "app/pages/HistoryWindowSide.h"

#include "app/MainForm.h"
#include "app/pages/StatusPage.h"

namespace raid {

void HistoryWindowSide::registerHandlers(HandlerTable& table) {
    for (const char* name : {names::Panel11, names::Label5, names::Label7}) table.on(name, [this] { panelClick(); });
}

void HistoryWindowSide::panelClick() {
    if (!onShow) return;
    const int device = form_.StatusDevice;
    // A second click while the window is open shows it (raised by the front end) for
    // the enclosure the page shows now.
    const bool again = open_ && device == device_;
    open_ = true;
    device_ = device;
    onShow();
    if (!again) {
        range_ = HistoryRange::Day;
        request();
    } else if (onChart) {
        onChart(chart_);
    }
}

void HistoryWindowSide::showRange(HistoryRange range) {
    if (!open_) return;
    range_ = range;
    request();
}

void HistoryWindowSide::closed() {
    open_ = false;
    ++asked_;  // a late answer is dropped
}

void HistoryWindowSide::publish(HistoryChart chart) {
    chart_ = std::move(chart);
    if (open_ && onChart) onChart(chart_);
}

void HistoryWindowSide::request() {
    const std::string label = form_.statusPage().deviceName(device_);
    const std::uint64_t ask = ++asked_;
    if (!source_) {
        publish(historyChartMessage(label, range_, kHistoryUnavailable));
        return;
    }
    publish(historyChartMessage(label, range_, kHistoryLoading));
    const HistoryRange range = range_;
    const double now = form_.scheduler().wallSeconds();
    std::weak_ptr<HistoryWindowSide*> self = self_;
    source_->history(device_, historyRangeStart(range, now),
                     [self, ask, range, now, label](bool ok, const HistorySeries& series, const std::string& error) {
                         const auto side = self.lock();
                         if (!side || (*side)->asked_ != ask) return;
                         if (!ok) {
                             (*side)->publish(historyChartMessage(label, range, error.empty() ? kHistoryUnavailable : error));
                             return;
                         }
                         HistorySeries named;
                         const HistorySeries* shown = &series;
                         if (series.label.empty()) {
                             // The source knows no name for it: the page's name, without copying the samples
                             // more than once.
                             named = series;
                             named.label = label;
                             shown = &named;
                         }
                         (*side)->publish(buildHistoryChart(*shown, range, now));
                     });
}

}  // namespace raid
