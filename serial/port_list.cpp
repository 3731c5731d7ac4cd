#include "serial/port_list.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace tessavin {

QMap<QString, QString> StableDevicePaths(const QString& byIdFolder)
{
    QMap<QString, QString> paths;
    const QDir folder(byIdFolder);
    for (const QFileInfo& link : folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        // The links are relative (../../ttyUSB0): resolved, they name the device.
        const QString device = link.canonicalFilePath();
        if (!device.isEmpty() && !paths.contains(device))
            paths.insert(device, link.absoluteFilePath());
    }
    return paths;
}

QList<PortEntry> ListSerialPorts()
{
#ifdef Q_OS_LINUX
    const QMap<QString, QString> stable = StableDevicePaths(QStringLiteral("/dev/serial/by-id"));
#else
    const QMap<QString, QString> stable;
#endif
    QList<PortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortEntry e;
        e.name = info.portName();
        e.path = info.systemLocation();
        e.description = info.description();
        e.manufacturer = info.manufacturer();
        e.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            e.vidPid = QStringLiteral("%1:%2")
                           .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                           .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        const QString canonical = QFileInfo(e.path).canonicalFilePath();
        e.byId = stable.value(canonical.isEmpty() ? e.path : canonical);
        ports << e;
    }
    std::sort(ports.begin(), ports.end(), [](const PortEntry& a, const PortEntry& b) { return a.name < b.name; });
    return ports;
}

} // namespace tessavin
