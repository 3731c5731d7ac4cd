// The archive chart: reached from Memo1's context menu ("Chart…") and Ctrl+G
// once an archive download has shown records. The window's layout is unchanged.
#include "app/form1.h"

#include "app/chart_window.h"

#include <QMenu>
#include <QPlainTextEdit>
#include <QShortcut>

void TForm1::bindChart()
{
    auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+G")), this);
    shortcut->setObjectName(QStringLiteral("ChartShortcut"));
    connect(shortcut, &QShortcut::activated, this, &TForm1::showArchiveChart);

    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        std::unique_ptr<QMenu> menu(Memo1->createStandardContextMenu(pos));
        menu->addSeparator();
        QAction* chart = menu->addAction(tr("Chart…"), this, &TForm1::showArchiveChart);
        chart->setObjectName(QStringLiteral("ChartAction"));
        chart->setShortcut(QKeySequence(QStringLiteral("Ctrl+G")));
        chart->setEnabled(!lastArchive_.empty());
        menu->exec(Memo1->mapToGlobal(pos));
    });
}

void TForm1::showArchiveChart()
{
    if (lastArchive_.empty()) {
        showMessage(tr("No archive records to chart: read the archive first."));
        return;
    }
    if (!chartWindow_)
        chartWindow_ = new ArchiveChartWindow(seam(), this);
    chartWindow_->setRecords(lastArchive_);
    chartWindow_->show();
    chartWindow_->raise();
    chartWindow_->activateWindow();
}
