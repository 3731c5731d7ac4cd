// tessavin-cli's downloads: the event log's records and the archive's values,
// read as the window's LOG and RETRO buttons read them, each record written
// out as it arrives.
#include "cli/cli_context.h"
#include "cli/cli_operations.h"

#include "features/archive.h"
#include "report/archive_chart.h"
#include "features/config/config_json.h"
#include "util/conversions.h"
#include "features/event_log.h"
#include "util/text_codec.h"
#include "report/visit_report.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QMap>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

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

// The records a download writes, for --resume.
enum class RecordKind { Log, Archive };

QString recordName(RecordKind kind)
{
    return kind == RecordKind::Log ? QStringLiteral("event-log record") : QStringLiteral("archive record");
}

// A line of a jsonl file read as a record of the kind: an object with exactly
// the members LogRecordJson (ArchiveRecordJson) writes, "raw" a string, in
// UTF-8 as they write it; a member named twice counts once, with its last
// value. nullopt for any other line.
struct RecordLine {
    JsonValue index;
    QByteArray raw; // the record's bytes in hexadecimal, as the line holds them
};
std::optional<RecordLine> recordOf(RecordKind kind, const QByteArray& line)
{
    static const QList<QByteArray> log{"index", "marker", "raw", "text", "time"};
    static const QList<QByteArray> archive{"device_time", "index", "raw", "time", "value"};
    if (!IsValidUtf8(line))
        return std::nullopt;
    const JsonParse parse = ParseJson(line);
    if (!parse.value || parse.value->kind != JsonValue::Kind::Object)
        return std::nullopt;
    QMap<QByteArray, const JsonValue*> members;
    for (const JsonMember& m : parse.value->members)
        members[m.key] = &m.value;
    if (members.keys() != (kind == RecordKind::Log ? log : archive) || members["raw"]->kind != JsonValue::Kind::String)
        return std::nullopt;
    return RecordLine{*members["index"], members["raw"]->scalar};
}

// An index as it reads: a number as its value (1e+30, -1), anything else as JSON ("7").
QString indexText(const JsonValue& index)
{
    if (index.kind != JsonValue::Kind::Number)
        return CompactJson(index);
    return QString::fromLatin1(QByteArray::number(index.scalar.toDouble(), 'g', QLocale::FloatingPointShortest));
}

// Where the records of the -o file end, for --resume.
struct ResumePoint {
    RecordKind kind = RecordKind::Log;
    QString path;
    qint64 keep = 0; // the bytes of its whole lines
    std::optional<int> lastIndex; // the index in its last line; none in an empty file
    QByteArray lastRaw; // that record's bytes in hexadecimal, as the file holds them
};

// The -o file's resume point; nullopt, with the message said, when it cannot be
// resumed: not jsonl, another kind of records, or a last index no ring has (0 to
// `lastIndex`). A missing file is an empty one. Nothing is sent before this.
// (The command line has made sure that -o is given.)
std::optional<ResumePoint> resumePoint(const Context& c, RecordKind kind, int lastIndex)
{
    const QString path = c.inv.output.value_or(QString());
    if (path.isEmpty() || path == QLatin1String("-")) {
        Say(QStringLiteral("--resume: stdout cannot be gone on with; name the file with -o"));
        return std::nullopt;
    }
    if (c.inv.format != Format::Jsonl) {
        Say(QStringLiteral("--resume: %1 cannot be resumed: a text file holds no index; use --format jsonl")
                .arg(NativePath(path)));
        return std::nullopt;
    }
    ResumePoint point;
    point.kind = kind;
    point.path = NativePath(path);
    if (!QFileInfo::exists(path))
        return point;
    QByteArray bytes;
    if (!ReadWholeFile(path, qint64(1) << 32, &bytes)) {
        Say(QStringLiteral("--resume: %1").arg(Unreadable(path)));
        return std::nullopt;
    }
    point.keep = bytes.lastIndexOf('\n') + 1; // a cut last line goes
    std::optional<RecordLine> last;
    qsizetype from = 0;
    for (int line = 1; from < point.keep; ++line) {
        const qsizetype end = bytes.indexOf('\n', from);
        last = recordOf(kind, bytes.mid(from, end - from));
        if (!last) {
            Say(QStringLiteral("--resume: %1: line %2 is not an %3 (%4 cannot go on with it)")
                    .arg(point.path)
                    .arg(line)
                    .arg(recordName(kind), c.inv.command->fullName()));
            return std::nullopt;
        }
        from = end + 1;
    }
    if (point.keep == 0)
        return point;
    bool number = false;
    const double value = last->index.scalar.toDouble(&number);
    if (last->index.kind != JsonValue::Kind::Number || !number || value < 0 || value > lastIndex
        || value != std::floor(value)) {
        Say(QStringLiteral("--resume: %1: the last record's index %2 is not one of a ring's (0 to %3)")
                .arg(point.path, indexText(last->index))
                .arg(lastIndex));
        return std::nullopt;
    }
    point.lastIndex = static_cast<int>(value);
    point.lastRaw = last->raw;
    return point;
}

// --resume's file read, when it is given. False, with the message said, when it
// cannot be gone on with.
bool readResume(Context& c, bool given, RecordKind kind, int lastIndex, std::optional<ResumePoint>& resume)
{
    if (!given)
        return true;
    resume = resumePoint(c, kind, lastIndex);
    if (!resume)
        return false;
    c.resumeAfter = resume->keep;
    return true;
}

// After the ring's questions: whether the controller still holds the file's last
// record at its index, byte for byte (one more read, by `read`, which gives the
// record's bytes in hexadecimal and the outcome). The exit code, its message said, when
// the download must not go on; the file is left as it was.
template <class Read>
std::optional<int> checkResume(Context& c, const ResumePoint& point, Read read)
{
    QByteArray held;
    const DownloadOutcome outcome = read(held);
    const QString record = QStringLiteral("%1 %2").arg(recordName(point.kind)).arg(*point.lastIndex);
    switch (outcome.end) {
    case DownloadEnd::Completed:
        if (held == point.lastRaw)
            return std::nullopt;
        break;
    case DownloadEnd::Stopped:
        return Fail(exit_code::kInterrupted, QStringLiteral("interrupted: %1 is left as it was").arg(point.path));
    case DownloadEnd::RecordFailed:
        return c.linkFailure(record, outcome.error);
    default:
        break;
    }
    return Fail(exit_code::kUsage,
                QStringLiteral("--resume: %1 ends at %2, but the controller holds other bytes there (another "
                               "controller's records, or written over since); the file is left as it was")
                    .arg(point.path, record));
}

// After the record `last` of a ring of `ringSize`, to its `newest`: From the next
// one, or nothing when `last` is the newest.
RecordPick continueAfter(long long last, int ringSize, int newest)
{
    if (last == newest)
        return {RecordChoice::Index, 0};
    return {RecordChoice::From, last + 1 >= ringSize ? 0 : static_cast<int>(last + 1), -1};
}

// Why --chart cannot be written where it is named, found out before anything is
// sent: no file named, stdout that the records take, the same file as -o or
// --trace, or a file that cannot be made there.
std::optional<QString> chartProblem(const Context& c, const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("--chart: no file named");
    const QString output = c.inv.output.value_or(QString());
    if (path == QLatin1String("-")) {
        if (output.isEmpty() || output == QLatin1String("-"))
            return QStringLiteral("--chart -: the records go to stdout; name their file with -o");
        return std::nullopt;
    }
    for (const auto& [option, shown] : {std::pair{&c.inv.output, "-o"}, std::pair{&c.inv.trace, "--trace"}})
        if (SameFile(path, option->value_or(QString())))
            return QStringLiteral("%1 and --chart name the same file %2").arg(QLatin1String(shown), NativePath(path));
    // As WriteCompleteFile will write it: a new file beside it, renamed over it.
    QSaveFile trial(path);
    if (!trial.open(QIODevice::WriteOnly))
        return FileErrorMessage(true, path, trial.errorString());
    trial.cancelWriting();
    return std::nullopt;
}

// The exit of a download and its message on stderr, after "2000 records, 17
// retried, 0 failed" when any request was sent again.
int downloadExit(Context& c, const DownloadOutcome& outcome, bool writeFailed, const QString& what)
{
    const bool reachedRecords = outcome.end != DownloadEnd::Unanswered && outcome.end != DownloadEnd::NotChosen;
    if (c.session.retried > 0 && reachedRecords && !c.quiet) {
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
        return c.linkFailure(RingQuestionName(*outcome.question), outcome.error);
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

// --resume's choice once the ring's questions are answered: the file's last
// record checked against the controller's (read by `read`, see checkResume),
// then From the record after it to `newest` of a ring of `ringSize`. nullopt,
// with `refused` set, when the file cannot be gone on with.
template <class Read>
std::optional<RecordPick> resumeAfterLast(Context& c, const ResumePoint& point, int ringSize, int newest,
                                          std::optional<int>& refused, Read read)
{
    refused = checkResume(c, point, read);
    if (refused)
        return std::nullopt;
    return continueAfter(*point.lastIndex, ringSize, newest);
}

// The event-log records the options choose, from the ring's answers in the
// session: where --resume goes on, --from, --index, --all or the newest N.
// nullopt, with `refused` set (its message said), when the choice names a
// record the log does not hold or the file cannot be gone on with.
std::optional<RecordPick> chooseLogRecords(Context& c, const LogReadOptions& o,
                                           const std::optional<ResumePoint>& resume, std::optional<int>& refused)
{
    Session& s = c.session;
    const int held = std::min(s.count, s.capacity);
    const int newestIndex = s.begin == 0 ? s.capacity - 1 : s.begin - 1;
    // --index and --from name a record the log holds.
    for (const auto& [name, value] : {std::pair{"index", o.index}, std::pair{"from", o.from}})
        if (value && *value >= held) {
            refused = Fail(
                exit_code::kUsage,
                QStringLiteral("--%1 %2: the log holds %3 records").arg(QLatin1String(name)).arg(*value).arg(held));
            return std::nullopt;
        }
    if (resume && resume->lastIndex) {
        const int last = *resume->lastIndex;
        if (last >= s.capacity || (newestIndex - last + s.capacity) % s.capacity >= held) {
            refused = Fail(exit_code::kUsage,
                           QStringLiteral("--resume: %1 ends at %2 %3, which the log does not hold (%4 "
                                          "records in a ring of %5); the file is left as it was")
                               .arg(resume->path, recordName(RecordKind::Log))
                               .arg(last)
                               .arg(held)
                               .arg(s.capacity));
            return std::nullopt;
        }
        return resumeAfterLast(c, *resume, s.capacity, newestIndex, refused, [&](QByteArray& raw) {
            RecordSink<LogLine> check;
            check.show = [&raw](const LogLine& l) { raw = LogRecordRaw(l); };
            return RunLogRecordLoop(s, {last, 1}, s.capacity, check);
        });
    }
    if (o.from)
        return RecordPick{RecordChoice::From, *o.from};
    if (o.index)
        return RecordPick{RecordChoice::One, *o.index};
    if (o.all)
        return RecordPick{RecordChoice::Index, s.count};
    const int newest = o.newest.value_or(10);
    return RecordPick{newestChoice(newest), newest};
}

// Why archive read cannot run with its options, found out before anything is
// sent: --one with csv, a chart that cannot be written.
std::optional<QString> archiveReadProblem(const Context& c, const ArchiveReadOptions& o)
{
    if (o.one && c.inv.format == Format::Csv)
        return QStringLiteral("archive read --one: no csv format");
    if (o.chart)
        return chartProblem(c, *o.chart);
    return std::nullopt;
}

// The archive records the options choose, from the ring's begin in the
// session: where --resume goes on, --from, --one, --index or the newest N; the
// csv header is written first. nullopt when --resume cannot go on (`refused`
// set, its message said) or the header could not be written (`writeFailed`).
std::optional<RecordPick> chooseArchiveRecords(Context& c, const ArchiveReadOptions& o,
                                               const std::optional<ResumePoint>& resume, std::optional<int>& refused,
                                               bool& writeFailed)
{
    if (resume && resume->lastIndex) {
        const int last = *resume->lastIndex;
        return resumeAfterLast(c, *resume, kArchiveSlots, ArchiveNewestIndex(c.session.begin), refused,
                               [&](QByteArray& raw) {
                                   RecordSink<ArchiveLine> check;
                                   check.show = [&raw](const ArchiveLine& l) { raw = ArchiveRecordRaw(l); };
                                   return ReadArchiveRecords(c.session, {last, 1}, false, 0, check);
                               });
    }
    if (c.inv.format == Format::Csv && !c.write(ArchiveCsvHeader())) {
        writeFailed = true;
        return std::nullopt;
    }
    if (o.from)
        return RecordPick{RecordChoice::From, *o.from};
    if (o.one)
        return RecordPick{RecordChoice::One, *o.one};
    // One record as a line: the stretch of the newest one record, counted
    // back from I as though I were the newest.
    if (o.index)
        return RecordPick{RecordChoice::Index, 1, *o.index};
    const int newest = o.newest.value_or(10);
    return RecordPick{newestChoice(newest), newest};
}

// An archive record as the output's format writes it.
QByteArray archiveRecordText(const Context& c, const ArchiveLine& line, long long utcOffsetSeconds)
{
    switch (c.inv.format) {
    case Format::Jsonl:
        return ArchiveRecordJson(line, utcOffsetSeconds);
    case Format::Csv:
        return ArchiveRecordCsv(line, utcOffsetSeconds);
    case Format::Text:
        break;
    }
    return c.out.textLine(QByteArray::fromStdString(line.fileLine));
}

// --one's value: the window's field truncates; machine-readable output keeps the whole value.
int writeOneValue(Context& c, const DownloadOutcome& outcome)
{
    const QByteArray text = c.inv.format == Format::Jsonl
        ? JsonObject().integer("index", outcome.index).number("value", outcome.oneRecordValue).line()
        : QByteArray::fromStdString(*outcome.oneValue) + '\n';
    return c.write(text) ? exit_code::kDone : c.writeFailure();
}

// Writes --chart's SVG of the records read to its file or stdout ("-"); the
// exit code, its message said, when it could not be written.
std::optional<int> writeChart(const QString& chartPath, const std::vector<ArchiveLine>& charted)
{
    const QByteArray svg = ArchiveChartSvg(charted);
    if (chartPath == QLatin1String("-")) {
        Output stdoutChart;
        QString error;
        if (!stdoutChart.open(chartPath, &error) || !stdoutChart.write(svg))
            return Fail(exit_code::kDownload, QStringLiteral("cannot write to stdout"));
    } else if (const auto error = WriteCompleteFile(chartPath, svg)) {
        return Fail(exit_code::kDownload, *error);
    }
    return std::nullopt;
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
            return c.linkFailure(RingQuestionName(questions[i]), answer.error);
        values[i] = answer.value;
    }
    QByteArray text;
    if (c.inv.format == Format::Jsonl)
        text = JsonObject()
                   .integer("capacity", values[0])
                   .integer("count", values[1])
                   .integer("begin", values[2])
                   .line();
    else
        text
            = QStringLiteral("capacity %1\ncount %2\nbegin %3\n").arg(values[0]).arg(values[1]).arg(values[2]).toUtf8();
    return c.write(text) ? exit_code::kDone : c.writeFailure();
}

int RunLogRead(Context& c, const LogReadOptions& o)
{
    std::optional<ResumePoint> resume;
    if (!readResume(c, o.resume, RecordKind::Log, 65534, resume))
        return exit_code::kUsage;
    CatchInterrupts();
    if (auto code = c.start())
        return *code;

    ProgressLine progress(c.progressShown());
    bool writeFailed = false;
    std::optional<int> refused; // the exit code when the choice could not be read, its message said
    DownloadSteps<LogLine> steps;
    steps.answered = answeredOk;
    steps.choose = [&] { return chooseLogRecords(c, o, resume, refused); };
    steps.sink.show = [&](const LogLine& line) {
        keepOrStop(c, c.inv.format == Format::Jsonl ? LogRecordJson(line) : c.out.textLine(line.fileBytes),
                   writeFailed);
    };
    steps.sink.progress = [&](int done, int total) { progress.update(done, total); };
    // The questions of the LOG button with its Max box, whether --max is given or
    // not: a ring of another size than the window's 2000 is read right only when
    // its capacity is known.
    const DownloadOutcome outcome = DownloadEventLog(c.session, true, steps);
    progress.finish();
    if (refused)
        return *refused;
    return downloadExit(c, outcome, writeFailed, QStringLiteral("log record"));
}

int RunArchiveRead(Context& c, const ArchiveReadOptions& o)
{
    std::optional<ResumePoint> resume;
    if (!readResume(c, o.resume, RecordKind::Archive, kArchiveLastIndex, resume))
        return exit_code::kUsage;
    const bool oneValue = o.one.has_value();
    if (const auto problem = archiveReadProblem(c, o))
        return Fail(exit_code::kUsage, *problem);
    const QString chartPath = o.chart.value_or(QString());
    CatchInterrupts();

    // The controller keeps UTC; the window shows local time, moved by the offset of this moment.
    const long long utcOffsetSeconds = o.noShift ? 0 : QDateTime::currentDateTime().offsetFromUtc();
    if (auto code = c.start())
        return *code;

    bool writeFailed = false;
    std::optional<int> refused; // the exit code when --resume cannot go on, its message said
    ProgressLine progress(!oneValue && c.progressShown());
    DownloadSteps<ArchiveLine> steps;
    steps.answered = answeredOk;
    steps.choose = [&] { return chooseArchiveRecords(c, o, resume, refused, writeFailed); };
    std::vector<ArchiveLine> charted;
    steps.sink.show = [&](const ArchiveLine& line) {
        if (!chartPath.isEmpty())
            charted.push_back(line);
        keepOrStop(c, archiveRecordText(c, line, utcOffsetSeconds), writeFailed);
    };
    steps.sink.progress = [&](int done, int total) { progress.update(done, total); };
    const DownloadOutcome outcome = DownloadArchive(c.session, utcOffsetSeconds, steps);
    progress.finish();

    if (outcome.end == DownloadEnd::One)
        return writeOneValue(c, outcome);
    if (refused)
        return *refused;
    // The chart of what was read, however the loop ended.
    if (!chartPath.isEmpty() && !writeFailed)
        if (const auto failed = writeChart(chartPath, charted))
            return *failed;
    return downloadExit(c, outcome, writeFailed, QStringLiteral("archive record"));
}

} // namespace tessavin::cli
