// An image that acts as a button, the way the window's pictures do: it shows one
// picture, reports press, release and click, and can be told to show the picture of
// another image control (the hidden `_Yellow` / `_White` sources) by that control's
// name.
//
// A clickable image takes focus with Tab, shows a frame while it has it and acts on
// Space or Enter through the same clicked() a mouse click emits, so a key reaches the
// engine exactly as a click does.
#pragma once

#include <QFrame>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <functional>

namespace raid::gui {

class ImageControl : public QWidget {
    Q_OBJECT
public:
    // Finds the picture source with the given control name (null when there is none).
    using SourceLookup = std::function<const ImageControl*(const QString& name)>;

    ImageControl(const QString& name, const QPixmap& picture, QWidget* parent, bool clickable = true);

    // The control's own picture, shown while its text is empty.
    const QPixmap& ownPicture() const { return own_; }
    // The engine's text: the name of the picture source to show, "" = own picture. A
    // name that is not a picture source keeps the picture that was shown.
    void showPicture(const QString& sourceName, const SourceLookup& lookup);
    const QString& pictureName() const { return pictureName_; }
    // The pixmap currently drawn.
    const QPixmap& shown() const { return shown_; }
    bool clickable() const { return clickable_; }
    // A click from the keyboard, a mnemonic or an assistive technology: what a mouse
    // click does (pressed look, release, click), when the image reacts at all.
    void click();

signals:
    void pressed();
    void released();
    void clicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void updateCursor();

    QPixmap own_;
    QPixmap shown_;
    QString pictureName_;
    bool clickable_;
    bool down_ = false;
};

// A panel that acts as a button (the fan and temperature panel): reachable with Tab,
// framed while it has the focus, activated() on Space or Enter. Mouse clicks on it and
// its captions are the window's to catch (they cover the panel's children too).
class ClickPanel : public QFrame {
    Q_OBJECT
public:
    using QFrame::QFrame;

signals:
    void activated();

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
};

// Whether a key press is the one that activates a focused button (Space, Enter).
bool isActivationKey(const QKeyEvent* e);
// The frame drawn around the control that has the keyboard focus.
void drawFocusFrame(QPainter& p, const QRect& r, const QPalette& palette);

}  // namespace raid::gui
