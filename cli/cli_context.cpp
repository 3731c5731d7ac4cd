#include "cli_context.h"

#include "cli_commands.h"
#include "conversions.h"
#include "frame_log.h"
#include "open_files.h"
#include "qt_serial_port.h"
#include "settings_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace tessavin::cli {

namespace {

// Set by SIGINT or SIGTERM; read through the link's pump, never acted on in the handler.
volatile std::sig_atomic_t g_interrupted = 0;
bool g_verbose = false;

extern "C" void onInterrupt(int signal)
{
    g_interrupted = 1;
    // A second Ctrl+C ends the process at once.
    std::signal(signal, SIG_DFL);
}

void messageFilter(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "tessavin-cli: %s\n", qPrintable(message));
        std::abort();
    }
    if (g_verbose)
        std::fprintf(stderr, "tessavin-cli: qt: %s\n", qPrintable(message));
}

} // namespace

void InstallMessageFilter() { qInstallMessageHandler(messageFilter); }

void SetVerbose(bool on) { g_verbose = on; }
bool Verbose() { return g_verbose; }

void CatchInterrupts()
{
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool Interrupted() { return g_interrupted != 0; }

void Say(const QString& text)
{
    std::fprintf(stderr, "tessavin-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

int Fail(int code, const QString& text)
{
    Say(text);
    return code;
}

QString NativePath(const QString& path) { return QDir::toNativeSeparators(path); }

QString Unreadable(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1: no such file").arg(NativePath(path));
    if (info.isDir())
        return QStringLiteral("%1: is a folder").arg(NativePath(path));
    return QStringLiteral("%1: cannot be read").arg(NativePath(path));
}

Context::Context(const Invocation& invocation, const LinkTiming& timing)
    : inv(invocation)
    , session(timing, std::make_shared<QSerialBytePort>())
{
    quiet = inv.has(QStringLiteral("quiet"));
    session.link.setPump([this] {
        if (g_interrupted)
            session.stopFlag = 1;
    });
    session.link.setOpenChanged([this](bool open) {
        if (!open && !closing_)
            portWentAway_ = true;
    });
}

std::optional<int> Context::integer(const QString& name, int fallback, int min, int max)
{
    if (!inv.has(name))
        return fallback;
    const QString text = inv.value(name);
    const auto value = ParseInteger(text);
    if (!value) {
        Say(QStringLiteral("--%1: %2").arg(name, NotAnIntegerMessage(text)));
        return std::nullopt;
    }
    if (*value < min || *value > max) {
        Say(QStringLiteral("--%1: %2 is out of range (%3 to %4)").arg(name).arg(*value).arg(min).arg(max));
        return std::nullopt;
    }
    return value;
}

bool Context::atMostOne(const QStringList& names)
{
    int given = 0;
    for (const QString& n : names)
        given += inv.has(n) ? 1 : 0;
    if (given <= 1)
        return true;
    QStringList dashed;
    for (const QString& n : names)
        dashed << QStringLiteral("--") + n;
    Say(QStringLiteral("%1: choose one of %2").arg(inv.command->fullName(), dashed.join(QStringLiteral(", "))));
    return false;
}

bool Context::confirmed(const QString& what)
{
    if (inv.has(QStringLiteral("yes")))
        return true;
    Say(QStringLiteral("%1 %2: add --yes to go ahead; nothing was sent").arg(inv.command->fullName(), what));
    return false;
}

void Context::tell(const QString& text)
{
    if (!quiet) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
    }
}

int Context::linkFailure(const QString& what, LinkError error)
{
    return Fail(exit_code::kController, QStringLiteral("%1: %2: %3").arg(device, what, errorText(error)));
}

QString Context::errorText(LinkError error) const
{
    return LinkErrorText(portWentAway_ ? LinkError::PortLost : error);
}

void Context::closePort()
{
    closing_ = true;
    session.link.close();
}

int Context::writeFailure()
{
    return Fail(exit_code::kDownload, out.toFile() ? FileErrorMessage(false, out.path(), out.errorString())
                                                   : QStringLiteral("cannot write to stdout"));
}

bool Context::progressShown() const
{
    return !quiet && StderrIsTerminal() && (out.toFile() || !StdoutIsTerminal());
}

void Context::finishTrace()
{
    if (trace_.isOpen() && !trace_.healthy())
        Say(QStringLiteral("%1: the trace is incomplete: a line could not be written").arg(traceName_));
    trace_.close();
}

std::optional<int> Context::start()
{
    // The port and the baud rate: the command line, else the window's settings file.
    const QString settingsPath = SettingsFilePath(QCoreApplication::applicationDirPath());
    const bool haveSettings = QFileInfo(settingsPath).isFile();
    const StoredSettings stored = haveSettings ? ReadSettings(settingsPath) : StoredSettings{};
    const QString portField = inv.has(QStringLiteral("port")) ? inv.value(QStringLiteral("port"))
                                                              : (haveSettings ? stored.port : QString());
    if (portField.isEmpty())
        return Fail(exit_code::kUsage, QStringLiteral("no port given: use --port (there is no settings file %1)")
                                           .arg(NativePath(settingsPath)));
    const bool baudGiven = inv.has(QStringLiteral("baud"));
    const QString baudText = baudGiven ? inv.value(QStringLiteral("baud")) : stored.baud;
    const auto baud = ParseInteger(baudText);
    if (!baud || *baud <= 0) {
        const QString where = baudGiven ? QStringLiteral("--baud") : NativePath(settingsPath);
        return Fail(exit_code::kUsage,
                    QStringLiteral("%1: %2").arg(where, baud ? QStringLiteral("the baud rate must be above 0")
                                                             : NotAnIntegerMessage(baudText)));
    }
    device = PortDeviceName(portField);

    const QString outputPath = inv.value(QStringLiteral("output"));
    if (inv.has(QStringLiteral("output")) && !inv.command->writesData)
        return Fail(exit_code::kUsage, QStringLiteral("%1 writes no data: -o does not apply").arg(inv.command->fullName()));
    QString error;
    if (inv.has(QStringLiteral("output")) && outputPath.isEmpty())
        return Fail(exit_code::kUsage, QStringLiteral("-o: no file named"));
    if (!outputPath.isEmpty() && !out.open(outputPath, &error))
        return Fail(exit_code::kUsage, FileErrorMessage(true, outputPath, error));
    if (inv.has(QStringLiteral("trace"))) {
        const QString tracePath = inv.value(QStringLiteral("trace"));
        traceName_ = NativePath(tracePath);
        if (!trace_.open(tracePath, session.link.frameLog(), &error))
            return Fail(exit_code::kUsage, FileErrorMessage(true, tracePath, error));
    }
    if (g_verbose)
        session.link.frameLog().attach([](const FrameRecord& record) {
            std::fprintf(stderr, "%s\n", FrameTextLine(record).toLocal8Bit().constData());
            std::fflush(stderr);
        });
    session.chooseFastReplies(inv.has(QStringLiteral("fast")), stored.fastReplies);

    PortOpenError openError;
    if (!session.link.openPort(device, *baud, &openError))
        return Fail(exit_code::kPortOpen, PortOpenErrorText(openError));
    return std::nullopt;
}

} // namespace tessavin::cli
