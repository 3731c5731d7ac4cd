#include "serial/port_list.h"

#include "cli/cli_context.h"
#include "cli/cli_operations.h"
#include "serial/frame_log.h"
#include "util/open_files.h"

#include <algorithm>

namespace tessavin::cli {

int RunPorts(Context& c)
{
    const Invocation& inv = c.inv;
    for (const auto& [given, name] :
         {std::pair{inv.output.has_value(), "output"}, std::pair{inv.trace.has_value(), "trace"}})
        if (given)
            return Fail(exit_code::kUsage,
                        QStringLiteral("ports: option '--%1' does not apply here").arg(QLatin1String(name)));
    Output out;
    const QList<PortEntry> list = ListSerialPorts();
    QByteArray text;
    if (inv.format == Format::Jsonl) {
        for (const PortEntry& p : list)
            text += JsonObject()
                        .stringOrNull("name", p.name)
                        .stringOrNull("path", p.path)
                        .stringOrNull("description", p.description)
                        .stringOrNull("manufacturer", p.manufacturer)
                        .stringOrNull("serial_number", p.serialNumber)
                        .stringOrNull("vid_pid", p.vidPid)
                        .stringOrNull("by_id", p.byId)
                        .line();
    } else if (!list.isEmpty()) {
        QList<QStringList> rows{{QStringLiteral("NAME"), QStringLiteral("PATH"), QStringLiteral("VID:PID"),
                                 QStringLiteral("SERIAL"), QStringLiteral("MANUFACTURER"),
                                 QStringLiteral("DESCRIPTION"), QStringLiteral("BY-ID")}};
        const auto dash = [](const QString& v) { return v.isEmpty() ? QStringLiteral("-") : v; };
        for (const PortEntry& p : list)
            rows << QStringList{
                p.name,      p.path, dash(p.vidPid), dash(p.serialNumber), dash(p.manufacturer), dash(p.description),
                dash(p.byId)};
        QList<qsizetype> widths(rows[0].size(), 0);
        for (const QStringList& r : rows)
            for (qsizetype i = 0; i < r.size(); ++i)
                widths[i] = std::max(widths[i], r[i].size());
        for (const QStringList& r : rows) {
            QString line;
            for (qsizetype i = 0; i < r.size(); ++i)
                line += i + 1 < r.size() ? r[i].leftJustified(widths[i] + 2) : r[i];
            text += line.toUtf8() + '\n';
        }
    }
    if (list.isEmpty() && !inv.quiet)
        std::fprintf(stderr, "no serial ports found\n");
    if (!out.write(text))
        return Fail(exit_code::kDownload, out.errorString());
    return exit_code::kDone;
}

} // namespace tessavin::cli
