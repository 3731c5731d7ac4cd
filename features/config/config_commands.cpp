#include "features/config/config_commands.h"

#include "features/retry.h"
#include "features/session.h"

namespace tessavin {

LinkError ConfigChecksums::judge(const std::uint8_t* bytes, std::size_t received, bool askedAgainOnFailure)
{
    switch (ConfigReplyChecksum(bytes, received)) {
    case ConfigChecksum::Valid:
        shown_ = true;
        return LinkError::None;
    case ConfigChecksum::Failed:
        if (shown_ || (askedAgainOnFailure && !unchecked_))
            return LinkError::BadChecksum;
        break;
    case ConfigChecksum::Absent:
        if (shown_)
            return LinkError::BadChecksum;
        break;
    }
    unchecked_ = true;
    return LinkError::None;
}

void ConfigChecksums::observe(const std::uint8_t* bytes, std::size_t received)
{
    if (ConfigReplyChecksum(bytes, received) == ConfigChecksum::Valid)
        shown_ = true;
}

LinkError RunConfigCommand(Session& session, ConfigFrame& frame, std::uint8_t code, const ReplyCheck& check)
{
    const auto trace = session.trace();
    const std::size_t length = BuildConfigFrame(code, frame, nullptr, 0, 0, trace);
    return ConfigTransact(session.link, trace, frame, length, check);
}

LinkError ConfigCommandCheck(const std::uint8_t* bytes, std::size_t received)
{
    const LinkError error = ConfigChunkCheck(bytes, received);
    if (error != LinkError::None)
        return error;
    return ConfigReplyChecksum(bytes, received) == ConfigChecksum::Failed ? LinkError::BadChecksum : LinkError::None;
}

LinkResult<int> StatusQuery(Session& session)
{
    ConfigFrame frame{};
    ConfigChecksums checksums;
    // The query only reads: sent again while it fails (retry.h).
    const LinkError error = ReadWithRetries(session, LinkKind::Config, QStringLiteral("status query"), [&](bool last) {
        return RunConfigCommand(
            session, frame, cfg::kStatusQuery, [&](const std::uint8_t* bytes, std::size_t received) {
                LinkError verdict = ConfigReplyCheck(bytes, received);
                if (verdict == LinkError::None)
                    verdict = checksums.judge(bytes, received, !last);
                if (verdict == LinkError::None && received >= 2 && bytes[1] > config_status::kNoFile)
                    verdict = LinkError::ImpossibleValue;
                return verdict;
            });
    });
    if (error != LinkError::None)
        return {config_status::kFailed, error};
    return {frame[1], error};
}

LinkError SetTestMode(Session& session)
{
    ConfigFrame frame{};
    return RunConfigCommand(session, frame, cfg::kSetTestMode, ConfigCommandCheck);
}

LinkError RebootController(Session& session)
{
    ConfigFrame frame{};
    return RunConfigCommand(session, frame, cfg::kReboot, ConfigCommandCheck);
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
