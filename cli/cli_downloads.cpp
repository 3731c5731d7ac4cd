// tessavin-cli's downloads: the event log's records and the archive's values,
// read as the window's LOG and RETRO buttons read them, each record written
// out as it arrives.
#include "cli_context.h"
#include "cli_operations.h"

#include "archive.h"
#include "conversions.h"
#include "event_log.h"

#include <QDateTime>

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

QString questionName(RingQuestion question)
{
    switch (question) {
    case RingQuestion::LogCapacity:
        return QStringLiteral("log capacity");
    case RingQuestion::LogCount:
        return QStringLiteral("log count");
    case RingQuestion::LogBegin:
        return QStringLiteral("log begin");
    case RingQuestion::ArchiveBegin:
        break;
    }
    return QStringLiteral("archive begin");
}

// A question that fails ends the download; the outcome names it.
bool answeredOk(RingQuestion, const LinkResult<int>& answer) { return answer.ok(); }

// Ends the download before the next request when a record could not be kept.
template <class Line>
void keepOrStop(Context& c, const QByteArray& bytes, bool& writeFailed)
{
    if (!c.write(bytes)) {
        writeFailed = true;
        c.session.stopRequested = true; // nothing more can be kept: end before the next request
    }
}

// The exit of a download and its message on stderr.
int downloadExit(Context& c, const DownloadOutcome& outcome, bool writeFailed, const QString& what)
{
    if (writeFailed)
        return c.writeFailure();
    const int total = outcome.span.count;
    const QString record = QStringLiteral("%1: %2 %3").arg(c.device, what).arg(outcome.index);
    switch (outcome.end) {
    case DownloadEnd::Completed:
    case DownloadEnd::NotChosen:
    case DownloadEnd::One:
        return exit_code::kDone;
    case DownloadEnd::Unanswered:
        return c.linkFailure(questionName(*outcome.question), outcome.error);
    case DownloadEnd::Stopped:
        return Fail(exit_code::kInterrupted, QStringLiteral("interrupted: %1").arg(keptIn(c, outcome.read, total)));
    case DownloadEnd::RecordFailed:
        return Fail(exit_code::kDownload,
                    QStringLiteral("%1: %2; %3").arg(record, c.errorText(outcome.error), keptIn(c, outcome.read, total)));
    case DownloadEnd::TimeEncode:
    case DownloadEnd::DateEncode:
        break;
    }
    const QString why = outcome.end == DownloadEnd::TimeEncode ? TimeEncodeError() : DateEncodeError();
    return Fail(exit_code::kDownload, QStringLiteral("%1: an impossible date or time (%2); %3")
                                          .arg(record, why, keptIn(c, outcome.read, total)));
}

} // namespace

int RunLogInfo(Context& c)
{
    if (auto code = c.start())
        return *code;
    const RingQuestion questions[] = {RingQuestion::LogCapacity, RingQuestion::LogCount, RingQuestion::LogBegin};
    int values[3] = {};
    for (int i = 0; i < 3; ++i) {
        const auto answer = AskRingQuestion(c.session, questions[i]);
        if (!answer.ok())
            return c.linkFailure(questionName(questions[i]), answer.error);
        values[i] = answer.value;
    }
    QByteArray text;
    if (c.inv.format == Format::Jsonl)
        text = QStringLiteral("{\"capacity\":%1,\"count\":%2,\"begin\":%3}\n").arg(values[0]).arg(values[1]).arg(values[2]).toUtf8();
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
    ProgressLine progress(c.progressShown());
    bool writeFailed = false;
    DownloadSteps<LogLine> steps;
    steps.answered = answeredOk;
    steps.choose = [&]() -> std::optional<RecordPick> {
        if (c.inv.has(QStringLiteral("index")))
            return RecordPick{RecordChoice::One, *index};
        if (c.inv.has(QStringLiteral("all")))
            return RecordPick{RecordChoice::Index, s.count};
        return RecordPick{newestChoice(*newest), *newest};
    };
    steps.sink.show = [&](const LogLine& line) {
        keepOrStop<LogLine>(c, c.inv.format == Format::Jsonl ? LogRecordJson(line) : c.out.textLine(line.fileBytes),
                            writeFailed);
    };
    steps.sink.progress = [&](int done, int total) { progress.update(done, total); };
    // The questions of the LOG button: the capacity only with --max (its Max box).
    const DownloadOutcome outcome = DownloadEventLog(s, c.inv.has(QStringLiteral("max")), steps);
    progress.finish();
    return downloadExit(c, outcome, writeFailed, QStringLiteral("log record"));
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
    CatchInterrupts();

    // The controller keeps UTC; the window shows local time, moved by the offset of this moment.
    const long long utcOffsetSeconds =
        c.inv.has(QStringLiteral("no-shift")) ? 0 : QDateTime::currentDateTime().offsetFromUtc();
    if (auto code = c.start())
        return *code;

    bool writeFailed = false;
    ProgressLine progress(!oneValue && c.progressShown());
    DownloadSteps<ArchiveLine> steps;
    steps.answered = answeredOk;
    steps.choose = [&]() -> std::optional<RecordPick> {
        if (c.inv.format == Format::Csv && !c.write(ArchiveCsvHeader())) {
            writeFailed = true;
            return std::nullopt;
        }
        if (oneValue)
            return RecordPick{RecordChoice::One, *one};
        // One record as a line: the stretch of the newest one record, counted
        // back from I as though I were the newest.
        if (c.inv.has(QStringLiteral("index")))
            return RecordPick{RecordChoice::Index, 1, *index};
        return RecordPick{newestChoice(*newest), *newest};
    };
    steps.sink.show = [&](const ArchiveLine& line) {
        QByteArray bytes;
        switch (c.inv.format) {
        case Format::Jsonl:
            bytes = ArchiveRecordJson(line, utcOffsetSeconds);
            break;
        case Format::Csv:
            bytes = ArchiveRecordCsv(line, utcOffsetSeconds);
            break;
        case Format::Text:
            bytes = c.out.textLine(QByteArray::fromStdString(line.fileLine));
            break;
        }
        keepOrStop<ArchiveLine>(c, bytes, writeFailed);
    };
    steps.sink.progress = [&](int done, int total) { progress.update(done, total); };
    const DownloadOutcome outcome = DownloadArchive(c.session, utcOffsetSeconds, steps);
    progress.finish();

    if (outcome.end == DownloadEnd::One) {
        const QString value = QString::fromStdString(*outcome.oneValue);
        const bool finite = value != QLatin1String("nan") && !value.endsWith(QLatin1String("inf"));
        const QString text = c.inv.format == Format::Jsonl
            ? QStringLiteral("{\"index\":%1,\"value\":%2}\n").arg(outcome.index).arg(finite ? value : QStringLiteral("null"))
            : value + QLatin1Char('\n');
        return c.write(text.toUtf8()) ? exit_code::kDone : c.writeFailure();
    }
    return downloadExit(c, outcome, writeFailed, QStringLiteral("archive record"));
}

} // namespace tessavin::cli
