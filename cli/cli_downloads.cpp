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
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>

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
void keepOrStop(Context& c, const QByteArray& bytes, bool& writeFailed)
{
    if (!c.write(bytes)) {
        writeFailed = true;
        c.session.stopRequested = true; // nothing more can be kept: end before the next request
    }
}

// Where the records of the -o file end, for --resume.
struct ResumePoint {
    qint64 keep = 0; // the bytes of its whole lines
    std::optional<long long> lastIndex; // the index in its last line; none in an empty file
};

// The -o file's resume point; nullopt, with the message said, when it cannot be
// resumed. A missing file is an empty one.
std::optional<ResumePoint> resumePoint(const Context& c)
{
    if (!c.inv.has(QStringLiteral("output"))) {
        Say(QStringLiteral("--resume: needs -o FILE, the file to go on with"));
        return std::nullopt;
    }
    const QString path = c.inv.value(QStringLiteral("output"));
    if (c.inv.format != Format::Jsonl) {
        Say(QStringLiteral("--resume: %1 cannot be resumed: a text file holds no index; use --format jsonl")
                .arg(NativePath(path)));
        return std::nullopt;
    }
    ResumePoint point;
    if (!QFileInfo::exists(path))
        return point;
    QByteArray bytes;
    if (!ReadWholeFile(path, qint64(1) << 32, &bytes)) {
        Say(QStringLiteral("--resume: %1").arg(Unreadable(path)));
        return std::nullopt;
    }
    point.keep = bytes.lastIndexOf('\n') + 1; // a cut last line goes
    if (point.keep == 0)
        return point;
    const qsizetype start = bytes.lastIndexOf('\n', point.keep - 2) + 1;
    const QJsonDocument last = QJsonDocument::fromJson(bytes.mid(start, point.keep - start));
    const QJsonValue index = last.object().value(QStringLiteral("index"));
    if (!last.isObject() || !index.isDouble()) {
        Say(QStringLiteral("--resume: %1: its last line is not a record with an index").arg(NativePath(path)));
        return std::nullopt;
    }
    point.lastIndex = index.toInteger();
    return point;
}

// The first options of a download: at most one choice, --resume's file read.
// False, with the message said, on a usage error.
bool readResume(Context& c, const QStringList& choices, std::optional<ResumePoint>& resume)
{
    if (!c.atMostOne(choices))
        return false;
    if (!c.inv.has(QStringLiteral("resume")))
        return true;
    resume = resumePoint(c);
    if (!resume)
        return false;
    c.resumeAfter = resume->keep;
    return true;
}

// After the record `last` of a ring of `ringSize`, to its `newest`: From the next
// one, or nothing when `last` is the newest.
RecordPick continueAfter(long long last, int ringSize, int newest)
{
    if (last == newest)
        return {RecordChoice::Index, 0};
    return {RecordChoice::From, last + 1 >= ringSize ? 0 : static_cast<int>(last + 1), -1};
}

// The exit of a download and its message on stderr, after "2000 records, 17
// retried, 0 failed" when any request was sent again.
int downloadExit(Context& c, const DownloadOutcome& outcome, bool writeFailed, const QString& what)
{
    const bool reachedRecords = outcome.end != DownloadEnd::Unanswered && outcome.end != DownloadEnd::NotChosen;
    if (c.session.retried > 0 && reachedRecords) {
        std::fprintf(stderr, "%d records, %d retried, %d failed\n", outcome.read, c.session.retried,
                     outcome.end == DownloadEnd::RecordFailed ? 1 : 0);
        std::fflush(stderr);
    }
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
        return Fail(
            exit_code::kDownload,
            QStringLiteral("%1: %2; %3").arg(record, c.errorText(outcome.error), keptIn(c, outcome.read, total)));
    case DownloadEnd::TimeEncode:
    case DownloadEnd::DateEncode:
        break;
    }
    const QString why = outcome.end == DownloadEnd::TimeEncode ? TimeEncodeError() : DateEncodeError();
    return Fail(
        exit_code::kDownload,
        QStringLiteral("%1: an impossible date or time (%2); %3").arg(record, why, keptIn(c, outcome.read, total)));
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
        text = JsonLine().integer("capacity", values[0]).integer("count", values[1]).integer("begin", values[2]).line();
    else
        text
            = QStringLiteral("capacity %1\ncount %2\nbegin %3\n").arg(values[0]).arg(values[1]).arg(values[2]).toUtf8();
    return c.write(text) ? exit_code::kDone : c.writeFailure();
}

int RunLogRead(Context& c)
{
    std::optional<ResumePoint> resume;
    if (!readResume(c,
                    {QStringLiteral("newest"), QStringLiteral("index"), QStringLiteral("all"), QStringLiteral("from")},
                    resume))
        return exit_code::kUsage;
    const auto newest = c.integer(QStringLiteral("newest"), 10, 1, 65535);
    const auto index = c.integer(QStringLiteral("index"), 0, 0, 65535);
    const auto from = c.integer(QStringLiteral("from"), 0, 0, 65535);
    if (!newest || !index || !from)
        return exit_code::kUsage;
    CatchInterrupts();
    if (auto code = c.start())
        return *code;

    Session& s = c.session;
    ProgressLine progress(c.progressShown());
    bool writeFailed = false;
    int held = -1; // set when --index names a record beyond those the log holds
    DownloadSteps<LogLine> steps;
    steps.answered = answeredOk;
    steps.choose = [&]() -> std::optional<RecordPick> {
        if (c.inv.has(QStringLiteral("index")) && *index >= std::min(s.count, s.capacity)) {
            held = std::min(s.count, s.capacity);
            return std::nullopt;
        }
        if (resume && resume->lastIndex)
            return continueAfter(*resume->lastIndex, s.capacity, s.begin == 0 ? s.capacity - 1 : s.begin - 1);
        if (c.inv.has(QStringLiteral("from")))
            return RecordPick{RecordChoice::From, *from};
        if (c.inv.has(QStringLiteral("index")))
            return RecordPick{RecordChoice::One, *index};
        if (c.inv.has(QStringLiteral("all")))
            return RecordPick{RecordChoice::Index, s.count};
        return RecordPick{newestChoice(*newest), *newest};
    };
    steps.sink.show = [&](const LogLine& line) {
        keepOrStop(c, c.inv.format == Format::Jsonl ? LogRecordJson(line) : c.out.textLine(line.fileBytes),
                   writeFailed);
    };
    steps.sink.progress = [&](int done, int total) { progress.update(done, total); };
    // The questions of the LOG button with its Max box, whether --max is given or
    // not: a ring of another size than the window's 2000 is read right only when
    // its capacity is known.
    const DownloadOutcome outcome = DownloadEventLog(s, true, steps);
    progress.finish();
    if (held >= 0)
        return Fail(exit_code::kUsage, QStringLiteral("--index %1: the log holds %2 records").arg(*index).arg(held));
    return downloadExit(c, outcome, writeFailed, QStringLiteral("log record"));
}

int RunArchiveRead(Context& c)
{
    std::optional<ResumePoint> resume;
    if (!readResume(c,
                    {QStringLiteral("newest"), QStringLiteral("index"), QStringLiteral("one"), QStringLiteral("from")},
                    resume))
        return exit_code::kUsage;
    const auto newest = c.integer(QStringLiteral("newest"), 10, 1, kArchiveSlots);
    const auto index = c.integer(QStringLiteral("index"), 0, 0, kArchiveLastIndex);
    const auto one = c.integer(QStringLiteral("one"), 0, 0, kArchiveLastIndex);
    const auto from = c.integer(QStringLiteral("from"), 0, 0, kArchiveLastIndex);
    if (!newest || !index || !one || !from)
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

    // The controller keeps UTC; the window shows local time, moved by the offset of this moment.
    const long long utcOffsetSeconds = c.inv.has(QStringLiteral("no-shift"))
        ? 0
        : QDateTime::currentDateTime().offsetFromUtc();
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
        if (resume && resume->lastIndex)
            return continueAfter(*resume->lastIndex, kArchiveSlots, ArchiveNewestIndex(c.session.begin));
        if (c.inv.has(QStringLiteral("from")))
            return RecordPick{RecordChoice::From, *from};
        if (oneValue)
            return RecordPick{RecordChoice::One, *one};
        // One record as a line: the stretch of the newest one record, counted
        // back from I as though I were the newest.
        if (c.inv.has(QStringLiteral("index")))
            return RecordPick{RecordChoice::Index, 1, *index};
        return RecordPick{newestChoice(*newest), *newest};
    };
    std::vector<ArchiveLine> charted;
    steps.sink.show = [&](const ArchiveLine& line) {
        if (!chartPath.isEmpty())
            charted.push_back(line);
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
        keepOrStop(c, bytes, writeFailed);
    };
    steps.sink.progress = [&](int done, int total) { progress.update(done, total); };
    const DownloadOutcome outcome = DownloadArchive(c.session, utcOffsetSeconds, steps);
    progress.finish();

    if (outcome.end == DownloadEnd::One) {
        // The window's field truncates; machine-readable output keeps the whole value.
        const QByteArray text = c.inv.format == Format::Jsonl
            ? JsonLine().integer("index", outcome.index).number("value", outcome.oneRecordValue).line()
            : QByteArray::fromStdString(*outcome.oneValue) + '\n';
        return c.write(text) ? exit_code::kDone : c.writeFailure();
    }
    // The chart of what was read, however the loop ended.
    if (!chartPath.isEmpty() && !writeFailed) {
        if (const auto error = WriteCompleteFile(chartPath, ArchiveChartSvg(charted)))
            return Fail(exit_code::kDownload, *error);
    }
    return downloadExit(c, outcome, writeFailed, QStringLiteral("archive record"));
}

} // namespace tessavin::cli
