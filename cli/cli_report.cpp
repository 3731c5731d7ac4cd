// tessavin-cli report DIR: one visit read in one run on one open port (device
// number, pressure, configuration status, configuration and test configuration,
// the whole event log, the whole archive and the script), written as a folder
// with index.html. A part that fails is named in the summary and the rest is
// still read; the exit code is then 5.
#include "cli/cli_context.h"
#include "cli/cli_operations.h"

#include "features/config/config_commands.h"
#include "features/config/config_text.h"
#include "features/config/config_transfer.h"
#include "features/archive.h"
#include "util/conversions.h"
#include "features/download.h"
#include "features/event_log.h"
#include "features/script_transfer.h"
#include "features/service_commands.h"
#include "tessavin_version.h"
#include "util/text_codec.h"
#include "report/visit_report.h"

#include <QDateTime>
#include <QDir>

namespace tessavin::cli {

namespace {

struct Visit {
    Context& c;
    QStringList& failures;

    void failed(const QString& what, LinkError error)
    {
        failures << QStringLiteral("%1: %2").arg(what, c.errorText(error));
    }

    QString reading(bool pressure)
    {
        const ServiceReading r = pressure ? ReadPressure(c.session) : ReadDeviceNumber(c.session);
        if (r.ok)
            return r.text.trimmed();
        failed(pressure ? QStringLiteral("pressure") : QStringLiteral("device number"), r.error);
        return {};
    }

    QString status()
    {
        const auto status = StatusQuery(c.session);
        if (status.ok())
            return QStringLiteral("%1 (status %2)").arg(StatusQueryText(status.value).trimmed()).arg(status.value);
        failed(QStringLiteral("configuration status"), status.error);
        return {};
    }

    std::optional<QByteArray> configuration(bool test)
    {
        const QString what = test ? QStringLiteral("test configuration") : QStringLiteral("configuration");
        c.session.transfer.clear();
        const ConfigUploadResult r = ConfigUpload(c.session, test ? cfg::kUploadTestConfig : cfg::kUploadConfig);
        if (r.error != LinkError::None)
            failed(what, r.error);
        else if (r.tooLarge)
            failures << QStringLiteral("%1: more than %2 bytes").arg(what).arg(kTransferTextLimit);
        else if (r.length == 0)
            failures << QStringLiteral("%1: the controller sent nothing").arg(what);
        else
            return TransferText(c.session.transfer);
        return std::nullopt;
    }

    // What ended a download early, for the summary.
    void ended(const QString& what, const DownloadOutcome& outcome)
    {
        const QString read = QStringLiteral("%1 of %2 records read").arg(outcome.read).arg(outcome.span.count);
        switch (outcome.end) {
        case DownloadEnd::Completed:
        case DownloadEnd::One:
        case DownloadEnd::NotChosen:
            break;
        case DownloadEnd::Unanswered:
            failed(what, outcome.error);
            break;
        case DownloadEnd::RecordFailed:
            failures << QStringLiteral("%1 record %2: %3; %4")
                            .arg(what)
                            .arg(outcome.index)
                            .arg(c.errorText(outcome.error), read);
            break;
        case DownloadEnd::TimeEncode:
        case DownloadEnd::DateEncode:
            failures << QStringLiteral("%1 record %2: an impossible date or time (%3); %4")
                            .arg(what)
                            .arg(outcome.index)
                            .arg(outcome.end == DownloadEnd::TimeEncode ? TimeEncodeError() : DateEncodeError(), read);
            break;
        case DownloadEnd::Stopped:
            failures << QStringLiteral("%1: interrupted; %2").arg(what, read);
            break;
        }
    }

    // Every record the log holds, oldest first (the capacity asked, as Max does).
    std::vector<LogLine> eventLog()
    {
        std::vector<LogLine> lines;
        DownloadSteps<LogLine> steps;
        steps.answered = [](RingQuestion, const LinkResult<int>& answer) { return answer.ok(); };
        steps.choose = [this] { return std::optional<RecordPick>(RecordPick{RecordChoice::Index, c.session.count}); };
        steps.sink.show = [&lines](const LogLine& line) { lines.push_back(line); };
        ended(QStringLiteral("event log"), DownloadEventLog(c.session, true, steps));
        return lines;
    }

    // Every slot of the ring, oldest first: from the slot after the newest
    // round to the newest.
    std::vector<ArchiveLine> archive(long long utcOffsetSeconds)
    {
        std::vector<ArchiveLine> lines;
        DownloadSteps<ArchiveLine> steps;
        steps.answered = [](RingQuestion, const LinkResult<int>& answer) { return answer.ok(); };
        steps.choose = [this] {
            const int oldest = (ArchiveNewestIndex(c.session.begin) + 1) % kArchiveSlots;
            return std::optional<RecordPick>(RecordPick{RecordChoice::From, oldest});
        };
        steps.sink.show = [&lines](const ArchiveLine& line) { lines.push_back(line); };
        ended(QStringLiteral("archive"), DownloadArchive(c.session, utcOffsetSeconds, steps));
        return lines;
    }

    // The script; none, and no failure, when the controller holds no script.
    std::optional<QByteArray> script(bool& none)
    {
        const ScriptUpResult r = ReceiveScript(c.session);
        if (r.error == LinkError::TooShort && r.received == kScriptReplyMinimum - 1)
            none = true;
        else if (!r.ok)
            failed(QStringLiteral("script"), r.error);
        else
            return r.script;
        return std::nullopt;
    }
};

QString orNotRead(const QString& value) { return value.isEmpty() ? QStringLiteral("not read") : value; }

// Every file a report writes, whichever parts are read.
QStringList reportFiles()
{
    return {QStringLiteral("log.txt"),
            QStringLiteral("log.jsonl"),
            QStringLiteral("archive.csv"),
            QStringLiteral("archive.jsonl"),
            QStringLiteral("config.json"),
            QStringLiteral("test-config.json"),
            QStringLiteral("script.bin"),
            QStringLiteral("trace.jsonl"),
            QString::fromLatin1(kReportChartFile),
            QString::fromLatin1(kReportIndexFile),
            QString::fromLatin1(kReportSumsFile)};
}

// What a visit read besides the records, which go straight into the report.
struct VisitParts {
    QString deviceNumber;
    QString pressure;
    QString status;
    std::optional<QByteArray> config;
    std::optional<QByteArray> testConfig;
    std::optional<QByteArray> script;
    bool noScript = false;
};

// Reads every part in turn; a part that fails is named in the report's failures.
VisitParts readVisit(Context& c, VisitReport& r, long long offset)
{
    Visit v{c, r.failures};
    // After Ctrl+C the parts not yet begun are skipped; what was read is written.
    const auto go = [&r](const char* part) {
        if (!Interrupted())
            return true;
        r.failures << QStringLiteral("%1: not read (interrupted)").arg(QLatin1String(part));
        return false;
    };
    VisitParts p;
    p.deviceNumber = go("device number") ? v.reading(false) : QString();
    p.pressure = go("pressure") ? v.reading(true) : QString();
    p.status = go("configuration status") ? v.status() : QString();
    p.config = go("configuration") ? v.configuration(false) : std::nullopt;
    p.testConfig = go("test configuration") ? v.configuration(true) : std::nullopt;
    if (go("event log"))
        r.log = v.eventLog();
    if (go("archive"))
        r.archive = v.archive(offset);
    p.script = go("script") ? v.script(p.noScript) : std::nullopt;
    return p;
}

// The report's title and summary.
void summarize(const Context& c, const VisitParts& p, const QDateTime& visit, VisitReport& r)
{
    const long long offset = visit.offsetFromUtc();
    int dated = 0;
    for (const ArchiveLine& line : r.archive)
        dated += line.record.yearByte != 0;
    r.title = QStringLiteral("Visit report: %1, %2").arg(c.device, visit.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    r.summary = {
        {QStringLiteral("Time of the visit"), visit.toOffsetFromUtc(offset).toString(Qt::ISODate)},
        {QStringLiteral("Port"), c.device},
        {QStringLiteral("Baud"), QString::number(c.baudRate)},
        {QStringLiteral("Device number"), orNotRead(p.deviceNumber)},
        {QStringLiteral("Pressure"), orNotRead(p.pressure)},
        {QStringLiteral("Configuration status"), orNotRead(p.status)},
        {QStringLiteral("Event log records read"), QString::number(r.log.size())},
        {QStringLiteral("Archive records read"), QStringLiteral("%1 (%2 dated)").arg(r.archive.size()).arg(dated)},
        {QStringLiteral("Script"),
         p.script         ? QStringLiteral("%1 bytes").arg(p.script->size())
             : p.noScript ? QStringLiteral("none: the controller holds no script")
                          : QStringLiteral("not read")},
        {QStringLiteral("Written by"), QStringLiteral("tessavin-cli %1").arg(QLatin1String(TESSAVIN_VERSION))},
    };
}

// The files beside index.html, and the sections that show their texts.
void addFiles(const VisitParts& p, long long offset, VisitReport& r)
{
    QByteArray logText, logJson, archiveCsv = ArchiveCsvHeader(), archiveJson;
    for (const LogLine& line : r.log) {
        logText += line.fileBytes;
        logJson += LogRecordJson(line);
    }
    for (const ArchiveLine& line : r.archive) {
        archiveCsv += ArchiveRecordCsv(line, offset);
        archiveJson += ArchiveRecordJson(line, offset);
    }
    r.files = {{QStringLiteral("log.txt"), QStringLiteral("the event log as the window saves it"), logText},
               {QStringLiteral("log.jsonl"), QStringLiteral("the event log, one JSON object a record"), logJson},
               {QStringLiteral("archive.csv"), QStringLiteral("the archive as CSV"), archiveCsv},
               {QStringLiteral("archive.jsonl"), QStringLiteral("the archive, one JSON object a record"), archiveJson}};
    if (p.config) {
        r.files.push_back({QStringLiteral("config.json"), QStringLiteral("the configuration as it came"), *p.config});
        r.sections.push_back({QStringLiteral("Configuration"), DecodeText(*p.config)});
    }
    if (p.testConfig) {
        r.files.push_back(
            {QStringLiteral("test-config.json"), QStringLiteral("the test configuration as it came"), *p.testConfig});
        r.sections.push_back({QStringLiteral("Test configuration"), DecodeText(*p.testConfig)});
    }
    if (p.script) {
        r.files.push_back({QStringLiteral("script.bin"), QStringLiteral("the script's bytes as they came"), *p.script});
        r.sections.push_back({QStringLiteral("Script"), DecodeText(*p.script)});
    }
    r.present = {{QStringLiteral("trace.jsonl"), QStringLiteral("every frame of the visit, as JSON Lines"), {}}};
}

} // namespace

int RunReport(Context& c, const ReportOptions& o)
{
    const QString dir = c.inv.argument;
    if (const auto problem = PrepareReportFolder(dir, o.force, reportFiles()))
        return Fail(exit_code::kUsage, *problem);
    const QDir folder(dir);
    c.tracePath = folder.filePath(QStringLiteral("trace.jsonl"));
    CatchInterrupts();
    const QDateTime visit = QDateTime::currentDateTime();
    const long long offset = visit.offsetFromUtc();
    if (auto code = c.start())
        return *code;

    VisitReport r;
    const VisitParts parts = readVisit(c, r, offset);
    c.finishTrace();
    summarize(c, parts, visit, r);
    addFiles(parts, offset, r);
    if (const auto error = WriteVisitReport(dir, r))
        return Fail(exit_code::kDownload, *error);
    const QString index = NativePath(folder.filePath(QString::fromLatin1(kReportIndexFile)));
    if (!r.failures.isEmpty()) {
        for (const QString& failure : r.failures)
            Say(QStringLiteral("%1: %2").arg(c.device, failure));
        return Fail(Interrupted() ? exit_code::kInterrupted : exit_code::kDownload,
                    QStringLiteral("report written with %1 part(s) not read: %2").arg(r.failures.size()).arg(index));
    }
    c.tell(QStringLiteral("report written: %1").arg(index));
    return exit_code::kDone;
}

} // namespace tessavin::cli
