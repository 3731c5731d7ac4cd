#include "app/config_diff_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

const QColor ConfigDiffDialog::kControllerColor(255, 214, 214);
const QColor ConfigDiffDialog::kMemoColor(214, 245, 214);

ConfigDiffDialog::ConfigDiffDialog(const tessavin::ConfigDiff& diff, QWidget* parent) : QDialog(parent)
{
    using Op = tessavin::ConfigDifference::Op;
    setObjectName(QStringLiteral("ConfigDiffDialog"));
    setWindowTitle(tr("Compare with controller"));
    resize(760, 420);

    const auto count = diff.differences.size();
    QString text = diff.equal() ? tr("No differences.")
                                : (count == 1 ? tr("%1 difference between the controller and Memo.")
                                              : tr("%1 differences between the controller and Memo."))
                                      .arg(count);
    if (!diff.json)
        text += tr(" Not JSON (%1): compared line by line.").arg(diff.notJsonSide);
    summary = new QLabel(text, this);
    summary->setObjectName(QStringLiteral("DiffSummary"));

    table = new QTableWidget(int(diff.differences.size()), 4, this);
    table->setObjectName(QStringLiteral("Differences"));
    table->setHorizontalHeaderLabels({QString(), diff.json ? tr("Path") : tr("Line"), tr("Controller"), tr("Memo")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    int row = 0;
    for (const tessavin::ConfigDifference& d : diff.differences) {
        const QString where = diff.json ? d.path : QString::number(d.controllerLine ? d.controllerLine : d.fileLine);
        const QString cells[] = {tessavin::ConfigDifference::opMark(d.op), where, d.controller, d.file};
        for (int column = 0; column < 4; ++column)
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
        if (d.op != Op::Added)
            table->item(row, 2)->setBackground(kControllerColor);
        if (d.op != Op::Removed)
            table->item(row, 3)->setBackground(kMemoColor);
        ++row;
    }
    table->resizeColumnsToContents();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summary);
    layout->addWidget(table);
    layout->addWidget(buttons);
}
