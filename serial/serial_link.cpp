#include "serial_link.h"

#include "qt_serial_port.h"

#include <algorithm>
#include <vector>

namespace tessavin {

using std::chrono::milliseconds;

QString PortDeviceName(const QString& field)
{
    if (field.isEmpty())
        return {};
    bool isNumber = false;
    const int n = field.toInt(&isNumber, 10);
    if (!isNumber || field.startsWith(QLatin1Char('+')) || field.startsWith(QLatin1Char(' ')))
        return field;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    if (n < 1)
        return QStringLiteral("/dev/ttyS%1").arg(field); // no such device; the open fails
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

SerialLink::SerialLink(LinkTiming timing, std::shared_ptr<BytePort> port, std::shared_ptr<Clock> clock)
    : timing_(timing)
    , port_(port ? std::move(port) : std::make_shared<QSerialBytePort>())
    , clock_(clock ? std::move(clock) : std::make_shared<SteadyClock>())
    , log_(clock_)
{
    LogFramesToCategories(log_);
}

SerialLink::~SerialLink() { port_->close(); }

bool SerialLink::isOpen() const { return port_->isOpen(); }

QString SerialLink::deviceName() const { return port_->deviceName(); }

bool SerialLink::OpenPort(const QString& device, qint32 baud, PortOpenError* error)
{
    close();
    PortOpenError failure;
    failure.device = device;
    if (device.isEmpty())
        failure.kind = PortOpenError::Kind::NoDeviceNamed;
    else if (baud <= 0)
        failure.kind = PortOpenError::Kind::BadBaud;
    else if (port_->open(device, baud, &failure)) {
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
    const bool wasOpen = port_->isOpen();
    port_->close();
    if (wasOpen && openChanged_)
        openChanged_(false);
}

void SerialLink::portLost()
{
    lost_ = true;
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

void SerialLink::drain(std::uint8_t* buf, std::size_t capacity, std::size_t& count)
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
    }
}

void SerialLink::readUntilIdle(std::uint8_t* buf, std::size_t capacity, std::size_t& count)
{
    drain(buf, capacity, count);
    while (waitForBytes(timing_.idleGap))
        drain(buf, capacity, count);
}

LinkError SerialLink::SendBytes(LinkKind link, const std::uint8_t* bytes, std::size_t count)
{
    lost_ = false;
    LinkError error = LinkError::PortClosed;
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

SerialLink::Received SerialLink::ReceiveReply(LinkKind link, std::uint8_t* buf, std::size_t capacity,
                                              const ReplyCheck& check)
{
    Received received;
    const bool openAtStart = isOpen();
    lastRounds_ = 0;
    bool first = false;
    while (!first) {
        pause(timing_.firstBytePause);
        ++lastRounds_;
        first = waitForBytes(timing_.firstByteWait);
        if (!first && lastRounds_ >= timing_.firstByteTries) {
            received.error = lost_ ? LinkError::PortLost : openAtStart ? LinkError::NoReply : LinkError::PortClosed;
            log_.received(link, {}, received.error);
            return received;
        }
    }
    // An echo of the frame just sent takes no room from the reply behind it:
    // the bytes are taken with room for both, and the echo is dropped before
    // the capacity applies.
    const auto echo = static_cast<std::size_t>(lastSent_.size());
    std::vector<std::uint8_t> came(capacity + echo);
    std::size_t count = 0;
    readUntilIdle(came.data(), came.size(), count);
    const QByteArray raw(reinterpret_cast<const char*>(came.data()), static_cast<qsizetype>(count));
    const std::size_t skip = echo > 0 && count > echo && raw.startsWith(lastSent_) ? echo : 0;
    received.count = std::min(count - skip, capacity);
    std::copy_n(came.begin() + static_cast<std::ptrdiff_t>(skip), received.count, buf);
    // What the reply does not cover reads as zeros, as behind any short reply.
    std::fill(buf + received.count, buf + std::min(count, capacity), std::uint8_t{0});
    received.error = check ? check(buf, received.count) : LinkError::None;
    log_.received(link, raw.left(static_cast<qsizetype>(skip + received.count)), received.error);
    if (activity_)
        activity_(" + ");
    pump();
    return received;
}

std::size_t SerialLink::ReceiveAny(LinkKind link, std::uint8_t* buf, std::size_t capacity,
                                   const std::function<bool()>& stop, const std::function<void()>& firstByte)
{
    std::size_t count = 0;
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
