// Image0_Bays: the enclosure on the Status page, its two drive bays each drawn in the
// state the engine reports, and the work running between them (rebuild with its
// direction, surface scan on one bay, the hybrid cache flush).
//
// The engine publishes the picture as words (monitor/StatusBays.h); the window draws
// them. The picture is drawn anew only when those words change, so a poll that
// repeats the same state costs nothing here. Words that do not decode draw the
// "unknown" enclosure.
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

    // The engine's words. The same words again change nothing.
    void setBaysText(const QString& text);
    const QString& baysText() const { return text_; }
    // What is drawn, and whether the words decoded (false: the unknown view).
    const BaysView& view() const { return view_; }
    bool decoded() const { return decoded_; }
    // How often the picture has been drawn anew.
    int renders() const { return renders_; }
    const QPixmap& picture() const { return picture_; }

    // Draws a view at `size` logical pixels for a screen of `dpr` device pixels each.
    static QPixmap render(const BaysView& view, QSize size, qreal dpr = 1.0);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void rerender();

    QString text_;
    BaysView view_;
    bool decoded_ = false;
    int renders_ = 0;
    QPixmap picture_;
};

}  // namespace raid::gui
