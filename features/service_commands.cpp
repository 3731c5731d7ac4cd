#include "service_commands.h"

#include "register_link.h"

namespace tessavin {

bool SendSwitchCommand(Session& session, SwitchCommand command)
{
    const std::size_t length = BuildRegRequest(session.frame, static_cast<std::uint8_t>(command));
    return RegExchange(session.link, session.frame, length);
}

ServiceReading ReadDeviceNumber(Session& session)
{
    const std::size_t length = BuildRegRequest(session.frame, reg::kIdent);
    const std::int32_t value = RegReadLong(session.link, session.frame, length);
    if (value <= 0)
        return {};
    return {true, QString::number(value)};
}

ServiceReading ReadPressure(Session& session)
{
    const std::size_t length = BuildRegRequest(session.frame, reg::kPressure);
    const float value = RegReadFloat(session.link, session.frame, length);
    if (!(value > 0.0f))
        return {};
    return {true, PressureText(value)};
}

QString PressureText(double value)
{
    // QString::asprintf formats numbers in the C locale, unlike the C library
    // after the application has taken the user's locale.
    return PressurePlaceholder() + QString::asprintf("%5.2f", value);
}

} // namespace tessavin
