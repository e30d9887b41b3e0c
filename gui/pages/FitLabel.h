// A label whose text always stays inside its box.
//
// The Status page shows what the enclosure reports: drive models padded with blanks
// to 40 characters, capacities with a line break at the end, three-line centre texts.
// Drawn as plain QLabels those would push the visible text off centre or spill into
// the neighbouring control. This label keeps text() exactly as the engine set it and
// draws a fitted copy: blanks and line breaks at the end dropped, a word-wrapping
// label broken at blanks and after hyphens (or anywhere inside a piece too long for
// the line), and when
// the lines still do not fit, the last one that does is elided.
#pragma once

#include <QColor>
#include <QLabel>
#include <QStringList>

namespace raid::gui {

class FitLabel : public QLabel {
    Q_OBJECT
public:
    explicit FitLabel(QWidget* parent = nullptr);
    // The text colour of a disabled (greyed) label.
    static QColor greyedColor();

    // The lines as drawn in the current box and font.
    QStringList shownLines() const;
    // Whether the whole text is drawn (nothing elided).
    bool showsAll() const;

    // Fits `text` into `width` x `height` pixels of font `fm`; exposed for the tests.
    static QStringList fit(const QString& text, const QFontMetrics& fm, int width, int height, bool wrap,
                           bool* complete = nullptr);

protected:
    void paintEvent(QPaintEvent* e) override;
};

}  // namespace raid::gui
