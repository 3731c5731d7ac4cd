// tessavin-cli respond: the window's Start button, until a signal ends it.
#include "cli/cli_context.h"
#include "cli/cli_operations.h"

#include "features/poll_responder.h"

#include <QLocale>
#include <QTime>

namespace tessavin::cli {

int RunRespond(Context& c, const RespondOptions& o)
{
    // The responder reads its fields as the window's text boxes hold them.
    const QStringList texts{QString::number(o.day), QString::number(o.add1), QString::number(o.add2)};
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
