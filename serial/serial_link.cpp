#include "serial_link.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

#include <algorithm>

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

SerialLink::SerialLink(LinkTiming timing) : timing_(timing) {}

SerialLink::~SerialLink()
{
    if (port_)
        port_->close();
}

bool SerialLink::isOpen() const { return port_ && port_->isOpen(); }

QString SerialLink::deviceName() const { return port_ ? port_->portName() : QString(); }

bool SerialLink::OpenPort(const QString& device, qint32 baud, QString* error)
{
    close();
    if (device.isEmpty() || baud <= 0) {
        if (error)
            *error = device.isEmpty() ? QStringLiteral("no device named") : QStringLiteral("bad baud rate");
        return false;
    }
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(device);
    if (!port->open(QIODevice::ReadWrite)) {
        if (error)
            *error = port->errorString();
        return false;
    }
    const bool lineSet = port->setBaudRate(baud) && port->setDataBits(QSerialPort::Data8)
        && port->setParity(QSerialPort::NoParity) && port->setStopBits(QSerialPort::OneStop);
    if (!lineSet) {
        if (error)
            *error = port->errorString();
        port->close();
        return false;
    }
    // Bytes queued before the open would otherwise be delivered later.
    port->clear(QSerialPort::AllDirections);
    // Pseudo-terminals and some adapters have no RTS line; that is harmless.
    port->setRequestToSend(false);
    port->clearError();
    port_ = std::move(port);
    if (openChanged_)
        openChanged_(true);
    return true;
}

void SerialLink::close()
{
    if (!port_)
        return;
    const bool wasOpen = port_->isOpen();
    port_->close();
    port_.reset();
    if (wasOpen && openChanged_)
        openChanged_(false);
}

void SerialLink::portLost() { close(); }

void SerialLink::pump()
{
    if (pump_)
        pump_();
}

void SerialLink::pause(milliseconds duration)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        pump();
        const qint64 left = duration.count() - timer.elapsed();
        if (left <= 0)
            return;
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(left, timing_.pumpSlice.count())));
    }
}

bool SerialLink::waitForBytes(milliseconds limit)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (!isOpen()) {
            // A read on a closed port fails at once.
            return false;
        }
        if (port_->bytesAvailable() > 0)
            return true;
        const qint64 left = limit.count() - timer.elapsed();
        if (left <= 0)
            return false;
        const int slice = static_cast<int>(std::min<qint64>(left, timing_.pumpSlice.count()));
        if (port_->waitForReadyRead(slice))
            return true;
        if (port_->error() != QSerialPort::TimeoutError && port_->error() != QSerialPort::NoError) {
            portLost();
            return false;
        }
        port_->clearError();
        pump();
    }
}

void SerialLink::drain(std::uint8_t* buf, std::size_t capacity, std::size_t& count)
{
    if (!isOpen())
        return;
    char scratch[256];
    for (;;) {
        const qint64 got = port_->read(scratch, sizeof scratch);
        if (got <= 0)
            break;
        const std::size_t room = count < capacity ? capacity - count : 0;
        const std::size_t take = std::min<std::size_t>(room, static_cast<std::size_t>(got));
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

bool SerialLink::SendBytes(const std::uint8_t* bytes, std::size_t count)
{
    if (isOpen()) {
        port_->clear(QSerialPort::Output);
        port_->clear(QSerialPort::Input);
        port_->write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(count));
        const int limit = static_cast<int>(10 * count + 10);
        if (!port_->waitForBytesWritten(limit) && port_->error() != QSerialPort::TimeoutError
            && port_->error() != QSerialPort::NoError) {
            portLost();
        } else if (port_) {
            // A write that is still queued finishes while the reply is awaited.
            port_->clearError();
        }
    }
    pump();
    if (activity_)
        activity_(" . ");
    return true;
}

std::size_t SerialLink::ReceiveReply(std::uint8_t* buf, std::size_t capacity)
{
    std::size_t count = 0;
    lastRounds_ = 0;
    bool first = false;
    while (!first) {
        pause(timing_.firstBytePause);
        ++lastRounds_;
        first = waitForBytes(timing_.firstByteWait);
        if (!first && lastRounds_ >= timing_.firstByteTries)
            return 0;
    }
    readUntilIdle(buf, capacity, count);
    if (activity_)
        activity_(" + ");
    pump();
    return count;
}

std::size_t SerialLink::ReceiveAny(std::uint8_t* buf, std::size_t capacity,
                                   const std::function<bool()>& stop,
                                   const std::function<void()>& firstByte)
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
        if (port_->bytesAvailable() > 0 || port_->waitForReadyRead(static_cast<int>(timing_.pumpSlice.count())))
            break;
        if (port_->error() != QSerialPort::TimeoutError && port_->error() != QSerialPort::NoError)
            portLost();
        else
            port_->clearError();
    }
    if (firstByte)
        firstByte();
    readUntilIdle(buf, capacity, count);
    pump();
    return count;
}

} // namespace tessavin
