#include "sim/sim_options.h"

#include "util/integer_text.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <limits>

namespace tessavin::sim {

namespace {

// The commands and codes the controller answers; a fault aimed at anything else
// would never fire, so it is refused.
constexpr std::uint8_t kRegisterCommands[] = {
    reg::kScriptDown, reg::kScriptUp,     reg::kLogBegin,      reg::kLogRecord,    reg::kLogClear,
    reg::kLogCount,   reg::kLogCapacity,  reg::kIdent,         reg::kPressure,     reg::kLogStart,
    reg::kLogStop,    reg::kArchiveBegin, reg::kArchiveRecord, reg::kRegistration,
};
constexpr std::uint8_t kConfigCommands[] = {
    cfg::kDownloadStart, cfg::kDownloadStop, cfg::kUploadTestConfig, cfg::kSetTestMode,
    cfg::kStatusQuery,   cfg::kUploadConfig, cfg::kReboot,
};

template <class T>
std::optional<T> fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return std::nullopt;
}

// Numbers of the command line and of fault and poll texts: decimal or 0x
// hexadecimal, blanks around them passed over.
IntegerRules within(int min, int max) { return {.min = min, .max = max, .hexadecimal = true, .blanksAfter = true}; }

template <std::size_t N>
QString hexList(const std::uint8_t (&codes)[N])
{
    QStringList out;
    for (const auto code : codes)
        out << QStringLiteral("0x") + QString::number(code, 16).rightJustified(2, QLatin1Char('0')).toUpper();
    return out.join(QLatin1Char(' '));
}

template <std::size_t N>
bool contains(const std::uint8_t (&codes)[N], int code)
{
    for (const auto c : codes)
        if (c == code)
            return true;
    return false;
}

// "key=value" of a setting: the key, and the value through ParseInteger with the
// key in front of any error.
std::optional<int> settingValue(const QString& field, int min, int max, QString* error)
{
    QString why;
    const auto value = ParseInteger(field.section(QLatin1Char('='), 1), within(min, max), &why);
    if (!value && error)
        *error = QStringLiteral("%1: %2").arg(field.section(QLatin1Char('='), 0, 0).trimmed(), why);
    return value;
}

// The options of the command line, in the order --help lists them.
struct OptionSet {
    QCommandLineOption help, version, logCapacity, logRecords, recordLength, archiveRecords, chunk, status,
        rebootSilence, loggingInterval, config, testConfig, baud, mismatch, turnaround, fault, poll, demoPolls,
        pollInterval, pollTimeout, link, storeFault, noise, drop, seed, trace;
};

OptionSet describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("An emulated logging controller on a new pseudo-terminal. It prints the path\n"
                       "of the terminal (e.g. /dev/pts/3): type it into the window's COM field and\n"
                       "press Open. It answers the configuration link and the register and log link\n"
                       "as the controller does, can poll the window's responder (Start), and can be\n"
                       "made to misbehave. Runs until Ctrl+C.\n"
                       "Exit status: 0 after Ctrl+C or SIGTERM, 1 when no pseudo-terminal or link can\n"
                       "be made, 2 for a usage error."));
    const auto option = [&](const char* name, const char* description, const char* valueName,
                            const char* defaultValue) {
        QString text = QString::fromLatin1(description);
        if (*defaultValue)
            text += QStringLiteral(" Default: %1.").arg(QString::fromLatin1(defaultValue));
        QCommandLineOption o(QString::fromLatin1(name), text, QString::fromLatin1(valueName),
                             QString::fromLatin1(defaultValue));
        parser.addOption(o);
        return o;
    };
    const auto add = [&](const QCommandLineOption& o) {
        parser.addOption(o);
        return o;
    };
    return OptionSet{
        parser.addHelpOption(), parser.addVersionOption(),
        option("log-capacity", "Event log capacity in records.", "n", "2000"),
        option("log-records", "Records in the event log at start.", "n", "150"),
        option("record-length", "Approximate length of those records, in bytes.", "n", "60"),
        option("archive-records", "Dated values in the archive at start (ring of 1001).", "n", "300"),
        option("chunk", "Bytes per configuration upload chunk (1-255).", "n", "100"),
        option("status", "Status code answered to the status query (0 OK, 1 bad json, 2 no memory, 3 no file).", "n",
               "0"),
        option("reboot-silence", "Silence after a reboot command, in ms.", "ms", "3000"),
        option("logging-interval", "While logging is on, a new record every this many ms.", "ms", "2000"),
        option("config", "File whose bytes are the configuration (default: a built-in JSON text).", "file", ""),
        option("test-config", "File whose bytes are the test configuration.", "file", ""),
        option("baud",
               "Pace the line at this rate, 10 bits a byte: a reply or poll arrives whole when its last byte would, "
               "after the request's own time on the line (0: no pacing). A requester whose port is set to another "
               "rate gets what --mismatch says.",
               "rate", "0"),
        option("mismatch",
               "With --baud, what a requester whose port is set to another rate gets: garbage (the bytes its "
               "receiver makes of the reply at the wrong rate), silent (nothing) or answer (the reply, as if the "
               "rates matched). The request changes nothing unless answer. Refused without --baud.",
               "mode", "garbage"),
        option("turnaround", "Pause between a request and its reply, in ms.", "ms", "0"),
        add(QCommandLineOption(
            QStringLiteral("fault"),
            QStringLiteral("Misbehave (repeatable): KIND[:TARGET][,times=N][,bytes=N][,pause=MS]. "
                           "KIND: silence, bad-header, bad-body, truncated (to bytes, default half), "
                           "split (after bytes, pause default 150 ms), garbage (bytes, default 3), "
                           "oversized (bytes, default 1200), slow (pause, default 500 ms). "
                           "TARGET: reg=CMD (a register-link command, e.g. reg=0x1A), cfg=CODE (a "
                           "configuration command code, e.g. cfg=0x63), fn=16 or fn=17 (configuration "
                           "data frames); without it, every request. times: how many replies it "
                           "spoils (default: all). Example: --fault split:reg=0x1A,times=3"),
            QStringLiteral("fault"))),
        add(QCommandLineOption(QStringLiteral("poll"),
                               QStringLiteral("Poll the window's responder (repeatable; sent in turn, one every "
                                              "--poll-interval, once the requests pause): FUNCTION[,addr=N][,fill=N]"
                                              "[,strand=N][,start=N]. FUNCTION: 1 date and time, 2 coefficients, 10 "
                                              "report of three values; fill: leading 0xFF bytes (0 to %1); start: a "
                                              "poll with another start byte (not 0xFF), which the responder shows but "
                                              "does not answer. Answers are checked and shown with --trace. "
                                              "Example: --poll 1,addr=1 --poll 10,addr=5,strand=3,fill=3")
                                   .arg(kMaxFillBytes),
                               QStringLiteral("poll"))),
        add(QCommandLineOption(
            QStringLiteral("demo-polls"),
            QStringLiteral("Poll as the demonstration does: 1,addr=1 then 2,addr=2 then 10,addr=5,strand=3."))),
        option("poll-interval", "Time between two polls, in ms.", "ms", "5000"),
        option("poll-timeout", "How long a poll waits for its answer, in ms.", "ms", "3000"),
        option("link",
               "Also make a symbolic link with this name to the terminal, removed at exit. An existing "
               "path is replaced only when it is a link into /dev/pts/ (left by an earlier run).",
               "path", ""),
        option("store-fault",
               "Store downloads badly: cut=N keeps only the first N bytes of each downloaded configuration (what a "
               "read-back then shows).",
               "fault", ""),
        // Line noise on the replies, reproducible from the seed.
        option("noise", "Flip one random bit in each reply byte with this probability (0 to 0.1).", "p", "0"),
        option("drop", "Leave a whole reply unsent with this probability (0 to 0.1).", "p", "0"),
        option("seed", "Seed of the noise (printed at start; default: one from the clock).", "n", ""),
        add(QCommandLineOption(QStringLiteral("trace"),
                               QStringLiteral("Print every frame received (<-) and sent (->).")))};
}

} // namespace

std::optional<double> ParseNoiseProbability(const QString& text, QString* error)
{
    const QString t = text.trimmed();
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok)
        return fail<double>(error, QStringLiteral("'%1' is not a number (expected 0 to 0.1)").arg(t));
    if (!(value >= 0.0 && value <= 0.1))
        return fail<double>(error, QStringLiteral("%1 is out of range (expected 0 to 0.1)").arg(t));
    return value;
}

namespace {

// The kind of fault a name stands for.
std::optional<FaultKind> faultKind(const QString& name, QString* error)
{
    static const struct {
        const char* name;
        FaultKind kind;
    } kinds[] = {
        {"silence", FaultKind::Silence},
        {"bad-header", FaultKind::BadHeaderChecksum},
        {"bad-body", FaultKind::BadBodyChecksum},
        {"truncated", FaultKind::Truncated},
        {"split", FaultKind::Split},
        {"garbage", FaultKind::TrailingGarbage},
        {"oversized", FaultKind::Oversized},
        {"slow", FaultKind::SlowTurnaround},
    };
    for (const auto& k : kinds)
        if (name == QLatin1String(k.name))
            return k.kind;
    return fail<FaultKind>(error,
                           QStringLiteral("unknown fault '%1' (expected silence, bad-header, bad-body, "
                                          "truncated, split, garbage, oversized or slow)")
                               .arg(name));
}

// The requests a fault aims at, from "reg=CMD", "cfg=CODE" or "fn=N".
std::optional<FaultTarget> faultTarget(const QString& target, QString* error)
{
    const QString key = target.section(QLatin1Char('='), 0, 0).trimmed();
    const auto code = ParseInteger(target.section(QLatin1Char('='), 1), within(0, 255));
    auto unknown = [&](const QString& expected) {
        return fail<FaultTarget>(error, QStringLiteral("unknown target '%1' (expected %2)").arg(target, expected));
    };
    if (key == QLatin1String("reg")) {
        if (!code || !contains(kRegisterCommands, *code))
            return unknown(QStringLiteral("reg=CMD with a register-link command: %1").arg(hexList(kRegisterCommands)));
        return FaultTarget::registerCommand(static_cast<std::uint8_t>(*code));
    }
    if (key == QLatin1String("cfg")) {
        if (!code || !contains(kConfigCommands, *code))
            return unknown(
                QStringLiteral("cfg=CODE with a configuration command code: %1").arg(hexList(kConfigCommands)));
        return FaultTarget::configCommand(static_cast<std::uint8_t>(*code));
    }
    if (key == QLatin1String("fn")) {
        if (!code || (*code != cfg::kFunctionWrite && *code != cfg::kFunctionRead))
            return unknown(QStringLiteral("fn=16 or fn=17"));
        return FaultTarget::configFunction(static_cast<std::uint8_t>(*code));
    }
    return unknown(QStringLiteral("reg=CMD, cfg=CODE, fn=16 or fn=17"));
}

// Sets what one "times=N", "bytes=N" or "pause=MS" says; false (with *error)
// for a setting of another name or a value out of its range.
bool setFaultSetting(const QString& field, Fault& fault, QString* error)
{
    const QString key = field.section(QLatin1Char('='), 0, 0).trimmed();
    if (key == QLatin1String("times")) {
        const auto value = settingValue(field, 0, 1000000, error);
        if (value)
            fault.times = *value == 0 ? -1 : *value;
        return value.has_value();
    }
    if (key == QLatin1String("bytes")) {
        const auto value = settingValue(field, 0, 65535, error);
        if (value)
            fault.bytes = *value;
        return value.has_value();
    }
    if (key == QLatin1String("pause")) {
        const auto value = settingValue(field, 0, 3600000, error);
        if (value)
            fault.pause = std::chrono::milliseconds(*value);
        return value.has_value();
    }
    if (error)
        *error
            = QStringLiteral("unknown fault setting '%1' (expected times=N, bytes=N or pause=MS)").arg(field.trimmed());
    return false;
}

} // namespace

std::optional<Fault> ParseFault(const QString& text, QString* error)
{
    const QStringList fields = text.split(QLatin1Char(','));
    QString head = fields.value(0).trimmed();
    QString target;
    if (const auto colon = head.indexOf(QLatin1Char(':')); colon >= 0) {
        target = head.mid(colon + 1).trimmed();
        head = head.left(colon).trimmed();
    }
    Fault fault;
    const auto kind = faultKind(head, error);
    if (!kind)
        return std::nullopt;
    fault.kind = *kind;
    if (!target.isEmpty()) {
        const auto aim = faultTarget(target, error);
        if (!aim)
            return std::nullopt;
        fault.target = *aim;
    }
    for (qsizetype i = 1; i < fields.size(); ++i)
        if (!setFaultSetting(fields[i], fault, error))
            return std::nullopt;
    return fault;
}

std::optional<PollSpec> ParsePoll(const QString& text, QString* error)
{
    const QStringList fields = text.split(QLatin1Char(','));
    PollSpec pollSpec;
    const auto function = ParseInteger(fields.value(0), within(0, 255));
    if (!function || (*function != 1 && *function != 2 && *function != 10))
        return fail<PollSpec>(
            error, QStringLiteral("unknown poll function %1 (expected 1, 2 or 10)").arg(fields.value(0).trimmed()));
    pollSpec.function = static_cast<std::uint8_t>(*function);
    for (qsizetype i = 1; i < fields.size(); ++i) {
        const QString key = fields[i].section(QLatin1Char('='), 0, 0).trimmed();
        // fill: more would push the poll's head past what the responder drops;
        // start: 0xFF would be taken for fill.
        const int max = key == QLatin1String("fill") ? kMaxFillBytes : key == QLatin1String("start") ? 0xFE : 255;
        if (key != QLatin1String("addr") && key != QLatin1String("fill") && key != QLatin1String("strand")
            && key != QLatin1String("start"))
            return fail<PollSpec>(error,
                                  QStringLiteral("unknown poll setting '%1' (expected addr=N, fill=N, "
                                                 "strand=N or start=N)")
                                      .arg(fields[i].trimmed()));
        const auto value = settingValue(fields[i], 0, max, error);
        if (!value)
            return std::nullopt;
        if (key == QLatin1String("addr"))
            pollSpec.address = static_cast<std::uint8_t>(*value);
        else if (key == QLatin1String("fill"))
            pollSpec.fillBytes = *value;
        else if (key == QLatin1String("strand"))
            pollSpec.strand = static_cast<std::uint8_t>(*value);
        else
            pollSpec.startByte = static_cast<std::uint8_t>(*value);
    }
    return pollSpec;
}

std::optional<RateMismatch> ParseRateMismatch(const QString& text, QString* error)
{
    const QString t = text.trimmed();
    if (t == QLatin1String("garbage"))
        return RateMismatch::Garbage;
    if (t == QLatin1String("silent"))
        return RateMismatch::Silent;
    if (t == QLatin1String("answer"))
        return RateMismatch::Answer;
    return fail<RateMismatch>(error, QStringLiteral("unknown mode '%1' (expected garbage, silent or answer)").arg(t));
}

// ---- store fault ----
std::optional<int> ParseStoreFault(const QString& text, QString* error)
{
    if (!text.startsWith(QLatin1String("cut=")))
        return fail<int>(error, QStringLiteral("unknown store fault '%1' (expected cut=N)").arg(text));
    return ParseInteger(text.mid(4), within(0, 1000000), error);
}

std::vector<PollSpec> DemoPolls()
{
    PollSpec date;
    date.address = 1;
    date.function = 1;
    PollSpec coefficients;
    coefficients.address = 2;
    coefficients.function = 2;
    PollSpec report;
    report.address = 5;
    report.function = 10;
    report.strand = 3;
    report.values = {12.5f, 0.8f, -3.25f};
    return {date, coefficients, report};
}

namespace {

// The numeric options, each within its range; the message of the first that is
// not, naming it.
std::optional<QString> readNumbers(const QCommandLineParser& parser, const OptionSet& o, SimOptions& options)
{
    std::optional<QString> error;
    const auto integer = [&](const QCommandLineOption& option, int min, int max, int* out) {
        QString why;
        const auto value = ParseInteger(parser.value(option), within(min, max), &why);
        if (!value)
            error = QStringLiteral("--%1: %2").arg(option.names().constFirst(), why);
        else
            *out = *value;
        return value.has_value();
    };
    ControllerSettings& settings = options.settings;
    int turnaroundMs = 0, rebootMs = 0, loggingMs = 0, pollMs = 0, pollTimeoutMs = 0;
    if (!integer(o.logCapacity, 1, 65535, &settings.logCapacity)
        || !integer(o.logRecords, 0, 1000000, &settings.logRecords)
        || !integer(o.recordLength, 1, 990, &settings.logRecordLength)
        || !integer(o.archiveRecords, 0, 1000000, &settings.archiveRecords)
        || !integer(o.chunk, 1, 255, &settings.chunkSize) || !integer(o.status, 0, 255, &options.statusCode)
        || !integer(o.baud, 0, 4000000, &options.baud) || !integer(o.turnaround, 0, 600000, &turnaroundMs)
        || !integer(o.rebootSilence, 0, 3600000, &rebootMs) || !integer(o.loggingInterval, 1, 3600000, &loggingMs)
        || !integer(o.pollInterval, 1, 3600000, &pollMs) || !integer(o.pollTimeout, 1, 3600000, &pollTimeoutMs))
        return error;
    settings.rebootSilence = std::chrono::milliseconds(rebootMs);
    settings.loggingInterval = std::chrono::milliseconds(loggingMs);
    options.turnaround = std::chrono::milliseconds(turnaroundMs);
    options.pollInterval = std::chrono::milliseconds(pollMs);
    options.pollTimeout = std::chrono::milliseconds(pollTimeoutMs);
    for (const auto& [option, p] :
         {std::pair{&o.noise, &settings.noise.flip}, std::pair{&o.drop, &settings.noise.drop}}) {
        QString why;
        const auto value = ParseNoiseProbability(parser.value(*option), &why);
        if (!value)
            return QStringLiteral("--%1: %2").arg(option->names().constFirst(), why);
        *p = *value;
    }
    settings.noise.seed = static_cast<std::uint32_t>(QDateTime::currentMSecsSinceEpoch() % 1000000);
    if (parser.isSet(o.seed)) {
        int n = 0;
        if (!integer(o.seed, 0, std::numeric_limits<int>::max(), &n))
            return error;
        settings.noise.seed = static_cast<std::uint32_t>(n);
    }
    QString why;
    const auto mismatch = ParseRateMismatch(parser.value(o.mismatch), &why);
    if (!mismatch)
        return QStringLiteral("--mismatch: ") + why;
    options.mismatch = *mismatch;
    // Only a paced line has a rate for the requester's to differ from.
    if (parser.isSet(o.mismatch) && options.baud == 0)
        return QStringLiteral("--mismatch: needs --baud RATE (a line paced at a rate)");
    if (parser.isSet(o.storeFault)) {
        const auto cut = ParseStoreFault(parser.value(o.storeFault), &why);
        if (!cut)
            return QStringLiteral("--store-fault: ") + why;
        options.storeCut = *cut;
    }
    return std::nullopt;
}

// Every --fault and --poll (after the demonstration's polls); the message of the
// first that is refused.
std::optional<QString> readFaultsAndPolls(const QCommandLineParser& parser, const OptionSet& o, SimOptions& options)
{
    for (const QString& text : parser.values(o.fault)) {
        QString why;
        const auto f = ParseFault(text, &why);
        if (!f)
            return QStringLiteral("--fault: ") + why;
        options.faults.push_back(*f);
    }
    if (parser.isSet(o.demoPolls))
        options.polls = DemoPolls();
    for (const QString& text : parser.values(o.poll)) {
        QString why;
        const auto p = ParsePoll(text, &why);
        if (!p)
            return QStringLiteral("--poll: ") + why;
        options.polls.push_back(*p);
    }
    return std::nullopt;
}

// The bytes of the file an option names, when it is given; the message naming
// the option and the reason when the file cannot be read.
std::optional<QString> readFile(const QCommandLineParser& parser, const QCommandLineOption& option,
                                std::optional<QByteArray>* out)
{
    if (!parser.isSet(option))
        return std::nullopt;
    QFile f(parser.value(option));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("--%1: cannot read %2: %3")
            .arg(option.names().constFirst(), f.fileName(), f.errorString());
    *out = f.readAll();
    return std::nullopt;
}

} // namespace

std::optional<SimOptions> ParseSimOptions(const QStringList& arguments, QString* error)
{
    QCommandLineParser parser;
    const OptionSet o = describe(parser);
    // Usage errors exit 2 (the caller's); QCommandLineParser::process would exit 1.
    const auto usage = [error](const QString& message) {
        *error = message;
        return std::nullopt;
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText() + QStringLiteral("\nTry 'tessavin-sim --help'."));
    if (parser.isSet(o.help) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    if (parser.isSet(o.version))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument '%1'\nTry 'tessavin-sim --help'.")
                         .arg(parser.positionalArguments().constFirst()));

    SimOptions options;
    if (const auto why = readNumbers(parser, o, options))
        return usage(*why);
    if (const auto why = readFaultsAndPolls(parser, o, options))
        return usage(*why);
    if (const auto why = readFile(parser, o.config, &options.configuration))
        return usage(*why);
    if (const auto why = readFile(parser, o.testConfig, &options.testConfiguration))
        return usage(*why);
    options.linkPath = parser.value(o.link);
    options.trace = parser.isSet(o.trace);
    return options;
}

} // namespace tessavin::sim
