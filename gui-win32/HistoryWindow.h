// The history chart window, native: an enclosure's temperature and fan speed over 24
// hours, 7 days or 90 days, drawn with GDI+ from the engine's chart (app/HistoryChart),
// the same chart the Qt window draws. It opens at once with "Loading..." and shows the
// chart when the engine sends it (through UiThread), so a slow or silent source never
// holds it up.
//
// Not modal: the main window stays usable. Resizable, laid out for its monitor's DPI;
// Escape closes it, Tab walks the range buttons, Enter or Space presses one.
#pragma once

#include <array>
#include <functional>

#include <windows.h>

#include "app/HistoryChart.h"
#include "gui-win32/EngineActions.h"

namespace raid::win {

class HistoryWindow {
public:
    static constexpr const wchar_t* kClassName = L"RaidHistoryChart";
    // Control IDs of the range buttons, in HistoryRange order.
    static constexpr int kFirstRangeId = 101;

    // Window's thread. Opens the window (shown) saying "Loading...".
    HistoryWindow(HWND owner, ActionPoster post);
    // Closes the window if it is still open (without calling onClosed).
    ~HistoryWindow();
    HistoryWindow(const HistoryWindow&) = delete;
    HistoryWindow& operator=(const HistoryWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    HWND rangeButton(HistoryRange range) const { return buttons_[static_cast<std::size_t>(range)]; }
    void setChart(const HistoryChart& chart);
    const HistoryChart& chart() const { return chart_; }
    double scale() const { return scale_; }

    // Draws `chart` into `rect` of `dc` at `scale` device pixels per design pixel.
    static void draw(HDC dc, const RECT& rect, double scale, const HistoryChart& chart);

    // Called on the window's thread once the user closed the window; the owner may
    // delete this object from it. The engine is told by the window itself.
    std::function<void()> onClosed;

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK keys(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    void applyDpi(UINT dpi);
    void layout();
    RECT chartRect() const;
    void choose(HistoryRange range);
    void closed();

    HWND owner_;
    ActionPoster post_;
    HWND hwnd_ = nullptr;
    std::array<HWND, 3> buttons_{};
    HFONT font_ = nullptr;
    double scale_ = 1.0;
    bool destroying_ = false;
    HistoryChart chart_;
};

}  // namespace raid::win
