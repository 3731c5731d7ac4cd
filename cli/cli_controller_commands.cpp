// tessavin-cli's single commands to the controller: the log switches, the
// configuration link, the device readings and the script.
#include "cli/cli_context.h"
#include "cli/cli_operations.h"

#include "features/config/config_commands.h"
#include "features/config/config_text.h"
#include "features/config/config_transfer.h"
#include "util/open_files.h"
#include "features/script_transfer.h"
#include "features/service_commands.h"

#include <QFileInfo>
#include <QTemporaryFile>

namespace tessavin::cli {

int RunLogSwitch(Context& c, SwitchCommand command, const QString& done)
{
    if (auto code = c.start())
        return *code;
    if (const LinkError error = SendSwitchCommand(c.session, command); error != LinkError::None)
        return c.commandFailure(c.inv.command->fullName(), error);
    c.tell(done);
    return exit_code::kDone;
}

int RunLogClear(Context& c, const Confirmation& o)
{
    if (!c.confirmed(o.yes, QStringLiteral("erases the event log")))
        return exit_code::kUsage;
    return RunLogSwitch(c, SwitchCommand::ClearLog, QStringLiteral("event log cleared"));
}

// ---- the configuration link ----

int RunConfigStatus(Context& c)
{
    if (auto code = c.start())
        return *code;
    const auto status = StatusQuery(c.session);
    if (!status.ok())
        return c.linkFailure(QStringLiteral("status query"), status.error);
    const QString message = StatusQueryText(status.value).trimmed();
    const QByteArray text = c.inv.format == Format::Jsonl
        ? JsonObject().integer("status", status.value).string("message", message).line()
        : QStringLiteral("%1 (status %2)\n").arg(message).arg(status.value).toUtf8();
    if (!c.write(text))
        return c.writeFailure();
    // A bad configuration is a failure of the controller's, so that scripts see it.
    return status.value == 0 ? exit_code::kDone : exit_code::kController;
}

int RunConfigCommand(Context& c, bool reboot)
{
    if (auto code = c.start())
        return *code;
    const LinkError error = reboot ? RebootController(c.session) : SetTestMode(c.session);
    // The controller restarts either way: the port is closed whatever the result.
    if (reboot)
        c.closePort();
    if (error != LinkError::None)
        return c.commandFailure(c.inv.command->fullName(), error);
    c.tell(reboot ? QStringLiteral("reboot sent") : QStringLiteral("test mode set"));
    return exit_code::kDone;
}

// ---- device and script ----

int RunDeviceRead(Context& c, bool pressure)
{
    if (auto code = c.start())
        return *code;
    const ServiceReading reading = pressure ? ReadPressure(c.session) : ReadDeviceNumber(c.session);
    if (!reading.ok)
        return c.linkFailure(pressure ? QStringLiteral("pressure") : QStringLiteral("device number"), reading.error);
    const QString value = reading.text.trimmed();
    const QByteArray text = c.inv.format == Format::Jsonl
        ? JsonObject().number(pressure ? "pressure" : "device_number", value.toUtf8()).line()
        : (value + QLatin1Char('\n')).toUtf8();
    return c.write(text) ? exit_code::kDone : c.writeFailure();
}

int RunDeviceRegister(Context& c, const Confirmation& o)
{
    if (!c.confirmed(o.yes, QStringLiteral("registers the device")))
        return exit_code::kUsage;
    if (auto code = c.start())
        return *code;
    if (const LinkError error = SendSwitchCommand(c.session, SwitchCommand::Registration); error != LinkError::None)
        return c.commandFailure(QStringLiteral("registration"), error);
    c.tell(QStringLiteral("registration sent"));
    return exit_code::kDone;
}

int RunScriptSend(Context& c)
{
    const QString path = c.inv.argument;
    QTemporaryFile copy;
    const ScriptFile file = LoadScriptFile(InputPath(path, copy, static_cast<qint64>(kScriptMaxBytes)),
                                           c.session.transfer);
    switch (file.status) {
    case ScriptFileStatus::Loaded:
        break;
    case ScriptFileStatus::Unreadable:
        return Fail(exit_code::kUsage, Unreadable(path));
    case ScriptFileStatus::Empty:
        return Fail(exit_code::kUsage, QStringLiteral("%1: empty: nothing to send").arg(NativePath(path)));
    case ScriptFileStatus::TooLong:
        return Fail(exit_code::kUsage, QStringLiteral("%1: %2").arg(NativePath(path), ScriptTooLongMessage(file.size)));
    }
    if (auto code = c.start())
        return *code;
    // One request: the line shows the bytes on their way until the reply.
    ProgressLine progress(!c.quiet && StderrIsTerminal(), "bytes");
    progress.update(0, static_cast<int>(c.session.transfer.length));
    const ScriptSendResult sent = SendTransferScript(c.session);
    progress.finish();
    if (!sent.replied())
        return c.commandFailure(QStringLiteral("script"), sent.error);
    c.tell(QStringLiteral("script sent (%1 bytes)").arg(c.session.transfer.length));
    return exit_code::kDone;
}

int RunScriptRead(Context& c)
{
    if (auto code = c.start())
        return *code;
    // The output is written here, so that stdout serves as well as a file.
    const ScriptUpResult result = ReceiveScript(c.session);
    // A well-formed reply with no script byte: the controller holds none.
    if (result.noScript())
        return Fail(exit_code::kController,
                    QStringLiteral("%1: script read: the controller holds no script").arg(c.device));
    if (!result.ok)
        return c.linkFailure(QStringLiteral("script read"), result.error);
    return c.write(result.script) ? exit_code::kDone : c.writeFailure();
}

int RunScriptClear(Context& c, const Confirmation& o)
{
    if (!c.confirmed(o.yes, QStringLiteral("clears the script")))
        return exit_code::kUsage;
    if (auto code = c.start())
        return *code;
    if (const LinkError error = ClearScript(c.session); error != LinkError::None)
        return c.commandFailure(QStringLiteral("script clear"), error);
    // The request is the log's begin question (command 25): the controller's
    // answer says it arrived, not that a script was erased.
    c.tell(QStringLiteral("clear request sent; the controller answered"));
    return exit_code::kDone;
}

} // namespace tessavin::cli
