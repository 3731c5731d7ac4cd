#include "cli/cli_commands.h"

#include "cli/cli_args.h"
#include "cli/cli_context.h"

#include "util/conversions.h"
#include "features/service_commands.h"

#include <cstdio>
#include <memory>
#include <optional>

namespace tessavin::cli {

namespace {

// The link's timing from TESSAVIN_LINK_TIMING ("idle-gap=15,first-byte-tries=5"):
// for tests, which cannot wait 13 s for each silence. Unset: the system's values.
// Set, it is said once on stderr, so that a stray variable does not pass for a
// controller that stopped answering.
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
    if (!text.isEmpty())
        Say(QStringLiteral("TESSAVIN_LINK_TIMING=%1 changes the link's waits; a real controller needs them "
                           "unchanged (unset it)")
                .arg(text));
    return timing;
}

} // namespace

int RunCli(const QStringList& arguments)
{
    const ParseResult parsed = ParseCommandLine(arguments);
    if (!parsed.invocation) {
        if (!parsed.out.isEmpty()) {
            // Help or version that did not reach stdout (a full disk, a closed pipe) is a failure.
            const bool written = std::fputs(parsed.out.toLocal8Bit().constData(), stdout) >= 0;
            if (std::fflush(stdout) != 0 || !written)
                return Fail(exit_code::kDownload, QStringLiteral("cannot write to stdout"));
        }
        if (!parsed.error.isEmpty())
            Say(parsed.error);
        return parsed.exitCode;
    }
    const Invocation& inv = *parsed.invocation;
    SetVerbose(inv.verbose);
    QString error;
    const auto timing = inv.command->needsPort ? linkTiming(&error) : LinkTiming{};
    if (!timing)
        return Fail(exit_code::kUsage, error);
    // A Session holds the 50,000-byte Transfer buffer: on the heap, not the stack.
    auto context = std::make_unique<Context>(inv, *timing);
    const int code = inv.run(*context);
    // A trace or an output that could not all be written turns success into failure.
    if (!context->finish(code == exit_code::kDone) && code == exit_code::kDone)
        return exit_code::kDownload;
    return code;
}

} // namespace tessavin::cli
