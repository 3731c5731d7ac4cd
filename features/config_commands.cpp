#include "config_commands.h"

#include "session.h"

namespace tessavin {

namespace {

// Builds the Command frame for the code and runs the transaction; the reply is
// left in `frame`.
bool runCommand(Session& session, ConfigFrame& frame, std::uint8_t code)
{
    const std::size_t length = BuildConfigFrame(code, frame, nullptr, 0, 0, session.trace);
    return ConfigTransact(session.link, session.trace, frame, length);
}

} // namespace

int StatusQuery(Session& session)
{
    ConfigFrame frame{};
    if (!runCommand(session, frame, cfg::kStatusQuery))
        return config_status::kFailed;
    return frame[1];
}

bool SetTestMode(Session& session)
{
    ConfigFrame frame{};
    return runCommand(session, frame, cfg::kSetTestMode);
}

bool RebootController(Session& session)
{
    ConfigFrame frame{};
    return runCommand(session, frame, cfg::kReboot);
}

QString StatusQueryMessage(int status)
{
    const QString notOk = QStringLiteral("   NOT OK = ");
    switch (status) {
    case config_status::kFailed:
        return QStringLiteral("      NOT OK = -1");
    case config_status::kOk:
        return config_message::ok();
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
