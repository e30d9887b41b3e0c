// Image0_Bays: the enclosure on the Status page, its two drive bays each drawn in the
// state the engine reports, and the work running between them (rebuild with its
// direction, surface scan on one bay, the hybrid cache flush).
//
// The engine publishes the picture as a typed view (monitor/StatusBays.h); the window
// draws it. The picture is drawn anew only when the view changes, so a poll that
// repeats the same state costs nothing here. A view with a value the picture does not
// know draws the "unknown" enclosure.
#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>
#include <QWidget>

#include "monitor/StatusBays.h"

namespace raid::gui {

class BaysPicture : public QWidget {
    Q_OBJECT
public:
    // The picture spans the page between its margins; its bays stand over the label
    // columns of the drives below it.
    static constexpr QSize kSize{369, 104};
    static constexpr int kColumnWidth = 119;  // each bay's column; the rest is the work between them
    static constexpr int kWorkRow = 52;       // the row the arrows between the bays run along

    explicit BaysPicture(const QString& name, QWidget* parent = nullptr);

    // The engine's view. The same view again changes nothing.
    void setView(const BaysView& view);
    // What is drawn (the unknown view for one out of range).
    const BaysView& view() const { return view_; }
    // How often the picture has been drawn anew.
    int renders() const { return renders_; }
    const QPixmap& picture() const { return picture_; }

    // Draws a view at `size` logical pixels for a screen of `dpr` device pixels each.
    static QPixmap render(const BaysView& view, QSize size, qreal dpr = 1.0);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void rerender();
    // The picture in words for assistive technology; tells it of a change of health.
    void describe();

    BaysView view_;
    int renders_ = 0;
    QPixmap picture_;
};

}  // namespace raid::gui
