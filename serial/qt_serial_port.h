#pragma once
// The real port: a QSerialPort opened exclusively, purged before every request,
// read through waitForReadyRead on the window's thread.
#include "serial/byte_port.h"

#include <QSerialPort>

#include <memory>

namespace tessavin {

// Why QSerialPort did not open a device, given whether this user may read and
// write it: no such device, permission denied, busy, or other.
PortOpenError::Kind PortOpenErrorKind(QSerialPort::SerialPortError error, bool mayReadWrite);

class QSerialBytePort : public BytePort {
public:
    QSerialBytePort();
    ~QSerialBytePort() override;

    bool open(const QString& device, std::int32_t baud, PortOpenError* error) override;
    void close() override;
    bool isOpen() const override;
    QString deviceName() const override;
    void purge() override;
    bool write(const std::uint8_t* bytes, std::size_t count) override;
    std::size_t bytesAvailable() override;
    std::size_t read(std::uint8_t* buf, std::size_t capacity) override;
    Wait waitReadable(std::chrono::milliseconds limit) override;

private:
    std::unique_ptr<QSerialPort> port_;
};

} // namespace tessavin
