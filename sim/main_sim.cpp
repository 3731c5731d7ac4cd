// tessavin-sim: an emulated logging controller on a new pseudo-terminal. It
// prints the path to put into the port field and serves until interrupted.
// Exit status: 0 after Ctrl+C or SIGTERM, 1 when no pseudo-terminal or link can
// be made, 2 for a usage error (the message names the option).
#include "controller_thread.h"
#include "sim_options.h"
#include "tessavin_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <limits>
#include <optional>

using namespace tessavin::sim;

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onSignal(int) { interrupted = 1; }

const char* kindName(FrameKind kind)
{
    switch (kind) {
    case FrameKind::Config:
        return "cfg ";
    case FrameKind::Register:
        return "reg ";
    case FrameKind::Poll:
        return "poll";
    case FrameKind::PollAnswer:
        return "ans ";
    case FrameKind::Unknown:
        break;
    }
    return "??? ";
}

void complain(const QString& message) { std::fprintf(stderr, "tessavin-sim: %s\n", qPrintable(message)); }

int usageError(const QString& message)
{
    complain(message);
    return 2;
}

int failure(const QString& message)
{
    complain(message);
    return 1;
}

// --link PATH may be (re)made when nothing is at PATH, or when PATH is a symbolic
// link into /dev/pts/: one an earlier run made and, killed, could not remove.
// Anything else there belongs to someone else.
bool mayReplace(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return info.symLinkTarget().startsWith(QLatin1String("/dev/pts/"));
    return !info.exists();
}

bool isLinkTo(const QString& path, const QString& target)
{
    const QFileInfo info(path);
    return info.isSymLink() && info.symLinkTarget() == target;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessavin-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSAVIN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "An emulated logging controller on a new pseudo-terminal. It prints the path\n"
        "of the terminal (e.g. /dev/pts/3): type it into the window's COM field and\n"
        "press Open. It answers the configuration link and the register and log link\n"
        "as the controller does, can poll the window's responder (Start), and can be\n"
        "made to misbehave. Runs until Ctrl+C.\n"
        "Exit status: 0 after Ctrl+C or SIGTERM, 1 when no pseudo-terminal or link can\n"
        "be made, 2 for a usage error."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    auto option = [&](const char* name, const char* description, const char* valueName, const char* defaultValue) {
        QString text = QString::fromLatin1(description);
        if (*defaultValue)
            text += QStringLiteral(" Default: %1.").arg(QString::fromLatin1(defaultValue));
        QCommandLineOption o(QString::fromLatin1(name), text, QString::fromLatin1(valueName),
                             QString::fromLatin1(defaultValue));
        parser.addOption(o);
        return o;
    };
    const auto logCapacity = option("log-capacity", "Event log capacity in records.", "n", "2000");
    const auto logRecords = option("log-records", "Records in the event log at start.", "n", "150");
    const auto recordLength = option("record-length", "Approximate length of those records, in bytes.", "n", "60");
    const auto archiveRecords = option("archive-records", "Dated values in the archive at start (ring of 1001).", "n", "300");
    const auto chunk = option("chunk", "Bytes per configuration upload chunk (1-255).", "n", "100");
    const auto status = option("status", "Status code answered to the status query (0 OK, 1 bad json, 2 no memory, 3 no file).", "n", "0");
    const auto rebootSilence = option("reboot-silence", "Silence after a reboot command, in ms.", "ms", "3000");
    const auto loggingInterval = option("logging-interval", "While logging is on, a new record every this many ms.", "ms", "2000");
    const auto config = option("config", "File whose bytes are the configuration (default: a built-in JSON text).", "file", "");
    const auto testConfig = option("test-config", "File whose bytes are the test configuration.", "file", "");
    const auto baud = option("baud", "Pace the line at this rate, 10 bits a byte: a reply or poll arrives whole when its last byte would, after the request's own time on the line (0: no pacing). A requester whose port is set to another rate gets what --mismatch says.", "rate", "0");
    const auto mismatch = option("mismatch", "With --baud, what a requester whose port is set to another rate gets: garbage (the bytes its receiver makes of the reply at the wrong rate), silent (nothing) or answer (the reply, as if the rates matched). The request changes nothing unless answer.", "mode", "garbage");
    const auto turnaround = option("turnaround", "Pause between a request and its reply, in ms.", "ms", "0");
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("Misbehave (repeatable): KIND[:TARGET][,times=N][,bytes=N][,pause=MS]. "
                                                  "KIND: silence, bad-header, bad-body, truncated (to bytes, default half), "
                                                  "split (after bytes, pause default 150 ms), garbage (bytes, default 3), "
                                                  "oversized (bytes, default 1200), slow (pause, default 500 ms). "
                                                  "TARGET: reg=CMD (a register-link command, e.g. reg=0x1A), cfg=CODE (a "
                                                  "configuration command code, e.g. cfg=0x63), fn=16 or fn=17 (configuration "
                                                  "data frames); without it, every request. times: how many replies it "
                                                  "spoils (default: all). Example: --fault split:reg=0x1A,times=3"),
                                   QStringLiteral("fault"));
    parser.addOption(fault);
    const QCommandLineOption poll(QStringLiteral("poll"),
                                  QStringLiteral("Poll the window's responder (repeatable; sent in turn, one every "
                                                 "--poll-interval, once the requests pause): FUNCTION[,addr=N][,fill=N]"
                                                 "[,strand=N][,start=N]. FUNCTION: 1 date and time, 2 coefficients, 10 "
                                                 "report of three values; fill: leading 0xFF bytes (0 to %1); start: a "
                                                 "poll with another start byte (not 0xFF), which the responder shows but "
                                                 "does not answer. Answers are checked and shown with --trace. "
                                                 "Example: --poll 1,addr=1 --poll 10,addr=5,strand=3,fill=3")
                                      .arg(kMaxFillBytes),
                                  QStringLiteral("poll"));
    parser.addOption(poll);
    const QCommandLineOption demoPolls(QStringLiteral("demo-polls"),
                                       QStringLiteral("Poll as the demonstration does: 1,addr=1 then 2,addr=2 then 10,addr=5,strand=3."));
    parser.addOption(demoPolls);
    const auto pollInterval = option("poll-interval", "Time between two polls, in ms.", "ms", "5000");
    const auto pollTimeout = option("poll-timeout", "How long a poll waits for its answer, in ms.", "ms", "3000");
    const auto link = option("link",
                             "Also make a symbolic link with this name to the terminal, removed at exit. An existing "
                             "path is replaced only when it is a link into /dev/pts/ (left by an earlier run).",
                             "path", "");
    const auto storeFault = option("store-fault",
                                   "Store downloads badly: cut=N keeps only the first N bytes of each downloaded "
                                   "configuration (what a read-back then shows).",
                                   "fault", "");
    // Line noise on the replies, reproducible from the seed.
    const auto noise = option("noise", "Flip one random bit in each reply byte with this probability (0 to 0.1).", "p", "0");
    const auto drop = option("drop", "Leave a whole reply unsent with this probability (0 to 0.1).", "p", "0");
    const auto seed = option("seed", "Seed of the noise (printed at start; default: one from the clock).", "n", "");
    const QCommandLineOption trace(QStringLiteral("trace"), QStringLiteral("Print every frame received (<-) and sent (->)."));
    parser.addOption(trace);

    // Usage errors exit 2; QCommandLineParser::process would exit 1.
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText() + QStringLiteral("\nTry 'tessavin-sim --help'."));
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'\nTry 'tessavin-sim --help'.")
                              .arg(parser.positionalArguments().constFirst()));

    auto integer = [&](const QCommandLineOption& o, int min, int max, int* out) {
        QString error;
        const auto value = ParseInteger(parser.value(o), min, max, &error);
        if (!value)
            complain(QStringLiteral("--%1: %2").arg(o.names().constFirst(), error));
        else
            *out = *value;
        return value.has_value();
    };
    ControllerSettings settings;
    int statusCode = 0, baudRate = 0, turnaroundMs = 0, rebootMs = 0, loggingMs = 0, pollMs = 0, pollTimeoutMs = 0;
    if (!integer(logCapacity, 1, 65535, &settings.logCapacity) || !integer(logRecords, 0, 1000000, &settings.logRecords)
        || !integer(recordLength, 1, 990, &settings.logRecordLength)
        || !integer(archiveRecords, 0, 1000000, &settings.archiveRecords) || !integer(chunk, 1, 255, &settings.chunkSize)
        || !integer(status, 0, 255, &statusCode) || !integer(baud, 0, 4000000, &baudRate)
        || !integer(turnaround, 0, 600000, &turnaroundMs) || !integer(rebootSilence, 0, 3600000, &rebootMs)
        || !integer(loggingInterval, 1, 3600000, &loggingMs) || !integer(pollInterval, 1, 3600000, &pollMs)
        || !integer(pollTimeout, 1, 3600000, &pollTimeoutMs))
        return 2;
    for (const auto& [o, p] : {std::pair{&noise, &settings.noise.flip}, std::pair{&drop, &settings.noise.drop}}) {
        QString why;
        const auto value = ParseNoiseProbability(parser.value(*o), &why);
        if (!value)
            return usageError(QStringLiteral("--%1: %2").arg(o->names().constFirst(), why));
        *p = *value;
    }
    settings.noise.seed = static_cast<std::uint32_t>(QDateTime::currentMSecsSinceEpoch() % 1000000);
    if (parser.isSet(seed)) {
        int n = 0;
        if (!integer(seed, 0, std::numeric_limits<int>::max(), &n))
            return 2;
        settings.noise.seed = static_cast<std::uint32_t>(n);
    }
    settings.rebootSilence = std::chrono::milliseconds(rebootMs);
    settings.loggingInterval = std::chrono::milliseconds(loggingMs);

    QString mismatchError;
    const auto mismatchMode = ParseRateMismatch(parser.value(mismatch), &mismatchError);
    if (!mismatchMode)
        return usageError(QStringLiteral("--mismatch: ") + mismatchError);

    std::vector<Fault> faults;
    for (const QString& text : parser.values(fault)) {
        QString error;
        const auto f = ParseFault(text, &error);
        if (!f)
            return usageError(QStringLiteral("--fault: ") + error);
        faults.push_back(*f);
    }
    int storeCut = -1;
    if (parser.isSet(storeFault)) {
        QString error;
        const auto cut = ParseStoreFault(parser.value(storeFault), &error);
        if (!cut)
            return usageError(QStringLiteral("--store-fault: ") + error);
        storeCut = *cut;
    }
    std::vector<PollSpec> polls = parser.isSet(demoPolls) ? DemoPolls() : std::vector<PollSpec>{};
    for (const QString& text : parser.values(poll)) {
        QString error;
        const auto p = ParsePoll(text, &error);
        if (!p)
            return usageError(QStringLiteral("--poll: ") + error);
        polls.push_back(*p);
    }
    // The file's bytes, or a message naming the option and the reason.
    auto readFile = [&](const QCommandLineOption& o, QByteArray* out) -> std::optional<QString> {
        QFile f(parser.value(o));
        if (!f.open(QIODevice::ReadOnly))
            return QStringLiteral("--%1: cannot read %2: %3").arg(o.names().constFirst(), f.fileName(), f.errorString());
        *out = f.readAll();
        return std::nullopt;
    };
    QByteArray configuration, testConfiguration;
    if (parser.isSet(config))
        if (const auto error = readFile(config, &configuration))
            return usageError(*error);
    if (parser.isSet(testConfig))
        if (const auto error = readFile(testConfig, &testConfiguration))
            return usageError(*error);
    const QString linkPath = parser.value(link);
    if (!linkPath.isEmpty() && !mayReplace(linkPath))
        return usageError(QStringLiteral("--link: %1 exists and is not a link to a pseudo-terminal; it is left as it is")
                              .arg(linkPath));

    ControllerThread sim(settings);
    sim.withController([&](Controller& c) {
        c.state().statusCode = statusCode;
        c.state().storeCut = storeCut;
        if (parser.isSet(config))
            c.state().configuration = configuration;
        if (parser.isSet(testConfig))
            c.state().testConfiguration = testConfiguration;
        for (const auto& f : faults)
            c.addFault(f);
    });
    LineSettings line;
    line.baud = baudRate;
    line.mismatch = *mismatchMode;
    line.turnaround = std::chrono::milliseconds(turnaroundMs);
    sim.setLineSettings(line);
    if (!polls.empty())
        sim.setPollSchedule(polls, std::chrono::milliseconds(pollMs), std::chrono::milliseconds(pollTimeoutMs));

    QString error;
    if (!sim.start(&error))
        return failure(error);
    if (!linkPath.isEmpty()) {
        if (QFileInfo(linkPath).isSymLink())
            QFile::remove(linkPath);
        if (!QFile::link(sim.slavePath(), linkPath))
            return failure(QStringLiteral("--link: cannot create the link %1").arg(linkPath));
    }
    std::printf("Emulated controller on %s\n", qPrintable(sim.slavePath()));
    if (!linkPath.isEmpty())
        std::printf("(also reachable as %s)\n", qPrintable(linkPath));
    if (!settings.noise.quiet())
        std::printf("Line noise on the replies: bit flips %g a byte, dropped replies %g, seed %u\n",
                    settings.noise.flip, settings.noise.drop, settings.noise.seed);
    std::printf("Put that path into the COM field of tessavin and press Open. Ctrl+C ends.\n");
    std::fflush(stdout);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    std::size_t printed = 0;
    const auto started = SimClock::now();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (parser.isSet(trace)) {
            const auto frames = sim.frames();
            for (; printed < frames.size(); ++printed) {
                const auto& f = frames[printed];
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(f.firstByte - started).count();
                std::printf("%8lld ms %s %s %s%s%s\n", static_cast<long long>(ms),
                            f.direction == Direction::Received ? "<-" : "->", kindName(f.kind),
                            f.bytes.left(64).toHex(' ').toUpper().constData(), f.bytes.size() > 64 ? " ..." : "",
                            f.note.isEmpty() ? "" : qPrintable(QStringLiteral("  [%1]").arg(QString::fromLatin1(f.note))));
            }
            std::fflush(stdout);
        }
        if (interrupted)
            QCoreApplication::quit();
    });
    timer.start(50);
    const int rc = QCoreApplication::exec();
    // Only the link this run made goes; the terminal is still ours here, so no
    // later run can have made a link to the same path yet.
    if (!linkPath.isEmpty() && isLinkTo(linkPath, sim.slavePath()))
        QFile::remove(linkPath);
    sim.stop();
    return rc;
}
