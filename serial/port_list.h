#pragma once
// The serial ports the system sees: for the command-line tool's list and the
// window's port-field completions.
#include <QList>
#include <QMap>
#include <QString>

namespace tessavin {

struct PortEntry {
    QString name; // ttyUSB0, COM3
    QString path; // /dev/ttyUSB0, \\.\COM3
    QString description;
    QString manufacturer;
    QString serialNumber;
    QString vidPid; // "0403:6001", or empty when the port has none
    QString byId; // the stable /dev/serial/by-id/... path, or empty
};

// The ports, sorted by name. (Pseudo-terminals are not listed.)
QList<PortEntry> ListSerialPorts();

// The links of a by-id folder keyed by the device each resolves to:
// "/dev/ttyUSB0" -> "/dev/serial/by-id/usb-FTDI_...-if00-port0". Empty when the
// folder does not exist (no USB serial device plugged in, or not Linux).
QMap<QString, QString> StableDevicePaths(const QString& byIdFolder);

} // namespace tessavin
