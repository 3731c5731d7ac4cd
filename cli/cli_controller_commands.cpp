// tessavin-cli's single commands to the controller: the log switches, the
// configuration link, the device readings and the script.
#include "cli_context.h"
#include "cli_operations.h"

#include "config_commands.h"
#include "config_text.h"
#include "config_transfer.h"
#include "open_files.h"
#include "script_transfer.h"
#include "service_commands.h"

#include <QFileInfo>

namespace tessavin::cli {

int RunLogSwitch(Context& c, SwitchCommand command, const QString& done)
{
    if (command == SwitchCommand::ClearLog && !c.confirmed(QStringLiteral("erases the event log")))
        return exit_code::kUsage;
    if (auto code = c.start())
        return *code;
    if (const LinkError error = SendSwitchCommand(c.session, command); error != LinkError::None)
        return c.linkFailure(c.inv.command->fullName(), error);
    c.tell(done);
    return exit_code::kDone;
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
    const QString text = c.inv.format == Format::Jsonl
        ? QStringLiteral("{\"status\":%1,\"message\":").arg(status.value) + QString::fromUtf8(JsonQuoted(message)) + QStringLiteral("}\n")
        : QStringLiteral("%1 (status %2)\n").arg(message).arg(status.value);
    return c.write(text.toUtf8()) ? exit_code::kDone : c.writeFailure();
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
        return c.linkFailure(c.inv.command->fullName(), error);
    c.tell(reboot ? QStringLiteral("reboot sent") : QStringLiteral("test mode set"));
    return exit_code::kDone;
}

int RunConfigUpload(Context& c)
{
    if (auto code = c.start())
        return *code;
    Session& s = c.session;
    s.transfer.clear();
    const bool test = c.inv.has(QStringLiteral("test"));
    const ConfigUploadResult result = ConfigUpload(s, test ? cfg::kUploadTestConfig : cfg::kUploadConfig);
    const QString what = test ? QStringLiteral("test configuration upload") : QStringLiteral("configuration upload");
    if (result.error != LinkError::None)
        return c.linkFailure(what, result.error);
    if (result.tooLarge)
        return Fail(exit_code::kController,
                    QStringLiteral("%1: %2: more than %3 bytes").arg(c.device, what).arg(kTransferTextLimit));
    if (result.length == 0)
        return Fail(exit_code::kController, QStringLiteral("%1: %2: the controller sent nothing").arg(c.device, what));
    return c.write(TransferText(s.transfer)) ? exit_code::kDone : c.writeFailure();
}

int RunConfigDownload(Context& c)
{
    const QString path = c.inv.arguments.value(0);
    QByteArray bytes;
    bool tooLarge = false;
    if (!ReadWholeFile(path, static_cast<qint64>(kTransferTextLimit), &bytes, &tooLarge))
        return Fail(exit_code::kUsage,
                    tooLarge ? QStringLiteral("%1: %2").arg(NativePath(path), ConfigTooLargeMessage(QFileInfo(path).size()))
                             : Unreadable(path));
    // What the window sends after opening the file: the text up to its first
    // zero byte, its lines joined by CR LF, in the encoding it came in.
    const DecodedConfigText decoded = DecodeConfigText(UpToFirstZero(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    const QByteArray text = EncodeConfigText(decoded.text, decoded.encoding);
    if (text.isEmpty())
        return Fail(exit_code::kUsage, QStringLiteral("%1: empty: nothing to send").arg(NativePath(path)));
    if (!PutTransferText(c.session.transfer, text))
        return Fail(exit_code::kUsage, QStringLiteral("%1: %2").arg(NativePath(path), ConfigTooLargeMessage(text.size())));
    if (auto code = c.start())
        return *code;
    const auto sent = ConfigDownload(c.session, c.session.transfer.bytes.data(), static_cast<std::size_t>(text.size()));
    if (!sent.value)
        return c.linkFailure(QStringLiteral("configuration download"), sent.error);
    c.tell(QStringLiteral("configuration sent (%1 bytes)").arg(text.size()));
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
    const QString text = c.inv.format == Format::Jsonl
        ? QStringLiteral("{\"%1\":%2}\n").arg(pressure ? QStringLiteral("pressure") : QStringLiteral("device_number"), value)
        : value + QLatin1Char('\n');
    return c.write(text.toUtf8()) ? exit_code::kDone : c.writeFailure();
}

int RunDeviceRegister(Context& c)
{
    if (!c.confirmed(QStringLiteral("registers the device")))
        return exit_code::kUsage;
    if (auto code = c.start())
        return *code;
    if (const LinkError error = SendSwitchCommand(c.session, SwitchCommand::Registration); error != LinkError::None)
        return c.linkFailure(QStringLiteral("registration"), error);
    c.tell(QStringLiteral("registration sent"));
    return exit_code::kDone;
}

int RunScriptSend(Context& c)
{
    const QString path = c.inv.arguments.value(0);
    const ScriptFile file = LoadScriptFile(path, c.session.transfer);
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
    const ScriptSendResult sent = SendTransferScript(c.session);
    if (!sent.replied())
        return c.linkFailure(QStringLiteral("script"), sent.error);
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
    if (result.error == LinkError::TooShort && result.received == kScriptReplyMinimum - 1)
        return Fail(exit_code::kController, QStringLiteral("%1: script read: the controller holds no script").arg(c.device));
    if (!result.ok)
        return c.linkFailure(QStringLiteral("script read"), result.error);
    return c.write(result.script) ? exit_code::kDone : c.writeFailure();
}

int RunScriptClear(Context& c)
{
    if (!c.confirmed(QStringLiteral("clears the script")))
        return exit_code::kUsage;
    if (auto code = c.start())
        return *code;
    if (const LinkError error = ClearScript(c.session); error != LinkError::None)
        return c.linkFailure(QStringLiteral("script clear"), error);
    c.tell(QStringLiteral("script cleared"));
    return exit_code::kDone;
}

} // namespace tessavin::cli
