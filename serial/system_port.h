#pragma once
// The serial port of the system the program runs on, and the device a port
// field names there: the one place where Linux and Windows differ about ports.
// Linux: QSerialBytePort (qt_serial_port.h) on /dev/ttyS*, /dev/ttyUSB*, ...
// Windows: Win32BytePort (win32_port.h) on \\.\COMn.
#include "serial/byte_port.h"

#include <QString>

#include <memory>

namespace tessavin {

// The device that a port field names: a number N is COMN on Windows and
// /dev/ttyS(N-1) elsewhere (COM1 is ttyS0); any other text is used as the device
// name or path as it stands. Empty text gives an empty name (which fails to open).
QString PortDeviceName(const QString& field);

// A new, closed port of this system.
std::shared_ptr<BytePort> MakeSystemPort();

} // namespace tessavin
