#pragma once
// The Frame checksum shared by every frame of both links and by the poll answers:
// CRC-16 with the reflected polynomial 0xA001, initial value 0xFFFF, no final
// inversion, stored low byte first right behind the bytes it covers.
#include <cstddef>
#include <cstdint>

namespace tessavin {

// The checksum of n bytes as a number ("123456789" gives 0x4B37).
std::uint16_t FrameChecksum(const std::uint8_t* bytes, std::size_t n);

// Writes the checksum of bytes[0..n-1] into bytes[n] (low) and bytes[n+1] (high).
// The caller guarantees room for n + 2 bytes.
void AppendChecksum(std::uint8_t* bytes, std::size_t n);

// True when bytes[n] and bytes[n+1] hold the checksum of bytes[0..n-1], low byte first.
bool ChecksumMatches(const std::uint8_t* bytes, std::size_t n);

} // namespace tessavin
