#include "serial/qt_serial_port.h"

#include <QFileInfo>
#include <QSerialPort>

#include <algorithm>

namespace tessavin {

namespace {

// Whether this user may read and write the device at all: the path as given, a
// bare name under /dev (as QSerialPort itself places it).
bool userMayReadWrite(const QString& device)
{
    const QFileInfo file(device.startsWith(QLatin1Char('/')) ? device : QStringLiteral("/dev/") + device);
    return file.isReadable() && file.isWritable();
}

} // namespace

PortOpenError::Kind PortOpenErrorKind(QSerialPort::SerialPortError error, bool mayReadWrite)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return PortOpenError::Kind::NoSuchDevice;
    case QSerialPort::PermissionError:
        // Qt reports a refused open (EACCES), a device in exclusive use (EBUSY) and
        // a lock file another program holds all as PermissionError, in words of
        // the user's language; a user who may read and write the device is never
        // refused, so for them it is in use.
        return mayReadWrite ? PortOpenError::Kind::Busy : PortOpenError::Kind::PermissionDenied;
    case QSerialPort::OpenError:
        return PortOpenError::Kind::Busy;
    case QSerialPort::UnsupportedOperationError:
        // The terminal settings are refused: a file, or a device that is no terminal.
        return PortOpenError::Kind::NotSerial;
    default:
        return PortOpenError::Kind::Other;
    }
}

QSerialBytePort::QSerialBytePort() = default;

QSerialBytePort::~QSerialBytePort() { close(); }

bool QSerialBytePort::open(const QString& device, std::int32_t baud, PortOpenError* error)
{
    close();
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(device);
    if (!port->open(QIODevice::ReadWrite)) {
        if (error)
            *error = {PortOpenErrorKind(port->error(), userMayReadWrite(device)), device, port->errorString()};
        return false;
    }
    const bool lineSet = port->setBaudRate(baud) && port->setDataBits(QSerialPort::Data8)
        && port->setParity(QSerialPort::NoParity) && port->setStopBits(QSerialPort::OneStop);
    if (!lineSet) {
        if (error)
            *error = {PortOpenError::Kind::LineSettings, device, port->errorString()};
        port->close();
        return false;
    }
    // Bytes queued before the open would otherwise be delivered later.
    port->clear(QSerialPort::AllDirections);
    // Pseudo-terminals and some adapters have no RTS line; that is harmless.
    port->setRequestToSend(false);
    port->clearError();
    port_ = std::move(port);
    return true;
}

void QSerialBytePort::close()
{
    if (port_) {
        port_->close();
        port_.reset();
    }
}

bool QSerialBytePort::isOpen() const { return port_ && port_->isOpen(); }

QString QSerialBytePort::deviceName() const { return port_ ? port_->portName() : QString(); }

void QSerialBytePort::purge()
{
    if (!isOpen())
        return;
    port_->clear(QSerialPort::Output);
    port_->clear(QSerialPort::Input);
}

bool QSerialBytePort::write(const std::uint8_t* bytes, std::size_t count)
{
    if (!isOpen())
        return false;
    port_->write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(count));
    const int limit = static_cast<int>(10 * count + 10);
    if (!port_->waitForBytesWritten(limit) && port_->error() != QSerialPort::TimeoutError
        && port_->error() != QSerialPort::NoError)
        return false;
    // A write that is still queued finishes while the reply is awaited.
    port_->clearError();
    return true;
}

std::size_t QSerialBytePort::bytesAvailable()
{
    return isOpen() ? static_cast<std::size_t>(std::max<qint64>(port_->bytesAvailable(), 0)) : 0;
}

std::size_t QSerialBytePort::read(std::uint8_t* buf, std::size_t capacity)
{
    if (!isOpen() || capacity == 0)
        return 0;
    const qint64 got = port_->read(reinterpret_cast<char*>(buf), static_cast<qint64>(capacity));
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

BytePort::Wait QSerialBytePort::waitReadable(std::chrono::milliseconds limit)
{
    if (!isOpen())
        return Wait::Lost;
    if (port_->bytesAvailable() > 0)
        return Wait::Ready;
    // waitForReadyRead(-1) would wait for ever; a computed time is never below 0.
    if (port_->waitForReadyRead(static_cast<int>(std::max<long long>(limit.count(), 0))))
        return Wait::Ready;
    if (port_->error() != QSerialPort::TimeoutError && port_->error() != QSerialPort::NoError)
        return Wait::Lost;
    port_->clearError();
    return Wait::TimedOut;
}

} // namespace tessavin
