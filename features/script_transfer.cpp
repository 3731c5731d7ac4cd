#include "features/script_transfer.h"

#include "util/open_files.h"
#include "protocol/register_link.h"
#include "features/retry.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace tessavin {

ScriptFile LoadScriptFile(const QString& path, TransferBuffer& transfer)
{
    ScriptFile result;
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    // One byte more than fits tells a script that is too long, whatever the size claims.
    const QByteArray bytes = file.read(static_cast<qint64>(kScriptMaxBytes) + 1);
    result.size = std::max<qint64>(file.size(), bytes.size());
    if (bytes.isEmpty() && file.error() != QFileDevice::NoError)
        return result;
    if (bytes.isEmpty()) {
        result.status = ScriptFileStatus::Empty;
        return result;
    }
    if (static_cast<std::size_t>(bytes.size()) > kScriptMaxBytes) {
        result.status = ScriptFileStatus::TooLong;
        return result;
    }
    transfer.clear();
    std::memcpy(transfer.bytes.data(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
    transfer.length = static_cast<std::int32_t>(bytes.size());
    result.status = ScriptFileStatus::Loaded;
    return result;
}

QString ScriptTooLongMessage(qint64 size)
{
    return QStringLiteral("Script not sent: the file holds %1 bytes, at most %2 fit in one request")
        .arg(size)
        .arg(kScriptMaxBytes);
}

QByteArray ScriptShownBytes(const std::uint8_t* bytes, std::size_t n)
{
    const auto* end = std::find(bytes, bytes + n, std::uint8_t{0});
    return QByteArray(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(end - bytes));
}

ScriptSendResult SendTransferScript(Session& session)
{
    ScriptSendResult result;
    const std::int32_t n = session.transfer.length;
    if (n <= 0 || static_cast<std::size_t>(n) > kScriptMaxBytes)
        return result;
    const std::size_t length = BuildRegDataRequest(session.frame, reg::kScriptDown, session.transfer.bytes.data(),
                                                   static_cast<std::size_t>(n));
    if (length == 0)
        return result;
    result.sent = true;
    result.error = RegCommandExchange(session.link, session.frame, length, session.replies);
    return result;
}

ScriptDownResult SendScriptFile(Session& session, const QString& path,
                                const std::function<void(const QByteArray& shown)>& loaded)
{
    ScriptDownResult result;
    result.file = LoadScriptFile(path, session.transfer);
    if (result.file.status != ScriptFileStatus::Loaded)
        return result;
    if (loaded)
        loaded(ScriptShownBytes(session.transfer.bytes.data(), static_cast<std::size_t>(session.transfer.length)));
    const ScriptSendResult sent = SendTransferScript(session);
    result.sent = sent.sent;
    result.replied = sent.replied();
    result.error = sent.error;
    return result;
}

ScriptUpResult ReceiveScript(Session& session)
{
    ScriptUpResult result;
    // The read changes nothing: a missing or damaged reply is asked for again
    // (retry.h). A valid reply without a script byte is the answer, not a fault.
    bool noScript = false;
    const auto reply = ReadWithRetries(session, LinkKind::Register, QStringLiteral("script read"), [&] {
        const std::size_t length = BuildRegRequest(session.frame, reg::kScriptUp);
        auto raw = RegExchangeRaw(session.link, session.frame, length, session.replies);
        if (raw.ok())
            raw.error = RegReplyCheck(session.frame, raw.value);
        if (raw.ok())
            raw.value = RegReplyLength(session.frame) + 6u; // bytes behind the stated end are no part of it
        noScript = raw.ok() && raw.value < kScriptReplyMinimum;
        return noScript ? LinkResult<std::size_t>{raw.value, LinkError::None} : raw;
    });
    const std::size_t n = reply.value;
    result.received = n;
    if (!reply.ok() || noScript) {
        result.error = noScript ? LinkError::TooShort : reply.error;
        return result;
    }
    result.ok = true;
    auto& frame = session.frame;
    result.script = QByteArray(reinterpret_cast<const char*>(frame.data() + 8), static_cast<qsizetype>(n - 10));
    // The first checksum byte becomes the end of the shown text.
    frame[n - 2] = 0;
    result.shown = ScriptShownBytes(frame.data() + 8, n - 8);
    return result;
}

ScriptUpResult ReadScriptBack(Session& session, const QString& path)
{
    ScriptUpResult result = ReceiveScript(session);
    if (!result.ok)
        return result;
    OutputFile file;
    const bool created = file.create(path);
    result.saved = created && file.write(result.script);
    if (!result.saved)
        result.fileError = FileErrorMessage(!created, path, file.errorString());
    file.close();
    return result;
}

LinkError ClearScript(Session& session)
{
    const std::size_t length = BuildRegRequest(session.frame, reg::kLogBegin);
    return RegCommandExchange(session.link, session.frame, length, session.replies);
}

} // namespace tessavin
