#pragma once
// What the fuzz targets share: reading typed values off the front of an input,
// a check that stops the run with a message, and reference answers computed
// without the code under test (UTF-8 validity, the register reply check).
//
// Every target is one LLVMFuzzerTestOneInput. Built with -DTESSAVIN_FUZZ=ON under
// clang it runs under libFuzzer; built with replay_main.cpp it feeds the committed
// corpus to the same function as a plain test.
#include "protocol/register_link.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Ends the run (and lets libFuzzer keep the input) when a property does not hold.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);                      \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

namespace tessavin::fuzz {

// Takes typed values off the front of the input; once it runs dry every value
// reads as zero and every byte string as empty, so any input is usable.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) { }

    bool empty() const { return pos_ >= size_; }
    std::size_t left() const { return size_ - pos_; }

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t u16()
    {
        const std::uint16_t low = byte();
        return static_cast<std::uint16_t>(low | (byte() << 8));
    }
    std::uint32_t u32()
    {
        const std::uint32_t low = u16();
        return low | (static_cast<std::uint32_t>(u16()) << 16);
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

    // Up to n bytes.
    QByteArray bytes(std::size_t n)
    {
        const std::size_t take = std::min(n, left());
        QByteArray out(reinterpret_cast<const char*>(data_ + pos_), static_cast<qsizetype>(take));
        pos_ += take;
        return out;
    }
    // A byte string led by its length (one byte).
    QByteArray chunk() { return bytes(byte()); }
    QByteArray rest() { return bytes(left()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

inline const std::uint8_t* bytesOf(const QByteArray& bytes)
{
    return reinterpret_cast<const std::uint8_t*>(bytes.constData());
}

// Well-formed UTF-8 decided byte by byte: no overlong forms, no surrogates,
// nothing above U+10FFFF, no cut sequence. A leading byte order mark is simply
// the character U+FEFF.
inline bool WellFormedUtf8(const QByteArray& bytes)
{
    const auto* p = bytesOf(bytes);
    const std::size_t n = static_cast<std::size_t>(bytes.size());
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t b = p[i];
        std::size_t extra = 0;
        std::uint32_t code = 0;
        std::uint32_t least = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, code = b & 0x1F, least = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, code = b & 0x0F, least = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, code = b & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (n - i - 1 < extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

// The verdict of the program's own register reply check on bytes as they would
// arrive in the Frame buffer. The one place that calls the check, so a change of
// its signature is mended here.
inline bool ProgramAcceptsRegisterReply(const QByteArray& reply)
{
    if (reply.isEmpty() || static_cast<std::size_t>(reply.size()) > kFrameBufferSize)
        return false;
    FrameBuffer frame{};
    std::memcpy(frame.data(), reply.constData(), static_cast<std::size_t>(reply.size()));
    return RegReplyValid(frame, static_cast<std::size_t>(reply.size()));
}

} // namespace tessavin::fuzz
