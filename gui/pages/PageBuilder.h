// Creates the controls of the window's pages and registers each one with the window
// under its control name, wired the way the window forwards what the user does
// (clicks, ticks, edits, chosen rows) to the engine.
//
// Page units only lay out; what a control does when the engine changes it is the
// window's business (TForm1::applyChange).
#pragma once

#include <array>

#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QComboBox;
class QTableWidget;
class QWidget;

namespace raid::gui {

class FitLabel;
class ImageControl;
class TForm1;

// The window's text colours: values and headings, and the quieter captions.
QColor inkColor();
QColor mutedColor();
// Sets the colour a widget draws its text in (active and inactive; a disabled widget
// keeps the style's greyed colour).
void setInk(QWidget* w, const QColor& c);

class PageBuilder {
public:
    explicit PageBuilder(TForm1& window) : window_(window) {}
    TForm1& window() { return window_; }

    // Registers a control the page made itself (its objectName is the control name).
    // `enginePlaced`: the engine puts it on a navigation slot.
    void add(QWidget* w, bool enginePlaced = false);

    ImageControl* image(QWidget* parent, const QString& name, const QPixmap& picture, QPoint pos,
                        bool clickable = true, bool enginePlaced = false);
    // Hidden picture sources `<name>_Yellow` / `<name>_White` next to their image.
    void sources(QWidget* parent, const QString& name, const QPixmap& yellow, const QPixmap& white, QPoint pos,
                 bool enginePlaced = false);
    // A label the engine writes; a click on it reaches the engine.
    QLabel* label(QWidget* parent, const QString& name, const QRect& r, int align, int pixelSize = 13,
                  bool bold = false, const QString& text = {});
    // The same, drawing its text so that it always stays inside its box (see FitLabel);
    // `ink` is its own text colour (the one an empty colour from the engine goes back to).
    FitLabel* fitLabel(QWidget* parent, const QString& name, const QRect& r, int align, int pixelSize = 13,
                       bool bold = false, const QColor& ink = QColor());
    // A fixed caption of the page (not a control).
    QLabel* caption(QWidget* parent, const QString& text, const QRect& r, int pixelSize = 13, bool bold = false,
                    int align = 0);
    // A check box with the caption the engine publishes for it (app/ControlNames.h).
    QCheckBox* checkBox(QWidget* parent, const QString& name, const QRect& r);
    QLineEdit* edit(QWidget* parent, const QString& name, const QRect& r);
    QPlainTextEdit* memo(QWidget* parent, const QString& name, const QRect& r);
    // A drop-down list: the user's choice reaches the engine as the control's new text.
    QComboBox* comboBox(QWidget* parent, const QString& name, const QRect& r, const QStringList& items);
    QTableWidget* grid(QWidget* parent, const QString& name, const QRect& r);
    // A thin separator line.
    QWidget* rule(QWidget* parent, const QRect& r);
    // The two device tabs of a page with their yellow and white pictures; hidden until
    // a detection finds the devices.
    void deviceTabs(QWidget* page, const std::array<const char*, 2>& tabs);

private:
    void labelCommon(QLabel* l, const QString& name, const QRect& r, int align, int pixelSize, bool bold,
                     const QColor& ink = QColor());

    TForm1& window_;
};

}  // namespace raid::gui
