#include "gui/Artwork.h"

#include "gui/Palette.h"

#include <algorithm>

#include <QFont>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace raid::gui {

namespace {

// One palette for every picture, so the pieces read as one design.
const QColor kNavy(0x1F, 0x3A, 0x5F);
using palette::kBlue;
using palette::kBorder;
using palette::kInk;
const QColor kPanel(0xF2, 0xF5, 0xF9);
const QColor kAmberTop(0xFF, 0xDA, 0x6A);
const QColor& kAmberBottom = palette::kAmber;
using palette::kAmberEdge;
const QColor kAmberInk(0x3A, 0x2A, 0x00);


// The density the pictures are drawn for: the densest screen's, so a picture is
// drawn sharp rather than scaled up (a screen of lower density scales it down).
qreal screenDensity() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? qGuiApp->devicePixelRatio() : 1.0;
}

// A picture of `size` in the window's units, drawn at the screens' density.
QPixmap canvas(QSize size) {
    const qreal dpr = screenDensity();
    QPixmap pm(size * dpr);
    pm.setDevicePixelRatio(dpr);
    return pm;
}

QPixmap blank(QSize size) {
    QPixmap pm = canvas(size);
    pm.fill(Qt::transparent);
    return pm;
}

void begin(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
}

void drawGlyph(QPainter& p, NavGlyph glyph, const QRectF& r, const QColor& ink) {
    p.save();
    QPen pen(ink, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QPointF c = r.center();
    switch (glyph) {
        case NavGlyph::Status: {
            // A pulse line inside a ring: "is everything alive".
            p.drawEllipse(r.adjusted(1, 1, -1, -1));
            QPainterPath path;
            path.moveTo(r.left() + 4, c.y());
            path.lineTo(c.x() - 4, c.y());
            path.lineTo(c.x() - 1, r.top() + 6);
            path.lineTo(c.x() + 2, r.bottom() - 6);
            path.lineTo(c.x() + 5, c.y());
            path.lineTo(r.right() - 4, c.y());
            p.drawPath(path);
            break;
        }
        case NavGlyph::Tools: {
            p.drawEllipse(c, r.width() / 2 - 3, r.height() / 2 - 3);
            p.drawEllipse(c, 3, 3);
            break;
        }
        case NavGlyph::Upgrade: {
            // A chip with an arrow rising out of it.
            QRectF chip(r.left() + 4, c.y() - 1, r.width() - 8, r.height() / 2 - 2);
            p.drawRoundedRect(chip, 2, 2);
            for (int i = 0; i < 3; ++i) {
                const qreal x = chip.left() + 4 + i * (chip.width() - 8) / 2;
                p.drawLine(QPointF(x, chip.bottom()), QPointF(x, chip.bottom() + 3));
            }
            p.drawLine(QPointF(c.x(), chip.top() - 2), QPointF(c.x(), r.top() + 2));
            p.drawLine(QPointF(c.x(), r.top() + 2), QPointF(c.x() - 4, r.top() + 6));
            p.drawLine(QPointF(c.x(), r.top() + 2), QPointF(c.x() + 4, r.top() + 6));
            break;
        }
        case NavGlyph::Email: {
            QRectF env = r.adjusted(1, 4, -1, -4);
            p.drawRoundedRect(env, 2, 2);
            QPainterPath flap;
            flap.moveTo(env.topLeft() + QPointF(1, 1));
            flap.lineTo(env.center().x(), env.center().y() + 1);
            flap.lineTo(env.topRight() + QPointF(-1, 1));
            p.drawPath(flap);
            break;
        }
        case NavGlyph::About: {
            p.drawEllipse(r.adjusted(1, 1, -1, -1));
            p.drawLine(QPointF(c.x(), c.y() - 1), QPointF(c.x(), r.bottom() - 5));
            p.setBrush(ink);
            p.drawEllipse(QPointF(c.x(), r.top() + 6), 1.2, 1.2);
            break;
        }
    }
    p.restore();
}

}  // namespace

QPixmap Artwork::navButton(const QString& caption, NavGlyph glyph, bool highlighted) {
    QPixmap pm = blank(kNavSize);
    QPainter p(&pm);
    begin(p);
    const QRectF r = QRectF(QPointF(0, 0), QSizeF(kNavSize)).adjusted(1.5, 1.5, -1.5, -2.5);

    // Soft drop shadow under the face.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 28));
    p.drawRoundedRect(r.translated(0, 1.5), 8, 8);

    QLinearGradient face(r.topLeft(), r.bottomLeft());
    if (highlighted) {
        face.setColorAt(0, kAmberTop);
        face.setColorAt(1, kAmberBottom);
        p.setPen(QPen(kAmberEdge, 1));
    } else {
        face.setColorAt(0, Qt::white);
        face.setColorAt(1, QColor(0xEA, 0xEF, 0xF5));
        p.setPen(QPen(kBorder, 1));
    }
    p.setBrush(face);
    p.drawRoundedRect(r, 8, 8);

    // The glyph sits in a disc at the left, the caption beside it.
    const QColor ink = highlighted ? kAmberInk : kInk;
    const QRectF disc(r.left() + 9, r.center().y() - 13, 26, 26);
    p.setPen(Qt::NoPen);
    p.setBrush(highlighted ? QColor(255, 255, 255, 110) : QColor(0xDD, 0xE6, 0xF0));
    p.drawEllipse(disc);
    drawGlyph(p, glyph, disc.adjusted(4, 4, -4, -4), highlighted ? kAmberInk : kBlue);

    p.setPen(ink);
    p.setFont(font(15, true));
    p.drawText(QRectF(disc.right() + 10, r.top(), r.right() - disc.right() - 14, r.height()),
               Qt::AlignVCenter | Qt::AlignLeft, caption);
    if (highlighted) {
        // A small chevron says "you are here".
        QPainterPath chevron;
        const qreal x = r.right() - 14, y = r.center().y();
        chevron.moveTo(x - 3, y - 5);
        chevron.lineTo(x + 2, y);
        chevron.lineTo(x - 3, y + 5);
        p.setPen(QPen(kAmberInk, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(chevron);
    }
    return pm;
}

QPixmap Artwork::tab(const QString& caption, QSize size, bool selected) {
    QPixmap pm = blank(size);
    QPainter p(&pm);
    begin(p);
    const QRectF r = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(0.5, 0.5, -0.5, 0);
    QPainterPath path;
    const qreal k = 6;
    path.moveTo(r.bottomLeft());
    path.lineTo(r.left(), r.top() + k);
    path.quadTo(r.topLeft(), QPointF(r.left() + k, r.top()));
    path.lineTo(r.right() - k, r.top());
    path.quadTo(r.topRight(), QPointF(r.right(), r.top() + k));
    path.lineTo(r.bottomRight());
    path.closeSubpath();
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    if (selected) {
        face.setColorAt(0, kAmberTop);
        face.setColorAt(1, kAmberBottom);
        p.setPen(QPen(kAmberEdge, 1));
    } else {
        face.setColorAt(0, Qt::white);
        face.setColorAt(1, QColor(0xE6, 0xEC, 0xF3));
        p.setPen(QPen(kBorder, 1));
    }
    p.setBrush(face);
    p.drawPath(path);
    p.setPen(selected ? kAmberInk : kInk);
    p.setFont(font(13, selected));
    p.drawText(r, Qt::AlignCenter, caption);
    return pm;
}

QPixmap Artwork::pushButton(const QString& caption, QSize size, bool primary) {
    QPixmap pm = blank(size);
    QPainter p(&pm);
    begin(p);
    const QRectF r = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(1, 1, -1, -2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 30));
    p.drawRoundedRect(r.translated(0, 1.5), 6, 6);
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    if (primary) {
        face.setColorAt(0, QColor(0x3D, 0x84, 0xC4));
        face.setColorAt(1, kBlue);
        p.setPen(QPen(kNavy, 1));
    } else {
        face.setColorAt(0, Qt::white);
        face.setColorAt(1, QColor(0xE4, 0xEA, 0xF1));
        p.setPen(QPen(kBorder.darker(110), 1));
    }
    p.setBrush(face);
    p.drawRoundedRect(r, 6, 6);
    p.setPen(primary ? Qt::white : kInk);
    p.setFont(font(13, true));
    p.drawText(r, Qt::AlignCenter, caption);
    return pm;
}

QPixmap Artwork::signButton(bool plus, QSize size) {
    QPixmap pm = blank(size);
    QPainter p(&pm);
    begin(p);
    const QRectF r = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(1, 1, -1, -1);
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    face.setColorAt(0, Qt::white);
    face.setColorAt(1, QColor(0xE4, 0xEA, 0xF1));
    p.setPen(QPen(kBorder.darker(110), 1));
    p.setBrush(face);
    p.drawRoundedRect(r, 4, 4);
    p.setPen(QPen(plus ? QColor(0x2E, 0x8B, 0x57) : QColor(0xC0, 0x39, 0x2B), 2.2, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = r.center();
    const qreal a = r.width() / 4;
    p.drawLine(QPointF(c.x() - a, c.y()), QPointF(c.x() + a, c.y()));
    if (plus) p.drawLine(QPointF(c.x(), c.y() - a), QPointF(c.x(), c.y() + a));
    return pm;
}

QPixmap Artwork::enclosure(QSize size) {
    QPixmap pm = blank(size);
    QPainter p(&pm);
    begin(p);
    const QRectF r = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(1, 1, -1, -1);
    QLinearGradient body(r.topLeft(), r.bottomLeft());
    body.setColorAt(0, QColor(0x4A, 0x55, 0x63));
    body.setColorAt(1, QColor(0x2B, 0x33, 0x3D));
    p.setPen(QPen(QColor(0x1A, 0x1F, 0x26), 1));
    p.setBrush(body);
    p.drawRoundedRect(r, r.height() * 0.12, r.height() * 0.12);
    // Two drive bays, each with its activity light.
    const qreal m = r.height() * 0.14;
    const qreal bayH = (r.height() - 3 * m) / 2;
    for (int i = 0; i < 2; ++i) {
        QRectF bay(r.left() + m, r.top() + m + i * (bayH + m), r.width() - 2 * m, bayH);
        p.setPen(QPen(QColor(0x16, 0x1A, 0x20), 1));
        p.setBrush(QColor(0x3A, 0x43, 0x4F));
        p.drawRoundedRect(bay, 2, 2);
        p.setPen(QPen(QColor(0x56, 0x61, 0x6F), 1));
        for (int g = 1; g <= 3; ++g) {
            const qreal x = bay.left() + bay.width() * 0.12 * g;
            p.drawLine(QPointF(x, bay.top() + 2), QPointF(x, bay.bottom() - 2));
        }
        const qreal led = std::max<qreal>(2.0, bayH * 0.18);
        QRadialGradient glow(QPointF(bay.right() - bayH * 0.5, bay.center().y()), led * 1.6);
        glow.setColorAt(0, QColor(0x7C, 0xFF, 0x9A));
        glow.setColorAt(1, QColor(0x1E, 0xA0, 0x4A));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(QPointF(bay.right() - bayH * 0.5, bay.center().y()), led, led);
    }
    return pm;
}

QPixmap Artwork::background(bool oem) {
    QPixmap pm = canvas(kBackgroundSize);
    pm.fill(Qt::white);
    QPainter p(&pm);
    begin(p);
    const int headerH = 60;

    // Header band with the product name.
    QLinearGradient band(0, 0, kBackgroundSize.width(), 0);
    if (oem) {
        band.setColorAt(0, QColor(0x3C, 0x40, 0x46));
        band.setColorAt(1, QColor(0x6A, 0x70, 0x78));
    } else {
        band.setColorAt(0, kNavy);
        band.setColorAt(1, kBlue);
    }
    p.fillRect(QRect(0, 0, kBackgroundSize.width(), headerH), band);
    // A faint arc gives the band some depth without noise.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 18));
    p.drawEllipse(QPointF(470, -140), 260, 190);
    p.fillRect(QRect(0, headerH, kBackgroundSize.width(), 3), oem ? QColor(0x9A, 0xA0, 0xA8) : kAmberBottom);

    const QPixmap box = enclosure(QSize(44, 34));
    p.drawPixmap(18, (headerH - box.height()) / 2, box);
    p.setPen(Qt::white);
    p.setFont(font(24, true));
    p.drawText(QRect(74, 8, 300, 30), Qt::AlignLeft | Qt::AlignVCenter,
               oem ? QStringLiteral("Storage Manager") : QStringLiteral("RAID GUI"));
    p.setPen(QColor(255, 255, 255, 190));
    p.setFont(font(12));
    p.drawText(QRect(75, 36, 320, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Dual-bay storage enclosure monitor"));

    // Navigation column.
    p.fillRect(QRect(0, headerH + 3, 201, kBackgroundSize.height() - headerH - 3), kPanel);
    p.fillRect(QRect(201, headerH + 3, 1, kBackgroundSize.height() - headerH - 3), QColor(0xDD, 0xE3, 0xEA));

    // The card the pages sit on (the page book is at 216,74 sized 385 x 321).
    const QRectF card(210.5, 69.5, 396, 332);
    p.setPen(Qt::NoPen);
    for (int i = 3; i >= 1; --i) {
        p.setBrush(QColor(0x1F, 0x3A, 0x5F, 7 * (4 - i)));
        p.drawRoundedRect(card.adjusted(-i, -i + 1, i, i + 1), 10 + i, 10 + i);
    }
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(0xD5, 0xDD, 0xE7), 1));
    p.drawRoundedRect(card, 10, 10);
    return pm;
}

QPixmap Artwork::drive(QSize size) {
    QPixmap pm = blank(size);
    QPainter p(&pm);
    begin(p);
    const QRectF r = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(1, 1, -1, -1);
    QLinearGradient body(r.topLeft(), r.bottomRight());
    body.setColorAt(0, QColor(0xD9, 0xDE, 0xE4));
    body.setColorAt(1, QColor(0xA9, 0xB1, 0xBB));
    p.setPen(QPen(QColor(0x6B, 0x74, 0x80), 1));
    p.setBrush(body);
    p.drawRoundedRect(r, 5, 5);
    // Screws in the corners.
    p.setBrush(QColor(0x8A, 0x93, 0x9E));
    p.setPen(Qt::NoPen);
    for (QPointF s : {r.topLeft() + QPointF(5, 5), r.topRight() + QPointF(-5, 5), r.bottomLeft() + QPointF(5, -5),
                      r.bottomRight() + QPointF(-5, -5)})
        p.drawEllipse(s, 1.8, 1.8);
    // Platter and spindle.
    const qreal radius = std::min(r.width(), r.height()) * 0.36;
    const QPointF hub(r.center().x(), r.top() + radius + r.height() * 0.1);
    QRadialGradient platter(hub, radius);
    platter.setColorAt(0.0, QColor(0xF4, 0xF6, 0xF8));
    platter.setColorAt(0.7, QColor(0xBF, 0xC7, 0xD1));
    platter.setColorAt(1.0, QColor(0x9A, 0xA4, 0xB0));
    p.setBrush(platter);
    p.setPen(QPen(QColor(0x7D, 0x87, 0x93), 1));
    p.drawEllipse(hub, radius, radius);
    p.setBrush(QColor(0x6B, 0x74, 0x80));
    p.drawEllipse(hub, radius * 0.18, radius * 0.18);
    // Actuator arm reaching over the platter.
    const QPointF pivot(r.right() - r.width() * 0.16, r.bottom() - r.height() * 0.14);
    p.setPen(QPen(QColor(0x4F, 0x58, 0x63), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(pivot, hub + QPointF(radius * 0.35, radius * 0.45));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4F, 0x58, 0x63));
    p.drawEllipse(pivot, 4, 4);
    return pm;
}

QPixmap Artwork::bay(QSize size) {
    QPixmap pm = blank(size);
    QPainter p(&pm);
    begin(p);
    const QRectF r = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    face.setColorAt(0, QColor(0xF7, 0xF9, 0xFC));
    face.setColorAt(1, QColor(0xEC, 0xF1, 0xF6));
    p.setPen(QPen(QColor(0xD5, 0xDD, 0xE7), 1));
    p.setBrush(face);
    p.drawRoundedRect(r, 8, 8);
    return pm;
}

QIcon Artwork::icon() {
    QIcon icon;
    for (int s : {16, 24, 32, 48, 64, 128}) icon.addPixmap(iconPixmap(s));
    return icon;
}

QPixmap Artwork::iconPixmap(int s) {
    // "Z1": the enclosure on a rounded blue tile, legible down to 16 px.
    QPixmap pm = blank(QSize(s, s));
    QPainter p(&pm);
    begin(p);
    QLinearGradient tile(0, 0, 0, s);
    tile.setColorAt(0, kBlue);
    tile.setColorAt(1, kNavy);
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.22, s * 0.22);
    const QPixmap box = enclosure(QSize(s * 3 / 4, s * 9 / 16));
    p.drawPixmap((s - box.width()) / 2, (s - box.height()) / 2, box);
    p.end();
    return pm;
}

QFont Artwork::font(int pixelSize, bool bold) {
    QFont f(QStringLiteral("Arial"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

}  // namespace raid::gui
