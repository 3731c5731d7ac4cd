#include "features/service_commands.h"

#include "protocol/register_link.h"
#include "features/retry.h"

namespace tessavin {

// Switch commands change the controller: sent once, never repeated.
LinkError SendSwitchCommand(Session& session, SwitchCommand command)
{
    const std::size_t length = BuildRegRequest(session.frame, static_cast<std::uint8_t>(command));
    return RegCommandExchange(session.link, session.frame, length, session.replies);
}

ServiceReading ReadDeviceNumber(Session& session)
{
    const auto value = ReadWithRetries(session, LinkKind::Register, QStringLiteral("device number"), [&] {
        const std::size_t length = BuildRegRequest(session.frame, reg::kIdent);
        return RegReadLong(session.link, session.frame, length, session.replies);
    });
    if (!value.ok())
        return {false, {}, value.error};
    if (value.value <= 0)
        return {false, {}, LinkError::ValueRejected};
    return {true, QString::number(value.value), LinkError::None};
}

ServiceReading ReadPressure(Session& session)
{
    const auto value = ReadWithRetries(session, LinkKind::Register, QStringLiteral("pressure"), [&] {
        const std::size_t length = BuildRegRequest(session.frame, reg::kPressure);
        return RegReadFloat(session.link, session.frame, length, session.replies);
    });
    if (!value.ok())
        return {false, {}, value.error};
    if (!(value.value > 0.0f))
        return {false, {}, LinkError::ValueRejected};
    return {true, PressureText(value.value), LinkError::None};
}

QString PressureText(double value)
{
    // QString::asprintf formats numbers in the C locale, unlike the C library
    // after the application has taken the user's locale.
    return PressurePlaceholder() + QString::asprintf("%5.2f", value);
}

} // namespace tessavin
