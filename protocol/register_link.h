#pragma once
// The register and log link: requests built in the Frame buffer, replies received
// into it, and the six exchange operations.
//
// Request: 05 64, length (bytes after the header checksum), header checksum,
// command, function, index, count, data, body checksum; all little-endian.
// Reply: start bytes, length L, header checksum, two bytes, L - 4 payload bytes,
// body checksum over the L - 2 bytes from offset 6.
#include "serial/link_error.h"
#include "serial/serial_link.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessavin {

constexpr std::size_t kFrameBufferSize = 1000;
using FrameBuffer = std::array<std::uint8_t, kFrameBufferSize>;

constexpr std::size_t kRegRequestSize = 14;
// The most data bytes a data request can carry in the Frame buffer.
constexpr std::size_t kRegMaxData = kFrameBufferSize - kRegRequestSize;

namespace reg {
constexpr std::uint8_t kFunctionPlain = 6;
constexpr std::uint8_t kFunctionData = 12;

constexpr std::uint8_t kScriptDown = 0x0C;
constexpr std::uint8_t kScriptUp = 0x0E;
constexpr std::uint8_t kLogBegin = 0x19; // also Clr script: the same bytes
constexpr std::uint8_t kLogRecord = 0x1A;
constexpr std::uint8_t kLogClear = 0x1B;
constexpr std::uint8_t kLogCount = 0x1C;
constexpr std::uint8_t kLogCapacity = 0x1D;
constexpr std::uint8_t kIdent = 0x2C;
constexpr std::uint8_t kPressure = 0x2D;
constexpr std::uint8_t kLogStart = 0x33;
constexpr std::uint8_t kLogStop = 0x34;
constexpr std::uint8_t kArchiveBegin = 0x5B;
constexpr std::uint8_t kArchiveRecord = 0x5C;
constexpr std::uint8_t kRegistration = 0x5D;
} // namespace reg

// Builds a plain request (function 6) with the given index and count; returns 14.
std::size_t BuildRegRequest(FrameBuffer& frame, std::uint8_t command, std::uint16_t index = 0, std::uint16_t count = 0);

// Builds the data request (function 12, index 0, count n, the n data bytes).
// The 16-bit length and count fields are filled whole. Returns 14 + n, or 0 (and
// builds nothing) when n exceeds kRegMaxData.
std::size_t BuildRegDataRequest(FrameBuffer& frame, std::uint8_t command, const std::uint8_t* data, std::size_t n);

// The reply check shared by the reading operations, in this order: something
// came (NoReply), the header is all there (Truncated), the header checksum
// matches (BadHeaderChecksum), 4 <= L <= 994 (LengthOutOfRange), all L + 6 bytes
// came (Truncated), and the body checksum matches (BadBodyChecksum). The start
// bytes, bytes 6-7 and bytes beyond L + 6 are not examined.
LinkError RegReplyCheck(const FrameBuffer& frame, std::size_t received);
inline bool RegReplyValid(const FrameBuffer& frame, std::size_t received)
{
    return RegReplyCheck(frame, received) == LinkError::None;
}

// The reply's length field L (offsets 2-3).
std::uint16_t RegReplyLength(const FrameBuffer& frame);

// The shortest and longest L a reply may state: L + 6 bytes fill the Frame buffer at most.
constexpr std::size_t kRegMinLength = 4;
constexpr std::size_t kRegMaxLength = kFrameBufferSize - 6;

// Where a reply ends, from its first bytes, for fast replies: not yet known
// before the six header bytes are in; L + 6 bytes once the header checksum
// matches and L is within kRegMinLength..kRegMaxLength; not stated otherwise
// (the reply then ends at the idle gap and RegReplyCheck says what is wrong).
ReplyEnd RegReplyEnd(const std::uint8_t* bytes, std::size_t count);

// How the replies of an exchange end: at the idle gap, or, with fast replies, as
// soon as the length they state has arrived (RegReplyEnd), each then followed by
// the guard gap (serial_link.h). The session chooses; the exchange passes the end
// rule down only for fast replies.
enum class RegReplies { Standard, Fast };

// Each sends the first `length` bytes of the Frame buffer and receives the reply
// into it from offset 0. The reply is logged with the verdict of RegReplyCheck
// whatever the operation makes of it.
//
// RegExchange and RegExchangeRaw succeed on any reply byte; the reply is not
// examined (Raw: the value is the number of bytes received).
LinkError RegExchange(SerialLink& link, FrameBuffer& frame, std::size_t length,
                      RegReplies replies = RegReplies::Standard);
LinkResult<std::size_t> RegExchangeRaw(SerialLink& link, FrameBuffer& frame, std::size_t length,
                                       RegReplies replies = RegReplies::Standard);
// A request that changes the controller: None when a reply came that passes the
// check; otherwise why not. A reply that came but fails it (ReplyDamaged) leaves
// the change unconfirmed.
LinkError RegCommandExchange(SerialLink& link, FrameBuffer& frame, std::size_t length,
                             RegReplies replies = RegReplies::Standard);
// The reading operations need a reply that passes the check and whose payload
// holds what they read (TooShort otherwise); on failure the value is 0 (0.0).
LinkResult<std::uint16_t> RegReadWord(SerialLink& link, FrameBuffer& frame, std::size_t length,
                                      RegReplies replies = RegReplies::Standard);
LinkResult<std::int32_t> RegReadLong(SerialLink& link, FrameBuffer& frame, std::size_t length,
                                     RegReplies replies = RegReplies::Standard);
LinkResult<float> RegReadFloat(SerialLink& link, FrameBuffer& frame, std::size_t length,
                               RegReplies replies = RegReplies::Standard);
// Moves the L - 4 payload bytes to the start of the buffer and returns L - 4;
// 0 on failure (TooShort for an empty payload), leaving the buffer as received.
LinkResult<std::size_t> RegReadBlock(SerialLink& link, FrameBuffer& frame, std::size_t length,
                                     RegReplies replies = RegReplies::Standard);

} // namespace tessavin
