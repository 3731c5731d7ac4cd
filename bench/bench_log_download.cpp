// Throughput of the event-log download, read through the same feature code as
// the LOG button with the system's timings, standard and fast replies side by side.
//
// Paced: the newest records (500, fewer where a row's time budget demands) of
// about 60 characters from the emulated controller on a pseudo-terminal, its
// line paced at every baud rate from 9600 to 921600, each row with a fresh
// controller. Each row's floor is what the line and the protocol themselves
// need for a record:
//   fast      the request and the reply at 10 bits a byte, and the guard gap
//             before the next request;
//   standard  the request and the reply at 10 bits a byte (or the first-byte
//             pause, when that is longer), and the idle gap that ends the reply.
// The rows are a table (pacedRows): a row is a baud rate, the kind of replies,
// its target and how many records it reads.
//
// Scale: a full ring of 65,535 slots read with fast replies from the emulated
// controller in memory, on a virtual clock (no pacing, no pseudo-terminal, waits
// cost no real time), so the figures are CPU time and memory, which a busy
// machine disturbs little. 5,000 and 65,535 records, each in a process of its own.
//
// A download that fails ends the bench with status 1, after printing the frame
// log of its last exchange from both ends of the line.
#include "sim/controller_thread.h"
#include "features/event_log.h"
#include "sim/memory_line.h"
#include "serial/system_port.h"
#include "sim/sim_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <numeric>
#include <optional>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace tessavin;
using namespace std::chrono;

namespace {

constexpr int kRecordLength = 60;
constexpr int kFullRing = 65535;

// ---- measures of the process ----

double cpuSeconds()
{
#ifndef _WIN32
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0)
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Peak resident memory so far, in kilobytes (-1 where unknown).
long peakKilobytes()
{
#ifndef _WIN32
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0)
        return usage.ru_maxrss; // kilobytes on Linux
#endif
    return -1;
}

// Resident memory now, in kilobytes (-1 where unknown).
long residentKilobytes()
{
#ifdef __linux__
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        long pages = 0, resident = 0;
        const bool read = std::fscanf(f, "%ld %ld", &pages, &resident) == 2;
        std::fclose(f);
        if (read)
            return resident * (sysconf(_SC_PAGESIZE) / 1024);
    }
#endif
    return -1;
}

double lineSeconds(qsizetype bytes, int baud) { return static_cast<double>(bytes) * 10.0 / baud; }
double ms(sim::SimClock::duration d) { return duration<double, std::milli>(d).count(); }

double mean(const std::vector<double>& v)
{
    return v.empty() ? 0.0 : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// The frames of the last exchange as the link logged them: the last request and
// what came after it.
struct LastExchange {
    std::vector<FrameRecord> records;
    void attach(FrameLog& log)
    {
        log.attach([this](const FrameRecord& record) {
            if (record.sent)
                records.clear();
            records.push_back(record);
        });
    }
};

void printFailure(const DownloadOutcome& result, const LastExchange& last, const std::vector<sim::LoggedFrame>& frames)
{
    std::printf("download failed after %d records: record %lld, %s\n", result.read, result.index,
                qPrintable(LinkErrorText(result.error)));
    std::printf("  the last exchange as the program logged it:\n");
    for (const FrameRecord& r : last.records)
        std::printf("    %s\n", qPrintable(FrameTextLine(r)));
    std::printf("  and as the emulated controller logged it (ms after the request's first byte):\n");
    const std::size_t from = frames.size() > 2 ? frames.size() - 2 : 0;
    for (std::size_t i = from; i < frames.size(); ++i) {
        const sim::LoggedFrame& f = frames[i];
        std::printf("    %s %5.1f..%5.1f %s%s%s\n", f.direction == sim::Direction::Received ? "rx" : "tx",
                    ms(f.firstByte - frames[from].firstByte), ms(f.lastByte - frames[from].firstByte),
                    f.bytes.toHex(' ').toUpper().constData(), f.note.isEmpty() ? "" : "  ", f.note.constData());
    }
}

// ---- paced downloads over a pseudo-terminal ----

struct Paced {
    bool ran = false;
    bool ok = false;
    int read = 0;
    double perRecord = 0; // ms, mean
    double median = 0; // ms, from one request to the next at the controller
    double floor = 0; // ms
    double cpu = 0; // ms a record, the whole process (the controller's thread too)
    double turnaround = 0; // ms, means
    double replyOnLine = 0;
    double replyToNext = 0;
    double replyBytes = 0;
};

Paced runPaced(int baud, bool fast, int records, const std::optional<sim::Fault>& fault)
{
    Paced out;
    sim::ControllerSettings settings;
    settings.logRecords = 1200; // a ring that has moved on: the newest records are not at 0
    settings.logRecordLength = kRecordLength;
    sim::ControllerThread controller(settings);
    QString error;
    if (!controller.start(&error)) {
        std::printf("paced downloads skipped: %s\n", qPrintable(error));
        return out;
    }
    out.ran = true;
    sim::LineSettings line = controller.lineSettings();
    line.baud = baud;
    controller.setLineSettings(line);

    Session session({}, MakeSystemPort()); // the system's timings
    session.link.setPump([] { QCoreApplication::processEvents(); });
    session.replies = fast ? RegReplies::Fast : RegReplies::Standard;
    LastExchange last;
    last.attach(session.link.frameLog());
    PortOpenError openError;
    if (!session.link.openPort(controller.slavePath(), baud, &openError)) {
        std::printf("cannot open %s\n", qPrintable(PortOpenErrorText(openError)));
        return out;
    }
    AskRingQuestion(session, RingQuestion::LogCount);
    AskRingQuestion(session, RingQuestion::LogBegin);
    const RecordSpan span = ChooseLogSpan(RecordChoice::Index, records, session.begin, session.count,
                                          kDefaultLogCapacity);
    if (fault)
        controller.withController([&](sim::Controller& c) { c.addFault(*fault); });
    controller.clearFrames();

    QTemporaryDir dir;
    OutputFile file;
    file.create(dir.filePath(QStringLiteral("bench.log")));
    RecordSink<LogLine> sink;
    sink.file = &file;
    std::size_t shown = 0;
    sink.show = [&](const LogLine& l) { shown += static_cast<std::size_t>(LogMemoText(l).size()); };

    const double cpuStart = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    const DownloadOutcome result = RunLogRecordLoop(session, span, kDefaultLogCapacity, sink);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuStart;
    file.close();
    // The controller may still be writing the last reply (a split one, after its pause).
    controller.waitFor(
        [](const std::vector<sim::LoggedFrame>& log) {
            return !log.empty()
                && (log.back().direction == sim::Direction::Received || log.back().lastByte > log.back().firstByte);
        },
        milliseconds(1000));
    const auto frames = controller.frames();
    out.read = result.read;
    if (result.end != DownloadEnd::Completed || result.read != records) {
        printFailure(result, last, frames);
        return out;
    }
    out.ok = true;

    // The floor from the bytes that crossed the line, and where the time went.
    const LinkTiming& timing = session.link.timing();
    const double guard = duration<double>(timing.guardGap(baud)).count();
    const double firstBytePause = duration<double>(timing.firstBytePause).count();
    const double idleGap = duration<double>(timing.idleGap).count();
    double floorSeconds = 0;
    std::vector<double> turnaround, onLine, toNext, interval;
    const sim::LoggedFrame* lastReply = nullptr;
    const sim::LoggedFrame* lastRequest = nullptr;
    for (const auto& f : frames) {
        if (f.direction == sim::Direction::Received) {
            if (lastReply)
                toNext.push_back(ms(f.firstByte - lastReply->lastByte));
            if (lastRequest)
                interval.push_back(ms(f.firstByte - lastRequest->firstByte));
            lastRequest = &f;
        } else {
            const double exchange = lineSeconds(f.bytes.size() + (lastRequest ? lastRequest->bytes.size() : 0), baud);
            floorSeconds += fast ? exchange + guard : std::max(exchange, firstBytePause) + idleGap;
            out.replyBytes += static_cast<double>(f.bytes.size());
            if (lastRequest) {
                turnaround.push_back(ms(f.firstByte - lastRequest->lastByte));
                onLine.push_back(ms(f.lastByte - f.firstByte));
            }
            lastReply = &f;
        }
    }
    out.perRecord = 1000.0 * seconds / result.read;
    out.median = median(interval);
    out.floor = 1000.0 * floorSeconds / result.read;
    out.cpu = 1000.0 * cpu / result.read;
    out.turnaround = mean(turnaround);
    out.replyOnLine = mean(onLine);
    out.replyToNext = mean(toNext);
    out.replyBytes /= result.read;
    return out;
}

// ---- the paced rows ----

struct PacedRow {
    int baud = 0;
    bool fast = false;
    double target = 0; // the highest ratio of per record to floor that meets the target
};

// Fast and standard replies at every baud rate (or only at those given).
std::vector<PacedRow> pacedRows(const std::vector<int>& only)
{
    std::vector<PacedRow> rows;
    for (const int baud : {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600}) {
        if (!only.empty() && std::find(only.begin(), only.end(), baud) == only.end())
            continue;
        rows.push_back({baud, false, 1.15});
        rows.push_back({baud, true, baud <= 115200 ? 1.10 : 1.5});
    }
    return rows;
}

// How many records a row reads: `records`, or as many as its estimated floor
// allows in `seconds`, but never under 50.
int rowRecords(const PacedRow& row, int records, double seconds)
{
    const LinkTiming timing;
    const double exchange = lineSeconds(kRegRequestSize + kRecordLength + 12, row.baud);
    const double floor = row.fast ? exchange + duration<double>(timing.guardGap(row.baud)).count()
                                  : std::max(exchange, duration<double>(timing.firstBytePause).count())
            + duration<double>(timing.idleGap).count();
    const int fits = static_cast<int>(seconds / floor);
    return std::min(records, std::max(50, fits));
}

struct PacedResult {
    PacedRow row;
    Paced paced;
};

const PacedResult* findResult(const std::vector<PacedResult>& results, int baud, bool fast)
{
    for (const PacedResult& r : results)
        if (r.row.baud == baud && r.row.fast == fast)
            return &r;
    return nullptr;
}

// ---- a full ring in memory ----

// One scale run, in this process: prints "records cpu_us rss_before rss_after peak memo" on one line.
int runScale(int records)
{
    sim::ControllerSettings settings;
    settings.logCapacity = kFullRing;
    settings.logRecords = kFullRing + 1000; // full, and moved on: the begin is not at 0
    settings.logRecordLength = kRecordLength;
    sim::MemoryLine line(settings);
    line.setKeepFrames(false);
    Session session({}, line.port, line.clock); // the system's timings, on the virtual clock
    session.link.setPump([] { QCoreApplication::processEvents(); });
    session.replies = RegReplies::Fast;
    LastExchange last;
    last.attach(session.link.frameLog());
    session.link.openPort(QStringLiteral("controller"), 38400);
    AskRingQuestion(session, RingQuestion::LogCapacity);
    AskRingQuestion(session, RingQuestion::LogCount);
    AskRingQuestion(session, RingQuestion::LogBegin);
    const RecordSpan span = ChooseLogSpan(RecordChoice::Index, records, session.begin, session.count, session.capacity);

    QTemporaryDir dir;
    OutputFile file;
    file.create(dir.filePath(QStringLiteral("ring.log")));
    RecordSink<LogLine> sink;
    sink.file = &file;
    std::size_t memoBytes = 0; // what a window's memo would hold; counted, not kept
    sink.show = [&](const LogLine& l) { memoBytes += static_cast<std::size_t>(LogMemoText(l).size()) * sizeof(QChar); };

    const long before = residentKilobytes();
    const double cpuStart = cpuSeconds();
    const DownloadOutcome result = RunLogRecordLoop(session, span, session.capacity, sink);
    const double cpu = cpuSeconds() - cpuStart;
    const long after = residentKilobytes();
    if (result.end != DownloadEnd::Completed || result.read != records) {
        printFailure(result, last, line.frames());
        return 1;
    }
    std::printf("%d %.3f %ld %ld %ld %zu\n", result.read, 1e6 * cpu / result.read, before, after, peakKilobytes(),
                memoBytes);
    return 0;
}

struct Scale {
    bool ok = false;
    int records = 0;
    double cpuMicroseconds = 0;
    long before = 0, after = 0, peak = 0;
    double memoBytes = 0;
};

Scale scaleInChild(int records)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--scale"), QString::number(records)});
    Scale out;
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit) {
        std::printf("scale run of %d records did not finish\n", records);
        return out;
    }
    const QByteArray text = child.readAllStandardOutput();
    if (child.exitCode() != 0) {
        std::printf("%s", text.constData());
        return out;
    }
    const QList<QByteArray> f = text.trimmed().split(' ');
    if (f.size() != 6)
        return out;
    out.ok = true;
    out.records = f[0].toInt();
    out.cpuMicroseconds = f[1].toDouble();
    out.before = f[2].toLong();
    out.after = f[3].toLong();
    out.peak = f[4].toLong();
    out.memoBytes = f[5].toDouble();
    return out;
}

// A paced row: met by the mean; or only by the median (the typical record, which
// a loaded machine's stalls do not move); or missed.
const char* verdict(double ratio, double medianRatio, double target)
{
    return ratio <= target ? "met" : medianRatio <= target ? "median only" : "MISSED";
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Event-log download benchmark: standard and fast replies."));
    parser.addHelpOption();
    const QCommandLineOption recordsOption(QStringLiteral("records"),
                                           QStringLiteral("Records a paced download reads (500)."), QStringLiteral("N"),
                                           QStringLiteral("500"));
    const QCommandLineOption faultOption(
        QStringLiteral("fault"),
        QStringLiteral("A fault of the emulated controller during the paced downloads, "
                       "as tessavin-sim takes it (e.g. split:reg=0x1A,times=1)."),
        QStringLiteral("fault"));
    const QCommandLineOption rowSecondsOption(
        QStringLiteral("row-seconds"),
        QStringLiteral("The time a paced row may take, from its floor: slower rows "
                       "read fewer records, never under 50 (12)."),
        QStringLiteral("S"), QStringLiteral("12"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
                                        QStringLiteral("Only the paced rows at this baud rate (may be repeated)."),
                                        QStringLiteral("baud"));
    const QCommandLineOption detailsOption(QStringLiteral("details"),
                                           QStringLiteral("Where each paced record's time went."));
    const QCommandLineOption noScaleOption(QStringLiteral("no-scale"), QStringLiteral("Skip the full-ring runs."));
    const QCommandLineOption scaleOption(
        QStringLiteral("scale"), QStringLiteral("One full-ring run of N records (internal)."), QStringLiteral("N"));
    parser.addOptions(
        {recordsOption, faultOption, rowSecondsOption, baudOption, detailsOption, noScaleOption, scaleOption});
    parser.process(app);
    if (parser.isSet(scaleOption))
        return runScale(parser.value(scaleOption).toInt());

    const int records = std::max(1, parser.value(recordsOption).toInt());
    std::optional<sim::Fault> fault;
    if (parser.isSet(faultOption)) {
        QString error;
        fault = sim::ParseFault(parser.value(faultOption), &error);
        if (!fault) {
            std::fprintf(stderr, "bench: %s\n", qPrintable(error));
            return 2;
        }
    }

    bool failed = false;
    const double rowSeconds = std::max(0.0, parser.value(rowSecondsOption).toDouble());
    std::vector<int> bauds;
    for (const QString& b : parser.values(baudOption))
        bauds.push_back(b.toInt());
    std::printf("Paced downloads: the newest records (up to %d; fewer where a row would take over %.0f s) of about\n"
                "%d characters over a pseudo-terminal, the system's timings. Wall-clock figures: a busy machine\n"
                "makes them longer.\n\n",
                records, rowSeconds, kRecordLength);
    std::printf("    baud  replies   records  per record   median     floor    ratio  median  target             "
                "CPU/record  speed-up\n");
    std::vector<PacedResult> results;
    for (const PacedRow& row : pacedRows(bauds)) {
        const int n = rowRecords(row, records, rowSeconds);
        const Paced p = runPaced(row.baud, row.fast, n, fault);
        if (!p.ran)
            break;
        if (!p.ok) {
            failed = true;
            continue;
        }
        results.push_back({row, p});
        const double ratio = p.perRecord / p.floor;
        const double medianRatio = p.median / p.floor;
        std::printf("  %6d  %-8s  %7d  %7.2f ms  %7.2f ms  %7.2f ms  %5.2f  %5.2f   <= %.2f %-12s  %6.3f ms", row.baud,
                    row.fast ? "fast" : "standard", p.read, p.perRecord, p.median, p.floor, ratio, medianRatio,
                    row.target, verdict(ratio, medianRatio, row.target), p.cpu);
        const PacedResult* standard = findResult(results, row.baud, false);
        if (row.fast && standard)
            std::printf("  %5.2f x", standard->paced.perRecord / p.perRecord);
        std::printf("\n");
        if (parser.isSet(detailsOption))
            std::printf("          request read to reply start %.2f ms, reply on the line %.2f ms (%.1f bytes), "
                        "reply end to next request %.2f ms\n",
                        p.turnaround, p.replyOnLine, p.replyBytes, p.replyToNext);
    }
    std::printf(
        "  floor, fast: request + reply at 10 bits a byte + the guard gap; standard: request + reply at 10 bits\n"
        "  a byte (at least the 10 ms first-byte pause) + the 60 ms idle gap. ratio = per record (the mean) /\n"
        "  floor; median = the median time from one request to the next at the controller / floor.\n"
        "  speed-up: standard per record / fast per record at the same baud rate.\n");
    for (const int baud : {38400, 115200})
        if (const PacedResult* fast = findResult(results, baud, true))
            std::printf(
                "  a full ring of %d records at %d, fast: about %.1f min (computed: %d x the row's mean per record)\n",
                kFullRing, baud, fast->paced.perRecord * kFullRing / 60000.0, kFullRing);

    if (!parser.isSet(noScaleOption)) {
        std::printf("\nFull ring, fast replies: %d slots in the emulated controller in memory, virtual clock,\n"
                    "no pacing; each run in a process of its own. CPU time of the whole download (link,\n"
                    "emulated controller, presentation, file); memory resident before and after it.\n\n",
                    kFullRing);
        std::printf("  records  CPU/record   before     after      growth    peak       memo text (not held)\n");
        Scale runs[2];
        int i = 0;
        for (const int n : {5000, kFullRing}) {
            Scale& s = runs[i++];
            s = scaleInChild(n);
            if (!s.ok) {
                failed = true;
                continue;
            }
            std::printf("  %7d  %7.1f us  %6.1f MB  %6.1f MB  %+6.2f MB  %6.1f MB  %.1f MB\n", s.records,
                        s.cpuMicroseconds, s.before / 1024.0, s.after / 1024.0, (s.after - s.before) / 1024.0,
                        s.peak / 1024.0, s.memoBytes / 1048576.0);
        }
        if (runs[0].ok && runs[1].ok) {
            const double growth = ((runs[1].after - runs[1].before) - (runs[0].after - runs[0].before)) / 1024.0;
            std::printf("  growth for %d more records: %+.2f MB (target: none; the memo's text would be %.1f MB)\n",
                        kFullRing - 5000, growth, (runs[1].memoBytes - runs[0].memoBytes) / 1048576.0);
        }
    }
    return failed ? 1 : 0;
}
