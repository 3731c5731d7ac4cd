#include "cli_commands.h"

#include "cli_args.h"
#include "cli_context.h"
#include "cli_operations.h"

#include "conversions.h"
#include "service_commands.h"

#include <cstdio>
#include <memory>
#include <optional>

namespace tessavin::cli {

namespace {

// The link's timing from TESSAVIN_LINK_TIMING ("idle-gap=15,first-byte-tries=5"):
// for tests, which cannot wait 13 s for each silence. Unset: the system's values.
std::optional<LinkTiming> linkTiming(QString* error)
{
    LinkTiming timing;
    const QString text = qEnvironmentVariable("TESSAVIN_LINK_TIMING");
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString key = item.section(QLatin1Char('='), 0, 0).trimmed();
        const auto value = ParseInteger(item.section(QLatin1Char('='), 1));
        if (!value || *value < 0) {
            *error = QStringLiteral("TESSAVIN_LINK_TIMING: '%1' is not NAME=milliseconds").arg(item);
            return std::nullopt;
        }
        const LinkTiming::ms ms(*value);
        if (key == QLatin1String("first-byte-pause"))
            timing.firstBytePause = ms;
        else if (key == QLatin1String("first-byte-wait"))
            timing.firstByteWait = ms;
        else if (key == QLatin1String("first-byte-tries") && *value > 0)
            timing.firstByteTries = *value;
        else if (key == QLatin1String("idle-gap"))
            timing.idleGap = ms;
        else if (key == QLatin1String("pump-slice") && *value > 0)
            timing.pumpSlice = ms;
        else {
            *error = QStringLiteral("TESSAVIN_LINK_TIMING: unknown or bad '%1'").arg(item);
            return std::nullopt;
        }
    }
    return timing;
}

int runCommand(Context& c)
{
    const QString name = c.inv.command->fullName();
    if (name == QLatin1String("log info"))
        return RunLogInfo(c);
    if (name == QLatin1String("log read"))
        return RunLogRead(c);
    if (name == QLatin1String("log clear"))
        return RunLogSwitch(c, SwitchCommand::ClearLog, QStringLiteral("event log cleared"));
    if (name == QLatin1String("log start"))
        return RunLogSwitch(c, SwitchCommand::StartLogging, QStringLiteral("logging started"));
    if (name == QLatin1String("log stop"))
        return RunLogSwitch(c, SwitchCommand::StopLogging, QStringLiteral("logging stopped"));
    if (name == QLatin1String("archive read"))
        return RunArchiveRead(c);
    if (name == QLatin1String("config status"))
        return RunConfigStatus(c);
    if (name == QLatin1String("config set-test"))
        return RunConfigCommand(c, false);
    if (name == QLatin1String("config reboot"))
        return RunConfigCommand(c, true);
    if (name == QLatin1String("config upload"))
        return RunConfigUpload(c);
    if (name == QLatin1String("config download"))
        return RunConfigDownload(c);
    if (name == QLatin1String("device ident"))
        return RunDeviceRead(c, false);
    if (name == QLatin1String("device pressure"))
        return RunDeviceRead(c, true);
    if (name == QLatin1String("device register"))
        return RunDeviceRegister(c);
    if (name == QLatin1String("script send"))
        return RunScriptSend(c);
    if (name == QLatin1String("script read"))
        return RunScriptRead(c);
    if (name == QLatin1String("script clear"))
        return RunScriptClear(c);
    return RunRespond(c);
}

} // namespace

int RunCli(const QStringList& arguments)
{
    const ParseResult parsed = ParseCommandLine(arguments);
    if (!parsed.invocation) {
        if (!parsed.out.isEmpty()) {
            std::fputs(parsed.out.toLocal8Bit().constData(), stdout);
            std::fflush(stdout);
        }
        if (!parsed.error.isEmpty())
            Say(parsed.error);
        return parsed.exitCode;
    }
    const Invocation& inv = *parsed.invocation;
    SetVerbose(inv.has(QStringLiteral("verbose")));
    if (!inv.command->needsPort)
        return RunPorts(inv);

    QString error;
    const auto timing = linkTiming(&error);
    if (!timing)
        return Fail(exit_code::kUsage, error);
    // A Session holds the 50,000-byte Transfer buffer: on the heap, not the stack.
    auto context = std::make_unique<Context>(inv, *timing);
    const int code = runCommand(*context);
    context->finishTrace();
    return code;
}

} // namespace tessavin::cli
