#pragma once
// The archive chart in a window of its own: the wheel zooms the time axis about
// the pointer, dragging pans, hovering shows a record's time, value and index;
// the chart can be saved as PNG or SVG (the same SVG tessavin-cli writes).
#include "report/archive_chart.h"

#include <QWidget>

#include <vector>

class QPushButton;

namespace tessavin {
class UiSeam;
struct ArchiveLine;
} // namespace tessavin

class ArchiveChartView : public QWidget {
    Q_OBJECT
public:
    explicit ArchiveChartView(QWidget* parent = nullptr);

    void setSamples(std::vector<tessavin::ChartSample> samples);
    const std::vector<tessavin::ChartSample>& samples() const { return samples_; }
    tessavin::ChartSpan span() const { return span_; }
    void setSpan(const tessavin::ChartSpan& span);
    void showWholeSpan();
    // The chart laid out at the view's present size and span.
    tessavin::ChartLayout chartLayout() const;
    // The hovered point of chartLayout(), or -1.
    int hoverPoint() const { return hover_; }
    QString hoverText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    std::vector<tessavin::ChartSample> samples_;
    tessavin::ChartSpan span_;
    int hover_ = -1;
    bool dragging_ = false;
    double dragX_ = 0;
    tessavin::ChartSpan dragSpan_;
};

class ArchiveChartWindow : public QWidget {
    Q_OBJECT
public:
    ArchiveChartWindow(tessavin::UiSeam& seam, QWidget* parent = nullptr);
    void setRecords(const std::vector<tessavin::ArchiveLine>& lines);
    ArchiveChartView* view() const { return view_; }

public slots:
    void savePng();
    void saveSvg();

private:
    void save(const QString& suffix, const QString& filter, const QByteArray& bytes);

    tessavin::UiSeam& seam_;
    ArchiveChartView* view_ = nullptr;
};
