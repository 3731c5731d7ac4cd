#include "report/archive_chart.h"

#include "features/archive.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace tessavin {

namespace {

constexpr double kLeft = 72, kRight = 24, kTop = 48, kBottom = 46;
constexpr double kPointRadius = 2.5;
constexpr double kNewestRadius = 6.5;
constexpr QRgb kSeriesColour = 0x1f5fa8;
constexpr QRgb kNewestColour = 0xc0392b;
constexpr QRgb kGridColour = 0xdddddd;
constexpr QRgb kTextColour = 0x333333;

QString svgColour(QRgb rgb) { return QColor(rgb).name(); }

QDateTime clockTime(qint64 time) { return QDateTime::fromSecsSinceEpoch(time, QTimeZone::utc()); }

QString valueText(double value) { return QString::number(value, 'f', 3); }

// 1, 2 or 5 times a power of ten, the smallest at least `rough`.
double niceStep(double rough)
{
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= rough * (1 - 1e-9))
            return m * power;
    }
    return 10 * power;
}

void layoutValueAxis(ChartLayout& out, double lo, double hi)
{
    if (hi - lo < 1e-9 * std::max(1.0, std::abs(hi))) {
        const double pad = std::max(std::abs(lo) * 0.1, 1.0);
        lo -= pad;
        hi += pad;
    }
    const double step = niceStep((hi - lo) / 5);
    out.low = std::floor(lo / step + 1e-9) * step;
    out.high = std::ceil(hi / step - 1e-9) * step;
    const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
    const int count = static_cast<int>(std::lround((out.high - out.low) / step));
    for (int k = 0; k <= count; ++k) {
        const double v = out.low + k * step;
        const double y = out.plot.bottom() - (v - out.low) / (out.high - out.low) * out.plot.height();
        out.valueTicks.push_back({y, QString::number(std::abs(v) < step * 1e-6 ? 0.0 : v, 'f', decimals)});
    }
}

void layoutTimeAxis(ChartLayout& out)
{
    static constexpr qint64 kSteps[] = {60,        120,       300,        600,        900,        1800,
                                        3600,      7200,      10800,      21600,      43200,      86400,
                                        2 * 86400, 7 * 86400, 14 * 86400, 30 * 86400, 91 * 86400, 365 * 86400};
    const qint64 width = out.span.to - out.span.from;
    const double wanted = std::max(2.0, out.plot.width() / 120);
    qint64 step = kSteps[std::size(kSteps) - 1];
    for (qint64 s : kSteps) {
        if (width / s <= wanted) {
            step = s;
            break;
        }
    }
    qint64 t = out.span.from / step * step;
    if (t < out.span.from)
        t += step;
    QDate lastDay;
    for (; t <= out.span.to; t += step) {
        const QDateTime at = clockTime(t);
        QString label;
        if (step >= 86400) {
            label = at.date().toString(Qt::ISODate);
        } else {
            label = at.time().toString(QStringLiteral("HH:mm"));
            if (at.date() != lastDay)
                label += QLatin1Char('\n') + at.date().toString(Qt::ISODate);
        }
        lastDay = at.date();
        const double x = out.plot.left() + double(t - out.span.from) / double(width) * out.plot.width();
        out.timeTicks.push_back({x, label});
    }
}

QString number(double v) { return QString::number(v, 'f', 1); }

QString escaped(const QString& text) { return text.toHtmlEscaped(); }

} // namespace

std::vector<ChartSample> ChartSamples(const std::vector<ArchiveLine>& lines)
{
    std::vector<ChartSample> samples;
    bool previousPlaced = false;
    for (const ArchiveLine& line : lines) {
        const RecordStamp& s = line.stamp;
        const QDate date(s.year, s.month, s.day);
        const QTime time(s.hour, s.minute, s.second);
        const bool placed = line.record.yearByte != 0 && date.isValid() && time.isValid()
            && std::isfinite(line.record.value);
        if (placed) {
            ChartSample sample;
            sample.index = line.index;
            sample.time = QDateTime(date, time, QTimeZone::utc()).toSecsSinceEpoch();
            sample.value = line.record.value;
            sample.joined = previousPlaced; // until the step is known
            samples.push_back(sample);
        }
        previousPlaced = placed;
    }
    std::vector<qint64> steps;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const qint64 step = samples[i].time - samples[i - 1].time;
        if (samples[i].joined && step > 0)
            steps.push_back(step);
    }
    qint64 median = 0;
    if (!steps.empty()) {
        std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
        median = steps[steps.size() / 2];
    }
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const qint64 step = i ? samples[i].time - samples[i - 1].time : 0;
        samples[i].joined = samples[i].joined && step > 0 && 2 * step <= 3 * median;
    }
    return samples;
}

ChartSpan FullSpan(const std::vector<ChartSample>& samples)
{
    if (samples.empty())
        return {0, 3600};
    const auto [lo, hi] = std::minmax_element(
        samples.begin(), samples.end(), [](const ChartSample& a, const ChartSample& b) { return a.time < b.time; });
    if (lo->time == hi->time)
        return {lo->time - 1800, lo->time + 1800};
    return {lo->time, hi->time};
}

ChartSpan ZoomSpan(const ChartSpan& span, double factor, double anchor)
{
    anchor = std::clamp(anchor, 0.0, 1.0);
    const double width = double(span.to - span.from);
    const double at = span.from + anchor * width;
    constexpr double kWidest = 100.0 * 365 * 86400; // a century: ticks and times stay sane
    const double newWidth = std::clamp(width * factor, 60.0, kWidest);
    const auto from = static_cast<qint64>(std::llround(at - anchor * newWidth));
    return {from, from + static_cast<qint64>(std::llround(newWidth))};
}

namespace {

// The samples within the span, by their place in `samples`.
std::vector<int> shownSamples(const std::vector<ChartSample>& samples, const ChartSpan& span)
{
    std::vector<int> shown;
    for (int i = 0; i < int(samples.size()); ++i) {
        if (samples[i].time >= span.from && samples[i].time <= span.to)
            shown.push_back(i);
    }
    return shown;
}

std::optional<ChartStats> shownStats(const std::vector<ChartSample>& samples, const std::vector<int>& shown)
{
    if (shown.empty())
        return std::nullopt;
    ChartStats stats;
    stats.min = stats.max = samples[shown.front()].value;
    double sum = 0;
    for (int i : shown) {
        stats.min = std::min(stats.min, samples[i].value);
        stats.max = std::max(stats.max, samples[i].value);
        sum += samples[i].value;
    }
    stats.count = int(shown.size());
    stats.mean = sum / stats.count;
    return stats;
}

// Where a sample stands once both axes are laid out.
QPointF place(const ChartLayout& out, const ChartSample& s)
{
    const double x = out.plot.left()
        + double(s.time - out.span.from) / double(out.span.to - out.span.from) * out.plot.width();
    const double y = out.plot.bottom() - (s.value - out.low) / (out.high - out.low) * out.plot.height();
    return QPointF(x, y);
}

void layoutPoints(ChartLayout& out, const std::vector<ChartSample>& samples, const std::vector<int>& shown)
{
    for (int i : shown) {
        if (i == int(samples.size()) - 1)
            out.newestPoint = int(out.points.size());
        out.points.push_back(place(out, samples[i]));
        out.pointSample.push_back(i);
    }
}

// Joined runs, cut to the samples shown and one beyond each end.
void layoutRuns(ChartLayout& out, const std::vector<ChartSample>& samples)
{
    const int n = int(samples.size());
    for (int a = 0; a < n;) {
        int b = a;
        while (b + 1 < n && samples[b + 1].joined)
            ++b;
        int first = a;
        while (first <= b && samples[first].time < out.span.from)
            ++first;
        int last = b;
        while (last >= a && samples[last].time > out.span.to)
            --last;
        const int start = std::max(a, first - 1), end = std::min(b, last + 1);
        if (end > start) {
            std::vector<QPointF> run;
            for (int i = start; i <= end; ++i)
                run.push_back(place(out, samples[i]));
            out.lines.push_back(std::move(run));
        }
        a = b + 1;
    }
}

// The title over the whole series, the statistics of the span shown and the newest record.
void layoutTexts(ChartLayout& out, const std::vector<ChartSample>& samples)
{
    out.title = samples.empty()
        ? QStringLiteral("Archive: no dated records")
        : QStringLiteral("Archive: %1 records, %2 to %3")
              .arg(samples.size())
              .arg(ChartTimeText(FullSpan(samples).from),
                   ChartTimeText(
                       std::max_element(samples.begin(), samples.end(), [](const ChartSample& x, const ChartSample& y) {
                           return x.time < y.time;
                       })->time));
    out.statsText = out.stats
        ? QStringLiteral("min %1   max %2   mean %3   (%4 shown)")
              .arg(valueText(out.stats->min), valueText(out.stats->max), valueText(out.stats->mean))
              .arg(out.stats->count)
        : QStringLiteral("no records shown");
    if (!samples.empty()) {
        const ChartSample& newest = samples.back();
        out.newestText = QStringLiteral("newest %1 (index %2, %3)")
                             .arg(valueText(newest.value))
                             .arg(newest.index)
                             .arg(ChartTimeText(newest.time));
    }
}

} // namespace

ChartLayout LayoutChart(const std::vector<ChartSample>& samples, const ChartSpan& span, const QSizeF& size)
{
    ChartLayout out;
    out.size = size;
    out.span = span;
    if (out.span.to <= out.span.from)
        out.span.to = out.span.from + 60;
    out.plot = QRectF(kLeft, kTop, std::max(10.0, size.width() - kLeft - kRight),
                      std::max(10.0, size.height() - kTop - kBottom));
    const std::vector<int> shown = shownSamples(samples, out.span);
    out.stats = shownStats(samples, shown);
    layoutValueAxis(out, out.stats ? out.stats->min : 0, out.stats ? out.stats->max : 1);
    layoutTimeAxis(out);
    layoutPoints(out, samples, shown);
    layoutRuns(out, samples);
    layoutTexts(out, samples);
    return out;
}

QString ChartTimeText(qint64 time) { return clockTime(time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

QString ChartSampleText(const ChartSample& sample)
{
    return QStringLiteral("index %1  %2  %3")
        .arg(sample.index)
        .arg(ChartTimeText(sample.time), valueText(sample.value));
}

int NearestPoint(const ChartLayout& layout, const QPointF& pos, double reach)
{
    int best = -1;
    double bestDistance = reach;
    for (int i = 0; i < int(layout.points.size()); ++i) {
        const double d = std::abs(layout.points[i].x() - pos.x());
        if (d <= bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

namespace {

// The grid, the frame, the ticks' labels and the texts around the plot.
void paintAxes(QPainter& p, const ChartLayout& l)
{
    p.setPen(QPen(QColor(kGridColour), 1));
    for (const ChartTick& t : l.valueTicks)
        p.drawLine(QPointF(l.plot.left(), t.position), QPointF(l.plot.right(), t.position));
    for (const ChartTick& t : l.timeTicks)
        p.drawLine(QPointF(t.position, l.plot.top()), QPointF(t.position, l.plot.bottom()));
    p.setPen(QColor(kTextColour));
    p.drawRect(l.plot);
    for (const ChartTick& t : l.valueTicks)
        p.drawText(QRectF(0, t.position - 8, l.plot.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter, t.label);
    for (const ChartTick& t : l.timeTicks)
        p.drawText(QRectF(t.position - 60, l.plot.bottom() + 4, 120, 32), Qt::AlignHCenter | Qt::AlignTop, t.label);
    p.drawText(QRectF(8, 4, l.size.width() - 16, 18), Qt::AlignLeft | Qt::AlignVCenter, l.title);
    p.drawText(QRectF(8, 24, l.size.width() - 16, 18), Qt::AlignLeft | Qt::AlignVCenter, l.statsText);
    p.drawText(QRectF(8, 24, l.size.width() - 16, 18), Qt::AlignRight | Qt::AlignVCenter, l.newestText);
    p.drawText(QRectF(l.plot.right() - 200, l.size.height() - 16, 200, 14), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("local time"));
}

// The joined runs, the points and the newest mark, clipped to the plot (with
// room for the mark).
void paintSeries(QPainter& p, const ChartLayout& l)
{
    const QColor series(kSeriesColour);
    p.setClipRect(l.plot.adjusted(-kNewestRadius, -kNewestRadius, kNewestRadius, kNewestRadius));
    p.setPen(QPen(series, 1.5));
    for (const auto& run : l.lines)
        p.drawPolyline(run.data(), int(run.size()));
    p.setPen(Qt::NoPen);
    p.setBrush(series);
    for (const QPointF& pt : l.points)
        p.drawEllipse(pt, kPointRadius, kPointRadius);
    if (l.newestPoint >= 0) {
        p.setPen(QPen(QColor(kNewestColour), 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(l.points[l.newestPoint], kNewestRadius, kNewestRadius);
    }
    p.setClipping(false);
}

// A line through the hovered point, and its sample's text in a box beside it
// that stays on the canvas.
void paintHover(QPainter& p, const ChartLayout& l, const QPointF& pt, const ChartSample& sample)
{
    const QColor text(kTextColour);
    p.setPen(QPen(text, 1, Qt::DashLine));
    p.drawLine(QPointF(pt.x(), l.plot.top()), QPointF(pt.x(), l.plot.bottom()));
    const QString label = ChartSampleText(sample);
    QRectF box = p.fontMetrics().boundingRect(label).adjusted(-6, -4, 6, 4);
    box.moveTopLeft(pt + QPointF(10, -box.height() - 6));
    if (box.right() > l.size.width())
        box.moveRight(pt.x() - 10);
    if (box.top() < 0)
        box.moveTop(pt.y() + 10);
    p.setPen(text);
    p.setBrush(QColor(255, 255, 225));
    p.drawRect(box);
    p.drawText(box, Qt::AlignCenter, label);
}

} // namespace

void PaintChart(QPainter& p, const ChartLayout& l, const std::vector<ChartSample>& samples, int hoverPoint)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRectF(QPointF(0, 0), l.size), Qt::white);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    paintAxes(p, l);
    paintSeries(p, l);
    if (hoverPoint >= 0 && hoverPoint < int(l.points.size()))
        paintHover(p, l, l.points[hoverPoint], samples[l.pointSample[hoverPoint]]);
    p.restore();
}

namespace {

// The document's opening: its size and title, the plot's clip and the white ground.
void svgOpening(QString& s, const ChartLayout& l)
{
    const QString w = number(l.size.width()), h = number(l.size.height());
    s += QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"archive-chart\" width=\"%1\" height=\"%2\" "
                        "viewBox=\"0 0 %1 %2\" font-family=\"sans-serif\" font-size=\"12\" fill=\"%3\" role=\"img\" "
                        "aria-label=\"%4\">\n")
             .arg(w, h, svgColour(kTextColour), escaped(l.title));
    s += QStringLiteral("<title>%1</title>\n").arg(escaped(l.title));
    s += QStringLiteral("<defs><clipPath id=\"archive-plot\"><rect x=\"%1\" y=\"%2\" width=\"%3\" "
                        "height=\"%4\"/></clipPath></defs>\n")
             .arg(number(l.plot.left() - kNewestRadius), number(l.plot.top() - kNewestRadius),
                  number(l.plot.width() + 2 * kNewestRadius), number(l.plot.height() + 2 * kNewestRadius));
    s += QStringLiteral("<rect width=\"%1\" height=\"%2\" fill=\"#ffffff\"/>\n").arg(w, h);
}

// The grid, the frame and the ticks' labels.
void svgAxes(QString& s, const ChartLayout& l)
{
    s += QStringLiteral("<g class=\"grid\" stroke=\"%1\" stroke-width=\"1\">\n").arg(svgColour(kGridColour));
    for (const ChartTick& t : l.valueTicks)
        s += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\"/>\n")
                 .arg(number(l.plot.left()), number(t.position), number(l.plot.right()));
    for (const ChartTick& t : l.timeTicks)
        s += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\"/>\n")
                 .arg(number(t.position), number(l.plot.top()), number(l.plot.bottom()));
    s += QStringLiteral(
             "</g>\n<rect class=\"frame\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"none\" stroke=\"%5\"/>\n")
             .arg(number(l.plot.left()), number(l.plot.top()), number(l.plot.width()), number(l.plot.height()),
                  svgColour(kTextColour));
    s += QStringLiteral("<g class=\"value-axis\" text-anchor=\"end\">\n");
    for (const ChartTick& t : l.valueTicks)
        s += QStringLiteral("<text x=\"%1\" y=\"%2\">%3</text>\n")
                 .arg(number(l.plot.left() - 6), number(t.position + 4), escaped(t.label));
    s += QStringLiteral("</g>\n<g class=\"time-axis\" text-anchor=\"middle\">\n");
    for (const ChartTick& t : l.timeTicks) {
        s += QStringLiteral("<text x=\"%1\" y=\"%2\">").arg(number(t.position), number(l.plot.bottom() + 16));
        const QStringList parts = t.label.split(QLatin1Char('\n'));
        for (int i = 0; i < parts.size(); ++i)
            s += QStringLiteral("<tspan x=\"%1\" dy=\"%2\">%3</tspan>")
                     .arg(number(t.position), i ? QStringLiteral("14") : QStringLiteral("0"), escaped(parts[i]));
        s += QStringLiteral("</text>\n");
    }
    s += QStringLiteral("</g>\n");
}

// The title, the statistics, the newest record and the time axis' name.
void svgTexts(QString& s, const ChartLayout& l)
{
    s += QStringLiteral("<text class=\"title\" x=\"8\" y=\"17\" font-weight=\"bold\">%1</text>\n")
             .arg(escaped(l.title));
    s += QStringLiteral("<text class=\"stats\" x=\"8\" y=\"37\">%1</text>\n").arg(escaped(l.statsText));
    s += QStringLiteral("<text class=\"newest\" x=\"%1\" y=\"37\" text-anchor=\"end\" fill=\"%2\">%3</text>\n")
             .arg(number(l.size.width() - 8), svgColour(kNewestColour), escaped(l.newestText));
    s += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">local time</text>\n")
             .arg(number(l.plot.right()), number(l.size.height() - 4));
}

// The joined runs, the points with their tooltips and the newest mark, clipped to the plot.
void svgSeries(QString& s, const ChartLayout& l, const std::vector<ChartSample>& samples)
{
    s += QStringLiteral("<g class=\"series\" clip-path=\"url(#archive-plot)\">\n");
    s += QStringLiteral("<g fill=\"none\" stroke=\"%1\" stroke-width=\"1.5\" stroke-linejoin=\"round\">\n")
             .arg(svgColour(kSeriesColour));
    for (const auto& run : l.lines) {
        QStringList coords;
        for (const QPointF& pt : run)
            coords << number(pt.x()) + QLatin1Char(',') + number(pt.y());
        s += QStringLiteral("<polyline class=\"run\" points=\"%1\"/>\n").arg(coords.join(QLatin1Char(' ')));
    }
    s += QStringLiteral("</g>\n<g fill=\"%1\">\n").arg(svgColour(kSeriesColour));
    for (std::size_t i = 0; i < l.points.size(); ++i) {
        const ChartSample& sample = samples[l.pointSample[i]];
        s += QStringLiteral(
                 "<circle class=\"point\" cx=\"%1\" cy=\"%2\" r=\"%3\" data-index=\"%4\"><title>%5</title></circle>\n")
                 .arg(number(l.points[i].x()), number(l.points[i].y()), number(kPointRadius))
                 .arg(sample.index)
                 .arg(escaped(ChartSampleText(sample)));
    }
    s += QStringLiteral("</g>\n");
    if (l.newestPoint >= 0)
        s += QStringLiteral("<circle class=\"newest-mark\" cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"none\" stroke=\"%4\" "
                            "stroke-width=\"2\"/>\n")
                 .arg(number(l.points[l.newestPoint].x()), number(l.points[l.newestPoint].y()), number(kNewestRadius),
                      svgColour(kNewestColour));
    s += QStringLiteral("</g>\n");
}

} // namespace

QByteArray ChartSvg(const ChartLayout& l, const std::vector<ChartSample>& samples)
{
    QString s;
    svgOpening(s, l);
    svgAxes(s, l);
    svgTexts(s, l);
    svgSeries(s, l, samples);
    s += QStringLiteral("</svg>\n");
    return s.toUtf8();
}

QByteArray ArchiveChartSvg(const std::vector<ArchiveLine>& lines)
{
    const std::vector<ChartSample> samples = ChartSamples(lines);
    return ChartSvg(LayoutChart(samples, FullSpan(samples), QSizeF(960, 480)), samples);
}

} // namespace tessavin
