#include "gui/pages/BaysPicture.h"

#include <algorithm>

#include <QAccessible>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "app/AccessibleText.h"
#include "gui/Artwork.h"
#include "gui/Palette.h"

namespace raid::gui {

namespace {

// The window's palette (gui/Artwork.cpp), plus one colour per meaning: green is
// healthy, red failed, amber a rebuild under way, blue the controller's own work
// (scan, flush).
using palette::kInk;
const QColor kMuted(0x8A, 0x96, 0xA5);
using palette::kBorder;
const QColor kGreen(0x2E, 0xAD, 0x5B);
const QColor kRed(0xD6, 0x45, 0x41);
using palette::kAmber;
using palette::kAmberEdge;
using palette::kBlue;
const QColor kTrack(0xE1, 0xE6, 0xEC);

enum class Glyph { Hdd, Ssd };

// A disc with a white mark: the verdict at a glance.
void badge(QPainter& p, QPointF c, qreal r, const QColor& fill, bool check) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawEllipse(c, r, r);
    QPen mark(Qt::white, r * 0.24, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(mark);
    p.setBrush(Qt::NoBrush);
    if (check) {
        QPainterPath tick;
        tick.moveTo(c + QPointF(-r * 0.45, r * 0.02));
        tick.lineTo(c + QPointF(-r * 0.12, r * 0.35));
        tick.lineTo(c + QPointF(r * 0.48, -r * 0.32));
        p.drawPath(tick);
    } else {
        p.drawLine(c + QPointF(0, -r * 0.5), c + QPointF(0, r * 0.12));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(c + QPointF(0, r * 0.47), r * 0.14, r * 0.14);
    }
    p.restore();
}

void led(QPainter& p, QPointF c, const QColor& colour, bool lit) {
    p.save();
    p.setPen(Qt::NoPen);
    if (lit) {
        QRadialGradient glow(c, 6);
        glow.setColorAt(0, colour.lighter(150));
        glow.setColorAt(0.5, colour);
        glow.setColorAt(1, QColor(colour.red(), colour.green(), colour.blue(), 0));
        p.setBrush(glow);
        p.drawEllipse(c, 6, 6);
    }
    p.setBrush(lit ? colour : QColor(0xC4, 0xCB, 0xD4));
    p.drawEllipse(c, 3, 3);
    p.restore();
}

// The drive's kind on its tray: a platter for an HDD, a chip for the SSD.
void glyph(QPainter& p, QPointF c, Glyph g, const QColor& ink) {
    p.save();
    p.setPen(QPen(ink, 1.4));
    p.setBrush(Qt::NoBrush);
    if (g == Glyph::Hdd) {
        p.drawEllipse(c, 12, 12);
        p.setBrush(ink);
        p.drawEllipse(c, 2.5, 2.5);
        p.setBrush(Qt::NoBrush);
        p.drawLine(c + QPointF(9, 10), c + QPointF(3, 3));
    } else {
        const QRectF chip(c.x() - 9, c.y() - 9, 18, 18);
        p.drawRoundedRect(chip, 2, 2);
        p.drawRect(chip.adjusted(5, 5, -5, -5));
        for (int i = 0; i < 3; ++i) {
            const qreal o = -5 + 5 * i;
            p.drawLine(QPointF(c.x() + o, chip.top()), QPointF(c.x() + o, chip.top() - 3));
            p.drawLine(QPointF(c.x() + o, chip.bottom()), QPointF(c.x() + o, chip.bottom() + 3));
            p.drawLine(QPointF(chip.left(), c.y() + o), QPointF(chip.left() - 3, c.y() + o));
            p.drawLine(QPointF(chip.right(), c.y() + o), QPointF(chip.right() + 3, c.y() + o));
        }
    }
    p.restore();
}

// Fills from the left, or from the right when `fromRight` (a copy running leftwards).
void progressTrack(QPainter& p, const QRectF& r, int percent, const QColor& fill, bool fromRight = false) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(kTrack);
    p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    // The record's byte can say more than 100; the bar stops at full.
    const qreal share = std::clamp(percent, 0, 100) / 100.0;
    if (share > 0) {
        QRectF done = r;
        done.setWidth(std::max(r.height(), r.width() * share));
        if (fromRight) done.moveRight(r.right());
        p.setBrush(fill);
        p.drawRoundedRect(done, r.height() / 2, r.height() / 2);
    }
    p.restore();
}

void percentText(QPainter& p, const QRectF& r, int percent, const QColor& ink, int pixelSize) {
    p.save();
    p.setPen(ink);
    p.setFont(Artwork::font(pixelSize, true));
    p.drawText(r, Qt::AlignCenter, QString::number(percent) + QLatin1Char('%'));
    p.restore();
}

// A horizontal arrow from `from` to `to` (the head at `to`).
void arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour) {
    p.save();
    const qreal dir = to.x() > from.x() ? 1.0 : -1.0;
    p.setPen(QPen(colour, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to - QPointF(dir * 8, 0));
    QPainterPath head;
    head.moveTo(to);
    head.lineTo(to + QPointF(-dir * 13, -8));
    head.lineTo(to + QPointF(-dir * 13, 8));
    head.closeSubpath();
    p.setPen(QPen(colour, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(colour);
    p.drawPath(head);
    p.restore();
}

struct BayPaint {
    BayLook look = BayLook::Unknown;
    Glyph kind = Glyph::Hdd;
    bool rebuildTarget = false;
    bool scanned = false;
    int percent = 0;
};

void drawBay(QPainter& p, const QRectF& slot, const BayPaint& b) {
    // The recess every bay has, drive or not.
    QLinearGradient recess(slot.topLeft(), slot.bottomLeft());
    recess.setColorAt(0, QColor(0xD9, 0xDF, 0xE6));
    recess.setColorAt(1, QColor(0xE6, 0xEA, 0xEF));
    p.setPen(QPen(QColor(0xB4, 0xBE, 0xCA), 1));
    p.setBrush(recess);
    p.drawRoundedRect(slot, 7, 7);

    const QRectF tray = slot.adjusted(4, 4, -4, -4);
    const QPointF glyphAt(tray.left() + 40, tray.center().y());
    const QPointF ledAt(tray.right() - 10, tray.bottom() - 10);

    switch (b.look) {
        case BayLook::Unknown: {
            p.setPen(kMuted);
            p.setFont(Artwork::font(24, true));
            p.drawText(slot, Qt::AlignCenter, QStringLiteral("?"));
            return;
        }
        case BayLook::Empty:
            // Nothing is known to be in it: the bare recess says so.
            return;
        case BayLook::Absent: {
            // The drive that was here has gone: its outline stays, greyed.
            p.setPen(QPen(QColor(0xA8, 0xB3, 0xC0), 1.2, Qt::DashLine));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(tray, 5, 5);
            glyph(p, glyphAt, b.kind, QColor(0xB8, 0xC1, 0xCC));
            led(p, ledAt, kGreen, false);
            return;
        }
        case BayLook::Present:
        case BayLook::Failed:
            break;
    }

    const bool failed = b.look == BayLook::Failed;
    QLinearGradient face(tray.topLeft(), tray.bottomLeft());
    if (failed) {
        face.setColorAt(0, QColor(0xFF, 0xF3, 0xF2));
        face.setColorAt(1, QColor(0xF8, 0xD8, 0xD6));
    } else {
        face.setColorAt(0, Qt::white);
        face.setColorAt(1, QColor(0xE8, 0xED, 0xF3));
    }
    QPen edge(failed ? kRed : QColor(0xA3, 0xAF, 0xBD), failed ? 1.6 : 1.0);
    if (b.rebuildTarget) edge = QPen(kAmber, 2.2);
    p.setPen(edge);
    p.setBrush(face);
    p.drawRoundedRect(tray, 5, 5);

    // Grip ridges at the tray's handle.
    p.setPen(QPen(failed ? QColor(0xE2, 0xA5, 0xA2) : QColor(0xC3, 0xCC, 0xD8), 1.2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const qreal x = tray.left() + 9 + 4 * i;
        p.drawLine(QPointF(x, tray.top() + 12), QPointF(x, tray.bottom() - 12));
    }
    glyph(p, glyphAt, b.kind, failed ? kRed : QColor(0x6B, 0x7A, 0x8C));

    if (failed) {
        led(p, ledAt, kRed, true);
        return;
    }
    if (b.scanned) {
        const QRectF text(tray.left() + 56, tray.top() + 8, tray.width() - 60, tray.height() - 26);
        percentText(p, text, b.percent, kBlue, 15);
        progressTrack(p, QRectF(tray.left() + 8, tray.bottom() - 11, tray.width() - 30, 5), b.percent, kBlue);
        led(p, ledAt, kBlue, true);
        return;
    }
    led(p, ledAt, b.rebuildTarget ? kAmber : kGreen, true);
}

}  // namespace

BaysPicture::BaysPicture(const QString& name, QWidget* parent) : QWidget(parent) {
    setObjectName(name);
    setAttribute(Qt::WA_TranslucentBackground);
    resize(kSize);
    rerender();
    describe();
}

void BaysPicture::describe() {
    // A screen reader learns what the picture shows from its name (the drives' health)
    // and description (with the work between the bays). A change of health is told at
    // once; a rising percentage only updates the description, read when asked.
    const QString health = QStringLiteral("Enclosure. ") + QString::fromStdString(access::baysHealth(view_));
    const QString text = QString::fromStdString(access::baysText(view_));
    const bool healthChanged = health != accessibleName();
    const bool textChanged = text != accessibleDescription();
    setAccessibleName(health);
    setAccessibleDescription(text);
    if (!QAccessible::isActive()) return;
    if (healthChanged) {
        QAccessibleEvent named(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&named);
        QAccessibleEvent alert(this, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
    if (textChanged) {
        QAccessibleEvent described(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&described);
    }
}

void BaysPicture::setView(const BaysView& view) {
    // A view out of range says nothing about the drives: show that we do not know
    // rather than keeping a picture that may no longer be true.
    const BaysView shown = baysInRange(view) ? view : BaysView{};
    if (shown == view_) return;
    view_ = shown;
    rerender();
    describe();
    update();
}

void BaysPicture::rerender() {
    picture_ = render(view_, size(), devicePixelRatioF());
    ++renders_;
}

void BaysPicture::paintEvent(QPaintEvent*) {
    // A new screen with another pixel density needs the picture drawn for it.
    if (picture_.devicePixelRatio() != devicePixelRatioF() ||
        picture_.deviceIndependentSize().toSize() != size())
        rerender();
    QPainter p(this);
    if (!isEnabled()) p.setOpacity(0.45);
    p.drawPixmap(0, 0, picture_);
}

QPixmap BaysPicture::render(const BaysView& v, QSize size, qreal dpr) {
    QPixmap pm(size * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const qreal w = size.width(), h = size.height();

    // The enclosure: a light aluminium front with a soft shadow under it.
    const QRectF body(0.5, 0.5, w - 1, h - 4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1F, 0x3A, 0x5F, 22));
    p.drawRoundedRect(body.translated(0, 2.5), 11, 11);
    QLinearGradient front(body.topLeft(), body.bottomLeft());
    front.setColorAt(0, QColor(0xFA, 0xFB, 0xFD));
    front.setColorAt(1, QColor(0xE8, 0xEC, 0xF1));
    p.setPen(QPen(kBorder, 1));
    p.setBrush(front);
    p.drawRoundedRect(body, 10, 10);

    const qreal col = kColumnWidth;
    const QRectF bayRects[2] = {QRectF(8, 8, col - 16, body.height() - 15),
                             QRectF(w - col + 8, 8, col - 16, body.height() - 15)};
    const bool rebuild = v.work == BayWork::Rebuild, scan = v.work == BayWork::Scan;
    for (int i = 0; i < 2; ++i) {
        BayPaint b;
        b.look = v.bay[i];
        b.kind = v.controller == BayController::Hybrid && i == 0 ? Glyph::Ssd : Glyph::Hdd;
        b.rebuildTarget = rebuild && v.target == i + 1;
        b.scanned = scan && v.target == i + 1;
        b.percent = v.percent;
        drawBay(p, bayRects[i], b);
    }

    // Between the bays: the work under way, or the verdict when there is none.
    const QRectF between(col + 6, 8, w - 2 * col - 12, body.height() - 15);
    const qreal arrowY = kWorkRow;
    const QPointF left(bayRects[0].right() + 10, arrowY), right(bayRects[1].left() - 10, arrowY);
    switch (v.work) {
        case BayWork::Rebuild: {
            percentText(p, QRectF(between.left(), between.top() + 6, between.width(), 24), v.percent, kInk, 17);
            // The copy runs from the healthy bay into the one being rebuilt.
            if (v.target == 1) arrow(p, right, left, kAmber);
            if (v.target == 2) arrow(p, left, right, kAmber);
            progressTrack(p, QRectF(between.left() + 6, arrowY + 16, between.width() - 12, 6), v.percent, kAmber,
                          v.target == 1);
            break;
        }
        case BayWork::Scan:
            // The percentage stands on the scanned bay; a scan the record does not
            // place on either bay shows it here.
            if (v.target == 0)
                percentText(p, QRectF(between.left(), between.top() + 20, between.width(), 28), v.percent, kBlue, 17);
            break;
        case BayWork::Flush:
            // The cache empties from the SSD into the HDD.
            arrow(p, left, right, kBlue);
            break;
        case BayWork::Idle: {
            const QPointF c(w / 2, between.center().y());
            const bool anyFailed = v.bay[0] == BayLook::Failed || v.bay[1] == BayLook::Failed;
            const bool anyAbsent = v.bay[0] == BayLook::Absent || v.bay[1] == BayLook::Absent;
            const bool allWell = v.bay[0] == BayLook::Present && v.bay[1] == BayLook::Present;
            if (v.controller == BayController::None) break;
            if (anyFailed)
                badge(p, c, 15, kRed, false);
            else if (anyAbsent)
                badge(p, c, 15, kAmberEdge, false);
            else if (allWell)
                badge(p, c, 15, kGreen, true);
            break;
        }
    }
    return pm;
}

}  // namespace raid::gui
