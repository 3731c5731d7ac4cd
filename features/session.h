#pragma once
// The process-wide state that every operation shares: the port, the Frame buffer,
// the Transfer buffer with its length, the Stop flag and the log geometry.
#include "protocol/register_link.h"
#include "serial/serial_link.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

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
    // The port is the caller's (the real one: QSerialBytePort). No clock: the computer's.
    Session(LinkTiming timing, std::shared_ptr<BytePort> port, std::shared_ptr<Clock> clock = nullptr)
        : link(timing, std::move(port), std::move(clock))
    {
    }

    SerialLink link;
    FrameBuffer frame{};
    TransferBuffer transfer;

    // How register replies end for the whole run: chosen once, at start, from the
    // front end's option and the stored settings (either one turns fast replies
    // on); every register exchange of the features passes it down.
    RegReplies replies = RegReplies::Standard;
    void chooseFastReplies(bool option, bool stored)
    {
        replies = option || stored ? RegReplies::Fast : RegReplies::Standard;
    }

    // Set by Stop (and by tessavin-cli on Ctrl+C or a failed write); cleared by
    // the window's event-log download when it starts.
    bool stopRequested = false;

    // How many more times a failed read request is sent (retry.h); 0 never.
    int retries = 0;
    // Read requests that were sent again, counted once each.
    int retried = 0;

    // Log geometry: begin (shared with the archive download), count, capacity.
    int begin = 0;
    int count = 0;
    int capacity = 0;

    // A trace line of the configuration link: a note in the frame log, where the
    // Diagnostic window reads it.
    void addTrace(const QString& line) { link.frameLog().note(LinkKind::Config, line); }
    // The same as a sink for the configuration frame builders.
    std::function<void(const QString&)> trace()
    {
        return [this](const QString& line) { addTrace(line); };
    }
};

} // namespace tessavin
