#include "gui/ImageControl.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

namespace raid::gui {

ImageControl::ImageControl(const QString& name, const QPixmap& picture, QWidget* parent, bool clickable)
    : QWidget(parent), own_(picture), shown_(picture), clickable_(clickable) {
    setObjectName(name);
    setAttribute(Qt::WA_TranslucentBackground);
    resize(picture.size());
    updateCursor();
}

void ImageControl::showPicture(const QString& sourceName, const SourceLookup& lookup) {
    pictureName_ = sourceName;
    if (sourceName.isEmpty() || sourceName == objectName()) {
        shown_ = own_;
    } else if (const ImageControl* source = lookup ? lookup(sourceName) : nullptr) {
        shown_ = source->ownPicture();
    }
    update();
}

void ImageControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // A disabled image is a button that does not react; showing it faded tells the
    // user so before they try.
    if (!isEnabled()) p.setOpacity(0.45);
    p.drawPixmap(0, 0, shown_);
}

void ImageControl::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    down_ = true;
    emit pressed();
}

void ImageControl::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !down_) return QWidget::mouseReleaseEvent(e);
    down_ = false;
    // The engine may move the image while the button is held (pressed look), so the
    // release position is judged against the image's current rectangle.
    const bool inside = rect().contains(e->position().toPoint());
    emit released();
    if (inside) emit clicked();
}

void ImageControl::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange) {
        down_ = false;
        updateCursor();
        update();
    }
    QWidget::changeEvent(e);
}

void ImageControl::updateCursor() {
    if (clickable_ && isEnabled())
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

}  // namespace raid::gui
