#pragma once
// The log control and service commands of the register and log link: each sends
// one plain 14-byte request and reports a verdict. The switch commands (clear the
// event log, registration, start and stop logging) succeed on a reply that passes
// the check; a damaged reply leaves them unconfirmed. The device number and the
// pressure must come in a reply that passes the check and must be greater than zero.
#include "features/session.h"

#include <QString>

#include <cstdint>

namespace tessavin {

enum class SwitchCommand : std::uint8_t {
    ClearLog = reg::kLogClear,
    Registration = reg::kRegistration,
    StartLogging = reg::kLogStart,
    StopLogging = reg::kLogStop,
};

// Sends the command; None when a reply came that passes the reply check, a
// damaged reply's verdict (ReplyDamaged: unconfirmed), or why none came.
LinkError SendSwitchCommand(Session& session, SwitchCommand command);

struct ServiceReading {
    bool ok = false;
    QString text; // what the value field shows on success
    LinkError error = LinkError::None; // why not ok (ValueRejected: not above zero)
};

// The device number (command 0x2C): ok when it is greater than 0; text in decimal.
ServiceReading ReadDeviceNumber(Session& session);

// The pressure (command 0x2D): ok when it is greater than 0.0 (a value that is not
// a number fails); text as PressureText gives it.
ServiceReading ReadPressure(Session& session);

// Four blanks, then the value as "%5.2f" with a point whatever the locale:
// 1.5 gives "     1.50", 123.456 gives "    123.46".
QString PressureText(double value);

// What the value field holds while the pressure is awaited and after a failure.
inline QString PressurePlaceholder() { return QStringLiteral("    "); }

} // namespace tessavin
