#include "application.h"

#include "form1.h"
#include "form2.h"
#include "okbottomdlg.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>

namespace tessavin {

int RunApplication(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tessavin"));
    QApplication::setOrganizationName(QStringLiteral("tessavin"));
    try {
        TForm1 form1;
        TForm2 form2;
        TForm3 form3;
        TOKBottomDlg dialog(&form1, &form1);
        form1.attachWindows(&form2, &form3, &dialog);
        form1.show();
        return app.exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QStringLiteral("Tessavin"), QString::fromLocal8Bit(error.what()));
        return 0;
    }
}

} // namespace tessavin
