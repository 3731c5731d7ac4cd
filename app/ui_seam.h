#pragma once
// Every question the window puts to a person goes through this seam: message
// boxes, file dialogs and the Confirmation dialog. Tests install their own
// answers; the default shows the real dialogs.
#include <QString>

class QDialog;
class QWidget;
class TOKBottomDlg;

namespace tessavin {

class UiSeam {
public:
    virtual ~UiSeam() = default;
    // A modal message box with one text and one button; `details` (when not
    // empty) behind the box's details button.
    virtual void showMessage(QWidget* parent, const QString& text, const QString& details = {});
    // The Confirmation dialog shown modally; returns its modal result (1 = "ДА").
    virtual int confirm(TOKBottomDlg& dialog);
    // A yes/no question; true for yes. The default answer (Enter, Escape) is no.
    virtual bool ask(QWidget* parent, const QString& text);
    // A dialog the window has filled, shown modally.
    virtual void showDialog(QDialog& dialog);
    // File dialogs; an empty result means the user cancelled.
    virtual QString openFileName(QWidget* parent, const QString& defaultSuffix, const QString& filter);
    virtual QString saveFileName(QWidget* parent, const QString& defaultSuffix, const QString& filter);
};

} // namespace tessavin
