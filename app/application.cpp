#include "application.h"

#include "form1.h"
#include "form2.h"
#include "okbottomdlg.h"

#include "frame_log.h"

#ifdef TESSAVIN_WITH_PTY
#include "controller_thread.h"
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include "tessavin_version.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tessavin {

namespace {

struct WindowOptions {
    QCommandLineOption demo{QStringLiteral("demo"),
                            QStringLiteral("Start with a built-in emulated controller on a pseudo-terminal; "
                                           "the COM field holds its path. Settings are kept apart.")};
    QCommandLineOption trace{QStringLiteral("trace"),
                             QStringLiteral("Write every frame sent and received, and every poll and answer, to "
                                            "FILE as JSON Lines (one object a frame, written as it passes)."),
                             QStringLiteral("FILE")};
    QCommandLineOption fast{QStringLiteral("fast"),
                            QStringLiteral("Fast replies: end each register and log reply as soon as the length it "
                                           "states has arrived, instead of after 60 ms of silence, and keep a guard "
                                           "gap of 3.5 characters (at least 2 ms) before the next request. Also "
                                           "switched on by fast=true under [link] in the settings file.")};
};

void describe(QCommandLineParser& parser, const WindowOptions& options)
{
    parser.setApplicationDescription(
        QStringLiteral("Tessavin: service tool for a logging controller on a serial port.\n"
                       "Opens the main window; the port and baud rate come from the settings file. Its [link] "
                       "section sets fast replies (fast=true), how many more times a read request whose reply "
                       "failed is sent (retries=N, 0 to 20, default 0) and how long such a request waits for its "
                       "reply's first byte before it is sent again (retry_wait=MS, default 1000)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(options.demo);
    parser.addOption(options.trace);
    parser.addOption(options.fast);
}

// SIGINT and SIGTERM close the window as its close button does: the settings
// are written, files closed, the demo's folder removed, exit code 0. The handler
// only raises a flag; the window looks at it from its event loop.
volatile std::sig_atomic_t closeRequested = 0;
extern "C" void requestClose(int) { closeRequested = 1; }

// --help and --version answer without a display, before the window's toolkit starts.
bool asksOnlyForText(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        for (const char* text : {"--help", "--help-all", "-h", "-?", "--version", "-v"})
            if (std::strcmp(argv[i], text) == 0)
                return true;
    return false;
}

// --help or --version, without the window's toolkit: prints and ends the process.
int printHelpOrVersion(int argc, char** argv)
{
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessavin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSAVIN_VERSION));
    QCommandLineParser parser;
    WindowOptions options;
    describe(parser, options);
    parser.process(core); // prints the help or the version and ends the process
    return 0;
}

void nameApplication()
{
    QApplication::setApplicationName(QStringLiteral("tessavin"));
    QApplication::setOrganizationName(QStringLiteral("tessavin"));
    QApplication::setApplicationVersion(QStringLiteral(TESSAVIN_VERSION));
    // The menu entry's name and icon, so the desktop matches the window to them.
    QGuiApplication::setDesktopFileName(QStringLiteral("tessavin"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tessavin")));
}

// Parses the arguments; the exit code of a usage error (said on stderr), or nothing.
std::optional<int> readArguments(QCommandLineParser& parser)
{
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "tessavin: %s\nTry 'tessavin --help'.\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tessavin: unexpected argument '%s'\nTry 'tessavin --help'.\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }
    return std::nullopt;
}

// --demo: an emulated controller on a pseudo-terminal, alive as long as the
// window, with its path in the port field. The demo keeps its settings in a
// folder of its own, so the real settings never get the pseudo-terminal's path.
struct Demo {
    std::unique_ptr<QTemporaryDir> settings;
#ifdef TESSAVIN_WITH_PTY
    std::unique_ptr<sim::ControllerThread> controller;

    void prepare(AppOptions& options)
    {
        settings = std::make_unique<QTemporaryDir>();
        options.settingsDir = settings->path();
        options.fallbackSettingsDir = settings->path();
        // The process ends at once on close; the demo's settings folder goes first.
        options.exitProcess = [this] {
            settings->remove();
            std::fflush(nullptr);
            std::_Exit(0);
        };
        controller = std::make_unique<sim::ControllerThread>();
        sim::ConfigureDemo(*controller);
    }
    // Starts the controller and puts its path into the port field (a message when it cannot start).
    void attach(TForm1& form)
    {
        if (!controller)
            return;
        QString error;
        if (controller->start(&error))
            form.Edit1->setText(controller->slavePath());
        else
            QMessageBox::warning(nullptr, QStringLiteral("Tessavin"),
                                 QStringLiteral("No emulated controller: %1").arg(error));
    }
#else
    void attach(TForm1&) { }
#endif
};

// The windows, shown until the main one closes; the trace file when one is named.
int showWindows(QApplication& app, const AppOptions& options, const std::optional<QString>& tracePath, Demo& demo)
{
    TForm1 form1(options);
    JsonLinesTrace trace;
    if (tracePath) {
        QString error;
        if (!trace.open(*tracePath, form1.session().link.frameLog(), &error)) {
            std::fprintf(stderr, "tessavin: cannot write the trace file %s: %s\n", qPrintable(*tracePath),
                         qPrintable(error));
            return 2;
        }
    }
    demo.attach(form1);
    TForm2 form2;
    TForm3 form3;
    TOKBottomDlg dialog(&form1, &form1);
    form1.attachWindows(&form2, &form3, &dialog);
    QTimer signalWatch;
    QObject::connect(&signalWatch, &QTimer::timeout, &form1, [&form1] {
        if (closeRequested)
            form1.close();
    });
    signalWatch.start(50);
    form1.show();
    return app.exec();
}

} // namespace

int RunReportingErrors(const std::function<int()>& start, const std::function<void(const QString&)>& report)
{
    try {
        return start();
    } catch (const std::exception& error) {
        report(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        report(QStringLiteral("Unknown error"));
    }
    return 1;
}

int RunApplication(int argc, char** argv)
{
    std::signal(SIGINT, requestClose);
    std::signal(SIGTERM, requestClose);
    if (asksOnlyForText(argc, argv))
        return printHelpOrVersion(argc, argv);
    QApplication app(argc, argv);
    nameApplication();
    QCommandLineParser parser;
    WindowOptions windowOptions;
    describe(parser, windowOptions);
    if (const auto usage = readArguments(parser))
        return *usage;
    AppOptions options;
    options.fastReplies = parser.isSet(windowOptions.fast);
    Demo demo;
    if (parser.isSet(windowOptions.demo)) {
#ifndef TESSAVIN_WITH_PTY
        // Built without pseudo-terminals (TESSAVIN_PTY off, e.g. on Windows): no
        // emulated controller to attach.
        std::fprintf(stderr,
                     "tessavin: --demo is not available in this build: it was built without "
                     "pseudo-terminals (TESSAVIN_PTY off). Start tessavin without it and open a port.\n");
        return 2;
#else
        demo.prepare(options);
#endif
    }
    std::optional<QString> tracePath;
    if (parser.isSet(windowOptions.trace))
        tracePath = parser.value(windowOptions.trace);
    const auto start = [&]() -> int { return showWindows(app, options, tracePath, demo); };
    return RunReportingErrors(
        start, [](const QString& error) { QMessageBox::critical(nullptr, QStringLiteral("Tessavin"), error); });
}

} // namespace tessavin
