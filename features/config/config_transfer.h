#pragma once
// Configuration transfer: the controller's configuration (a JSON text, moved as
// bytes and never parsed) between the controller, the Transfer buffer and files.
// An upload goes from the controller to the computer, a download the other way.
//
// Upload: the Command frame with the upload code, then chunk requests (function
// 17, address = bytes received so far, one data byte 00) until a reply carries
// 0 bytes. Download: START (code 21), the text in chunks of at most 40 bytes
// (function 16, address = the chunk's offset), STOP (code 23). A transfer ends at
// its first failed transaction; a failed NEXT is not followed by STOP. Only the
// chunk requests, which only read, are sent again (retry.h).
//
// Each transfer holds the controller to the checksum behind its replies once one
// of them has carried it (ConfigChecksums): a chunk whose checksum then fails is
// damaged, and so is a download step's reply, which leaves the download
// unconfirmed. The replies of a controller that sends no checksum are taken
// as they come.
#include "features/session.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

#include <cstddef>
#include <cstdint>

namespace tessavin {

// The most text bytes the Transfer buffer takes: its terminating zero needs the last byte.
constexpr std::size_t kTransferTextLimit = kTransferBufferSize - 1;

struct ConfigUploadResult {
    // Bytes placed in the Transfer buffer; 0 on failure.
    std::int32_t length = 0;
    // The exchange that failed, when one did.
    LinkError error = LinkError::None;
    // When a chunk failed: the offset it was asked for at.
    std::optional<std::size_t> failedChunk;
    // The upload was ended because the next chunk would not have fit the buffer
    // with its terminating zero (length is 0 then, and nothing of it is shown).
    bool tooLarge = false;
};

// Reads the configuration (code cfg::kUploadConfig) or the test configuration
// (cfg::kUploadTestConfig) into the Transfer buffer, which the caller has
// cleared. Traces "Upload ->(<total>) " and "UP_NEXT ->(17) " after every chunk.
//
// Chunks taken before the controller showed its checksum are read again from the
// start once it has (with retries; without, the upload fails at the first of them).
ConfigUploadResult ConfigUpload(Session& session, std::uint8_t code);

// What is said of a failed upload: "chunk at offset 200: bad checksum", "no reply", ...
QString ConfigUploadFailure(const ConfigUploadResult& result);

// Sends `length` bytes to the controller: the value is true once STOP was
// answered; otherwise the error names the exchange's failure. False with no
// error (no traffic, no trace) when length is 0 or the text would not fit the
// Transfer buffer.
// `progress`, when given, hears the bytes sent after each block; false from it
// abandons the transfer before the next block (false with no error).
using DownloadProgress = std::function<bool(std::size_t sent, std::size_t total)>;
LinkResult<bool> ConfigDownload(Session& session, const std::uint8_t* bytes, std::size_t length,
                                const DownloadProgress& progress = {});

// Clears the Transfer buffer and copies the text to its start. False (and the
// buffer untouched) when the text would not fit with its terminating zero.
bool PutTransferText(TransferBuffer& transfer, const QByteArray& text);

// The Transfer buffer's text: its bytes up to the first zero.
QByteArray TransferText(const TransferBuffer& transfer);

enum class ConfigFileOutcome {
    Read, // the file's bytes are in the Transfer buffer
    Empty, // the file holds nothing; the Transfer buffer is as it was
    CannotOpen, // it could not be opened for reading and writing
    TooLarge, // it would not fit the Transfer buffer; nothing was read
};

struct ConfigFileResult {
    ConfigFileOutcome outcome = ConfigFileOutcome::CannotOpen;
    qint64 size = 0;
};

// Opens a configuration file for reading and writing (a missing file is created
// empty) without ever truncating or changing it. A file of size 1..49,999 is read
// whole into the cleared Transfer buffer and the Transfer length set to its size.
ConfigFileResult ReadConfigFile(const QString& path, TransferBuffer& transfer);

// Creates the file (replacing any of that name) and writes the bytes; sets the
// Transfer length to their count. Empty when written; otherwise the message
// (FileErrorMessage) that says which file and why.
QString WriteConfigFile(const QString& path, const QByteArray& bytes, TransferBuffer& transfer);

// The message shown when a text of `size` bytes does not fit the Transfer buffer.
QString ConfigTooLargeMessage(qint64 size);

} // namespace tessavin
