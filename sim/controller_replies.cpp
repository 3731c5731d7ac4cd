#include "sim/controller_replies.h"

#include "protocol/checksum.h"

#include <algorithm>

namespace tessavin::sim {

namespace {

void appendChecksum(QByteArray& bytes, qsizetype from)
{
    const std::uint16_t crc = FrameChecksum(reinterpret_cast<const std::uint8_t*>(bytes.constData()) + from,
                                            static_cast<std::size_t>(bytes.size() - from));
    bytes.append(static_cast<char>(crc & 0xFF));
    bytes.append(static_cast<char>(crc >> 8));
}

} // namespace

QByteArray Reply::bytes() const
{
    QByteArray out;
    for (const auto& part : parts)
        out += part.bytes;
    return out;
}

QByteArray WordBytes(int value)
{
    QByteArray out(2, '\0');
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>((value >> 8) & 0xFF);
    return out;
}

QByteArray LongBytes(std::uint32_t value)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

QByteArray ConfigReply(std::uint8_t result, const QByteArray& payload)
{
    QByteArray out;
    out.append(static_cast<char>(0x01)); // the unit: never 0, so the reply always reads as valid
    out.append(static_cast<char>(result));
    out.append(static_cast<char>(std::min<qsizetype>(payload.size(), 255)));
    out += payload.left(255);
    appendChecksum(out, 0);
    return out;
}

QByteArray RegisterReply(std::uint8_t command, std::uint8_t function, const QByteArray& payload)
{
    const int length = static_cast<int>(payload.size()) + 4;
    QByteArray out;
    out.append(static_cast<char>(0x05));
    out.append(static_cast<char>(0x64));
    out += WordBytes(length);
    appendChecksum(out, 0);
    out.append(static_cast<char>(command));
    out.append(static_cast<char>(function));
    out += payload;
    appendChecksum(out, 6);
    return out;
}

} // namespace tessavin::sim
