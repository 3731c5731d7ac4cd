// tessavin-cli respond: the window's Start button, until a signal ends it.
#include "cli_context.h"
#include "cli_operations.h"

#include "conversions.h"
#include "poll_responder.h"

#include <QLocale>
#include <QTime>

namespace tessavin::cli {

int RunRespond(Context& c)
{
    struct Field {
        QString name;
        QString fallback;
        bool offset;
    };
    QStringList texts;
    for (const Field& f : {Field{QStringLiteral("day"), QStringLiteral("28"), false},
                           Field{QStringLiteral("add1"), QStringLiteral("0"), true},
                           Field{QStringLiteral("add2"), QStringLiteral("0"), true}}) {
        const QString text = c.inv.has(f.name) ? c.inv.value(f.name) : f.fallback;
        const auto value = ParseInteger(text);
        if (!value)
            return Fail(exit_code::kUsage, QStringLiteral("--%1: %2").arg(f.name, NotAnIntegerMessage(text)));
        if (!f.offset && (*value < 1 || *value > 31))
            return Fail(exit_code::kUsage, QStringLiteral("--day: %1 is out of range (1 to 31)").arg(*value));
        if (f.offset && !DeviceClock(QTime(0, 0), *value))
            return Fail(exit_code::kUsage,
                        QStringLiteral("--%1: the offset must lie between -%2 and %2 seconds")
                            .arg(f.name)
                            .arg(poll::kOffsetLimit - 1));
        texts << text;
    }
    CatchInterrupts();
    if (auto code = c.start())
        return *code;

    Session& s = c.session;
    bool writeFailed = false;
    PollResponderHooks hooks;
    hooks.inputs = [&texts] {
        return PollInputs{texts[0], texts[1], texts[2], QTime::currentTime(), QLocale::system().decimalPoint()};
    };
    hooks.stopRequested = [&] { return Interrupted() || writeFailed || !s.link.isOpen(); };
    hooks.poll.trace = [&](const QString& line) {
        if (!c.write(c.out.textLine(line.toUtf8() + "\r\n")))
            writeFailed = true;
    };
    const PollResponderEnd end = RunPollResponder(s, hooks);
    if (writeFailed)
        return c.writeFailure();
    if (!end.error.isEmpty())
        return Fail(exit_code::kController, QStringLiteral("%1: %2").arg(c.device, end.error));
    if (!s.link.isOpen())
        return c.linkFailure(QStringLiteral("responder"), LinkError::PortLost);
    c.tell(QStringLiteral("%1 polls received, %2 answered").arg(end.polls).arg(end.answered));
    return exit_code::kDone;
}

} // namespace tessavin::cli
