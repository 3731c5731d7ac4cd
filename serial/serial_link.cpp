#include "serial/serial_link.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tessavin {

using std::chrono::milliseconds;

SerialLink::SerialLink(LinkTiming timing, std::shared_ptr<BytePort> port, std::shared_ptr<Clock> clock)
    : timing_(timing)
    , port_(std::move(port))
    , clock_(clock ? std::move(clock) : std::make_shared<SteadyClock>())
    , log_(clock_)
{
    LogFramesToCategories(log_);
}

SerialLink::~SerialLink() { port_->close(); }

bool SerialLink::isOpen() const { return port_->isOpen(); }

QString SerialLink::deviceName() const { return port_->deviceName(); }

bool SerialLink::openPort(const QString& device, qint32 baud, PortOpenError* error)
{
    close();
    PortOpenError failure;
    failure.device = device;
    if (device.isEmpty())
        failure.kind = PortOpenError::Kind::NoDeviceNamed;
    else if (baud <= 0)
        failure.kind = PortOpenError::Kind::BadBaud;
    else if (port_->open(device, baud, &failure)) {
        baud_ = baud;
        answered_ = false;
        if (openChanged_)
            openChanged_(true);
        return true;
    }
    if (error)
        *error = failure;
    return false;
}

void SerialLink::close()
{
    takeTrailing();
    guardUntil_.reset();
    const bool wasOpen = port_->isOpen();
    port_->close();
    if (wasOpen && openChanged_)
        openChanged_(false);
}

void SerialLink::portLost()
{
    lost_ = true;
    trailingLink_.reset(); // nothing more can be read
    close();
}

void SerialLink::pump()
{
    if (pump_)
        pump_();
}

void SerialLink::pause(milliseconds duration)
{
    const milliseconds start = clock_->now();
    for (;;) {
        pump();
        const milliseconds left = duration - (clock_->now() - start);
        if (left.count() <= 0)
            return;
        clock_->sleep(std::min(left, timing_.pumpSlice));
    }
}

bool SerialLink::waitForBytes(milliseconds limit)
{
    const milliseconds start = clock_->now();
    for (;;) {
        if (!isOpen())
            return false; // a read on a closed port fails at once
        if (port_->bytesAvailable() > 0)
            return true;
        const milliseconds left = limit - (clock_->now() - start);
        if (left.count() <= 0)
            return false;
        switch (port_->waitReadable(std::min(left, timing_.pumpSlice))) {
        case BytePort::Wait::Ready:
            return true;
        case BytePort::Wait::Lost:
            portLost();
            return false;
        case BytePort::Wait::TimedOut:
            break;
        }
        pump();
    }
}

void SerialLink::drain(std::uint8_t* buf, std::size_t capacity, std::size_t& count, QByteArray* beyond)
{
    std::uint8_t scratch[256];
    while (isOpen() && port_->bytesAvailable() > 0) {
        const std::size_t got = port_->read(scratch, sizeof scratch);
        if (got == 0)
            break;
        const std::size_t room = count < capacity ? capacity - count : 0;
        const std::size_t take = std::min(room, got);
        std::copy(scratch, scratch + take, buf + count);
        count += take;
        if (beyond && got > take)
            beyond->append(reinterpret_cast<const char*>(scratch + take), static_cast<qsizetype>(got - take));
    }
}

void SerialLink::readUntilIdle(std::uint8_t* buf, std::size_t capacity, std::size_t& count)
{
    drain(buf, capacity, count);
    while (waitForBytes(timing_.idleGap))
        drain(buf, capacity, count);
}

ReplyEnd SerialLink::statedEnd(const std::uint8_t* buf, std::size_t count, const ReplyEndRule& endRule) const
{
    // The echo of a two-wire line comes first: while the bytes are a copy of the
    // frame sent, only what follows the copy can tell where the reply ends.
    const auto echo = static_cast<std::size_t>(lastSent_.size());
    std::size_t from = 0;
    if (echo > 0 && std::memcmp(buf, lastSent_.constData(), std::min(count, echo)) == 0) {
        if (count <= echo)
            return {ReplyEnd::Kind::NotYet, 0};
        from = echo;
    }
    ReplyEnd end = endRule(buf + from, count - from);
    if (end.kind == ReplyEnd::Kind::Stated)
        end.length += from;
    return end;
}

std::optional<std::size_t> SerialLink::readUntilStatedEnd(std::uint8_t* buf, std::size_t capacity, std::size_t& count,
                                                          const ReplyEndRule& endRule, QByteArray& beyond)
{
    drain(buf, capacity, count, &beyond);
    for (;;) {
        const ReplyEnd end = statedEnd(buf, count, endRule);
        if (end.kind == ReplyEnd::Kind::Unstated) {
            readUntilIdle(buf, capacity, count);
            return std::nullopt;
        }
        if (end.kind == ReplyEnd::Kind::Stated && count >= end.length)
            return end.length;
        if (!waitForBytes(timing_.idleGap))
            return std::nullopt; // stopped short: the idle gap ends it
        drain(buf, capacity, count, &beyond);
    }
}

void SerialLink::takeTrailing()
{
    if (!trailingLink_)
        return;
    const LinkKind link = *trailingLink_;
    trailingLink_.reset();
    QByteArray trailing;
    std::uint8_t scratch[256];
    // The port's own buffer first, then what the system holds for it.
    while (isOpen() && (port_->bytesAvailable() > 0 || port_->waitReadable(milliseconds(0)) == BytePort::Wait::Ready)) {
        const std::size_t got = port_->read(scratch, sizeof scratch);
        if (got == 0)
            break;
        trailing.append(reinterpret_cast<const char*>(scratch), static_cast<qsizetype>(got));
    }
    if (!trailing.isEmpty())
        log_.trailing(link, trailing);
}

LinkError SerialLink::sendBytes(LinkKind link, const std::uint8_t* bytes, std::size_t count)
{
    lost_ = false;
    LinkError error = LinkError::PortClosed;
    if (guardUntil_ && isOpen()) {
        const milliseconds left = *guardUntil_ - clock_->now();
        if (left.count() > 0)
            pause(left);
    }
    guardUntil_.reset();
    takeTrailing();
    lastSent_ = QByteArray(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(count));
    if (isOpen()) {
        port_->purge();
        log_.sent(link, lastSent_);
        if (port_->write(bytes, count)) {
            error = LinkError::None;
        } else {
            portLost();
            error = LinkError::PortLost;
        }
    }
    pump();
    if (activity_)
        activity_(" . ");
    return error;
}

bool SerialLink::awaitFirstByte(bool onReadiness)
{
    lastRounds_ = 0;
    const milliseconds round = timing_.firstBytePause + timing_.firstByteWait;
    // A reply that a repeat can stand in for waits only the retry wait (rounds
    // rounded up), and never longer than the whole wait.
    const bool shortWait = repeatable_ && answered_;
    const milliseconds limit = shortWait ? std::min(timing_.retryFirstByteWait, timing_.firstByteLimit())
                                         : timing_.firstByteLimit();
    const int tries = !shortWait ? timing_.firstByteTries
        : round.count() > 0
        ? std::clamp(static_cast<int>((limit + round - milliseconds(1)) / round), 1, timing_.firstByteTries)
        : timing_.firstByteTries;
    if (onReadiness) {
        const milliseconds start = clock_->now();
        const bool came = waitForBytes(limit);
        lastRounds_ = came && round.count() > 0 ? static_cast<int>((clock_->now() - start) / round) + 1 : tries;
        return came;
    }
    for (;;) {
        pause(timing_.firstBytePause);
        ++lastRounds_;
        if (waitForBytes(timing_.firstByteWait))
            return true;
        if (lastRounds_ >= tries)
            return false;
    }
}

SerialLink::Taken SerialLink::takeReply(std::size_t capacity, const ReplyEndRule& endRule)
{
    // An echo of the frame just sent takes no room from the reply behind it:
    // the bytes are taken with room for both, and the echo is dropped before
    // the capacity applies.
    Taken taken;
    taken.bytes.resize(capacity + static_cast<std::size_t>(lastSent_.size()));
    if (endRule) {
        taken.end = readUntilStatedEnd(taken.bytes.data(), taken.bytes.size(), taken.total, endRule, taken.beyond);
        taken.endedAt = clock_->now();
    } else {
        readUntilIdle(taken.bytes.data(), taken.bytes.size(), taken.total);
    }
    return taken;
}

std::size_t SerialLink::echoLength(const Taken& taken) const
{
    const auto echo = static_cast<std::size_t>(lastSent_.size());
    const std::size_t count = taken.count();
    if (echo == 0 || count <= echo)
        return 0;
    return std::equal(taken.bytes.begin(), taken.bytes.begin() + static_cast<std::ptrdiff_t>(echo),
                      lastSent_.constData(), lastSent_.constData() + echo,
                      [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); })
        ? echo
        : 0;
}

void SerialLink::watchTrailing(LinkKind link, const Taken& taken)
{
    const std::size_t count = taken.count();
    const QByteArray trailing = QByteArray(reinterpret_cast<const char*>(taken.bytes.data() + count),
                                           static_cast<qsizetype>(taken.total - count))
        + taken.beyond;
    if (!trailing.isEmpty())
        log_.trailing(link, trailing);
    // The guard gap counts from the reply's end, not from when it was checked and logged.
    guardUntil_ = taken.endedAt + timing_.guardGap(baud_);
    trailingLink_ = link;
}

SerialLink::Received SerialLink::receiveReply(LinkKind link, std::uint8_t* buf, std::size_t capacity,
                                              const ReplyCheck& check, const ReplyEndRule& endRule)
{
    Received received;
    const bool openAtStart = isOpen();
    if (!awaitFirstByte(static_cast<bool>(endRule))) {
        received.error = lost_ ? LinkError::PortLost : openAtStart ? LinkError::NoReply : LinkError::PortClosed;
        log_.received(link, {}, received.error);
        return received;
    }
    answered_ = true;
    const Taken taken = takeReply(capacity, endRule);
    const std::size_t skip = echoLength(taken);
    received.count = std::min(taken.count() - skip, capacity);
    std::copy_n(taken.bytes.begin() + static_cast<std::ptrdiff_t>(skip), received.count, buf);
    // What the reply does not cover reads as zeros, as behind any short reply.
    std::fill(buf + received.count, buf + std::min(taken.total, capacity), std::uint8_t{0});
    received.error = check ? check(buf, received.count) : LinkError::None;
    log_.received(
        link,
        QByteArray(reinterpret_cast<const char*>(taken.bytes.data()), static_cast<qsizetype>(skip + received.count)),
        received.error);
    if (taken.end)
        watchTrailing(link, taken);
    if (activity_)
        activity_(" + ");
    pump();
    return received;
}

std::size_t SerialLink::receiveAny(LinkKind link, std::uint8_t* buf, std::size_t capacity,
                                   const std::function<bool()>& stop, const std::function<void()>& firstByte)
{
    std::size_t count = 0;
    trailingLink_.reset();
    for (;;) {
        if (stop && stop())
            return 0;
        pause(timing_.pollRoundPause);
        if (stop && stop())
            return 0;
        if (!isOpen()) {
            // With no port every read comes back empty; keep waiting, window live.
            pause(timing_.pumpSlice);
            continue;
        }
        if (port_->bytesAvailable() > 0)
            break;
        const BytePort::Wait wait = port_->waitReadable(timing_.pumpSlice);
        if (wait == BytePort::Wait::Ready)
            break;
        if (wait == BytePort::Wait::Lost)
            portLost();
    }
    if (firstByte)
        firstByte();
    readUntilIdle(buf, capacity, count);
    log_.received(link, QByteArray(reinterpret_cast<const char*>(buf), static_cast<qsizetype>(count)), LinkError::None);
    pump();
    return count;
}

} // namespace tessavin
