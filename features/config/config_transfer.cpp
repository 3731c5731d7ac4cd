#include "features/config/config_transfer.h"

#include "features/config/config_commands.h"
#include "protocol/config_link.h"
#include "features/retry.h"
#include "util/open_files.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <limits>

namespace tessavin {

namespace {

constexpr std::size_t kDownloadChunk = 40;

// Reads the upload's chunk at `offset` into `frame`, its checksum judged by
// `checksums`. A chunk request only reads: it is sent again while it fails
// (retry.h).
LinkError readChunk(Session& session, ConfigFrame& frame, std::size_t offset, ConfigChecksums& checksums)
{
    const std::uint8_t request = 0x00;
    const auto trace = session.trace();
    return ReadWithRetries(
        session, LinkKind::Config, QStringLiteral("configuration chunk at %1").arg(offset), [&](bool last) {
            const std::size_t length = BuildConfigReadFrame(0, frame, &request, 1, static_cast<std::uint16_t>(offset),
                                                            trace);
            return ConfigTransact(session.link, trace, frame, length,
                                  [&checksums, last](const std::uint8_t* bytes, std::size_t received) {
                                      const LinkError error = ConfigChunkCheck(bytes, received);
                                      return error == LinkError::None ? checksums.judge(bytes, received, !last) : error;
                                  });
        });
}

// Chunks taken unchecked before the controller showed its checksum may be
// damaged: the upload starts again from offset 0, the request being only a
// read. False, with the failure in `result`, when no request may be sent again.
bool readAgainFromStart(Session& session, ConfigChecksums& checksums, std::size_t& total, ConfigUploadResult& result)
{
    checksums.forgetUnchecked();
    if (session.retries == 0) {
        result.error = LinkError::BadChecksum;
        result.failedChunk = 0;
        return false;
    }
    ++session.retried;
    session.link.frameLog().note(LinkKind::Config,
                                 QStringLiteral("configuration chunks read again from 0: the controller sends "
                                                "checksums, and a chunk before %1 carried none that held")
                                     .arg(total));
    std::fill_n(session.transfer.bytes.begin(), total, std::uint8_t{0});
    total = 0;
    return true;
}

} // namespace

ConfigUploadResult ConfigUpload(Session& session, std::uint8_t code)
{
    ConfigUploadResult result;
    ConfigFrame frame{};
    ConfigChecksums checksums;
    result.error = RunConfigCommand(session, frame, code, [&](const std::uint8_t* bytes, std::size_t received) {
        checksums.observe(bytes, received);
        return ConfigReplyCheck(bytes, received);
    });
    if (result.error != LinkError::None)
        return result;
    std::size_t total = 0;
    for (;;) {
        const bool uncheckedBefore = checksums.takenUnchecked();
        result.error = readChunk(session, frame, total, checksums);
        if (result.error != LinkError::None) {
            result.failedChunk = total;
            return result;
        }
        if (uncheckedBefore && checksums.shown()) {
            if (!readAgainFromStart(session, checksums, total, result))
                return result;
            continue;
        }
        // The chunk's length; a reply of two bytes leaves the zero that the
        // transaction put here, which ends the upload.
        const std::size_t n = frame[2];
        if (n == 0) {
            result.length = static_cast<std::int32_t>(total);
            return result;
        }
        if (!TransferBuffer::fits(total + n)) {
            session.addTrace(
                QStringLiteral("Upload ->(%1) does not fit %2 bytes").arg(total + n).arg(kTransferTextLimit));
            result.tooLarge = true;
            return result;
        }
        std::memcpy(session.transfer.bytes.data() + total, frame.data() + 3, n);
        total += n;
        session.addTrace(QStringLiteral("Upload ->(%1) ").arg(total));
        session.addTrace(QStringLiteral("UP_NEXT ->(%1) ").arg(cfg::kFunctionRead));
    }
}

QString ConfigUploadFailure(const ConfigUploadResult& result)
{
    if (result.failedChunk)
        return QStringLiteral("chunk at offset %1: %2").arg(*result.failedChunk).arg(LinkErrorText(result.error));
    return LinkErrorText(result.error);
}

LinkResult<bool> ConfigDownload(Session& session, const std::uint8_t* bytes, std::size_t length,
                                const DownloadProgress& progress)
{
    if (length == 0 || !TransferBuffer::fits(length))
        return {false, LinkError::None};
    ConfigFrame frame{};
    const auto trace = session.trace();
    // Every step changes the controller: none is repeated, and once a reply has
    // shown the checksum, a step whose reply does not hold it is unconfirmed.
    ConfigChecksums checksums;
    const auto check = [&checksums](const std::uint8_t* bytes, std::size_t received) {
        const LinkError error = ConfigChunkCheck(bytes, received);
        return error == LinkError::None ? checksums.judge(bytes, received, false) : error;
    };
    if (const LinkError error = RunConfigCommand(session, frame, cfg::kDownloadStart, check);
        error != LinkError::None) {
        session.addTrace(QStringLiteral("Command START Send not ok"));
        return {false, error};
    }
    session.addTrace(QStringLiteral("Command START Send ok"));
    for (std::size_t address = 0; address < length; address += kDownloadChunk) {
        const std::size_t n = std::min(kDownloadChunk, length - address);
        session.addTrace(QStringLiteral("DOWN_NEXT   adr=%1 n=%2").arg(address).arg(n));
        const std::size_t frameLength = BuildConfigFrame(0, frame, bytes + address, n,
                                                         static_cast<std::uint16_t>(address), trace);
        session.addTrace(QStringLiteral("Command NEXT Send length = %1").arg(frameLength));
        if (const LinkError error = ConfigTransact(session.link, trace, frame, frameLength, check);
            error != LinkError::None) {
            session.addTrace(QStringLiteral("Command NEXT Send not ok"));
            return {false, error};
        }
        session.addTrace(QStringLiteral("Command NEXT Send ok"));
        if (progress && !progress(address + n, length))
            return {false, LinkError::None};
    }
    if (const LinkError error = RunConfigCommand(session, frame, cfg::kDownloadStop, check); error != LinkError::None) {
        session.addTrace(QStringLiteral("Command STOP Send not ok"));
        return {false, error};
    }
    session.addTrace(QStringLiteral("Command STOP Send ok!!!"));
    return {true, LinkError::None};
}

bool PutTransferText(TransferBuffer& transfer, const QByteArray& text)
{
    if (!TransferBuffer::fits(static_cast<std::size_t>(text.size())))
        return false;
    transfer.clear();
    std::memcpy(transfer.bytes.data(), text.constData(), static_cast<std::size_t>(text.size()));
    return true;
}

QByteArray TransferText(const TransferBuffer& transfer)
{
    const auto* begin = transfer.bytes.data();
    const auto* end = std::find(begin, begin + transfer.bytes.size(), std::uint8_t{0});
    return QByteArray(reinterpret_cast<const char*>(begin), end - begin);
}

ConfigFileResult ReadConfigFile(const QString& path, TransferBuffer& transfer)
{
    ConfigFileResult result;
    QFile file(path);
    // Reading and writing, as the system has always opened it: a file that cannot
    // be written is not taken. No truncation, and nothing is ever written to it.
    if (!file.open(QIODevice::ReadWrite))
        return result;
    result.size = file.size();
    if (result.size == 0) {
        result.outcome = ConfigFileOutcome::Empty;
        return result;
    }
    if (result.size < 0 || !TransferBuffer::fits(static_cast<std::size_t>(result.size))) {
        result.outcome = ConfigFileOutcome::TooLarge;
        return result;
    }
    transfer.clear();
    transfer.length = static_cast<std::int32_t>(result.size);
    file.read(reinterpret_cast<char*>(transfer.bytes.data()), result.size);
    result.outcome = ConfigFileOutcome::Read;
    return result;
}

QString WriteConfigFile(const QString& path, const QByteArray& bytes, TransferBuffer& transfer)
{
    transfer.length = static_cast<std::int32_t>(
        std::min<qsizetype>(bytes.size(), std::numeric_limits<std::int32_t>::max()));
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return FileErrorMessage(true, path, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.flush())
        return FileErrorMessage(false, path, file.errorString());
    return {};
}

QString ConfigTooLargeMessage(qint64 size)
{
    return QStringLiteral("Too large: %1 bytes; a configuration holds at most %2 bytes.")
        .arg(size)
        .arg(kTransferTextLimit);
}

} // namespace tessavin
