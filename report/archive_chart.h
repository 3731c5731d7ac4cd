#pragma once
// The archive chart: the values of an archive download over time.
//
// One layout serves every output: the window paints it with QPainter (and saves
// it as PNG), and ChartSvg writes it as SVG text for files and reports. The SVG
// is written by hand from the layout, not through a paint device, so that
// tessavin-cli needs no windowing system and no fonts (the viewer sets the text),
// and so that every point carries its own tooltip and class.
//
// The time axis is the records' time as shown (local time, the records moved
// as the lines are). Points are joined in the order read; a record missing from
// the series (a time step well beyond the usual one, an undated record, a value
// that is not a number) leaves a gap. Minimum, maximum and mean are those of the
// span shown; the newest record read is marked.
#include <QByteArray>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>
#include <vector>

class QPainter;

namespace tessavin {

struct ArchiveLine;

struct ChartSample {
    int index = 0; // the record's slot in the ring
    qint64 time = 0; // the time as shown, in seconds on a clock without zone
    double value = 0.0;
    bool joined = false; // a line joins it to the sample before
};

// The samples of the lines, in the order read. Undated records, impossible
// dates and values that are not finite numbers have no place and are left out.
// A sample is joined to the one before when that record was the one read just
// before it and its time follows within one and a half times the median step.
std::vector<ChartSample> ChartSamples(const std::vector<ArchiveLine>& lines);

// The time span shown, both ends included.
struct ChartSpan {
    qint64 from = 0;
    qint64 to = 0;
};

// From the earliest to the latest sample; a series of one time gets an hour
// around it.
ChartSpan FullSpan(const std::vector<ChartSample>& samples);
// The span zoomed by `factor` (below 1 zooms in) around the time at `anchor`
// (0 = start, 1 = end), never narrower than a minute nor wider than a century.
ChartSpan ZoomSpan(const ChartSpan& span, double factor, double anchor);

struct ChartTick {
    double position = 0.0; // x for the time axis, y for the value axis
    QString label;
};

struct ChartStats {
    double min = 0.0;
    double max = 0.0;
    double mean = 0.0;
    int count = 0;
};

struct ChartLayout {
    QSizeF size;
    QRectF plot; // the area inside the axes
    ChartSpan span; // times at plot.left() and plot.right()
    double low = 0.0; // the value at plot.bottom()
    double high = 1.0; // the value at plot.top()
    std::vector<QPointF> points; // one per sample within the span
    std::vector<int> pointSample; // the sample behind each point
    std::vector<std::vector<QPointF>> lines; // joined runs (may reach beyond the plot; clip)
    std::vector<ChartTick> timeTicks;
    std::vector<ChartTick> valueTicks;
    std::optional<ChartStats> stats; // of the samples shown; none when none is
    int newestPoint = -1; // the newest sample's point, when shown
    QString title;
    QString statsText; // "min … max … mean … (N shown)" or "no records shown"
    QString newestText; // the newest record's value, index and time
};

// Lays out the samples within `span` on a canvas of `size`.
ChartLayout LayoutChart(const std::vector<ChartSample>& samples, const ChartSpan& span, const QSizeF& size);

// "2024-03-05 14:07:09", the chart's spelling of a sample's time.
QString ChartTimeText(qint64 time);
// "index 7  2024-03-05 14:07:09  12.5": what a hovered point tells.
QString ChartSampleText(const ChartSample& sample);

// The point nearest to `pos` horizontally within `reach` pixels; -1 when none.
int NearestPoint(const ChartLayout& layout, const QPointF& pos, double reach);

// Paints the layout; `hoverPoint` (a point of the layout, or -1) gets its text
// beside it. Needs a QGuiApplication (fonts).
void PaintChart(QPainter& painter, const ChartLayout& layout, const std::vector<ChartSample>& samples,
                int hoverPoint = -1);

// The layout as an SVG document (UTF-8). Each point is a <circle class="point">
// with a <title> that browsers show on hover; the newest is also class "newest".
QByteArray ChartSvg(const ChartLayout& layout, const std::vector<ChartSample>& samples);

// The whole series of the lines as SVG at 960 x 480: the chart that the visit
// report and tessavin-cli's --chart write.
QByteArray ArchiveChartSvg(const std::vector<ArchiveLine>& lines);

} // namespace tessavin
