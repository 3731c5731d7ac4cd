#pragma once
// The one serial port of the process and the only ways to it: SendBytes,
// ReceiveReply and ReceiveAny. Every wait lets window events run through the
// pump hook, so the window stays live and Stop works in the middle of a wait.
// The rules (first-byte tries, idle gap, buffer capacity) run here, on any port
// (byte_port.h) and any clock (clock.h); every frame passes the frame log.
#include "byte_port.h"
#include "clock.h"
#include "frame_log.h"
#include "link_error.h"
#include "timing.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace tessavin {

// The device that a port field names: a number N is COMN on Windows and
// /dev/ttyS(N-1) elsewhere (COM1 is ttyS0); any other text is used as the device
// name or path as it stands. Empty text gives an empty name (which fails to open).
QString PortDeviceName(const QString& field);

// Judges the bytes of a reply that came (count > 0); LinkError::None when good.
using ReplyCheck = std::function<LinkError(const std::uint8_t* bytes, std::size_t count)>;

class SerialLink {
public:
    // No port: the real serial port. No clock: the computer's.
    explicit SerialLink(LinkTiming timing = {}, std::shared_ptr<BytePort> port = nullptr,
                        std::shared_ptr<Clock> clock = nullptr);
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Lets pending window events run; called during every wait. Empty: nothing runs.
    void setPump(std::function<void()> pump) { pump_ = std::move(pump); }
    // Receives " . " for every frame sent and " + " for every reply received.
    void setActivity(std::function<void(const char*)> mark) { activity_ = std::move(mark); }
    // Told whenever the port opens or closes (also when it vanishes), so that the
    // open indicator stays the twin of the handle.
    void setOpenChanged(std::function<void(bool)> changed) { openChanged_ = std::move(changed); }

    // Fast replies: a register reply ends as soon as the bytes its length field
    // states are in, instead of at the idle gap. Off unless asked for.
    void setFastReplies(bool on) { fastReplies_ = on; }
    bool fastReplies() const { return fastReplies_; }

    const LinkTiming& timing() const { return timing_; }
    void setTiming(const LinkTiming& timing) { timing_ = timing; }
    Clock& clock() { return *clock_; }
    FrameLog& frameLog() { return log_; }

    // Opens the device exclusively at the baud rate, 8 data bits, no parity, one
    // stop bit, RTS cleared (where the device supports it). Any port open before
    // is closed first. On failure the port stays closed and *error says why.
    bool OpenPort(const QString& device, qint32 baud, PortOpenError* error = nullptr);
    void close();
    bool isOpen() const;
    QString deviceName() const;

    // Purges both directions, writes the frame, lets events run once and marks
    // the Activity label. The frame is logged when it went to an open port. A
    // failed write shows as a missing reply; the error says why.
    LinkError SendBytes(LinkKind link, const std::uint8_t* bytes, std::size_t count);

    struct Received {
        std::size_t count = 0;             // bytes stored from buf[0]
        LinkError error = LinkError::None; // why nothing came, or the check's verdict
    };

    // Waits for a first byte through up to firstByteTries rounds of a pause and a
    // one-byte wait; then takes bytes as they arrive until the line has been idle
    // for idleGap. Stores at most `capacity` bytes from buf[0]; bytes beyond it are
    // read and dropped until the line is idle. Nothing came: count 0, error
    // NoReply (PortClosed or PortLost when there was or is no port), Activity
    // label untouched. Otherwise the check (when given) judges the reply. The
    // reply is logged, as it came, with that verdict.
    //
    // A two-wire line echoes what was sent: when the bytes begin with an exact
    // copy of the frame just sent and more follow, the copy is the echo and the
    // reply is what follows it, up to `capacity` bytes of it (the echo takes no
    // room). (An echo alone cannot be told from a reply that repeats the
    // request, which a zero value can do; it is left as it came.)
    Received ReceiveReply(LinkKind link, std::uint8_t* buf, std::size_t capacity, const ReplyCheck& check = {});

    // Waits without limit for any bytes, then reads until the line is idle. Ends
    // with 0 when `stop` answers true. `firstByte` runs once when the first byte
    // of a frame has arrived, before the rest is read. What came is logged.
    std::size_t ReceiveAny(LinkKind link, std::uint8_t* buf, std::size_t capacity,
                           const std::function<bool()>& stop, const std::function<void()>& firstByte = {});

    // How many first-byte rounds the last ReceiveReply made.
    int lastFirstByteRounds() const { return lastRounds_; }

    // Lets events run for the given time (used for the fixed pauses of the links).
    void pause(std::chrono::milliseconds duration);

private:
    void pump();
    // Waits up to `limit` for bytes to be readable, letting events run. False on
    // time-out or when the port is gone (then it is closed).
    bool waitForBytes(std::chrono::milliseconds limit);
    // Moves what is readable into buf, dropping what does not fit.
    void drain(std::uint8_t* buf, std::size_t capacity, std::size_t& count);
    void readUntilIdle(std::uint8_t* buf, std::size_t capacity, std::size_t& count);
    void portLost();

    LinkTiming timing_;
    std::shared_ptr<BytePort> port_;
    std::shared_ptr<Clock> clock_;
    FrameLog log_;
    std::function<void()> pump_;
    std::function<void(const char*)> activity_;
    std::function<void(bool)> openChanged_;
    int lastRounds_ = 0;
    bool lost_ = false; // the port went away since the last send or receive began
    QByteArray lastSent_;
    bool fastReplies_ = false;
};

} // namespace tessavin
