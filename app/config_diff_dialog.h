#pragma once
// The differences between the controller's configuration and Memo's, one row
// each, in the order of `config diff`; the values that differ are highlighted:
// the controller's side red, Memo's side green.
#include "features/config/config_json.h"

#include <QCoreApplication>
#include <QDialog>

class QLabel;
class QTableWidget;

class ConfigDiffDialog : public QDialog {
    Q_DECLARE_TR_FUNCTIONS(ConfigDiffDialog)

public:
    ConfigDiffDialog(const tessavin::ConfigDiff& diff, QWidget* parent);

    // The colours of the highlighted cells.
    static const QColor kControllerColor;
    static const QColor kMemoColor;

    QLabel* summary = nullptr; // "Differences" count or "No differences."
    QTableWidget* table = nullptr; // columns: op, path (or line), controller, Memo
};
