#include "protocol/register_link.h"

#include "protocol/checksum.h"
#include "serial/serial_link.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tessavin {

namespace {

void writeHeader(FrameBuffer& frame, std::size_t bodyLength)
{
    frame[0] = 0x05;
    frame[1] = 0x64;
    frame[2] = static_cast<std::uint8_t>(bodyLength & 0xFF);
    frame[3] = static_cast<std::uint8_t>(bodyLength >> 8);
    AppendChecksum(frame.data(), 4);
}

void writeBody(FrameBuffer& frame, std::uint8_t command, std::uint8_t function, std::uint16_t index,
               std::uint16_t count)
{
    frame[6] = command;
    frame[7] = function;
    frame[8] = static_cast<std::uint8_t>(index & 0xFF);
    frame[9] = static_cast<std::uint8_t>(index >> 8);
    frame[10] = static_cast<std::uint8_t>(count & 0xFF);
    frame[11] = static_cast<std::uint8_t>(count >> 8);
}

struct Reply {
    std::size_t received = 0;
    LinkError verdict = LinkError::None; // why nothing came, or the reply check's verdict
};

Reply exchange(SerialLink& link, FrameBuffer& frame, std::size_t length, RegReplies replies)
{
    link.sendBytes(LinkKind::Register, frame.data(), std::min(length, frame.size()));
    const auto got = link.receiveReply(
        LinkKind::Register, frame.data(), frame.size(),
        [&frame](const std::uint8_t*, std::size_t n) { return RegReplyCheck(frame, n); },
        replies == RegReplies::Fast ? ReplyEndRule(RegReplyEnd) : ReplyEndRule());
    return {got.count, got.error};
}

// The reply of a reading operation: checked, and with a payload of at least `need` bytes.
LinkError readReply(SerialLink& link, FrameBuffer& frame, std::size_t length, RegReplies replies, std::size_t need)
{
    const Reply reply = exchange(link, frame, length, replies);
    if (reply.verdict != LinkError::None)
        return reply.verdict;
    return RegReplyLength(frame) - 4u < need ? LinkError::TooShort : LinkError::None;
}

std::uint32_t valueAt8(const FrameBuffer& frame)
{
    return static_cast<std::uint32_t>(frame[8]) | (static_cast<std::uint32_t>(frame[9]) << 8)
        | (static_cast<std::uint32_t>(frame[10]) << 16) | (static_cast<std::uint32_t>(frame[11]) << 24);
}

} // namespace

std::size_t BuildRegRequest(FrameBuffer& frame, std::uint8_t command, std::uint16_t index, std::uint16_t count)
{
    writeHeader(frame, 8);
    writeBody(frame, command, reg::kFunctionPlain, index, count);
    AppendChecksum(frame.data() + 6, 6);
    return kRegRequestSize;
}

std::size_t BuildRegDataRequest(FrameBuffer& frame, std::uint8_t command, const std::uint8_t* data, std::size_t n)
{
    if (n > kRegMaxData)
        return 0;
    writeHeader(frame, 8 + n);
    writeBody(frame, command, reg::kFunctionData, 0, static_cast<std::uint16_t>(n));
    if (n > 0)
        std::memmove(frame.data() + 12, data, n);
    AppendChecksum(frame.data() + 6, 6 + n);
    return kRegRequestSize + n;
}

std::uint16_t RegReplyLength(const FrameBuffer& frame)
{
    return static_cast<std::uint16_t>(frame[2] | (frame[3] << 8));
}

ReplyEnd RegReplyEnd(const std::uint8_t* bytes, std::size_t count)
{
    if (count < 6)
        return {ReplyEnd::Kind::NotYet, 0};
    const std::size_t length = static_cast<std::size_t>(bytes[2] | (bytes[3] << 8));
    if (!ChecksumMatches(bytes, 4) || length < kRegMinLength || length > kRegMaxLength)
        return {ReplyEnd::Kind::Unstated, 0};
    return {ReplyEnd::Kind::Stated, length + 6};
}

LinkError RegReplyCheck(const FrameBuffer& frame, std::size_t received)
{
    if (received == 0)
        return LinkError::NoReply;
    // Behind the bytes received the buffer still holds the request (or an older
    // reply), checksums and all: only received bytes can make a reply.
    if (received < 6)
        return LinkError::Truncated;
    if (!ChecksumMatches(frame.data(), 4))
        return LinkError::BadHeaderChecksum;
    const std::size_t length = RegReplyLength(frame);
    if (length < kRegMinLength || length > kRegMaxLength)
        return LinkError::LengthOutOfRange;
    if (received < length + 6)
        return LinkError::Truncated;
    if (!ChecksumMatches(frame.data() + 6, length - 2))
        return LinkError::BadBodyChecksum;
    return LinkError::None;
}

LinkError RegExchange(SerialLink& link, FrameBuffer& frame, std::size_t length, RegReplies replies)
{
    const Reply reply = exchange(link, frame, length, replies);
    return reply.received > 0 ? LinkError::None : reply.verdict;
}

LinkError RegCommandExchange(SerialLink& link, FrameBuffer& frame, std::size_t length, RegReplies replies)
{
    return exchange(link, frame, length, replies).verdict;
}

LinkResult<std::size_t> RegExchangeRaw(SerialLink& link, FrameBuffer& frame, std::size_t length, RegReplies replies)
{
    const Reply reply = exchange(link, frame, length, replies);
    return {reply.received, reply.received > 0 ? LinkError::None : reply.verdict};
}

LinkResult<std::uint16_t> RegReadWord(SerialLink& link, FrameBuffer& frame, std::size_t length, RegReplies replies)
{
    const LinkError error = readReply(link, frame, length, replies, 2);
    if (error != LinkError::None)
        return {0, error};
    return {static_cast<std::uint16_t>(frame[8] | (frame[9] << 8)), error};
}

LinkResult<std::int32_t> RegReadLong(SerialLink& link, FrameBuffer& frame, std::size_t length, RegReplies replies)
{
    const LinkError error = readReply(link, frame, length, replies, 4);
    if (error != LinkError::None)
        return {0, error};
    return {static_cast<std::int32_t>(valueAt8(frame)), error};
}

LinkResult<float> RegReadFloat(SerialLink& link, FrameBuffer& frame, std::size_t length, RegReplies replies)
{
    const LinkError error = readReply(link, frame, length, replies, 4);
    if (error != LinkError::None)
        return {0.0f, error};
    return {std::bit_cast<float>(valueAt8(frame)), error};
}

LinkResult<std::size_t> RegReadBlock(SerialLink& link, FrameBuffer& frame, std::size_t length, RegReplies replies)
{
    const LinkError error = readReply(link, frame, length, replies, 1);
    if (error != LinkError::None)
        return {0, error};
    const std::size_t payload = RegReplyLength(frame) - 4u;
    std::memmove(frame.data(), frame.data() + 8, payload);
    return {payload, error};
}

} // namespace tessavin
