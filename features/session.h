#pragma once
// The process-wide state that every operation shares: the port, the Frame buffer,
// the Transfer buffer with its length, the Stop flag and the log geometry.
#include "register_link.h"
#include "serial_link.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

namespace tessavin {

constexpr std::size_t kTransferBufferSize = 50000;

struct TransferBuffer {
    std::array<std::uint8_t, kTransferBufferSize> bytes{};
    std::int32_t length = 0;

    void clear() { bytes.fill(0); }
    // Whether a text of n bytes fits with its terminating zero.
    static bool fits(std::size_t n) { return n + 1 <= kTransferBufferSize; }
};

struct Session {
    explicit Session(LinkTiming timing = {}) : link(timing) {}

    SerialLink link;
    FrameBuffer frame{};
    TransferBuffer transfer;

    // Set by Stop; cleared by the event-log download when it starts.
    std::uint8_t stopFlag = 0;

    // Log geometry: begin (shared with the archive download), count, capacity.
    int begin = 0;
    int count = 0;
    int capacity = 0;

    // Receives the trace lines of the configuration link (the Diagnostic memo).
    std::function<void(const QString&)> trace;

    void addTrace(const QString& line) const
    {
        if (trace)
            trace(line);
    }
};

} // namespace tessavin
