#include "cli/cli_context.h"
#include "cli/cli_operations.h"
#include "util/conversions.h"
#include "util/open_files.h"
#include "features/probe.h"
#include "util/settings_file.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace tessavin::cli {

namespace {

QString linkName(LinkKind link)
{
    return link == LinkKind::Register ? QStringLiteral("register") : QStringLiteral("configuration");
}

// Whether the try got as far as a question (a port that could not be opened did not).
bool asked(const ProbeTry& t) { return t.outcome != ProbeOutcome::Busy && t.outcome != ProbeOutcome::Unavailable; }

QByteArray jsonLine(const ProbeTry& t)
{
    return JsonObject()
        .string("port", t.port)
        .integer("baud", t.baud)
        .stringOrNull("link", asked(t) ? linkName(t.link) : QString())
        .string("result", ProbeOutcomeName(t.outcome))
        .integerOrNull("device_number", t.deviceNumber ? std::optional<long long>(*t.deviceNumber) : std::nullopt)
        .integerOrNull("time_ms", asked(t) ? std::optional<long long>(t.elapsed.count()) : std::nullopt)
        .stringOrNull("detail", t.detail)
        .line();
}

// A row of the table; the widths fit every port tried, so rows print as they come.
QByteArray textLine(const QStringList& cells, qsizetype portWidth)
{
    static const int widths[] = {0, 8, 15, 13, 8, 8};
    QString line;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        const qsizetype width = i == 0 ? portWidth : i < 6 ? widths[i] : 0;
        line += i + 1 < cells.size() ? cells[i].leftJustified(width) : cells[i];
    }
    return line.trimmed().toUtf8() + '\n';
}

QByteArray textLine(const ProbeTry& t, qsizetype portWidth)
{
    const QString dash = QStringLiteral("-");
    return textLine({t.port, QString::number(t.baud), asked(t) ? linkName(t.link) : dash, ProbeOutcomeName(t.outcome),
                     t.deviceNumber ? QString::number(*t.deviceNumber) : dash,
                     asked(t) ? QStringLiteral("%1 ms").arg(t.elapsed.count()) : dash, t.detail},
                    portWidth);
}

// What to try: the ports and rates given, else every port the system lists and
// the settings file's rate before the usual ones.
ProbeRequest probeRequest(const Context& c, const ProbeOptions& o, const StoredSettings& stored)
{
    ProbeRequest request;
    request.wait = std::chrono::milliseconds(o.wait);
    request.parallel = o.parallel;
    request.ports = c.inv.ports;
    for (int baud : c.inv.bauds)
        if (!request.rates.contains(baud))
            request.rates << baud;
    if (request.rates.isEmpty())
        request.rates = ProbeRates(ParseInteger(stored.baud).value_or(0));
    if (request.ports.isEmpty())
        request.ports = ProbePorts();
    request.ports.removeDuplicates();
    return request;
}

// Tries them, each try written as it is told; `written` turns false when the
// output fails, which ends the probe.
ProbeResult tryEach(Context& c, const ProbeRequest& request, std::atomic<bool>& written)
{
    qsizetype portWidth = 6;
    for (const QString& port : request.ports)
        portWidth = std::max(portWidth, port.size() + 2);
    if (c.inv.format == Format::Text)
        written = c.write(
            textLine({QStringLiteral("PORT"), QStringLiteral("BAUD"), QStringLiteral("LINK"), QStringLiteral("RESULT"),
                      QStringLiteral("DEVICE"), QStringLiteral("TIME"), QStringLiteral("NOTE")},
                     portWidth));
    CatchInterrupts();
    ProbeHooks hooks;
    hooks.onTry = [&](const ProbeTry& t) {
        if (written)
            written = c.write(c.inv.format == Format::Jsonl ? jsonLine(t) : textLine(t, portWidth));
    };
    hooks.stop = [&] { return Interrupted() || !written; };
    if (Verbose())
        hooks.onFrame = [](const QString& port, const FrameRecord& record) {
            std::fprintf(stderr, "%s %s\n", port.toLocal8Bit().constData(),
                         FrameTextLine(record).toLocal8Bit().constData());
            std::fflush(stderr);
        };
    return FindController(request, hooks);
}

// The end of a probe that was not cut short by its output: what was found,
// saved into the settings file with --save.
int probeEnd(Context& c, const ProbeOptions& o, const ProbeRequest& request, const ProbeResult& result,
             const QString& settingsPath)
{
    if (result.stopped && !result.found)
        return Fail(exit_code::kInterrupted, QStringLiteral("probe interrupted"));
    if (!result.found)
        return Fail(exit_code::kController,
                    QStringLiteral("no controller answered on %1 port(s) at %2 rate(s)")
                        .arg(request.ports.size())
                        .arg(request.rates.size()));
    const ProbeTry& found = *result.found;
    c.tell(QStringLiteral("found: %1 at %2 baud (%3 link)").arg(found.port).arg(found.baud).arg(linkName(found.link)));
    if (o.save) {
        if (!WriteSettings(settingsPath, found.port, QString::number(found.baud)))
            return Fail(exit_code::kDownload,
                        QStringLiteral("cannot write the settings file %1").arg(NativePath(settingsPath)));
        c.tell(QStringLiteral("saved to %1").arg(NativePath(settingsPath)));
    }
    return exit_code::kDone;
}

} // namespace

int RunProbe(Context& c, const ProbeOptions& o)
{
    const QString outputPath = c.inv.output.value_or(QString());
    if (c.inv.output && outputPath.isEmpty())
        return Fail(exit_code::kUsage, QStringLiteral("-o: no file named"));
    if (c.inv.trace)
        return Fail(exit_code::kUsage, QStringLiteral("probe: --trace does not apply (use -v to see every frame)"));
    const QString settingsPath = SettingsFilePath(QCoreApplication::applicationDirPath());
    const StoredSettings stored = QFileInfo(settingsPath).isFile() ? ReadSettings(settingsPath) : StoredSettings{};
    const ProbeRequest request = probeRequest(c, o, stored);
    if (request.ports.isEmpty())
        return Fail(exit_code::kController, QStringLiteral("no serial ports to try: name one with --port"));
    QString error;
    if (!outputPath.isEmpty() && !c.out.open(outputPath, &error))
        return Fail(exit_code::kUsage, FileErrorMessage(true, outputPath, error));
    // Set as each try is told (one at a time) and read by the stop hook, which
    // the ports' threads ask at any moment with --parallel.
    std::atomic<bool> written = true;
    const ProbeResult result = tryEach(c, request, written);
    if (!written)
        return c.writeFailure();
    return probeEnd(c, o, request, result, settingsPath);
}

} // namespace tessavin::cli
