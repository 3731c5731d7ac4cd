#include "app/application.h"

#include "app/demo.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/okbottomdlg.h"
#include "app/window_language.h"

#include "serial/frame_log.h"
#include "util/settings_file.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include "tessavin_version.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

namespace tessavin {

namespace {

struct WindowOptions {
    QCommandLineOption demo{QStringLiteral("demo"),
                            QStringLiteral("Start with a built-in emulated controller: on Linux it runs on a "
                                           "pseudo-terminal whose path the COM field holds, on Windows inside the "
                                           "program, behind the port (the COM field holds \"demo\"). Settings "
                                           "are kept apart.")};
    QCommandLineOption trace{QStringLiteral("trace"),
                             QStringLiteral("Write every frame sent and received, and every poll and answer, to "
                                            "FILE as JSON Lines (one object a frame, written as it passes)."),
                             QStringLiteral("FILE")};
    QCommandLineOption fast{QStringLiteral("fast"),
                            QStringLiteral("Fast replies: end each register and log reply as soon as the length it "
                                           "states has arrived, instead of after 60 ms of silence, and keep a guard "
                                           "gap of 3.5 characters (at least 2 ms) before the next request. Also "
                                           "switched on by fast=true under [link] in the settings file.")};
    QCommandLineOption lang{QStringLiteral("lang"),
                            QStringLiteral("Show the windows in LANG, one of: %1 (ru, the default: their Russian "
                                           "texts). Trace lines, records and files are the same in every "
                                           "language. Wins over language= under [ui] in the settings file.")
                                .arg(WindowLanguages().join(QStringLiteral(", "))),
                            QStringLiteral("LANG")};
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
    parser.addOption(options.lang);
}

// SIGINT and SIGTERM close the window as its close button does: the settings
// are written, files closed, the demo's folder removed, exit code 0. The handler
// only raises a flag; the window looks at it from its event loop.
volatile std::sig_atomic_t closeRequested = 0;
extern "C" void requestClose(int) { closeRequested = 1; }

// On Windows the window's program is linked for the window system and has no
// console of its own: --help, --version and usage errors go to the console it
// was started from, when there is one and the output is not redirected.
void writeToStartingConsole()
{
#ifdef Q_OS_WIN
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
#endif
}

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
    // Printed here rather than by QCommandLineParser::process, which on Windows
    // shows a message box instead whenever it sees no console of its own.
    if (!parser.parse(core.arguments()) || parser.isSet(QStringLiteral("help-all"))) {
        parser.process(core); // the error, or the help with Qt's own options; ends the process
        return 2;
    }
    if (parser.isSet(QStringLiteral("version")))
        std::printf("tessavin %s\n", TESSAVIN_VERSION);
    else
        std::fputs(qPrintable(parser.helpText()), stdout);
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

// Installs the windows' language: --lang, else [ui] language of the settings file
// (the user's own file, under --demo too). An unknown --lang is a usage error (its
// exit code); an unknown language in the file leaves the Russian texts and gives
// the message to show.
std::variant<int, QString> chooseLanguage(const QCommandLineParser& parser, const WindowOptions& windowOptions,
                                          const AppOptions& options)
{
    std::optional<QString> option;
    if (parser.isSet(windowOptions.lang))
        option = parser.value(windowOptions.lang);
    const QString settings = TForm1::settingsPathFor(options);
    const LanguageChoice choice = ChooseWindowLanguage(option, ReadSettings(settings).language);
    if (choice.fromOption && !choice.refusal.isEmpty()) {
        std::fprintf(stderr, "tessavin: --lang: %s\nTry 'tessavin --help'.\n", qPrintable(choice.refusal));
        return 2;
    }
    UseWindowLanguage(choice.language);
    if (choice.refusal.isEmpty())
        return QString();
    return QCoreApplication::translate("TForm1", "%1: [ui] language: %2. The windows show their Russian texts.")
        .arg(QDir::toNativeSeparators(settings), choice.refusal);
}

// The windows, shown until the main one closes; the trace file when one is named.
// `warning`, when not empty, is shown once the Main window is.
int showWindows(QApplication& app, const AppOptions& options, const std::optional<QString>& tracePath, Demo& demo,
                const QString& warning)
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
    QString demoError;
    if (!demo.attach(form1, &demoError))
        QMessageBox::warning(nullptr, QStringLiteral("Tessavin"),
                             QCoreApplication::translate("TForm1", "No emulated controller: %1").arg(demoError));
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
    if (!warning.isEmpty())
        QTimer::singleShot(0, &form1, [&form1, warning] { form1.showMessage(warning); });
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
        report(QCoreApplication::translate("TForm1", "Unknown error"));
    }
    return 1;
}

int RunApplication(int argc, char** argv)
{
    std::signal(SIGINT, requestClose);
    std::signal(SIGTERM, requestClose);
    writeToStartingConsole();
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
    const std::variant<int, QString> language = chooseLanguage(parser, windowOptions, options);
    if (const int* usage = std::get_if<int>(&language))
        return *usage;
    Demo demo;
    if (parser.isSet(windowOptions.demo))
        demo.prepare(options);
    std::optional<QString> tracePath;
    if (parser.isSet(windowOptions.trace))
        tracePath = parser.value(windowOptions.trace);
    const auto start = [&]() -> int { return showWindows(app, options, tracePath, demo, std::get<QString>(language)); };
    return RunReportingErrors(
        start, [](const QString& error) { QMessageBox::critical(nullptr, QStringLiteral("Tessavin"), error); });
}

} // namespace tessavin
