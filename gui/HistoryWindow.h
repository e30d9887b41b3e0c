// The history chart window: an enclosure's temperature and fan speed over 24 hours,
// 7 days or 90 days. The engine decides everything shown (app/HistoryChart); this
// window maps it to pixels. It opens at once saying "Loading..." and shows the chart
// when the engine sends it, so a slow or silent source never holds the window up.
#pragma once

#include <QDialog>
#include <QWidget>

#include <array>

#include "app/HistoryChart.h"
#include "gui/EngineActions.h"

class QPushButton;

namespace raid::gui {

// The drawing itself, on a white ground.
class HistoryChartView final : public QWidget {
public:
    explicit HistoryChartView(QWidget* parent);
    void setChart(const HistoryChart& chart);
    const HistoryChart& chart() const { return chart_; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    HistoryChart chart_;
};

class HistoryWindow final : public QDialog {
public:
    static inline const char* const kObjectName = "HistoryWindow";
    HistoryWindow(ActionPoster post, QWidget* parent);
    void setChart(const HistoryChart& chart);
    const HistoryChart& chart() const { return view_->chart(); }
    // The range buttons, in HistoryRange order (objectName "HistoryRange0".. "2").
    QPushButton* rangeButton(HistoryRange range) const { return buttons_[static_cast<std::size_t>(range)]; }
    HistoryChartView* view() const { return view_; }

private:
    ActionPoster post_;
    HistoryChartView* view_ = nullptr;
    std::array<QPushButton*, 3> buttons_{};
};

}  // namespace raid::gui
