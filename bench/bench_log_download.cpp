// Throughput of the event-log download: the newest 500 records of about 60
// characters from the emulated controller, its replies paced at 38400 baud, read
// through the same feature code as the LOG button, with the system's timings.
//
// The floor is what the protocol itself costs: each record's request and reply
// bytes at 10 bits a byte, plus the 60 ms of silence that ends every reply.
#include "controller_thread.h"
#include "event_log.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <numeric>

#ifndef _WIN32
#include <sys/resource.h>
#endif

using namespace tessavin;
using namespace std::chrono;

namespace {

constexpr int kBaud = 38400;
constexpr int kRecords = 500;
constexpr int kRecordLength = 60;

double lineSeconds(double bytes) { return bytes * 10.0 / kBaud; }

double peakMegabytes()
{
#ifndef _WIN32
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0)
        return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
#endif
    return -1.0;
}

double ms(sim::SimClock::duration d) { return duration<double, std::milli>(d).count(); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);

    sim::ControllerSettings settings;
    settings.logRecords = 1200; // a ring that has moved on: the newest 500 are not at 0
    settings.logRecordLength = kRecordLength;
    sim::ControllerThread controller(settings);
    QString error;
    if (!controller.start(&error)) {
        std::printf("skipped: %s\n", qPrintable(error));
        return 0;
    }
    sim::LineSettings line = controller.lineSettings();
    line.baud = kBaud;
    controller.setLineSettings(line);

    Session session; // the system's timings
    session.link.setPump([] { QCoreApplication::processEvents(); });
    PortOpenError openError;
    if (!session.link.OpenPort(controller.slavePath(), kBaud, &openError)) {
        std::printf("cannot open %s\n", qPrintable(PortOpenErrorText(openError)));
        return 1;
    }

    AskLogQuestion(session, LogQuestion::Count);
    AskLogQuestion(session, LogQuestion::Begin);
    const LogSpan span = ChooseLogSpan(RecordChoice::Last500, 0, session.begin, session.count, kDefaultLogCapacity);
    controller.clearFrames();

    QTemporaryDir dir;
    OutputFile file;
    file.create(dir.filePath(QStringLiteral("bench.log")));
    std::size_t shownBytes = 0;
    LogRecordSink sink;
    sink.show = [&](const LogLine& l) { shownBytes += static_cast<std::size_t>(LogMemoText(l).size()); };

    QElapsedTimer timer;
    timer.start();
    const LogLoopResult result = RunLogRecordLoop(session, span, kDefaultLogCapacity, sink, &file);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    file.close();

    if (result.end != LogLoopEnd::Completed || result.read != kRecords) {
        std::printf("download failed after %d records\n", result.read);
        return 1;
    }

    // The floor from the bytes that actually crossed the line, and where the time went.
    const auto frames = controller.frames();
    double floorSeconds = 0;
    double replyBytes = 0;
    std::vector<double> turnaround, replyOnLine, appGap;
    const sim::LoggedFrame* lastReply = nullptr;
    const sim::LoggedFrame* lastRequest = nullptr;
    for (const auto& f : frames) {
        if (f.direction == sim::Direction::Received) {
            floorSeconds += lineSeconds(static_cast<double>(f.bytes.size()));
            if (lastReply)
                appGap.push_back(ms(f.firstByte - lastReply->lastByte));
            lastRequest = &f;
        } else {
            floorSeconds += lineSeconds(static_cast<double>(f.bytes.size())) + 0.060;
            replyBytes += static_cast<double>(f.bytes.size());
            if (lastRequest) {
                turnaround.push_back(ms(f.firstByte - lastRequest->lastByte));
                replyOnLine.push_back(ms(f.lastByte - f.firstByte));
            }
            lastReply = &f;
        }
    }
    const auto mean = [](const std::vector<double>& v) {
        return v.empty() ? 0.0 : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
    };

    std::printf("records read         %d (indexes %lld.., %.1f reply bytes on average)\n", result.read, span.first,
                replyBytes / result.read);
    std::printf("records per second   %.2f\n", result.read / seconds);
    std::printf("time per record      %.2f ms\n", 1000.0 * seconds / result.read);
    std::printf("floor per record     %.2f ms (request + reply at 10 bits/byte, %d baud, + 60 ms idle gap)\n",
                1000.0 * floorSeconds / result.read, kBaud);
    std::printf("ratio to the floor   %.3f (target <= 1.15)\n", seconds / floorSeconds);
    std::printf("  controller turnaround      %.2f ms\n", mean(turnaround));
    std::printf("  reply on the line          %.2f ms\n", mean(replyOnLine));
    std::printf("  reply end to next request  %.2f ms (idle gap %lld ms + presentation, file, events)\n",
                mean(appGap), static_cast<long long>(session.link.timing().idleGap.count()));
    std::printf("peak memory          %.1f MB (target < 60 MB)\n", peakMegabytes());
    return 0;
}
