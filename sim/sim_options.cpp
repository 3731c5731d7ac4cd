#include "sim_options.h"

#include <QStringList>

namespace tessavin::sim {

namespace {

// The commands and codes the controller answers; a fault aimed at anything else
// would never fire, so it is refused.
constexpr std::uint8_t kRegisterCommands[] = {
    regcmd::kScriptDown,   regcmd::kScriptUp,      regcmd::kLogBegin,       regcmd::kLogRecord, regcmd::kLogClear,
    regcmd::kLogCount,     regcmd::kLogCapacity,   regcmd::kDeviceNumber,   regcmd::kPressure,  regcmd::kLoggingStart,
    regcmd::kLoggingStop,  regcmd::kArchiveBegin,  regcmd::kArchiveRecord,  regcmd::kRegistration,
};
constexpr std::uint8_t kConfigCommands[] = {
    cfg::kDownloadStart, cfg::kDownloadStop, cfg::kUploadTest, cfg::kSetTest, cfg::kStatus, cfg::kUpload, cfg::kReboot,
};

template <class T>
std::optional<T> fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return std::nullopt;
}

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
    const auto value = ParseInteger(field.section(QLatin1Char('='), 1), min, max, &why);
    if (!value && error)
        *error = QStringLiteral("%1: %2").arg(field.section(QLatin1Char('='), 0, 0).trimmed(), why);
    return value;
}

} // namespace

std::optional<int> ParseInteger(const QString& text, int min, int max, QString* error)
{
    const QString t = text.trimmed();
    bool ok = false;
    const qlonglong value = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t.mid(2).toLongLong(&ok, 16)
                                                                                    : t.toLongLong(&ok, 10);
    const QString expected = QStringLiteral("(expected %1 to %2)").arg(min).arg(max);
    if (!ok)
        return fail<int>(error, QStringLiteral("'%1' is not a number %2").arg(t, expected));
    if (value < min || value > max)
        return fail<int>(error, QStringLiteral("%1 is out of range %2").arg(t, expected));
    return static_cast<int>(value);
}

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

std::optional<Fault> ParseFault(const QString& text, QString* error)
{
    const QStringList fields = text.split(QLatin1Char(','));
    QString head = fields.value(0).trimmed();
    QString target;
    if (const auto colon = head.indexOf(QLatin1Char(':')); colon >= 0) {
        target = head.mid(colon + 1).trimmed();
        head = head.left(colon).trimmed();
    }
    static const struct {
        const char* name;
        FaultKind kind;
    } kinds[] = {
        {"silence", FaultKind::Silence},           {"bad-header", FaultKind::BadHeaderChecksum},
        {"bad-body", FaultKind::BadBodyChecksum},  {"truncated", FaultKind::Truncated},
        {"split", FaultKind::Split},               {"garbage", FaultKind::TrailingGarbage},
        {"oversized", FaultKind::Oversized},       {"slow", FaultKind::SlowTurnaround},
    };
    Fault fault;
    bool known = false;
    for (const auto& k : kinds) {
        if (head == QLatin1String(k.name)) {
            fault.kind = k.kind;
            known = true;
        }
    }
    if (!known)
        return fail<Fault>(error, QStringLiteral("unknown fault '%1' (expected silence, bad-header, bad-body, "
                                                 "truncated, split, garbage, oversized or slow)")
                                      .arg(head));

    if (!target.isEmpty()) {
        const QString key = target.section(QLatin1Char('='), 0, 0).trimmed();
        const auto code = ParseInteger(target.section(QLatin1Char('='), 1), 0, 255);
        auto unknown = [&](const QString& expected) {
            return fail<Fault>(error, QStringLiteral("unknown target '%1' (expected %2)").arg(target, expected));
        };
        if (key == QLatin1String("reg")) {
            if (!code || !contains(kRegisterCommands, *code))
                return unknown(QStringLiteral("reg=CMD with a register-link command: %1").arg(hexList(kRegisterCommands)));
            fault.target = FaultTarget::registerCommand(static_cast<std::uint8_t>(*code));
        } else if (key == QLatin1String("cfg")) {
            if (!code || !contains(kConfigCommands, *code))
                return unknown(QStringLiteral("cfg=CODE with a configuration command code: %1").arg(hexList(kConfigCommands)));
            fault.target = FaultTarget::configCommand(static_cast<std::uint8_t>(*code));
        } else if (key == QLatin1String("fn")) {
            if (!code || (*code != cfg::kFunctionWrite && *code != cfg::kFunctionRead))
                return unknown(QStringLiteral("fn=16 or fn=17"));
            fault.target = FaultTarget::configFunction(static_cast<std::uint8_t>(*code));
        } else {
            return unknown(QStringLiteral("reg=CMD, cfg=CODE, fn=16 or fn=17"));
        }
    }
    for (qsizetype i = 1; i < fields.size(); ++i) {
        const QString key = fields[i].section(QLatin1Char('='), 0, 0).trimmed();
        if (key == QLatin1String("times")) {
            const auto value = settingValue(fields[i], 0, 1000000, error);
            if (!value)
                return std::nullopt;
            fault.times = *value == 0 ? -1 : *value;
        } else if (key == QLatin1String("bytes")) {
            const auto value = settingValue(fields[i], 0, 65535, error);
            if (!value)
                return std::nullopt;
            fault.bytes = *value;
        } else if (key == QLatin1String("pause")) {
            const auto value = settingValue(fields[i], 0, 3600000, error);
            if (!value)
                return std::nullopt;
            fault.pause = std::chrono::milliseconds(*value);
        } else {
            return fail<Fault>(error, QStringLiteral("unknown fault setting '%1' (expected times=N, bytes=N or pause=MS)")
                                          .arg(fields[i].trimmed()));
        }
    }
    return fault;
}

std::optional<PollSpec> ParsePoll(const QString& text, QString* error)
{
    const QStringList fields = text.split(QLatin1Char(','));
    PollSpec pollSpec;
    const auto function = ParseInteger(fields.value(0), 0, 255);
    if (!function || (*function != 1 && *function != 2 && *function != 10))
        return fail<PollSpec>(error, QStringLiteral("unknown poll function %1 (expected 1, 2 or 10)")
                                         .arg(fields.value(0).trimmed()));
    pollSpec.function = static_cast<std::uint8_t>(*function);
    for (qsizetype i = 1; i < fields.size(); ++i) {
        const QString key = fields[i].section(QLatin1Char('='), 0, 0).trimmed();
        // fill: more would push the poll's head past what the responder drops;
        // start: 0xFF would be taken for fill.
        const int max = key == QLatin1String("fill") ? kMaxFillBytes : key == QLatin1String("start") ? 0xFE : 255;
        if (key != QLatin1String("addr") && key != QLatin1String("fill") && key != QLatin1String("strand")
            && key != QLatin1String("start"))
            return fail<PollSpec>(error, QStringLiteral("unknown poll setting '%1' (expected addr=N, fill=N, "
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
    return ParseInteger(text.mid(4), 0, 1000000, error);
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

} // namespace tessavin::sim
