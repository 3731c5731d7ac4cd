// tessavin-cli's downloads: the event log's records and the archive's values,
// read as the window's LOG and RETRO buttons read them, each record written
// out as it arrives.
#include "cli_context.h"
#include "cli_operations.h"

#include "archive.h"
#include "archive_chart.h"
#include "conversions.h"
#include "event_log.h"
#include "visit_report.h"

#include <QDateTime>

#include <algorithm>

namespace tessavin::cli {

namespace {

using namespace std::chrono_literals;

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

QString keptIn(const Context& c, int read, int total)
{
    const QString where = c.out.toFile() ? QStringLiteral(" and kept in %1").arg(NativePath(c.out.path())) : QString();
    return QStringLiteral("%1 of %2 records read%3").arg(read).arg(total).arg(where);
}

} // namespace

int RunLogInfo(Context& c)
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
        text = JsonLine().integer("capacity", values[0]).integer("count", values[1]).integer("begin", values[2]).line();
    else
        text = QStringLiteral("capacity %1\ncount %2\nbegin %3\n").arg(values[0]).arg(values[1]).arg(values[2]).toUtf8();
    return c.write(text) ? exit_code::kDone : c.writeFailure();
}

int RunLogRead(Context& c)
{
    if (!c.atMostOne({QStringLiteral("newest"), QStringLiteral("index"), QStringLiteral("all")}))
        return exit_code::kUsage;
    const auto newest = c.integer(QStringLiteral("newest"), 10, 1, 65535);
    const auto index = c.integer(QStringLiteral("index"), 0, 0, 65535);
    if (!newest || !index)
        return exit_code::kUsage;
    CatchInterrupts();
    if (auto code = c.start())
        return *code;

    Session& s = c.session;
    // The questions of the LOG button with its Max box: a ring of another size
    // than the window's 2000 is read right only when its capacity is known.
    if (const auto a = AskLogQuestion(s, LogQuestion::Capacity); !a.ok())
        return c.linkFailure(QStringLiteral("log capacity"), a.error);
    if (const auto a = AskLogQuestion(s, LogQuestion::Count); !a.ok())
        return c.linkFailure(QStringLiteral("log count"), a.error);
    if (const auto a = AskLogQuestion(s, LogQuestion::Begin); !a.ok())
        return c.linkFailure(QStringLiteral("log begin"), a.error);
    const int held = std::min(s.count, s.capacity);
    if (c.inv.has(QStringLiteral("index")) && *index >= held)
        return Fail(exit_code::kUsage, QStringLiteral("--index %1: the log holds %2 records").arg(*index).arg(held));

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
        return Fail(exit_code::kInterrupted, QStringLiteral("interrupted: %1").arg(keptIn(c, result.read, span.count)));
    case LogLoopEnd::RecordFailed:
        break;
    }
    return Fail(exit_code::kDownload, QStringLiteral("%1: log record %2: %3; %4")
                                          .arg(c.device)
                                          .arg(result.failedIndex)
                                          .arg(c.errorText(result.error), keptIn(c, result.read, span.count)));
}

int RunArchiveRead(Context& c)
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
        return Fail(exit_code::kUsage, QStringLiteral("archive read --one: no csv format"));
    const QString chartPath = c.inv.value(QStringLiteral("chart"));
    if (oneValue && c.inv.has(QStringLiteral("chart")))
        return Fail(exit_code::kUsage, QStringLiteral("archive read --one: no chart"));
    if (c.inv.has(QStringLiteral("chart")) && chartPath.isEmpty())
        return Fail(exit_code::kUsage, QStringLiteral("--chart: no file named"));
    CatchInterrupts();

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
    std::vector<ArchiveLine> charted;
    events.line = [&](const ArchiveLine& line) {
        if (!chartPath.isEmpty())
            charted.push_back(line);
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
    // The chart of what was read, however the loop ended.
    if (!chartPath.isEmpty()) {
        if (const auto error = WriteCompleteFile(chartPath, ArchiveChartSvg(charted)))
            return Fail(exit_code::kDownload, *error);
    }
    const QString record = QStringLiteral("%1: archive record %2").arg(c.device).arg(outcome.lastIndex);
    switch (outcome.end) {
    case ArchiveEnd::Done:
        return exit_code::kDone;
    case ArchiveEnd::One: {
        // The window's field truncates; machine-readable output keeps the whole value.
        const QByteArray text = c.inv.format == Format::Jsonl
            ? JsonLine().integer("index", outcome.lastIndex).number("value", outcome.oneRecordValue).line()
            : QByteArray::fromStdString(*outcome.oneValue) + '\n';
        return c.write(text) ? exit_code::kDone : c.writeFailure();
    }
    case ArchiveEnd::Stopped:
        return Fail(exit_code::kInterrupted, QStringLiteral("interrupted: %1").arg(keptIn(c, outcome.linesRead, total)));
    case ArchiveEnd::ReadFailed:
        return Fail(exit_code::kDownload, QStringLiteral("%1: %2; %3")
                                              .arg(record, c.errorText(outcome.error), keptIn(c, outcome.linesRead, total)));
    case ArchiveEnd::TimeEncode:
    case ArchiveEnd::DateEncode:
        break;
    }
    const QString why = outcome.end == ArchiveEnd::TimeEncode ? TimeEncodeError() : DateEncodeError();
    return Fail(exit_code::kDownload, QStringLiteral("%1: an impossible date or time (%2); %3")
                                          .arg(record, why, keptIn(c, outcome.linesRead, total)));
}
} // namespace tessavin::cli
