#include "cli_commands.h"

#include "cli_args.h"
#include "cli_output.h"
#include "serial_ports.h"

#include "archive.h"
#include "config_commands.h"
#include "config_text.h"
#include "config_transfer.h"
#include "conversions.h"
#include "event_log.h"
#include "frame_log.h"
#include "poll_responder.h"
#include "script_transfer.h"
#include "service_commands.h"
#include "session.h"
#include "settings_file.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTime>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace tessavin::cli {

namespace {

using namespace std::chrono_literals;

// Set by SIGINT or SIGTERM; read through the link's pump, never acted on in the handler.
volatile std::sig_atomic_t g_interrupted = 0;
bool g_verbose = false;

extern "C" void onInterrupt(int signal)
{
    g_interrupted = 1;
    // A second Ctrl+C ends the process at once.
    std::signal(signal, SIG_DFL);
}

void catchInterrupts()
{
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
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

void say(const QString& text)
{
    std::fprintf(stderr, "tessavin-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

int fail(int code, const QString& text)
{
    say(text);
    return code;
}

QString nativePath(const QString& path) { return QDir::toNativeSeparators(path); }

// Why a file named on the command line cannot be read.
QString unreadable(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1: no such file").arg(nativePath(path));
    if (info.isDir())
        return QStringLiteral("%1: is a folder").arg(nativePath(path));
    return QStringLiteral("%1: cannot be read").arg(nativePath(path));
}

// --newest N: the window's box for 10, 100 and 500, its "последних" box with N otherwise.
RecordChoice newestChoice(int n)
{
    switch (n) {
    case 10:
        return RecordChoice::Last10;
    case 100:
        return RecordChoice::Last100;
    case 500:
        return RecordChoice::Last500;
    default:
        return RecordChoice::Index;
    }
}

// The link's timing from TESSAVIN_LINK_TIMING ("idle-gap=15,first-byte-tries=5"):
// for tests, which cannot wait 13 s for each silence. Unset: the system's values.
std::optional<LinkTiming> linkTiming(QString* error)
{
    LinkTiming timing;
    const QString text = qEnvironmentVariable("TESSAVIN_LINK_TIMING");
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString key = item.section(QLatin1Char('='), 0, 0).trimmed();
        const auto value = ParseInteger(item.section(QLatin1Char('='), 1));
        if (!value || *value < 0) {
            *error = QStringLiteral("TESSAVIN_LINK_TIMING: '%1' is not NAME=milliseconds").arg(item);
            return std::nullopt;
        }
        const LinkTiming::ms ms(*value);
        if (key == QLatin1String("first-byte-pause"))
            timing.firstBytePause = ms;
        else if (key == QLatin1String("first-byte-wait"))
            timing.firstByteWait = ms;
        else if (key == QLatin1String("first-byte-tries") && *value > 0)
            timing.firstByteTries = *value;
        else if (key == QLatin1String("idle-gap"))
            timing.idleGap = ms;
        else if (key == QLatin1String("pump-slice") && *value > 0)
            timing.pumpSlice = ms;
        else {
            *error = QStringLiteral("TESSAVIN_LINK_TIMING: unknown or bad '%1'").arg(item);
            return std::nullopt;
        }
    }
    return timing;
}

// Everything a command works with: its options, the session, the port and the output.
class Context {
public:
    Context(const Invocation& inv, const LinkTiming& timing) : inv(inv), session(timing)
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

    const Invocation& inv;
    Session session;
    Output out;
    QString device;
    bool quiet = false;

    // An integer option within [min, max]; nullopt (and the message said) otherwise.
    std::optional<int> integer(const QString& name, int fallback, int min, int max)
    {
        if (!inv.has(name))
            return fallback;
        const QString text = inv.value(name);
        const auto value = ParseInteger(text);
        if (!value) {
            say(QStringLiteral("--%1: %2").arg(name, NotAnIntegerMessage(text)));
            return std::nullopt;
        }
        if (*value < min || *value > max) {
            say(QStringLiteral("--%1: %2 is out of range (%3 to %4)").arg(name).arg(*value).arg(min).arg(max));
            return std::nullopt;
        }
        return value;
    }

    // At most one of the options; false (and the message said) for more.
    bool atMostOne(const QStringList& names)
    {
        int given = 0;
        for (const QString& n : names)
            given += inv.has(n) ? 1 : 0;
        if (given <= 1)
            return true;
        QStringList dashed;
        for (const QString& n : names)
            dashed << QStringLiteral("--") + n;
        say(QStringLiteral("%1: choose one of %2").arg(inv.command->fullName(), dashed.join(QStringLiteral(", "))));
        return false;
    }

    // A command that cannot be undone goes ahead only with --yes.
    bool confirmed(const QString& what)
    {
        if (inv.has(QStringLiteral("yes")))
            return true;
        say(QStringLiteral("%1 %2: add --yes to go ahead; nothing was sent").arg(inv.command->fullName(), what));
        return false;
    }

    // Opens the data output, the trace and the port. An exit code when one fails.
    std::optional<int> start();

    // A message for stderr that a person may want, unless --quiet.
    void tell(const QString& text)
    {
        if (!quiet) {
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
            std::fflush(stderr);
        }
    }

    int linkFailure(const QString& what, LinkError error)
    {
        return fail(exit_code::kController, QStringLiteral("%1: %2: %3").arg(device, what, errorText(error)));
    }

    // The error as a person should read it: once the port has gone away, that
    // is the cause, whether the reply was cut short or the next request found
    // the port closed.
    QString errorText(LinkError error) const { return LinkErrorText(portWentAway_ ? LinkError::PortLost : error); }

    // Closes the port on purpose (after a reboot).
    void closePort()
    {
        closing_ = true;
        session.link.close();
    }

    int writeFailure()
    {
        return fail(exit_code::kDownload, out.toFile() ? FileErrorMessage(false, out.path(), out.errorString())
                                                       : QStringLiteral("cannot write to stdout"));
    }

    bool write(const QByteArray& bytes) { return out.write(bytes); }

    // A progress line on stderr when a person watches it, and the records do
    // not go to the same screen.
    bool progressShown() const
    {
        return !quiet && StderrIsTerminal() && (out.toFile() || !StdoutIsTerminal());
    }

    void finishTrace()
    {
        if (trace_.isOpen() && !trace_.healthy())
            say(QStringLiteral("%1: the trace is incomplete: a line could not be written").arg(traceName_));
        trace_.close();
    }

private:
    JsonLinesTrace trace_;
    QString traceName_;
    bool closing_ = false;
    bool portWentAway_ = false;
};

std::optional<int> Context::start()
{
    // The port and the baud rate: the command line, else the window's settings file.
    const QString settingsPath = SettingsFilePath(QCoreApplication::applicationDirPath());
    const bool haveSettings = QFileInfo(settingsPath).isFile();
    const StoredSettings stored = haveSettings ? ReadSettings(settingsPath) : StoredSettings{};
    const QString portField = inv.has(QStringLiteral("port")) ? inv.value(QStringLiteral("port"))
                                                              : (haveSettings ? stored.port : QString());
    if (portField.isEmpty())
        return fail(exit_code::kUsage, QStringLiteral("no port given: use --port (there is no settings file %1)")
                                           .arg(nativePath(settingsPath)));
    const bool baudGiven = inv.has(QStringLiteral("baud"));
    const QString baudText = baudGiven ? inv.value(QStringLiteral("baud")) : stored.baud;
    const auto baud = ParseInteger(baudText);
    if (!baud || *baud <= 0) {
        const QString where = baudGiven ? QStringLiteral("--baud") : nativePath(settingsPath);
        return fail(exit_code::kUsage,
                    QStringLiteral("%1: %2").arg(where, baud ? QStringLiteral("the baud rate must be above 0")
                                                             : NotAnIntegerMessage(baudText)));
    }
    device = PortDeviceName(portField);

    const QString outputPath = inv.value(QStringLiteral("output"));
    if (inv.has(QStringLiteral("output")) && !inv.command->writesData)
        return fail(exit_code::kUsage, QStringLiteral("%1 writes no data: -o does not apply").arg(inv.command->fullName()));
    QString error;
    if (inv.has(QStringLiteral("output")) && outputPath.isEmpty())
        return fail(exit_code::kUsage, QStringLiteral("-o: no file named"));
    if (!outputPath.isEmpty() && !out.open(outputPath, &error))
        return fail(exit_code::kUsage, FileErrorMessage(true, outputPath, error));
    if (inv.has(QStringLiteral("trace"))) {
        const QString tracePath = inv.value(QStringLiteral("trace"));
        traceName_ = nativePath(tracePath);
        if (!trace_.open(tracePath, session.link.frameLog(), &error))
            return fail(exit_code::kUsage, FileErrorMessage(true, tracePath, error));
    }
    if (g_verbose)
        session.link.frameLog().attach([](const FrameRecord& record) {
            std::fprintf(stderr, "%s\n", FrameTextLine(record).toLocal8Bit().constData());
            std::fflush(stderr);
        });
    session.link.setFastReplies(inv.has(QStringLiteral("fast")) || stored.fastReplies);

    PortOpenError openError;
    if (!session.link.OpenPort(device, *baud, &openError))
        return fail(exit_code::kPortOpen, PortOpenErrorText(openError));
    return std::nullopt;
}

// ---- the event log ----

int logInfo(Context& c)
{
    if (auto code = c.start())
        return *code;
    const LogQuestion questions[] = {LogQuestion::Capacity, LogQuestion::Count, LogQuestion::Begin};
    const char* names[] = {"capacity", "count", "begin"};
    int values[3] = {};
    for (int i = 0; i < 3; ++i) {
        const auto answer = AskLogQuestion(c.session, questions[i]);
        if (!answer.ok())
            return c.linkFailure(QStringLiteral("log %1").arg(QLatin1String(names[i])), answer.error);
        values[i] = answer.value;
    }
    QByteArray text;
    if (c.inv.format == Format::Jsonl)
        text = QStringLiteral("{\"capacity\":%1,\"count\":%2,\"begin\":%3}\n").arg(values[0]).arg(values[1]).arg(values[2]).toUtf8();
    else
        text = QStringLiteral("capacity %1\ncount %2\nbegin %3\n").arg(values[0]).arg(values[1]).arg(values[2]).toUtf8();
    return c.write(text) ? exit_code::kDone : c.writeFailure();
}

QString keptIn(const Context& c, int read, int total)
{
    const QString where = c.out.toFile() ? QStringLiteral(" and kept in %1").arg(nativePath(c.out.path())) : QString();
    return QStringLiteral("%1 of %2 records read%3").arg(read).arg(total).arg(where);
}

int logRead(Context& c)
{
    if (!c.atMostOne({QStringLiteral("newest"), QStringLiteral("index"), QStringLiteral("all")}))
        return exit_code::kUsage;
    const auto newest = c.integer(QStringLiteral("newest"), 10, 1, 65535);
    const auto index = c.integer(QStringLiteral("index"), 0, 0, 65535);
    if (!newest || !index)
        return exit_code::kUsage;
    catchInterrupts();
    if (auto code = c.start())
        return *code;

    Session& s = c.session;
    // The questions of the LOG button: the capacity only with --max (its Max box).
    if (c.inv.has(QStringLiteral("max"))) {
        if (const auto a = AskLogQuestion(s, LogQuestion::Capacity); !a.ok())
            return c.linkFailure(QStringLiteral("log capacity"), a.error);
    } else {
        s.capacity = kDefaultLogCapacity;
    }
    if (const auto a = AskLogQuestion(s, LogQuestion::Count); !a.ok())
        return c.linkFailure(QStringLiteral("log count"), a.error);
    if (const auto a = AskLogQuestion(s, LogQuestion::Begin); !a.ok())
        return c.linkFailure(QStringLiteral("log begin"), a.error);

    RecordChoice choice = newestChoice(*newest);
    int number = *newest;
    if (c.inv.has(QStringLiteral("index"))) {
        choice = RecordChoice::One;
        number = *index;
    } else if (c.inv.has(QStringLiteral("all"))) {
        choice = RecordChoice::Index;
        number = s.count;
    }
    const LogSpan span = ChooseLogSpan(choice, number, s.begin, s.count, s.capacity);

    ProgressLine progress(c.progressShown());
    bool writeFailed = false;
    LogRecordSink sink;
    sink.show = [&](const LogLine& line) {
        const QByteArray bytes = c.inv.format == Format::Jsonl ? LogRecordJson(line) : c.out.textLine(line.fileBytes);
        if (!c.write(bytes)) {
            writeFailed = true;
            s.stopFlag = 1; // nothing more can be kept: end before the next request
        }
    };
    sink.progress = [&](int done, int total) { progress.update(done, total); };
    const LogLoopResult result = RunLogRecordLoop(s, span, s.capacity, sink, nullptr);
    progress.finish();

    if (writeFailed)
        return c.writeFailure();
    switch (result.end) {
    case LogLoopEnd::Completed:
        return exit_code::kDone;
    case LogLoopEnd::Stopped:
        return fail(exit_code::kInterrupted, QStringLiteral("interrupted: %1").arg(keptIn(c, result.read, span.count)));
    case LogLoopEnd::RecordFailed:
        break;
    }
    return fail(exit_code::kDownload, QStringLiteral("%1: log record %2: %3; %4")
                                          .arg(c.device)
                                          .arg(result.failedIndex)
                                          .arg(c.errorText(result.error), keptIn(c, result.read, span.count)));
}

int logSwitch(Context& c, SwitchCommand command, const QString& done)
{
    if (command == SwitchCommand::ClearLog && !c.confirmed(QStringLiteral("erases the event log")))
        return exit_code::kUsage;
    if (auto code = c.start())
        return *code;
    if (const LinkError error = SendSwitchCommand(c.session, command); error != LinkError::None)
        return c.linkFailure(c.inv.command->fullName(), error);
    c.tell(done);
    return exit_code::kDone;
}

// ---- the archive ----

int archiveRead(Context& c)
{
    if (!c.atMostOne({QStringLiteral("newest"), QStringLiteral("index"), QStringLiteral("one")}))
        return exit_code::kUsage;
    const auto newest = c.integer(QStringLiteral("newest"), 10, 1, kArchiveSlots);
    const auto index = c.integer(QStringLiteral("index"), 0, 0, kArchiveLastIndex);
    const auto one = c.integer(QStringLiteral("one"), 0, 0, kArchiveLastIndex);
    if (!newest || !index || !one)
        return exit_code::kUsage;
    const bool oneValue = c.inv.has(QStringLiteral("one"));
    if (oneValue && c.inv.format == Format::Csv)
        return fail(exit_code::kUsage, QStringLiteral("archive read --one: no csv format"));
    catchInterrupts();

    ArchivePlan plan;
    // The controller keeps UTC; the window shows local time, moved by the offset of this moment.
    plan.utcOffsetSeconds = c.inv.has(QStringLiteral("no-shift")) ? 0 : QDateTime::currentDateTime().offsetFromUtc();
    if (auto code = c.start())
        return *code;
    Session& s = c.session;
    const auto begin = ReadArchiveBegin(s);
    if (!begin.ok())
        return c.linkFailure(QStringLiteral("archive begin"), begin.error);

    int newestIndex = ArchiveNewestIndex(begin.value);
    if (oneValue) {
        plan.choice = RecordChoice::One;
        plan.oneIndex = *one;
    } else if (c.inv.has(QStringLiteral("index"))) {
        // One record as a line: the stretch of the newest one record, counted
        // back from I as though I were the newest.
        plan.choice = RecordChoice::Index;
        plan.indexCount = 1;
        newestIndex = *index;
    } else {
        plan.choice = newestChoice(*newest);
        plan.indexCount = plan.choice == RecordChoice::Index ? *newest : 0;
    }
    const int total = ChooseArchiveRange(newestIndex, plan.choice, plan.indexCount).count;

    bool writeFailed = false;
    if (c.inv.format == Format::Csv && !c.write(ArchiveCsvHeader()))
        return c.writeFailure();
    ProgressLine progress(!oneValue && c.progressShown());
    int done = 0;
    ArchiveEvents events;
    events.processMessages = [&s] { s.link.pause(0ms); }; // the pump turns a signal into the stop flag
    events.stopRequested = [&s] { return s.stopFlag != 0; };
    events.line = [&](const ArchiveLine& line) {
        QByteArray bytes;
        switch (c.inv.format) {
        case Format::Jsonl:
            bytes = ArchiveRecordJson(line, plan.utcOffsetSeconds);
            break;
        case Format::Csv:
            bytes = ArchiveRecordCsv(line, plan.utcOffsetSeconds);
            break;
        case Format::Text:
            bytes = c.out.textLine(QByteArray::fromStdString(line.fileLine));
            break;
        }
        if (!c.write(bytes)) {
            writeFailed = true;
            s.stopFlag = 1;
        }
        progress.update(++done, total);
    };
    const ArchiveOutcome outcome = ReadArchiveRecords(s, newestIndex, plan, events);
    progress.finish();

    if (writeFailed)
        return c.writeFailure();
    const QString record = QStringLiteral("%1: archive record %2").arg(c.device).arg(outcome.lastIndex);
    switch (outcome.end) {
    case ArchiveEnd::Done:
        return exit_code::kDone;
    case ArchiveEnd::One: {
        const QString value = QString::fromStdString(*outcome.oneValue);
        const bool finite = value != QLatin1String("nan") && !value.endsWith(QLatin1String("inf"));
        const QString text = c.inv.format == Format::Jsonl
            ? QStringLiteral("{\"index\":%1,\"value\":%2}\n").arg(outcome.lastIndex).arg(finite ? value : QStringLiteral("null"))
            : value + QLatin1Char('\n');
        return c.write(text.toUtf8()) ? exit_code::kDone : c.writeFailure();
    }
    case ArchiveEnd::Stopped:
        return fail(exit_code::kInterrupted, QStringLiteral("interrupted: %1").arg(keptIn(c, outcome.linesRead, total)));
    case ArchiveEnd::ReadFailed:
        return fail(exit_code::kDownload, QStringLiteral("%1: %2; %3")
                                              .arg(record, c.errorText(outcome.error), keptIn(c, outcome.linesRead, total)));
    case ArchiveEnd::TimeEncode:
    case ArchiveEnd::DateEncode:
        break;
    }
    const QString why = outcome.end == ArchiveEnd::TimeEncode ? TimeEncodeError() : DateEncodeError();
    return fail(exit_code::kDownload, QStringLiteral("%1: an impossible date or time (%2); %3")
                                          .arg(record, why, keptIn(c, outcome.linesRead, total)));
}

// ---- the configuration link ----

int configStatus(Context& c)
{
    if (auto code = c.start())
        return *code;
    const auto status = StatusQuery(c.session);
    if (!status.ok())
        return c.linkFailure(QStringLiteral("status query"), status.error);
    const QString message = StatusQueryMessage(status.value).trimmed();
    const QString text = c.inv.format == Format::Jsonl
        ? QStringLiteral("{\"status\":%1,\"message\":").arg(status.value) + QString::fromUtf8(JsonQuoted(message)) + QStringLiteral("}\n")
        : QStringLiteral("%1 (status %2)\n").arg(message).arg(status.value);
    return c.write(text.toUtf8()) ? exit_code::kDone : c.writeFailure();
}

int configCommand(Context& c, bool reboot)
{
    if (auto code = c.start())
        return *code;
    const LinkError error = reboot ? RebootController(c.session) : SetTestMode(c.session);
    // The controller restarts either way: the port is closed whatever the result.
    if (reboot)
        c.closePort();
    if (error != LinkError::None)
        return c.linkFailure(c.inv.command->fullName(), error);
    c.tell(reboot ? QStringLiteral("reboot sent") : QStringLiteral("test mode set"));
    return exit_code::kDone;
}

int configUpload(Context& c)
{
    if (auto code = c.start())
        return *code;
    Session& s = c.session;
    s.transfer.clear();
    const bool test = c.inv.has(QStringLiteral("test"));
    const ConfigUploadResult result = ConfigUpload(s, test ? cfg::kUploadTestConfig : cfg::kUploadConfig);
    const QString what = test ? QStringLiteral("test configuration upload") : QStringLiteral("configuration upload");
    if (result.error != LinkError::None)
        return c.linkFailure(what, result.error);
    if (result.tooLarge)
        return fail(exit_code::kController,
                    QStringLiteral("%1: %2: more than %3 bytes").arg(c.device, what).arg(kTransferTextLimit));
    if (result.length == 0)
        return fail(exit_code::kController, QStringLiteral("%1: %2: the controller sent nothing").arg(c.device, what));
    return c.write(TransferText(s.transfer)) ? exit_code::kDone : c.writeFailure();
}

int configDownload(Context& c)
{
    const QString path = c.inv.arguments.value(0);
    QByteArray bytes;
    bool tooLarge = false;
    if (!ReadWholeFile(path, static_cast<qint64>(kTransferTextLimit), &bytes, &tooLarge))
        return fail(exit_code::kUsage,
                    tooLarge ? QStringLiteral("%1: %2").arg(nativePath(path), ConfigTooLargeMessage(QFileInfo(path).size()))
                             : unreadable(path));
    // What the window sends after opening the file: the text up to its first
    // zero byte, its lines joined by CR LF, in the encoding it came in.
    const DecodedConfigText decoded = DecodeConfigText(UpToFirstZero(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    const QByteArray text = EncodeConfigText(decoded.text, decoded.encoding);
    if (text.isEmpty())
        return fail(exit_code::kUsage, QStringLiteral("%1: empty: nothing to send").arg(nativePath(path)));
    if (!PutTransferText(c.session.transfer, text))
        return fail(exit_code::kUsage, QStringLiteral("%1: %2").arg(nativePath(path), ConfigTooLargeMessage(text.size())));
    if (auto code = c.start())
        return *code;
    const auto sent = ConfigDownload(c.session, c.session.transfer.bytes.data(), static_cast<std::size_t>(text.size()));
    if (!sent.value)
        return c.linkFailure(QStringLiteral("configuration download"), sent.error);
    c.tell(QStringLiteral("configuration sent (%1 bytes)").arg(text.size()));
    return exit_code::kDone;
}

// ---- device and script ----

int deviceRead(Context& c, bool pressure)
{
    if (auto code = c.start())
        return *code;
    const ServiceReading reading = pressure ? ReadPressure(c.session) : ReadDeviceNumber(c.session);
    if (!reading.ok)
        return c.linkFailure(pressure ? QStringLiteral("pressure") : QStringLiteral("device number"), reading.error);
    const QString value = reading.text.trimmed();
    const QString text = c.inv.format == Format::Jsonl
        ? QStringLiteral("{\"%1\":%2}\n").arg(pressure ? QStringLiteral("pressure") : QStringLiteral("device_number"), value)
        : value + QLatin1Char('\n');
    return c.write(text.toUtf8()) ? exit_code::kDone : c.writeFailure();
}

int deviceRegister(Context& c)
{
    if (!c.confirmed(QStringLiteral("registers the device")))
        return exit_code::kUsage;
    if (auto code = c.start())
        return *code;
    if (const LinkError error = SendSwitchCommand(c.session, SwitchCommand::Registration); error != LinkError::None)
        return c.linkFailure(QStringLiteral("registration"), error);
    c.tell(QStringLiteral("registration sent"));
    return exit_code::kDone;
}

int scriptSend(Context& c)
{
    const QString path = c.inv.arguments.value(0);
    const ScriptFile file = LoadScriptFile(path, c.session.transfer);
    switch (file.status) {
    case ScriptFileStatus::Loaded:
        break;
    case ScriptFileStatus::Unreadable:
        return fail(exit_code::kUsage, unreadable(path));
    case ScriptFileStatus::Empty:
        return fail(exit_code::kUsage, QStringLiteral("%1: empty: nothing to send").arg(nativePath(path)));
    case ScriptFileStatus::TooLong:
        return fail(exit_code::kUsage, QStringLiteral("%1: %2").arg(nativePath(path), ScriptTooLongMessage(file.size)));
    }
    if (auto code = c.start())
        return *code;
    const ScriptSendResult sent = SendTransferScript(c.session);
    if (!sent.replied())
        return c.linkFailure(QStringLiteral("script"), sent.error);
    c.tell(QStringLiteral("script sent (%1 bytes)").arg(c.session.transfer.length));
    return exit_code::kDone;
}

int scriptRead(Context& c)
{
    if (auto code = c.start())
        return *code;
    // The output is written here, so that stdout serves as well as a file.
    const ScriptUpResult result = ReadScriptBack(c.session, QString());
    if (!result.ok)
        return c.linkFailure(QStringLiteral("script read"), result.error);
    return c.write(result.script) ? exit_code::kDone : c.writeFailure();
}

int scriptClear(Context& c)
{
    if (!c.confirmed(QStringLiteral("clears the script")))
        return exit_code::kUsage;
    if (auto code = c.start())
        return *code;
    if (const LinkError error = ClearScript(c.session); error != LinkError::None)
        return c.linkFailure(QStringLiteral("script clear"), error);
    c.tell(QStringLiteral("script cleared"));
    return exit_code::kDone;
}

// ---- the poll responder ----

int respond(Context& c)
{
    struct Field {
        QString name;
        QString fallback;
        bool offset;
    };
    QStringList texts;
    for (const Field& f : {Field{QStringLiteral("day"), QStringLiteral("28"), false},
                           Field{QStringLiteral("add1"), QStringLiteral("0"), true},
                           Field{QStringLiteral("add2"), QStringLiteral("0"), true}}) {
        const QString text = c.inv.has(f.name) ? c.inv.value(f.name) : f.fallback;
        const auto value = ParseInteger(text);
        if (!value)
            return fail(exit_code::kUsage, QStringLiteral("--%1: %2").arg(f.name, NotAnIntegerMessage(text)));
        if (f.offset && !DeviceClock(QTime(0, 0), *value))
            return fail(exit_code::kUsage, QStringLiteral("--%1: the offset must lie between -%2 and %2 seconds")
                                               .arg(f.name)
                                               .arg(poll::kOffsetLimit - 1));
        texts << text;
    }
    catchInterrupts();
    if (auto code = c.start())
        return *code;

    Session& s = c.session;
    bool writeFailed = false;
    PollResponderHooks hooks;
    hooks.inputs = [&texts] {
        return PollInputs{texts[0], texts[1], texts[2], QTime::currentTime(), QLocale::system().decimalPoint()};
    };
    hooks.stopRequested = [&] { return g_interrupted != 0 || writeFailed || !s.link.isOpen(); };
    hooks.poll.trace = [&](const QString& line) {
        if (!c.write(c.out.textLine(line.toUtf8() + "\r\n")))
            writeFailed = true;
    };
    const PollResponderEnd end = RunPollResponder(s, hooks);
    if (writeFailed)
        return c.writeFailure();
    if (!end.error.isEmpty())
        return fail(exit_code::kController, QStringLiteral("%1: %2").arg(c.device, end.error));
    if (!s.link.isOpen())
        return c.linkFailure(QStringLiteral("responder"), LinkError::PortLost);
    c.tell(QStringLiteral("%1 polls received, %2 answered").arg(end.polls).arg(end.answered));
    return exit_code::kDone;
}

// ---- ports ----

int ports(const Invocation& inv)
{
    Output out;
    QString error;
    const QString path = inv.value(QStringLiteral("output"));
    if (inv.has(QStringLiteral("output")) && path.isEmpty())
        return fail(exit_code::kUsage, QStringLiteral("-o: no file named"));
    if (!path.isEmpty() && !out.open(path, &error))
        return fail(exit_code::kUsage, FileErrorMessage(true, path, error));
    const QList<PortEntry> list = ListSerialPorts();
    QByteArray text;
    if (inv.format == Format::Jsonl) {
        for (const PortEntry& p : list) {
            const auto field = [](const QString& v) { return v.isEmpty() ? QByteArray("null") : JsonQuoted(v); };
            text += "{\"name\":" + field(p.name) + ",\"path\":" + field(p.path) + ",\"description\":"
                + field(p.description) + ",\"manufacturer\":" + field(p.manufacturer) + ",\"serial_number\":"
                + field(p.serialNumber) + ",\"vid_pid\":" + field(p.vidPid) + ",\"by_id\":" + field(p.byId) + "}\n";
        }
    } else if (!list.isEmpty()) {
        QList<QStringList> rows{{QStringLiteral("NAME"), QStringLiteral("PATH"), QStringLiteral("VID:PID"),
                                 QStringLiteral("SERIAL"), QStringLiteral("MANUFACTURER"), QStringLiteral("DESCRIPTION"),
                                 QStringLiteral("BY-ID")}};
        const auto dash = [](const QString& v) { return v.isEmpty() ? QStringLiteral("-") : v; };
        for (const PortEntry& p : list)
            rows << QStringList{p.name, p.path, dash(p.vidPid), dash(p.serialNumber), dash(p.manufacturer),
                                dash(p.description), dash(p.byId)};
        QList<qsizetype> widths(rows[0].size(), 0);
        for (const QStringList& r : rows)
            for (qsizetype i = 0; i < r.size(); ++i)
                widths[i] = std::max(widths[i], r[i].size());
        for (const QStringList& r : rows) {
            QString line;
            for (qsizetype i = 0; i < r.size(); ++i)
                line += i + 1 < r.size() ? r[i].leftJustified(widths[i] + 2) : r[i];
            text += line.toUtf8() + '\n';
        }
    }
    if (list.isEmpty() && !inv.has(QStringLiteral("quiet")))
        std::fprintf(stderr, "no serial ports found\n");
    if (!out.write(text))
        return fail(exit_code::kDownload, out.errorString());
    return exit_code::kDone;
}

int runCommand(Context& c)
{
    const QString name = c.inv.command->fullName();
    if (name == QLatin1String("log info"))
        return logInfo(c);
    if (name == QLatin1String("log read"))
        return logRead(c);
    if (name == QLatin1String("log clear"))
        return logSwitch(c, SwitchCommand::ClearLog, QStringLiteral("event log cleared"));
    if (name == QLatin1String("log start"))
        return logSwitch(c, SwitchCommand::StartLogging, QStringLiteral("logging started"));
    if (name == QLatin1String("log stop"))
        return logSwitch(c, SwitchCommand::StopLogging, QStringLiteral("logging stopped"));
    if (name == QLatin1String("archive read"))
        return archiveRead(c);
    if (name == QLatin1String("config status"))
        return configStatus(c);
    if (name == QLatin1String("config set-test"))
        return configCommand(c, false);
    if (name == QLatin1String("config reboot"))
        return configCommand(c, true);
    if (name == QLatin1String("config upload"))
        return configUpload(c);
    if (name == QLatin1String("config download"))
        return configDownload(c);
    if (name == QLatin1String("device ident"))
        return deviceRead(c, false);
    if (name == QLatin1String("device pressure"))
        return deviceRead(c, true);
    if (name == QLatin1String("device register"))
        return deviceRegister(c);
    if (name == QLatin1String("script send"))
        return scriptSend(c);
    if (name == QLatin1String("script read"))
        return scriptRead(c);
    if (name == QLatin1String("script clear"))
        return scriptClear(c);
    return respond(c);
}

} // namespace

void InstallMessageFilter() { qInstallMessageHandler(messageFilter); }

int RunCli(const QStringList& arguments)
{
    const ParseResult parsed = ParseCommandLine(arguments);
    if (!parsed.invocation) {
        if (!parsed.out.isEmpty()) {
            std::fputs(parsed.out.toLocal8Bit().constData(), stdout);
            std::fflush(stdout);
        }
        if (!parsed.error.isEmpty())
            say(parsed.error);
        return parsed.exitCode;
    }
    const Invocation& inv = *parsed.invocation;
    g_verbose = inv.has(QStringLiteral("verbose"));
    if (!inv.command->needsPort)
        return ports(inv);

    QString error;
    const auto timing = linkTiming(&error);
    if (!timing)
        return fail(exit_code::kUsage, error);
    // A Session holds the 50,000-byte Transfer buffer: on the heap, not the stack.
    auto context = std::make_unique<Context>(inv, *timing);
    const int code = runCommand(*context);
    context->finishTrace();
    return code;
}

} // namespace tessavin::cli
