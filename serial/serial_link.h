#pragma once
// The one serial port of the process and the only ways to it: sendBytes,
// receiveReply and receiveAny. Every wait lets window events run through the
// pump hook, so the window stays live and Stop works in the middle of a wait.
// The rules (first-byte tries, idle gap, buffer capacity) run here, on any port
// (byte_port.h) and any clock (clock.h); every frame passes the frame log.
#include "serial/byte_port.h"
#include "serial/clock.h"
#include "serial/frame_log.h"
#include "serial/link_error.h"
#include "serial/timing.h"

#include <QByteArray>
#include <QString>

#include <algorithm>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tessavin {

// Judges the bytes of a reply that came (count > 0); LinkError::None when good.
using ReplyCheck = std::function<LinkError(const std::uint8_t* bytes, std::size_t count)>;

// What the first bytes of a reply say about where it ends: not yet known (more
// bytes are needed to tell), at a stated length, or not stated by these bytes
// (a wrong header: the reply then ends at the idle gap).
struct ReplyEnd {
    enum class Kind { NotYet, Stated, Unstated };
    Kind kind = Kind::Unstated;
    std::size_t length = 0; // Stated: the whole reply's length in bytes
};
// Reads the end a reply states from its first `count` bytes (without the echo).
using ReplyEndRule = std::function<ReplyEnd(const std::uint8_t* bytes, std::size_t count)>;

class SerialLink {
public:
    // The port is the caller's: the system's serial port (MakeSystemPort in
    // system_port.h) or another. No clock: the computer's.
    SerialLink(LinkTiming timing, std::shared_ptr<BytePort> port, std::shared_ptr<Clock> clock = nullptr);
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

    const LinkTiming& timing() const { return timing_; }
    void setTiming(const LinkTiming& timing) { timing_ = timing; }
    Clock& clock() { return *clock_; }
    FrameLog& frameLog() { return log_; }

    // Opens the device exclusively at the baud rate, 8 data bits, no parity, one
    // stop bit, RTS cleared (where the device supports it). Any port open before
    // is closed first. On failure the port stays closed and *error says why.
    bool openPort(const QString& device, qint32 baud, PortOpenError* error = nullptr);
    // Closes the port. Bytes still readable after a reply that ended at its
    // stated length are logged as its trailing bytes first.
    void close();
    bool isOpen() const;
    QString deviceName() const;

    // Purges both directions, writes the frame, lets events run once and marks
    // the Activity label. The frame is logged when it went to an open port. A
    // failed write shows as a missing reply; the error says why.
    //
    // After a reply that ended at its stated length, the frame first waits out
    // the rest of the guard gap, and the bytes that came since that reply are
    // logged as its trailing bytes before the purge drops them.
    LinkError sendBytes(LinkKind link, const std::uint8_t* bytes, std::size_t count);

    struct Received {
        std::size_t count = 0; // bytes stored from buf[0]
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
    //
    // A reply given an end rule is a fast reply. Its first byte is taken as soon
    // as the port has it, within the same total limit as the first-byte rounds
    // (LinkTiming::firstByteLimit), and it ends as soon as the length its first
    // bytes state has arrived. A leading exact copy of the frame just sent is the
    // echo when more bytes follow it, and the rule reads what follows; a copy
    // with nothing after it ends at the idle gap, as does a reply whose bytes
    // state no end, and one that stops short of its end. Bytes read beyond the
    // stated end are logged as trailing bytes of the reply, and read as zeros in
    // buf; the next frame waits the guard gap (LinkTiming::guardGap at the baud
    // rate the port was opened with).
    Received receiveReply(LinkKind link, std::uint8_t* buf, std::size_t capacity, const ReplyCheck& check = {},
                          const ReplyEndRule& endRule = {});

    // Waits without limit for any bytes, then reads until the line is idle. Ends
    // with 0 when `stop` answers true. `firstByte` runs once when the first byte
    // of a frame has arrived, before the rest is read. What came is logged, as a
    // frame of its own even right after a reply that ended at its stated length.
    std::size_t receiveAny(LinkKind link, std::uint8_t* buf, std::size_t capacity, const std::function<bool()>& stop,
                           const std::function<void()>& firstByte = {});

    // Whether the request now on its way will be sent again if its reply fails.
    // While set, and once the controller has answered since the port opened,
    // receiveReply waits at most LinkTiming::retryFirstByteWait for the first byte.
    void setRepeatable(bool repeatable) { repeatable_ = repeatable; }

    // How many first-byte rounds the last receiveReply made (for a fast reply:
    // the rounds its wait would have taken).
    int lastFirstByteRounds() const { return lastRounds_; }

    // Lets events run for the given time (used for the fixed pauses of the links).
    void pause(std::chrono::milliseconds duration);

private:
    void pump();
    // Waits up to `limit` for bytes to be readable, letting events run. False on
    // time-out or when the port is gone (then it is closed).
    bool waitForBytes(std::chrono::milliseconds limit);
    // Moves what is readable into buf; what does not fit is dropped, or kept in
    // *beyond when given.
    void drain(std::uint8_t* buf, std::size_t capacity, std::size_t& count, QByteArray* beyond = nullptr);
    void readUntilIdle(std::uint8_t* buf, std::size_t capacity, std::size_t& count);
    // Reads until the reply's stated end (returned, counted from buf[0] with the
    // echo) or, when no end is stated or the bytes stop short, until the line is
    // idle. Bytes read on the way that do not fit buf are kept in `beyond`: past
    // a stated end they are the reply's trailing bytes.
    std::optional<std::size_t> readUntilStatedEnd(std::uint8_t* buf, std::size_t capacity, std::size_t& count,
                                                  const ReplyEndRule& endRule, QByteArray& beyond);
    // The end of a reply as far as its first `count` bytes tell (with the echo).
    ReplyEnd statedEnd(const std::uint8_t* buf, std::size_t count, const ReplyEndRule& endRule) const;
    // Logs whatever is readable now as trailing bytes of the reply that ended at
    // its stated length, and stops watching for them.
    void takeTrailing();
    void portLost();

    // A reply as read from the port, echo and all.
    struct Taken {
        std::vector<std::uint8_t> bytes; // room for the reply and an echo
        std::size_t total = 0; // bytes stored in `bytes`
        std::optional<std::size_t> end; // the stated end, when the reply ended there
        QByteArray beyond; // bytes read past that end that did not fit
        Clock::ms endedAt{0}; // when the stated end was in
        std::size_t count() const { return end ? std::min(total, *end) : total; }
    };
    // The steps of receiveReply: wait for the first byte (through the rounds, or
    // on the port's readiness); take the reply up to its end; find the echo in
    // front of it; after a stated end, log the bytes behind it and start the guard gap.
    bool awaitFirstByte(bool onReadiness);
    Taken takeReply(std::size_t capacity, const ReplyEndRule& endRule);
    std::size_t echoLength(const Taken& taken) const;
    void watchTrailing(LinkKind link, const Taken& taken);

    LinkTiming timing_;
    std::shared_ptr<BytePort> port_;
    std::shared_ptr<Clock> clock_;
    FrameLog log_;
    std::function<void()> pump_;
    std::function<void(const char*)> activity_;
    std::function<void(bool)> openChanged_;
    int lastRounds_ = 0;
    bool repeatable_ = false;
    bool answered_ = false; // a reply came since the port opened
    bool lost_ = false; // the port went away since the last send or receive began
    QByteArray lastSent_;
    qint32 baud_ = 0; // as the port was opened
    // After a reply that ended at its stated length: the earliest time of the
    // next frame, and the link whose trailing bytes are still watched for.
    std::optional<Clock::ms> guardUntil_;
    std::optional<LinkKind> trailingLink_;
};

} // namespace tessavin
