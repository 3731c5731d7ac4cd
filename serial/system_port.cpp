#include "serial/system_port.h"

#ifdef Q_OS_WIN
#include "serial/win32_port.h"
#else
#include "serial/qt_serial_port.h"
#endif

namespace tessavin {

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

std::shared_ptr<BytePort> MakeSystemPort()
{
#ifdef Q_OS_WIN
    // Qt Serial Port's Windows backend reads only when a comm event reports
    // EV_RXCHAR, which wine never does; the synchronous calls work everywhere.
    return std::make_shared<Win32BytePort>();
#else
    return std::make_shared<QSerialBytePort>();
#endif
}

} // namespace tessavin
