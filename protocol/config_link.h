#pragma once
// The configuration link: one frame kind, two builders and the transaction that
// sends a frame and judges the reply.
//
// Frame: 05 64, their Frame checksum (03 0B), unit 01, function, big-endian
// address, 00, count or command code, data, and the Frame checksum of every byte
// from offset 4 on (low byte first).
//   Command frame: function 6, address 0, the code at offset 9; always 12 bytes.
//   Data frame: function 16 (write) or 17 (read request), the address, the data
//   count n (1 to 255) at offset 9 and the n data bytes; n + 12 bytes.
// Reply: byte 0 non-zero (it and byte 1 may not both be 0), byte 1 the result
// code, byte 2 the number of data bytes that follow from offset 3, and behind
// the data the Frame checksum of every byte before it. The controller sends that
// checksum; a controller that does not is still understood (ConfigReplyChecksum).
//
// Every operation here writes its trace lines to a sink (the Diagnostic memo).
#include "serial/link_error.h"
#include "serial/serial_link.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace tessavin {

// Each configuration operation builds its frame and receives its reply in a
// buffer of its own of this size.
constexpr std::size_t kConfigFrameSize = 1008;
using ConfigFrame = std::array<std::uint8_t, kConfigFrameSize>;

constexpr std::size_t kConfigCommandFrameSize = 12;
// The most data bytes a Data frame carries (the count is one byte).
constexpr std::size_t kConfigMaxData = 255;

// Receives one trace line; an empty sink drops them.
using ConfigTrace = std::function<void(const QString&)>;

namespace cfg {
constexpr std::uint8_t kUnit = 0x01;

constexpr std::uint8_t kFunctionCommand = 6;
constexpr std::uint8_t kFunctionWrite = 16;
constexpr std::uint8_t kFunctionRead = 17;

constexpr std::uint8_t kDownloadStart = 0x15; // 21
constexpr std::uint8_t kDownloadStop = 0x17; // 23
constexpr std::uint8_t kUploadTestConfig = 0x18; // 24
constexpr std::uint8_t kSetTestMode = 0x36; // 54
constexpr std::uint8_t kStatusQuery = 0x37; // 55
constexpr std::uint8_t kUploadConfig = 0x3D; // 61
constexpr std::uint8_t kReboot = 0x63; // 99
} // namespace cfg

// With n = 0: the Command frame for `code` (data and address unused), no trace
// line, returns 12. With n = 1..255: a Data frame with function 16 carrying the
// n bytes at `address` (code unused); traces "Comm ->(<n+8>) " followed by the
// frame from offset 4 on, each byte as two hex digits and one blank; returns
// n + 12. A larger n builds nothing and returns 0.
std::size_t BuildConfigFrame(std::uint8_t code, ConfigFrame& frame, const std::uint8_t* data, std::size_t n,
                             std::uint16_t address, const ConfigTrace& trace);

// The same with function 17, and the trace line's bytes written without blanks.
std::size_t BuildConfigReadFrame(std::uint8_t code, ConfigFrame& frame, const std::uint8_t* data, std::size_t n,
                                 std::uint16_t address, const ConfigTrace& trace);

// The verdict on a reply: InvalidReply unless at least two bytes came and bytes
// 0 and 1 are not both 0.
LinkError ConfigReplyCheck(const std::uint8_t* bytes, std::size_t received);
// The same for a chunk reply of an upload, which must also hold the data bytes
// its byte 2 announces (Truncated otherwise). A reply of two bytes announces none.
LinkError ConfigChunkCheck(const std::uint8_t* bytes, std::size_t received);

// The checksum behind a reply's data (byte 2 announces n data bytes from offset
// 3; a reply of two bytes announces none): Valid when bytes 3+n and 4+n are the
// Frame checksum of bytes 0 to 2+n; Absent when the reply ends with its data (or
// before); Failed when bytes follow the data and they are not its checksum.
// Bytes behind the checksum are not looked at.
enum class ConfigChecksum { Valid, Absent, Failed };
ConfigChecksum ConfigReplyChecksum(const std::uint8_t* bytes, std::size_t received);

// Sends the first `length` bytes of the buffer and receives the reply into the
// same buffer from offset 0, after zeroing bytes 0 to 3 so that a short reply
// leaves zeros behind it. Traces "bool Send =<length>", the whole frame in hex
// (each byte followed by one blank; nothing beyond the frame), and
// "bool Send, ReadBuf=<count> <byte 0> <byte 1>". None when the check (by default
// ConfigReplyCheck) passes; otherwise why not.
LinkError ConfigTransact(SerialLink& link, const ConfigTrace& trace, ConfigFrame& frame, std::size_t length,
                         const ReplyCheck& check = ConfigReplyCheck);

// Bytes as upper-case hex pairs, each followed by `separator` (may be empty).
QString ConfigHex(const std::uint8_t* bytes, std::size_t n, QStringView separator);

} // namespace tessavin
