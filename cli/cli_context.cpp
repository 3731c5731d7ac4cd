#include "cli/cli_context.h"

#include "cli/cli_commands.h"
#include "util/conversions.h"
#include "serial/frame_log.h"
#include "features/link_policy.h"
#include "util/open_files.h"
#include "features/retry.h"
#include "serial/system_port.h"
#include "util/settings_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace tessavin::cli {

namespace {

// Every read is asked for twice more when its reply fails, unless told otherwise.
const LinkPolicy kCliLinkDefaults{false, 2, LinkTiming{}.retryFirstByteWait};

// Set by SIGINT or SIGTERM; read through the link's pump, never acted on in the handler.
volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_finishFirst = 0;
bool g_verbose = false;

extern "C" void onInterrupt(int signal)
{
    g_interrupted = g_interrupted + 1;
    // The next Ctrl+C ends the process at once (after the one that abandons a transfer).
    std::signal(signal, g_finishFirst && g_interrupted < 2 ? onInterrupt : SIG_DFL);
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

void CatchInterrupts(bool finishFirst)
{
    g_finishFirst = finishFirst ? 1 : 0;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool Interrupted() { return g_interrupted != 0; }
int Interrupts() { return static_cast<int>(g_interrupted); }

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
    if (path == QLatin1String("-"))
        return QStringLiteral("standard input cannot be read");
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1: no such file").arg(NativePath(path));
    if (info.isDir())
        return QStringLiteral("%1: is a folder").arg(NativePath(path));
    return QStringLiteral("%1: cannot be read").arg(NativePath(path));
}

std::optional<QByteArray> ReadStandardInput(qint64 limit)
{
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes;
    while (bytes.size() <= limit) {
        const QByteArray part = in.read(std::min<qint64>(limit + 1 - bytes.size(), 1 << 16));
        if (part.isEmpty())
            break;
        bytes += part;
    }
    if (in.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

QString InputPath(const QString& path, QTemporaryFile& copy, qint64 limit)
{
    if (path != QLatin1String("-"))
        return path;
    const auto bytes = ReadStandardInput(limit);
    if (!bytes || !copy.open() || copy.write(*bytes) != bytes->size() || !copy.flush())
        return {};
    copy.close();
    return copy.fileName();
}

namespace {

// The path with every symbolic link followed, also a last one to a file not yet
// made; where nothing exists, the canonical folder and the name.
QString resolvedPath(const QString& path)
{
    QFileInfo info(path);
    for (int hops = 0; info.isSymLink() && hops < 40; ++hops)
        info = QFileInfo(info.symLinkTarget());
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? info.absoluteFilePath() : folder + QLatin1Char('/') + info.fileName();
}

} // namespace

bool SameFile(const QString& a, const QString& b)
{
    const auto named = [](const QString& path) { return !path.isEmpty() && path != QLatin1String("-"); };
    return named(a) && named(b)
        && (QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath() || resolvedPath(a) == resolvedPath(b));
}

Context::Context(const Invocation& invocation, const LinkTiming& timing)
    : inv(invocation)
    , session(timing, MakeSystemPort())
{
    quiet = inv.quiet;
    session.link.setPump([this] {
        if (g_interrupted)
            session.stopRequested = true;
    });
    session.link.setOpenChanged([this](bool open) {
        if (!open && !closing_)
            portWentAway_ = true;
    });
}

bool Context::confirmed(bool yes, const QString& what)
{
    if (yes)
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

int Context::commandFailure(const QString& what, LinkError error)
{
    if (portWentAway_ || !ReplyDamaged(error))
        return linkFailure(what, error);
    return Fail(exit_code::kController, QStringLiteral("%1: %2: %3").arg(device, what, UnconfirmedText(error)));
}

QString Context::errorText(LinkError error) const { return LinkErrorText(portWentAway_ ? LinkError::PortLost : error); }

void Context::closePort()
{
    closing_ = true;
    session.link.close();
}

int Context::writeFailure()
{
    return Fail(exit_code::kDownload,
                out.toFile() ? FileErrorMessage(false, out.path(), out.errorString())
                             : QStringLiteral("cannot write to stdout"));
}

bool Context::progressShown() const { return !quiet && StderrIsTerminal() && (out.toFile() || !StdoutIsTerminal()); }

bool Context::finish(bool succeeded)
{
    bool ok = true;
    if (succeeded && !out.finish())
        ok = writeFailure() == exit_code::kDone;
    if (!traceName_.isEmpty() && (traceFailed_ || (succeeded && !traceFinished_ && !trace_.finish()))) {
        Say(QStringLiteral("%1: the trace is incomplete: a line could not be written").arg(traceName_));
        ok = false;
    }
    return ok;
}

bool Context::finishTrace()
{
    if (traceName_.isEmpty() || traceFinished_)
        return !traceFailed_;
    traceFinished_ = true;
    if (!traceFailed_ && !trace_.finish())
        traceFailed_ = true;
    return !traceFailed_;
}

std::optional<int> Context::openOutput()
{
    const QString outputPath = inv.output.value_or(QString());
    if (inv.output && !inv.command->writesData)
        return Fail(exit_code::kUsage,
                    QStringLiteral("%1 writes no data: -o does not apply").arg(inv.command->fullName()));
    QString error;
    if (inv.output && outputPath.isEmpty())
        return Fail(exit_code::kUsage, QStringLiteral("-o: no file named"));
    if (!outputPath.isEmpty()
        && !(resumeAfter ? out.resume(outputPath, *resumeAfter, &error) : out.open(outputPath, &error)))
        return Fail(exit_code::kUsage, FileErrorMessage(true, outputPath, error));
    return std::nullopt;
}

// The window's settings file, as every command that opens the port reads it:
// its name for messages, what it holds and, where it names no port, why.
struct Context::SettingsFile {
    QString path;
    QString name;
    StoredSettings stored;
    QString noPort;
};

Context::SettingsFile Context::readSettingsFile()
{
    SettingsFile file;
    file.path = SettingsFilePath(QCoreApplication::applicationDirPath());
    file.name = NativePath(file.path);
    const QFileInfo info(file.path);
    if (!info.exists())
        file.noPort = QStringLiteral("there is no settings file %1").arg(file.name);
    else if (info.isDir())
        file.noPort = QStringLiteral("the settings file %1 is a folder").arg(file.name);
    else if (!info.isReadable())
        file.noPort = QStringLiteral("the settings file %1 cannot be read").arg(file.name);
    else
        file.stored = ReadSettings(file.path);
    if (file.noPort.isEmpty() && !file.stored.portStored)
        file.noPort = QStringLiteral("the settings file %1 has no [log] port=").arg(file.name);
    return file;
}

namespace {

// The first of: the option, the environment variable, the settings file's value;
// and where it came from, for the messages.
struct Picked {
    QString value;
    QString from;
};

Picked pick(const std::optional<QString>& given, const char* option, const char* variable, const QString& fromFile,
            const QString& settingsName)
{
    if (given)
        return {*given, QLatin1String(option)};
    if (qEnvironmentVariableIsSet(variable))
        return {qEnvironmentVariable(variable), QLatin1String(variable)};
    return {fromFile, settingsName};
}

} // namespace

std::optional<int> Context::start()
{
    const SettingsFile settings = readSettingsFile();
    if (auto code = resolvePort(settings))
        return code;
    if (auto code = resolveLinkPolicy(settings))
        return code;
    if (auto code = openOutputs())
        return code;
    return openPort();
}

std::optional<int> Context::resolvePort(const SettingsFile& settings)
{
    const Picked port = pick(inv.ports.isEmpty() ? std::nullopt : std::optional(inv.ports.last()), "--port",
                             "TESSAVIN_PORT", settings.noPort.isEmpty() ? settings.stored.port : QString(),
                             settings.name);
    if (port.value.isEmpty())
        return Fail(exit_code::kUsage, QStringLiteral("no port given: use --port (%1)").arg(settings.noPort));
    if (const auto number = ParseInteger(port.value); number && *number <= 0)
        return Fail(exit_code::kUsage, QStringLiteral("%1: port numbers start at 1").arg(port.from));
    const Picked baud = pick(inv.bauds.isEmpty() ? std::nullopt : std::optional(QString::number(inv.bauds.last())),
                             "--baud", "TESSAVIN_BAUD", settings.stored.baud, settings.name);
    QString problem;
    const auto rate = ReadBaudRate(baud.value, &problem);
    if (!rate)
        return Fail(exit_code::kUsage, QStringLiteral("%1: %2").arg(baud.from, problem));
    device = PortDeviceName(port.value);
    baudRate = *rate;
    return std::nullopt;
}

std::optional<int> Context::resolveLinkPolicy(const SettingsFile& settings)
{
    // Fast replies, retries and the retry wait: the options, else the settings file.
    const LinkPolicyOptions options{inv.fast, inv.retries, inv.retryWait};
    const ResolvedLinkPolicy link = ResolveLinkPolicy(kCliLinkDefaults, settings.stored, settings.name, options);
    if (!link.error.isEmpty())
        return Fail(exit_code::kUsage, link.error);
    ApplyLinkPolicy(session, link.policy);
    return std::nullopt;
}

std::optional<int> Context::openOutputs()
{
    // A command may name its own trace (the visit report's trace.jsonl).
    if (tracePath.isEmpty())
        tracePath = inv.trace.value_or(QString());
    if (inv.trace) {
        if (tracePath.isEmpty() || tracePath == QLatin1String("-"))
            return Fail(exit_code::kUsage, QStringLiteral("--trace: name a file"));
        if (SameFile(tracePath, inv.output.value_or(QString())))
            return Fail(exit_code::kUsage,
                        QStringLiteral("-o and --trace name the same file %1").arg(NativePath(tracePath)));
    }
    if (auto code = openOutput())
        return code;
    if (!tracePath.isEmpty()) {
        traceName_ = NativePath(tracePath);
        QString error;
        if (!trace_.open(tracePath, &error))
            return Fail(exit_code::kUsage, FileErrorMessage(true, tracePath, error));
        session.link.frameLog().attach([this](const FrameRecord& record) {
            if (!trace_.write(FrameJsonLine(record) + '\n'))
                traceFailed_ = true;
        });
    }
    if (g_verbose)
        session.link.frameLog().attach([](const FrameRecord& record) {
            std::fprintf(stderr, "%s\n", FrameTextLine(record).toLocal8Bit().constData());
            std::fflush(stderr);
        });
    return std::nullopt;
}

std::optional<int> Context::openPort()
{
    PortOpenError openError;
    if (session.link.openPort(device, baudRate, &openError))
        return std::nullopt;
    // A file or a device that is no terminal: it opens, then refuses the line's settings.
    const bool notSerial = (openError.kind == PortOpenError::Kind::LineSettings
                            || openError.kind == PortOpenError::Kind::Other)
        && QFileInfo::exists(device);
    return Fail(exit_code::kPortOpen,
                notSerial ? QStringLiteral("%1: not a serial port (%2)").arg(device, openError.detail)
                          : PortOpenErrorText(openError));
}

} // namespace tessavin::cli
