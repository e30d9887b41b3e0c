// An image that acts as a button, the way the window's pictures do: it shows one
// picture, reports press, release and click, and can be told to show the picture of
// another image control (the hidden `_Yellow` / `_White` sources) by that control's
// name.
#pragma once

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

signals:
    void pressed();
    void released();
    void clicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void updateCursor();

    QPixmap own_;
    QPixmap shown_;
    QString pictureName_;
    bool clickable_;
    bool down_ = false;
};

}  // namespace raid::gui
