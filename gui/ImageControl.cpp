#include "gui/ImageControl.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>

namespace raid::gui {

ImageControl::ImageControl(const QString& name, const QPixmap& picture, QWidget* parent, bool clickable)
    : QWidget(parent), own_(picture), shown_(picture), clickable_(clickable) {
    setObjectName(name);
    setAttribute(Qt::WA_TranslucentBackground);
    // The picture may be drawn for a high-density screen: the control takes its size
    // in the window's own units.
    resize(picture.deviceIndependentSize().toSize());
    // Hidden and disabled widgets take no focus in Qt, so a disabled image is skipped.
    setFocusPolicy(clickable ? Qt::StrongFocus : Qt::NoFocus);
    updateCursor();
}

void ImageControl::click() {
    if (!clickable_ || !isEnabled() || !isVisible()) return;
    emit pressed();
    emit released();
    emit clicked();
}

void ImageControl::keyPressEvent(QKeyEvent* e) {
    if (!isActivationKey(e)) return QWidget::keyPressEvent(e);
    if (!e->isAutoRepeat()) click();
}

void ImageControl::focusInEvent(QFocusEvent* e) {
    update();
    QWidget::focusInEvent(e);
}

void ImageControl::focusOutEvent(QFocusEvent* e) {
    update();
    QWidget::focusOutEvent(e);
}

bool isActivationKey(const QKeyEvent* e) {
    const auto mods = e->modifiers() & ~Qt::KeypadModifier;
    return mods == Qt::NoModifier && (e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter);
}

void drawFocusFrame(QPainter& p, const QRect& r, const QPalette& palette) {
    p.save();
    p.setOpacity(1.0);
    p.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(palette.color(QPalette::Active, QPalette::Highlight), 2);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(1, 1, -1, -1));
    p.restore();
}

void ClickPanel::paintEvent(QPaintEvent* e) {
    QFrame::paintEvent(e);
    if (!hasFocus()) return;
    QPainter p(this);
    drawFocusFrame(p, rect(), palette());
}

void ClickPanel::keyPressEvent(QKeyEvent* e) {
    if (!isActivationKey(e)) return QFrame::keyPressEvent(e);
    if (!e->isAutoRepeat() && isEnabled()) emit activated();
}

void ClickPanel::focusInEvent(QFocusEvent* e) {
    update();
    QFrame::focusInEvent(e);
}

void ClickPanel::focusOutEvent(QFocusEvent* e) {
    update();
    QFrame::focusOutEvent(e);
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
    if (hasFocus()) drawFocusFrame(p, rect(), palette());
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
