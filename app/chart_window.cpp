#include "app/chart_window.h"

#include "features/archive.h"
#include "app/ui_seam.h"
#include "report/visit_report.h"

#include <QBuffer>
#include <QHBoxLayout>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>

namespace {

constexpr double kHoverReach = 12; // pixels either side of the pointer

} // namespace

ArchiveChartView::ArchiveChartView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ChartView"));
    setMouseTracking(true);
    setMinimumSize(480, 260);
}

void ArchiveChartView::setSamples(std::vector<tessavin::ChartSample> samples)
{
    samples_ = std::move(samples);
    showWholeSpan();
}

void ArchiveChartView::setSpan(const tessavin::ChartSpan& span)
{
    span_ = span;
    hover_ = -1;
    update();
}

void ArchiveChartView::showWholeSpan() { setSpan(tessavin::FullSpan(samples_)); }

tessavin::ChartLayout ArchiveChartView::chartLayout() const
{
    return tessavin::LayoutChart(samples_, span_, QSizeF(size()));
}

QString ArchiveChartView::hoverText() const
{
    const tessavin::ChartLayout l = chartLayout();
    if (hover_ < 0 || hover_ >= int(l.pointSample.size()))
        return {};
    return tessavin::ChartSampleText(samples_[l.pointSample[hover_]]);
}

void ArchiveChartView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    tessavin::PaintChart(painter, chartLayout(), samples_, hover_);
}

void ArchiveChartView::wheelEvent(QWheelEvent* event)
{
    const tessavin::ChartLayout l = chartLayout();
    const double anchor = (event->position().x() - l.plot.left()) / l.plot.width();
    // One notch of the wheel (120) zooms in or out by a fifth.
    const double factor = std::pow(0.8, event->angleDelta().y() / 120.0);
    setSpan(tessavin::ZoomSpan(span_, factor, anchor));
    event->accept();
}

void ArchiveChartView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    dragging_ = true;
    dragX_ = event->position().x();
    dragSpan_ = span_;
    setCursor(Qt::ClosedHandCursor);
}

void ArchiveChartView::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_) {
        const tessavin::ChartLayout l = chartLayout();
        const double secondsPerPixel = double(dragSpan_.to - dragSpan_.from) / l.plot.width();
        const auto shift = static_cast<qint64>(std::llround((dragX_ - event->position().x()) * secondsPerPixel));
        setSpan({dragSpan_.from + shift, dragSpan_.to + shift});
        return;
    }
    const int nearest = tessavin::NearestPoint(chartLayout(), event->position(), kHoverReach);
    if (nearest != hover_) {
        hover_ = nearest;
        update();
    }
}

void ArchiveChartView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_ = false;
        unsetCursor();
    }
}

void ArchiveChartView::leaveEvent(QEvent*)
{
    if (hover_ >= 0) {
        hover_ = -1;
        update();
    }
}

ArchiveChartWindow::ArchiveChartWindow(tessavin::UiSeam& seam, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , seam_(seam)
{
    setObjectName(QStringLiteral("ArchiveChart"));
    setWindowTitle(tr("Archive chart"));
    view_ = new ArchiveChartView(this);
    auto* whole = new QPushButton(tr("Whole span"), this);
    whole->setObjectName(QStringLiteral("ChartWholeSpan"));
    auto* png = new QPushButton(tr("Save PNG…"), this);
    png->setObjectName(QStringLiteral("ChartSavePng"));
    auto* svg = new QPushButton(tr("Save SVG…"), this);
    svg->setObjectName(QStringLiteral("ChartSaveSvg"));
    connect(whole, &QPushButton::clicked, view_, &ArchiveChartView::showWholeSpan);
    connect(png, &QPushButton::clicked, this, &ArchiveChartWindow::savePng);
    connect(svg, &QPushButton::clicked, this, &ArchiveChartWindow::saveSvg);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(whole);
    buttons->addStretch();
    buttons->addWidget(png);
    buttons->addWidget(svg);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);
    resize(960, 540);
}

void ArchiveChartWindow::setRecords(const std::vector<tessavin::ArchiveLine>& lines)
{
    view_->setSamples(tessavin::ChartSamples(lines));
}

void ArchiveChartWindow::savePng()
{
    QImage image(view_->size() * devicePixelRatioF(), QImage::Format_RGB32);
    image.setDevicePixelRatio(devicePixelRatioF());
    {
        QPainter painter(&image);
        tessavin::PaintChart(painter, view_->chartLayout(), view_->samples());
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    save(QStringLiteral("png"), tr("PNG image|*.png"), bytes);
}

void ArchiveChartWindow::saveSvg()
{
    save(QStringLiteral("svg"), tr("SVG image|*.svg"), tessavin::ChartSvg(view_->chartLayout(), view_->samples()));
}

void ArchiveChartWindow::save(const QString& suffix, const QString& filter, const QByteArray& bytes)
{
    const QString path = seam_.saveFileName(this, suffix, filter);
    if (path.isEmpty())
        return;
    if (const auto error = tessavin::WriteCompleteFile(path, bytes))
        seam_.showMessage(this, *error);
}
