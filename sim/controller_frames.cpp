#include "sim/controller_frames.h"

#include "protocol/config_link.h"

namespace tessavin::sim {

FrameKind ClassifyFrame(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return {};
    const std::uint8_t first = ByteAt(bytes, 0);
    if (first == 0x55)
        return FrameKind::pollAnswer();
    if (first == 0xAA || first == 0xFF)
        return FrameKind::poll();
    if (first != 0x05 || bytes.size() < 2 || ByteAt(bytes, 1) != 0x64)
        return {};
    if (bytes.size() >= 4 && ByteAt(bytes, 2) == 0x03 && ByteAt(bytes, 3) == 0x0B)
        return {LinkKind::Config};
    return {LinkKind::Register};
}

std::optional<int> ExpectedRequestLength(const QByteArray& bytes)
{
    if (bytes.size() < 4 || ByteAt(bytes, 0) != 0x05 || ByteAt(bytes, 1) != 0x64)
        return std::nullopt;
    if (ByteAt(bytes, 2) == 0x03 && ByteAt(bytes, 3) == 0x0B) {
        // A register request never has a length of 0x0B03 (it would not fit the
        // 1000-byte buffer), so these four bytes mean the configuration link.
        if (bytes.size() < 10)
            return std::nullopt;
        const int function = ByteAt(bytes, 5);
        if (function == cfg::kFunctionCommand)
            return 12;
        if (function == cfg::kFunctionWrite || function == cfg::kFunctionRead)
            return 12 + ((ByteAt(bytes, 8) << 8) | ByteAt(bytes, 9));
        return std::nullopt;
    }
    return (ByteAt(bytes, 2) | (ByteAt(bytes, 3) << 8)) + 6;
}

} // namespace tessavin::sim
