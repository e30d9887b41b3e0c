#include "gui/HistoryWindow.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/Artwork.h"
#include "gui/Palette.h"

namespace raid::gui {

namespace {

const QColor kGrid(0xE3, 0xE8, 0xEF);
const QColor kAlarmFill(0xE0, 0x30, 0x30, 0x30);
const QColor kThreshold(0xC0, 0x20, 0x20);
const QColor kTemperatureInk(0xD0, 0x5A, 0x1E);

QString text(const std::string& s) { return QString::fromStdString(s); }

void drawPlot(QPainter& p, const ChartPlot& plot, const QRect& area, const QColor& ink,
              const std::vector<ChartTick>& timeTicks) {
    auto px = [&](double x) { return area.left() + x * area.width(); };
    auto py = [&](double y) { return area.bottom() - y * area.height(); };
    p.setFont(Artwork::font(13, true));
    p.setPen(palette::kInk);
    p.drawText(QRect(area.left(), area.top() - 24, area.width(), 20), Qt::AlignLeft | Qt::AlignVCenter, text(plot.title));
    for (const ChartSpan& s : plot.alarms)
        p.fillRect(QRectF(px(s.from), area.top(), std::max(1.0, px(s.to) - px(s.from)), area.height()), kAlarmFill);
    p.setFont(Artwork::font(11));
    for (const ChartTick& t : timeTicks) {
        p.setPen(kGrid);
        p.drawLine(QPointF(px(t.at), area.top()), QPointF(px(t.at), area.bottom()));
    }
    for (const ChartTick& t : plot.valueTicks) {
        p.setPen(kGrid);
        p.drawLine(QPointF(area.left(), py(t.at)), QPointF(area.right(), py(t.at)));
        p.setPen(palette::kInk);
        p.drawText(QRectF(0, py(t.at) - 8, area.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter, text(t.label));
    }
    p.setPen(palette::kBorder);
    p.setBrush(Qt::NoBrush);
    p.drawRect(area);
    if (!plot.empty.empty()) {
        p.setPen(palette::kInk);
        p.drawText(area, Qt::AlignCenter, text(plot.empty));
        return;
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(ink, 1.6));
    for (const auto& line : plot.lines) {
        if (line.size() == 1) {
            p.drawPoint(QPointF(px(line[0].x), py(line[0].y)));
            continue;
        }
        QPolygonF poly;
        poly.reserve(static_cast<qsizetype>(line.size()));
        for (const ChartPoint& pt : line) poly << QPointF(px(pt.x), py(pt.y));
        p.drawPolyline(poly);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    if (plot.threshold.shown) {
        const double y = py(plot.threshold.y);
        p.setPen(QPen(kThreshold, 1, Qt::DashLine));
        p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        p.setFont(Artwork::font(11, true));
        const QString label = text(plot.threshold.label);
        const int w = p.fontMetrics().horizontalAdvance(label) + 8;
        // Above the line, or below it when the line is at the top.
        const double top = y - 18 < area.top() ? y + 2 : y - 18;
        p.fillRect(QRectF(area.right() - w - 4, top, w, 16), QColor(255, 255, 255, 210));
        p.drawText(QRectF(area.right() - w - 4, top, w, 16), Qt::AlignCenter, label);
    }
}

}  // namespace

HistoryChartView::HistoryChartView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(420, 300);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void HistoryChartView::setChart(const HistoryChart& chart) {
    chart_ = chart;
    update();
}

void HistoryChartView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(palette::kInk);
    if (!chart_.message.empty()) {
        p.setFont(Artwork::font(15));
        p.drawText(rect().adjusted(20, 20, -20, -20), Qt::AlignCenter | Qt::TextWordWrap, text(chart_.message));
        return;
    }
    // Two plots one above the other, sharing the time axis labelled under the lower.
    const int left = 84, right = 16, top = 34, gap = 40, bottom = 30;
    const int h = std::max(40, (height() - top - gap - bottom) / 2);
    const int w = std::max(40, width() - left - right);
    const QRect upper(left, top, w, h), lower(left, top + h + gap, w, h);
    drawPlot(p, chart_.temperature, upper, kTemperatureInk, chart_.timeTicks);
    drawPlot(p, chart_.fan, lower, palette::kBlue, chart_.timeTicks);
    p.setFont(Artwork::font(11));
    p.setPen(palette::kInk);
    for (const ChartTick& t : chart_.timeTicks) {
        const double x = lower.left() + t.at * lower.width();
        p.drawLine(QPointF(x, lower.bottom()), QPointF(x, lower.bottom() + 4));
        p.drawText(QRectF(x - 50, lower.bottom() + 6, 100, 18), Qt::AlignHCenter | Qt::AlignTop, text(t.label));
    }
}

HistoryWindow::HistoryWindow(ActionPoster post, QWidget* parent) : QDialog(parent), post_(std::move(post)) {
    setObjectName(QString::fromLatin1(kObjectName));
    setSizeGripEnabled(true);
    resize(860, 580);
    auto* row = new QHBoxLayout;
    for (HistoryRange range : {HistoryRange::Day, HistoryRange::Week, HistoryRange::Quarter}) {
        auto* b = new QPushButton(QString::fromLatin1(historyRangeName(range)), this);
        b->setObjectName(QStringLiteral("HistoryRange%1").arg(static_cast<int>(range)));
        b->setCheckable(true);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, range] {
            // The engine answers with "Loading..." and then the chart.
            for (QPushButton* other : buttons_) other->setChecked(other == rangeButton(range));
            if (post_) post_([range](EngineCommands& f) { f.HistoryRangeClick(range); });
        });
        buttons_[static_cast<std::size_t>(range)] = b;
        row->addWidget(b);
    }
    row->addStretch();
    view_ = new HistoryChartView(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(view_, 1);
    setChart(historyChartMessage("", HistoryRange::Day, kHistoryLoading));
    buttons_[0]->setFocus();
}

void HistoryWindow::setChart(const HistoryChart& chart) {
    setWindowTitle(text(chart.caption));
    for (QPushButton* b : buttons_) b->setChecked(b == rangeButton(chart.range));
    view_->setChart(chart);
}

}  // namespace raid::gui
