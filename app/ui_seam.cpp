#include "app/ui_seam.h"

#include "app/okbottomdlg.h"

#include <QFileDialog>
#include <QMessageBox>

namespace tessavin {

namespace {

// Turns a "description|pattern" filter into the dialog's form.
QString dialogFilter(const QString& filter)
{
    if (filter.isEmpty())
        return {};
    const QStringList parts = filter.split(QLatin1Char('|'));
    if (parts.size() < 2)
        return filter;
    QString pattern = parts[1];
    if (!pattern.contains(QLatin1Char('*')))
        pattern = QStringLiteral("*.") + pattern;
    return QStringLiteral("%1 (%2)").arg(parts[0].isEmpty() ? pattern : parts[0], pattern);
}

QString runDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& suffix, const QString& filter)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::AnyFile : QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    const QString f = dialogFilter(filter);
    if (!f.isEmpty())
        dialog.setNameFilters({f, QStringLiteral("* (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace

void UiSeam::showMessage(QWidget* parent, const QString& text, const QString& details)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tessavin"), text, QMessageBox::Ok, parent);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

int UiSeam::confirm(TOKBottomDlg& dialog) { return dialog.exec(); }

bool UiSeam::ask(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Tessavin"), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void UiSeam::showDialog(QDialog& dialog) { dialog.exec(); }

QString UiSeam::openFileName(QWidget* parent, const QString& defaultSuffix, const QString& filter)
{
    return runDialog(parent, QFileDialog::AcceptOpen, defaultSuffix, filter);
}

QString UiSeam::saveFileName(QWidget* parent, const QString& defaultSuffix, const QString& filter)
{
    return runDialog(parent, QFileDialog::AcceptSave, defaultSuffix, filter);
}

} // namespace tessavin
