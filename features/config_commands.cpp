#include "config_commands.h"

#include "retry.h"
#include "session.h"

namespace tessavin {

LinkError RunConfigCommand(Session& session, ConfigFrame& frame, std::uint8_t code)
{
    const auto trace = session.trace();
    const std::size_t length = BuildConfigFrame(code, frame, nullptr, 0, 0, trace);
    return ConfigTransact(session.link, trace, frame, length);
}

LinkResult<int> StatusQuery(Session& session)
{
    ConfigFrame frame{};
    // The query only reads: sent again while it fails (retry.h).
    const LinkError error = ReadWithRetries(session, LinkKind::Config, QStringLiteral("status query"),
                                            [&] { return RunConfigCommand(session, frame, cfg::kStatusQuery); });
    if (error != LinkError::None)
        return {config_status::kFailed, error};
    return {frame[1], error};
}

LinkError SetTestMode(Session& session)
{
    ConfigFrame frame{};
    return RunConfigCommand(session, frame, cfg::kSetTestMode);
}

LinkError RebootController(Session& session)
{
    ConfigFrame frame{};
    return RunConfigCommand(session, frame, cfg::kReboot);
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
