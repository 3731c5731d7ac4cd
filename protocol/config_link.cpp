#include "protocol/config_link.h"

#include "protocol/checksum.h"

#include <algorithm>
#include <cstring>

namespace tessavin {

namespace {

void addTrace(const ConfigTrace& trace, const QString& line)
{
    if (trace)
        trace(line);
}

// The four bytes every frame starts with: 05 64 and their checksum.
void writeFrameHeader(ConfigFrame& frame)
{
    frame[0] = 0x05;
    frame[1] = 0x64;
    AppendChecksum(frame.data(), 2);
    frame[4] = cfg::kUnit;
}

std::size_t buildFrame(std::uint8_t function, std::uint8_t code, ConfigFrame& frame, const std::uint8_t* data,
                       std::size_t n, std::uint16_t address, const ConfigTrace& trace, QStringView separator)
{
    if (n > kConfigMaxData || (n > 0 && data == nullptr))
        return 0;
    writeFrameHeader(frame);
    if (n == 0) {
        frame[5] = cfg::kFunctionCommand;
        frame[6] = 0;
        frame[7] = 0;
        frame[8] = 0;
        frame[9] = code;
        AppendChecksum(frame.data() + 4, 6);
        return kConfigCommandFrameSize;
    }
    frame[5] = function;
    frame[6] = static_cast<std::uint8_t>(address >> 8);
    frame[7] = static_cast<std::uint8_t>(address & 0xFF);
    frame[8] = 0;
    frame[9] = static_cast<std::uint8_t>(n);
    std::memmove(frame.data() + 10, data, n);
    AppendChecksum(frame.data() + 4, 6 + n);
    // Everything behind the four header bytes: the body and its checksum.
    addTrace(trace, QStringLiteral("Comm ->(%1) ").arg(n + 8) + ConfigHex(frame.data() + 4, n + 8, separator));
    return n + kConfigCommandFrameSize;
}

} // namespace

QString ConfigHex(const std::uint8_t* bytes, std::size_t n, QStringView separator)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(static_cast<qsizetype>(n * (2 + separator.size())));
    for (std::size_t i = 0; i < n; ++i) {
        text.append(QLatin1Char(kDigits[bytes[i] >> 4]));
        text.append(QLatin1Char(kDigits[bytes[i] & 0x0F]));
        text.append(separator);
    }
    return text;
}

std::size_t BuildConfigFrame(std::uint8_t code, ConfigFrame& frame, const std::uint8_t* data, std::size_t n,
                             std::uint16_t address, const ConfigTrace& trace)
{
    return buildFrame(cfg::kFunctionWrite, code, frame, data, n, address, trace, u" ");
}

std::size_t BuildConfigReadFrame(std::uint8_t code, ConfigFrame& frame, const std::uint8_t* data, std::size_t n,
                                 std::uint16_t address, const ConfigTrace& trace)
{
    return buildFrame(cfg::kFunctionRead, code, frame, data, n, address, trace, u"");
}

LinkError ConfigReplyCheck(const std::uint8_t* bytes, std::size_t received)
{
    return received >= 2 && (bytes[0] != 0 || bytes[1] != 0) ? LinkError::None : LinkError::InvalidReply;
}

LinkError ConfigChunkCheck(const std::uint8_t* bytes, std::size_t received)
{
    const LinkError error = ConfigReplyCheck(bytes, received);
    if (error == LinkError::None && received >= 3 && received < 3u + bytes[2])
        return LinkError::Truncated;
    return error;
}

ConfigChecksum ConfigReplyChecksum(const std::uint8_t* bytes, std::size_t received)
{
    const std::size_t data = received >= 3 ? 3u + bytes[2] : received;
    if (received <= data)
        return ConfigChecksum::Absent;
    return received >= data + 2 && ChecksumMatches(bytes, data) ? ConfigChecksum::Valid : ConfigChecksum::Failed;
}

LinkError ConfigTransact(SerialLink& link, const ConfigTrace& trace, ConfigFrame& frame, std::size_t length,
                         const ReplyCheck& check)
{
    // A length beyond the buffer is cut to it: nothing past the buffer is sent or listed.
    length = std::min(length, frame.size());
    addTrace(trace, QStringLiteral("bool Send =%1").arg(length));
    // The hexadecimal line lists the whole frame, header included.
    addTrace(trace, ConfigHex(frame.data(), length, u" "));
    link.sendBytes(LinkKind::Config, frame.data(), length);
    std::fill_n(frame.begin(), 4, std::uint8_t{0});
    const auto received = link.receiveReply(LinkKind::Config, frame.data(), frame.size(), check);
    addTrace(trace, QStringLiteral("bool Send, ReadBuf=%1 %2 %3").arg(received.count).arg(frame[0]).arg(frame[1]));
    return received.error;
}

} // namespace tessavin
