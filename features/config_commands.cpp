#include "config_commands.h"

#include "session.h"

namespace tessavin {

namespace {

// Builds the Command frame for the code and runs the transaction; the reply is
// left in `frame`.
LinkError runCommand(Session& session, ConfigFrame& frame, std::uint8_t code)
{
    const auto trace = session.trace();
    const std::size_t length = BuildConfigFrame(code, frame, nullptr, 0, 0, trace);
    return ConfigTransact(session.link, trace, frame, length);
}

} // namespace

LinkResult<int> StatusQuery(Session& session)
{
    ConfigFrame frame{};
    const LinkError error = runCommand(session, frame, cfg::kStatusQuery);
    if (error != LinkError::None)
        return {config_status::kFailed, error};
    return {frame[1], error};
}

LinkError SetTestMode(Session& session)
{
    ConfigFrame frame{};
    return runCommand(session, frame, cfg::kSetTestMode);
}

LinkError RebootController(Session& session)
{
    ConfigFrame frame{};
    return runCommand(session, frame, cfg::kReboot);
}

QString StatusQueryText(int status)
{
    const QString notOk = QStringLiteral("NOT OK = ");
    switch (status) {
    case config_status::kFailed:
        return notOk + QStringLiteral("-1");
    case config_status::kOk:
        return QStringLiteral("OK");
    case config_status::kBadJson:
        return notOk + QStringLiteral("bad json");
    case config_status::kNoMemory:
        return notOk + QStringLiteral("no memory");
    case config_status::kNoFile:
        return notOk + QStringLiteral("no file");
    default:
        return notOk;
    }
}

} // namespace tessavin
