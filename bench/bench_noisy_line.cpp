// The event-log download over a noisy line: line noise on the emulated
// controller's replies (one random bit flipped in a byte with probability P,
// seeded), read without retries and with three, against the same download on a
// quiet line. Fast replies at 38400, records of about 60 characters.
//
// Seeds: 2,000 records from the emulated controller in memory, its line paced at
// 38400 on a virtual clock (the line's time is counted, not waited), 5 seeds at
// each noise level, medians over the seeds: without retries, the records read
// before the first failure; with 3 retries, whether all 2,000 came byte-identical
// to the controller's ring, and the download's time against the quiet line's.
//
// Dropped replies: the same 2,000 records on a line that leaves 0.5 % of the
// replies unsent, with 3 retries: a lost reply costs the retry wait (1 s), not
// the whole first-byte wait, so the download takes at most 1.3 times the quiet
// line's time (median over the seeds).
//
// The configuration upload (a 20,000-byte text in chunks of 100) and the script
// read (247 bytes) at noise 0.001, with 3 retries, seeds 1-20: every read is the
// controller's bytes exactly, or fails; none gives other bytes.
//
// Real time: the same 2,000 records over a pseudo-terminal paced at 38400, once
// quiet and once with noise 0.001, seed 1 and 3 retries (about 25 s each).
#include "features/config/config_transfer.h"
#include "sim/controller_thread.h"
#include "features/event_log.h"
#include "sim/memory_line.h"
#include "features/script_transfer.h"
#include "serial/system_port.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tessavin;
using namespace std::chrono;

namespace {

constexpr int kBaud = 38400;
constexpr int kRecordLength = 60;
constexpr int kRetries = 3;
constexpr double kTarget = 1.2;
constexpr double kDropTarget = 1.3;
constexpr double kDrop = 0.005;

struct Run {
    bool ran = false;
    bool completed = false;
    int read = 0;
    int retried = 0;
    bool identical = true; // every record read as the ring holds it
    double seconds = 0; // virtual or real, as the line ran
};

// Five seeds' runs of one line, against the quiet run's time.
struct Tally {
    int complete = 0, identical = 0;
    std::vector<double> ratios, retried;
    void add(const Run& r, double quietSeconds)
    {
        complete += r.completed ? 1 : 0;
        identical += r.completed && r.identical ? 1 : 0;
        retried.push_back(r.retried);
        if (r.completed)
            ratios.push_back(r.seconds / quietSeconds);
    }
};

sim::ControllerSettings ring()
{
    sim::ControllerSettings settings;
    settings.logRecords = 2600; // a ring that has moved on: the newest records wrap
    settings.logRecordLength = kRecordLength;
    return settings;
}

// The questions on a quiet line, then the noise, then the records.
Run download(Session& session, int records, int retries, const std::function<QByteArray(int)>& ringRecord,
             const std::function<void()>& noiseOn, const std::function<double()>& now)
{
    Run run;
    run.ran = true;
    session.chooseFastReplies(true, false);
    AskRingQuestion(session, RingQuestion::LogCount);
    AskRingQuestion(session, RingQuestion::LogBegin);
    const RecordSpan span = ChooseLogSpan(RecordChoice::Index, records, session.begin, session.count,
                                          kDefaultLogCapacity);
    noiseOn();
    session.retries = retries;
    RecordSink<LogLine> sink;
    sink.show = [&](const LogLine& line) {
        if (line.record != ringRecord(static_cast<int>(line.index)))
            run.identical = false;
    };
    const double start = now();
    const DownloadOutcome outcome = RunLogRecordLoop(session, span, kDefaultLogCapacity, sink);
    run.seconds = now() - start;
    run.completed = outcome.end == DownloadEnd::Completed && outcome.read == records;
    run.read = outcome.read;
    run.retried = session.retried;
    return run;
}

Run inMemory(int records, double flip, std::uint32_t seed, int retries, double drop = 0.0)
{
    sim::MemoryLine line(ring());
    line.baud = kBaud;
    line.setKeepFrames(false);
    Session session({}, line.port, line.clock); // the system's timings, on the virtual clock
    session.link.openPort(QStringLiteral("controller"), kBaud);
    return download(
        session, records, retries, [&](int i) { return line.controller.state().eventLog.at(i); },
        [&] {
            line.controller.setLineNoise({flip, drop, seed});
        },
        [&] { return duration<double>(line.clock->now()).count(); });
}

// What a read of the configuration or the script gave on a noisy line.
enum class Read { Identical, Failed, Different };

Read readOnNoise(bool script, double flip, std::uint32_t seed)
{
    sim::MemoryLine line;
    line.baud = kBaud;
    QByteArray text;
    for (int i = 0; text.size() < 20000; ++i)
        text += "{\"channel\": " + QByteArray::number(i) + ", \"name\": \"pump " + QByteArray::number(i) + "\"},\n";
    line.controller.state().configuration = text.left(20000);
    line.controller.state().script = text.left(247);
    Session session({}, line.port, line.clock);
    session.link.openPort(QStringLiteral("controller"), kBaud);
    session.retries = kRetries;
    line.controller.setLineNoise({flip, 0.0, seed});
    if (script) {
        const ScriptUpResult r = ReceiveScript(session);
        return !r.ok ? Read::Failed : r.script == line.controller.state().script ? Read::Identical : Read::Different;
    }
    session.transfer.clear();
    const ConfigUploadResult r = ConfigUpload(session, cfg::kUploadConfig);
    return r.length == 0                                                          ? Read::Failed
        : TransferText(session.transfer) == line.controller.state().configuration ? Read::Identical
                                                                                  : Read::Different;
}

Run overPty(int records, double flip, std::uint32_t seed, int retries)
{
    sim::ControllerSettings settings = ring();
    sim::ControllerThread controller(settings);
    QString error;
    if (!controller.start(&error)) {
        std::printf("real-time runs skipped: %s\n", qPrintable(error));
        return {};
    }
    sim::LineSettings lineSettings = controller.lineSettings();
    lineSettings.baud = kBaud;
    controller.setLineSettings(lineSettings);
    Session session({}, MakeSystemPort()); // the system's timings
    session.link.setPump([] { QCoreApplication::processEvents(); });
    if (!session.link.openPort(controller.slavePath(), kBaud))
        return {};
    QElapsedTimer timer;
    timer.start();
    return download(
        session, records, retries,
        [&](int i) {
            QByteArray record;
            controller.withController([&](sim::Controller& c) { record = c.state().eventLog.at(i); });
            return record;
        },
        [&] { controller.withController([&](sim::Controller& c) {
                  c.setLineNoise({flip, 0.0, seed});
              }); },
        [&] { return static_cast<double>(timer.nsecsElapsed()) / 1e9; });
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Event-log download over a noisy line, with and without retries."));
    parser.addHelpOption();
    const QCommandLineOption recordsOption(QStringLiteral("noisy-records"),
                                           QStringLiteral("Records of each noisy-line download (2000)."),
                                           QStringLiteral("N"), QStringLiteral("2000"));
    const QCommandLineOption noPtyOption(QStringLiteral("no-real-time"),
                                         QStringLiteral("Skip the runs over a pseudo-terminal."));
    // The real-time runs cross-check the virtual clock's timing; fewer records keep
    // the whole bench within its five minutes.
    const QCommandLineOption realTimeRecordsOption(QStringLiteral("real-time-records"),
                                                   QStringLiteral("Records of each run over a pseudo-terminal (500)."),
                                                   QStringLiteral("N"), QStringLiteral("500"));
    parser.addOptions({recordsOption, noPtyOption, realTimeRecordsOption});
    // Options of the other benchmarks are theirs: ignore what is not ours.
    parser.parse(QCoreApplication::arguments());
    const int records = std::max(1, parser.value(recordsOption).toInt());
    const int realTimeRecords = std::max(1, parser.value(realTimeRecordsOption).toInt());

    std::printf("Noisy line: %d records of about %d characters, fast replies at %d, bit noise on the replies.\n"
                "Seeds 1-5 in memory on a virtual clock paced at the baud rate; medians over the seeds.\n\n",
                records, kRecordLength, kBaud);
    // Status 1 when a quiet download fails or a noisy read gives other bytes than
    // the controller's; the noisy ones are measured, their targets printed.
    bool failed = false;
    const Run quiet = inMemory(records, 0.0, 1, 0);
    if (!quiet.completed) {
        std::printf("the quiet download failed after %d records\n", quiet.read);
        return 1;
    }
    std::printf("  quiet line: %.1f s on the line (%.2f ms a record)\n\n", quiet.seconds,
                1000.0 * quiet.seconds / records);
    std::printf("  noise   no retries: read before   %d retries: complete  identical  retried  time     ratio  target\n"
                "          the first failure                                         (medians; time and ratio of\n"
                "                                                                     the complete runs)\n",
                kRetries);
    for (const double flip : {0.001, 0.01}) {
        std::vector<double> before;
        Tally t;
        for (std::uint32_t seed = 1; seed <= 5; ++seed) {
            before.push_back(inMemory(records, flip, seed, 0).read);
            t.add(inMemory(records, flip, seed, kRetries), quiet.seconds);
        }
        const double ratio = median(t.ratios);
        const bool met = t.complete == 5 && t.identical == 5 && ratio <= kTarget;
        std::printf("  %-6g  %8.0f                   %d of 5    %d of 5     %6.0f   ", flip, median(before), t.complete,
                    t.identical, median(t.retried));
        if (t.ratios.empty())
            std::printf("   -        -     <= %.1f: %s\n", kTarget, verdict(met));
        else
            std::printf("%5.1f s  %.2f   <= %.1f: %s\n", ratio * quiet.seconds, ratio, kTarget, verdict(met));
    }

    {
        Tally t;
        for (std::uint32_t seed = 1; seed <= 5; ++seed)
            t.add(inMemory(records, 0.0, seed, kRetries, kDrop), quiet.seconds);
        const double ratio = median(t.ratios);
        const bool met = t.complete == 5 && t.identical == 5 && ratio <= kDropTarget;
        std::printf("\n  %g %% of the replies dropped, %d retries: %d of 5 complete, %d of 5 identical, %.0f retried, "
                    "%.1f s, ratio %.2f (<= %.1f: %s)\n",
                    kDrop * 100, kRetries, t.complete, t.identical, median(t.retried), ratio * quiet.seconds, ratio,
                    kDropTarget, verdict(met));
    }

    std::printf("\n  noise 0.001, %d retries, seeds 1-20   identical  failed  other bytes\n", kRetries);
    for (const bool script : {false, true}) {
        int counts[3] = {};
        for (std::uint32_t seed = 1; seed <= 20; ++seed)
            ++counts[static_cast<int>(readOnNoise(script, 0.001, seed))];
        const bool met = counts[static_cast<int>(Read::Identical)] == 20;
        failed = failed || counts[static_cast<int>(Read::Different)] > 0;
        std::printf("  %-36s %2d         %2d      %2d   (all identical: %s)\n",
                    script ? "script read (247 bytes)" : "configuration upload (20,000 bytes)",
                    counts[static_cast<int>(Read::Identical)], counts[static_cast<int>(Read::Failed)],
                    counts[static_cast<int>(Read::Different)], verdict(met));
    }

    if (!parser.isSet(noPtyOption)) {
        std::printf("\nReal time over a pseudo-terminal paced at %d, %d records, seed 1:\n", kBaud, realTimeRecords);
        const Run q = overPty(realTimeRecords, 0.0, 1, 0);
        const Run n = q.ran ? overPty(realTimeRecords, 0.001, 1, kRetries) : Run{};
        if (q.ran && n.ran) {
            const double ratio = n.seconds / q.seconds;
            const bool met = q.completed && n.completed && n.identical && ratio <= kTarget;
            failed = failed || !q.completed;
            std::printf(
                "  quiet %.1f s; noise 0.001 with %d retries: %s, %s, %d retried, %.1f s, ratio %.2f (<= %.1f: %s)\n",
                q.seconds, kRetries, n.completed ? "complete" : "INCOMPLETE", n.identical ? "identical" : "DIFFERENT",
                n.retried, n.seconds, ratio, kTarget, verdict(met));
        }
    }
    return failed ? 1 : 0;
}
