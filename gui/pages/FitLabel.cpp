#include "gui/pages/FitLabel.h"

#include <algorithm>

#include <QFontMetrics>
#include <QList>
#include <QPainter>
#include <QStyle>

namespace raid::gui {

namespace {

const QChar kEllipsis(0x2026);

QString withoutTrailingBlanks(QString s) {
    qsizetype end = s.size();
    while (end > 0 && s.at(end - 1).isSpace()) --end;
    s.truncate(end);
    return s;
}

// How wide `s` is drawn: the larger of its advance and the box the painter lays it
// out in (they differ by a pixel or two for some glyphs, the ellipsis among them).
int drawnWidth(const QFontMetrics& fm, const QString& s) {
    constexpr int kRoom = 1 << 20;
    return std::max(fm.horizontalAdvance(s), fm.boundingRect(QRect(0, 0, kRoom, kRoom), 0, s).width());
}

// The longest start of `s` (at least one character) that fits `width`.
qsizetype fittingPrefix(const QString& s, const QFontMetrics& fm, int width) {
    qsizetype lo = 1, hi = s.size();
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo + 1) / 2;
        if (drawnWidth(fm, s.left(mid)) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

// The start of `s` that fits `width` together with an ellipsis after it.
QString elided(const QString& s, const QFontMetrics& fm, int width) {
    const int room = width - drawnWidth(fm, QString(kEllipsis));
    if (room <= 0) return QString();
    QString head = s.left(fittingPrefix(s, fm, room));
    while (!head.isEmpty() && drawnWidth(fm, head + kEllipsis) > width) head.chop(1);
    return withoutTrailingBlanks(head) + kEllipsis;
}

// A paragraph cut where a line may end: at blanks (which vanish at a line end) and
// after hyphens and slashes, the way drive models read ("WD40EFRX-" / "68N32N0").
struct Piece {
    QString text;
    bool afterBlank;
};

QList<Piece> pieces(const QString& paragraph) {
    QList<Piece> out;
    for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        qsizetype from = 0;
        for (qsizetype i = 0; i < word.size(); ++i) {
            const QChar ch = word.at(i);
            if ((ch == QLatin1Char('-') || ch == QLatin1Char('/')) && i + 1 < word.size()) {
                out.push_back({word.mid(from, i + 1 - from), from == 0});
                from = i + 1;
            }
        }
        out.push_back({word.mid(from), from == 0});
    }
    return out;
}

// One paragraph broken into lines of at most `width`: at the places above where
// possible, inside a piece only when it alone is wider than the line. Stops once
// `out` holds more than `limit` lines: the rest could not be shown anyway.
void wrapParagraph(const QString& paragraph, const QFontMetrics& fm, int width, qsizetype limit, QStringList& out) {
    if (drawnWidth(fm, paragraph) <= width) {
        out << paragraph;
        return;
    }
    QString line;
    for (Piece piece : pieces(paragraph)) {
        const QString joined =
            line.isEmpty() ? piece.text : line + (piece.afterBlank ? QStringLiteral(" ") : QString()) + piece.text;
        if (drawnWidth(fm, joined) <= width) {
            line = joined;
            continue;
        }
        if (!line.isEmpty()) out << line;
        while (out.size() <= limit && drawnWidth(fm, piece.text) > width) {
            const qsizetype n = fittingPrefix(piece.text, fm, width);
            out << piece.text.left(n);
            piece.text.remove(0, n);
        }
        line = piece.text;
        if (out.size() > limit) return;
    }
    out << line;
}

}  // namespace

FitLabel::FitLabel(QWidget* parent) : QLabel(parent) {
    // Greyed means "not there": a disabled label (a drive that is absent, a failed
    // drive's model) reads lighter than any colour the engine gives an enabled one.
    QPalette pal = palette();
    pal.setColor(QPalette::Disabled, QPalette::WindowText, greyedColor());
    pal.setColor(QPalette::Disabled, QPalette::Text, greyedColor());
    setPalette(pal);
}

QColor FitLabel::greyedColor() { return QColor(0xA3, 0xAD, 0xB9); }

QStringList FitLabel::fit(const QString& text, const QFontMetrics& fm, int width, int height, bool wrap,
                          bool* complete) {
    bool all = true;
    QStringList lines;
    if (width > 0) {
        // n lines take (n - 1) line spacings plus one line's height.
        const int maxLines = height < fm.height() ? 1 : 1 + (height - fm.height()) / std::max(1, fm.lineSpacing());
        QString shown = withoutTrailingBlanks(text);
        // No box holds more characters than it has pixels per line: a huge text is cut
        // before it is measured, so whatever arrives, drawing it stays cheap.
        const qsizetype most = std::min<qsizetype>(4096, qsizetype(maxLines + 1) * (width + 1));
        if (shown.size() > most) {
            shown.truncate(most);
            all = false;
        }
        if (!shown.isEmpty()) {
            for (QString paragraph : shown.split(QLatin1Char('\n'))) {
                if (lines.size() > maxLines) break;
                paragraph = withoutTrailingBlanks(paragraph);
                if (wrap)
                    wrapParagraph(paragraph, fm, width, maxLines, lines);
                else
                    lines << paragraph;
            }
        }
        if (lines.size() > maxLines) {
            lines.resize(maxLines);
            lines.last() = elided(lines.last(), fm, width);
            all = false;
        }
        for (QString& line : lines) {
            if (drawnWidth(fm, line) > width) {
                line = elided(line, fm, width);
                all = false;
            }
        }
    } else {
        all = text.trimmed().isEmpty();
    }
    if (complete) *complete = all;
    return lines;
}

QStringList FitLabel::shownLines() const {
    const QRect r = contentsRect();
    return fit(text(), fontMetrics(), r.width(), r.height(), wordWrap());
}

bool FitLabel::showsAll() const {
    const QRect r = contentsRect();
    bool all = false;
    fit(text(), fontMetrics(), r.width(), r.height(), wordWrap(), &all);
    return all;
}

void FitLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    drawFrame(&p);
    const QString lines = shownLines().join(QLatin1Char('\n'));
    if (lines.isEmpty()) return;
    // Through the style, as QLabel itself draws: a disabled label is greyed the
    // platform's way whatever colour the engine gave it.
    QPalette pal = palette();
    pal.setCurrentColorGroup(!isEnabled() ? QPalette::Disabled
                             : isActiveWindow() ? QPalette::Active
                                                : QPalette::Inactive);
    style()->drawItemText(&p, contentsRect(), QStyle::visualAlignment(layoutDirection(), alignment()), pal,
                          isEnabled(), lines, foregroundRole());
}

}  // namespace raid::gui
