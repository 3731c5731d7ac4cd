#include "sim_options.h"

#include <QStringList>

namespace tessavin::sim {

namespace {

bool number(const QString& text, int* out)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 0);
    if (ok)
        *out = value;
    return ok;
}

template <class T>
std::optional<T> fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return std::nullopt;
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
        return fail<Fault>(error, QStringLiteral("unknown fault '%1'").arg(head));

    if (!target.isEmpty()) {
        const QString key = target.section(QLatin1Char('='), 0, 0).trimmed();
        int code = 0;
        if (!number(target.section(QLatin1Char('='), 1), &code) || code < 0 || code > 255)
            return fail<Fault>(error, QStringLiteral("bad fault target '%1'").arg(target));
        if (key == QLatin1String("reg"))
            fault.target = FaultTarget::registerCommand(static_cast<std::uint8_t>(code));
        else if (key == QLatin1String("cfg"))
            fault.target = FaultTarget::configCommand(static_cast<std::uint8_t>(code));
        else if (key == QLatin1String("fn"))
            fault.target = FaultTarget::configFunction(static_cast<std::uint8_t>(code));
        else
            return fail<Fault>(error, QStringLiteral("bad fault target '%1'").arg(target));
    }
    for (qsizetype i = 1; i < fields.size(); ++i) {
        const QString key = fields[i].section(QLatin1Char('='), 0, 0).trimmed();
        int value = 0;
        if (!number(fields[i].section(QLatin1Char('='), 1), &value) || value < 0)
            return fail<Fault>(error, QStringLiteral("bad fault setting '%1'").arg(fields[i]));
        if (key == QLatin1String("times"))
            fault.times = value == 0 ? -1 : value;
        else if (key == QLatin1String("bytes"))
            fault.bytes = value;
        else if (key == QLatin1String("pause"))
            fault.pause = std::chrono::milliseconds(value);
        else
            return fail<Fault>(error, QStringLiteral("bad fault setting '%1'").arg(fields[i]));
    }
    return fault;
}

std::optional<PollSpec> ParsePoll(const QString& text, QString* error)
{
    const QStringList fields = text.split(QLatin1Char(','));
    PollSpec pollSpec;
    int function = 0;
    if (!number(fields.value(0), &function) || function < 0 || function > 255)
        return fail<PollSpec>(error, QStringLiteral("bad poll function '%1'").arg(fields.value(0)));
    pollSpec.function = static_cast<std::uint8_t>(function);
    for (qsizetype i = 1; i < fields.size(); ++i) {
        const QString key = fields[i].section(QLatin1Char('='), 0, 0).trimmed();
        int value = 0;
        if (!number(fields[i].section(QLatin1Char('='), 1), &value) || value < 0)
            return fail<PollSpec>(error, QStringLiteral("bad poll setting '%1'").arg(fields[i]));
        if (key == QLatin1String("addr") && value <= 255)
            pollSpec.address = static_cast<std::uint8_t>(value);
        else if (key == QLatin1String("fill") && value <= kMaxFillBytes)
            pollSpec.fillBytes = value;
        else if (key == QLatin1String("strand") && value <= 255)
            pollSpec.strand = static_cast<std::uint8_t>(value);
        else if (key == QLatin1String("start") && value <= 255 && value != 0xFF) // 0xFF is fill
            pollSpec.startByte = static_cast<std::uint8_t>(value);
        else
            return fail<PollSpec>(error, QStringLiteral("bad poll setting '%1'").arg(fields[i]));
    }
    return pollSpec;
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
