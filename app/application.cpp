#include "application.h"

#include "form1.h"
#include "form2.h"
#include "okbottomdlg.h"

#include "controller_thread.h"
#include "sim_options.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

namespace tessavin {

int RunApplication(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tessavin"));
    QApplication::setOrganizationName(QStringLiteral("tessavin"));
    // --demo: an emulated controller on a pseudo-terminal, alive as long as the
    // window, with its path in the port field. The demo keeps its settings in a
    // folder of its own, so the real settings never get the pseudo-terminal's path.
    const bool demo = QApplication::arguments().contains(QStringLiteral("--demo"));
    std::unique_ptr<sim::ControllerThread> controller;
    std::unique_ptr<QTemporaryDir> demoSettings;
    AppOptions options;
    if (demo) {
        demoSettings = std::make_unique<QTemporaryDir>();
        options.settingsDir = demoSettings->path();
        options.fallbackSettingsDir = demoSettings->path();
        // The process ends at once on close; the demo's settings folder goes first.
        options.exitProcess = [&demoSettings] {
            demoSettings->remove();
            std::fflush(nullptr);
            std::_Exit(0);
        };
        controller = std::make_unique<sim::ControllerThread>();
        sim::LineSettings line;
        line.baud = 38400;
        controller->setLineSettings(line);
        controller->setPollSchedule(sim::DemoPolls(), std::chrono::seconds(5));
    }
    try {
        TForm1 form1(options);
        if (controller) {
            QString error;
            if (controller->start(&error))
                form1.Edit1->setText(controller->slavePath());
            else
                QMessageBox::warning(nullptr, QStringLiteral("Tessavin"),
                                     QStringLiteral("No emulated controller: %1").arg(error));
        }
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
