#include "serial/byte_port.h"

namespace tessavin {

QString PortOpenErrorText(const PortOpenError& error)
{
    const QString& device = error.device;
    switch (error.kind) {
    case PortOpenError::Kind::None:
        return QStringLiteral("%1 is open").arg(device);
    case PortOpenError::Kind::NoDeviceNamed:
        return QStringLiteral("no port named");
    case PortOpenError::Kind::BadBaud:
        return QStringLiteral("%1: bad baud rate").arg(device);
    case PortOpenError::Kind::NoSuchDevice:
        return QStringLiteral("no such device %1").arg(device);
    // Only the Linux port tells a refusal from a port in use (win32_port.cpp).
    case PortOpenError::Kind::PermissionDenied:
        return QStringLiteral("permission denied on %1: the user must be in the dialout group "
                              "(sudo usermod -aG dialout $USER, then log in again)")
            .arg(device);
    case PortOpenError::Kind::Busy:
        return QStringLiteral("%1 is busy: another program has it open").arg(device);
    case PortOpenError::Kind::LineSettings:
        return QStringLiteral("%1 refused the line settings: %2").arg(device, error.detail);
    case PortOpenError::Kind::NotSerial:
        return QStringLiteral("%1: not a serial port (%2)").arg(device, error.detail);
    case PortOpenError::Kind::Other:
        break;
    }
    return QStringLiteral("%1: %2").arg(device, error.detail);
}

} // namespace tessavin
