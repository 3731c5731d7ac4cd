#include "register_link.h"

#include "checksum.h"
#include "serial_link.h"

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

void writeBody(FrameBuffer& frame, std::uint8_t command, std::uint8_t function,
               std::uint16_t index, std::uint16_t count)
{
    frame[6] = command;
    frame[7] = function;
    frame[8] = static_cast<std::uint8_t>(index & 0xFF);
    frame[9] = static_cast<std::uint8_t>(index >> 8);
    frame[10] = static_cast<std::uint8_t>(count & 0xFF);
    frame[11] = static_cast<std::uint8_t>(count >> 8);
}

std::size_t exchange(SerialLink& link, FrameBuffer& frame, std::size_t length)
{
    link.SendBytes(frame.data(), std::min(length, frame.size()));
    return link.ReceiveReply(frame.data(), frame.size());
}

} // namespace

std::size_t BuildRegRequest(FrameBuffer& frame, std::uint8_t command, std::uint16_t index,
                            std::uint16_t count)
{
    writeHeader(frame, 8);
    writeBody(frame, command, reg::kFunctionPlain, index, count);
    AppendChecksum(frame.data() + 6, 6);
    return kRegRequestSize;
}

std::size_t BuildRegDataRequest(FrameBuffer& frame, std::uint8_t command, const std::uint8_t* data,
                                std::size_t n)
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

bool RegReplyValid(const FrameBuffer& frame, std::size_t received)
{
    if (received == 0)
        return false;
    if (!ChecksumMatches(frame.data(), 4))
        return false;
    const std::size_t length = RegReplyLength(frame);
    if (length < 4 || length + 6 > frame.size())
        return false;
    return ChecksumMatches(frame.data() + 6, length - 2);
}

bool RegExchange(SerialLink& link, FrameBuffer& frame, std::size_t length)
{
    return exchange(link, frame, length) > 0;
}

std::size_t RegExchangeRaw(SerialLink& link, FrameBuffer& frame, std::size_t length)
{
    return exchange(link, frame, length);
}

std::uint16_t RegReadWord(SerialLink& link, FrameBuffer& frame, std::size_t length)
{
    if (!RegReplyValid(frame, exchange(link, frame, length)))
        return 0;
    return static_cast<std::uint16_t>(frame[8] | (frame[9] << 8));
}

std::int32_t RegReadLong(SerialLink& link, FrameBuffer& frame, std::size_t length)
{
    if (!RegReplyValid(frame, exchange(link, frame, length)))
        return 0;
    const std::uint32_t raw = static_cast<std::uint32_t>(frame[8]) | (static_cast<std::uint32_t>(frame[9]) << 8)
        | (static_cast<std::uint32_t>(frame[10]) << 16) | (static_cast<std::uint32_t>(frame[11]) << 24);
    return static_cast<std::int32_t>(raw);
}

float RegReadFloat(SerialLink& link, FrameBuffer& frame, std::size_t length)
{
    if (!RegReplyValid(frame, exchange(link, frame, length)))
        return 0.0f;
    const std::uint32_t raw = static_cast<std::uint32_t>(frame[8]) | (static_cast<std::uint32_t>(frame[9]) << 8)
        | (static_cast<std::uint32_t>(frame[10]) << 16) | (static_cast<std::uint32_t>(frame[11]) << 24);
    return std::bit_cast<float>(raw);
}

std::size_t RegReadBlock(SerialLink& link, FrameBuffer& frame, std::size_t length)
{
    if (!RegReplyValid(frame, exchange(link, frame, length)))
        return 0;
    const std::size_t payload = RegReplyLength(frame) - 4u;
    std::memmove(frame.data(), frame.data() + 8, payload);
    return payload;
}

} // namespace tessavin
