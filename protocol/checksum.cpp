#include "protocol/checksum.h"

namespace tessavin {

std::uint16_t FrameChecksum(const std::uint8_t* bytes, std::size_t n)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u) : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

void AppendChecksum(std::uint8_t* bytes, std::size_t n)
{
    const std::uint16_t crc = FrameChecksum(bytes, n);
    bytes[n] = static_cast<std::uint8_t>(crc & 0xFF);
    bytes[n + 1] = static_cast<std::uint8_t>(crc >> 8);
}

bool ChecksumMatches(const std::uint8_t* bytes, std::size_t n)
{
    const std::uint16_t crc = FrameChecksum(bytes, n);
    return bytes[n] == (crc & 0xFF) && bytes[n + 1] == (crc >> 8);
}

} // namespace tessavin
