// tessavin-sim: an emulated logging controller on a new pseudo-terminal. It
// prints the path to put into the port field and serves until interrupted.
// Exit status: 0 after Ctrl+C or SIGTERM, 1 when no pseudo-terminal or link can
// be made, 2 for a usage error (the message names the option).
#include "sim/controller_thread.h"
#include "sim/sim_options.h"
#include "tessavin_version.h"

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
    if (!kind.link)
        return "??? ";
    switch (*kind.link) {
    case tessavin::LinkKind::Config:
        return "cfg ";
    case tessavin::LinkKind::Register:
        return "reg ";
    case tessavin::LinkKind::Poll:
        break;
    }
    return kind.answer ? "ans " : "poll";
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

// The controller as the options ask for it: its state, faults, line and polls.
void configure(ControllerThread& sim, const SimOptions& options)
{
    sim.withController([&](Controller& c) {
        c.state().statusCode = options.statusCode;
        c.state().storeCut = options.storeCut;
        if (options.configuration)
            c.state().configuration = *options.configuration;
        if (options.testConfiguration)
            c.state().testConfiguration = *options.testConfiguration;
        for (const auto& f : options.faults)
            c.addFault(f);
    });
    LineSettings line;
    line.baud = options.baud;
    line.mismatch = options.mismatch;
    line.turnaround = options.turnaround;
    sim.setLineSettings(line);
    if (!options.polls.empty())
        sim.setPollSchedule(options.polls, options.pollInterval, options.pollTimeout);
}

// Prints the frames logged since the last call, one line each.
void printFrames(const ControllerThread& sim, SimClock::time_point started, std::size_t& printed)
{
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

// Serves until SIGINT or SIGTERM, printing the frames as they pass when asked to.
int serve(const ControllerThread& sim, bool trace)
{
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::size_t printed = 0;
    const auto started = SimClock::now();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (trace)
            printFrames(sim, started, printed);
        if (interrupted)
            QCoreApplication::quit();
    });
    timer.start(50);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessavin-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSAVIN_VERSION));

    QString error;
    const std::optional<SimOptions> options = ParseSimOptions(QCoreApplication::arguments(), &error);
    if (!options)
        return usageError(error);
    const QString& linkPath = options->linkPath;
    if (!linkPath.isEmpty() && !mayReplace(linkPath))
        return usageError(
            QStringLiteral("--link: %1 exists and is not a link to a pseudo-terminal; it is left as it is")
                .arg(linkPath));

    ControllerThread sim(options->settings);
    configure(sim, *options);
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
    if (const auto& settings = options->settings; !settings.noise.quiet())
        std::printf("Line noise on the replies: bit flips %g a byte, dropped replies %g, seed %u\n",
                    settings.noise.flip, settings.noise.drop, settings.noise.seed);
    std::printf("Put that path into the COM field of tessavin and press Open. Ctrl+C ends.\n");
    std::fflush(stdout);

    const int rc = serve(sim, options->trace);
    // Only the link this run made goes; the terminal is still ours here, so no
    // later run can have made a link to the same path yet.
    if (!linkPath.isEmpty() && isLinkTo(linkPath, sim.slavePath()))
        QFile::remove(linkPath);
    sim.stop();
    return rc;
}
