#include "features/download.h"

#include "protocol/register_link.h"
#include "features/retry.h"

#include <chrono>

namespace tessavin {

LinkResult<int> AskRingQuestion(Session& session, RingQuestion question)
{
    static constexpr std::uint8_t kCommands[] = {reg::kLogCapacity, reg::kLogCount, reg::kLogBegin, reg::kArchiveBegin};
    const std::uint8_t command = kCommands[static_cast<int>(question)];
    const auto answer = ReadWithRetries(session, LinkKind::Register, RingQuestionName(question), [&] {
        const std::size_t length = BuildRegRequest(session.frame, command);
        return RegReadWord(session.link, session.frame, length, session.replies);
    });
    const int value = answer.value;
    switch (question) {
    case RingQuestion::LogCapacity:
        session.capacity = value;
        break;
    case RingQuestion::LogCount:
        session.count = value;
        break;
    case RingQuestion::LogBegin:
    case RingQuestion::ArchiveBegin:
        session.begin = value;
        break;
    }
    return {value, answer.error};
}

QString RingQuestionName(RingQuestion question)
{
    static constexpr const char* kNames[] = {"log capacity", "log count", "log begin", "archive begin"};
    return QLatin1String(kNames[static_cast<int>(question)]);
}

QString RingQuestionLine(RingQuestion question, int value)
{
    switch (question) {
    case RingQuestion::LogCapacity:
        return QStringLiteral("MAX=%1").arg(value);
    case RingQuestion::LogCount:
        return QStringLiteral("N=%1").arg(value);
    case RingQuestion::LogBegin:
    case RingQuestion::ArchiveBegin:
        break;
    }
    return QStringLiteral("OK=%1").arg(value);
}

LinkResult<std::size_t> ReadRecord(Session& session, const RecordRequest& request, long long index)
{
    const QString what = QStringLiteral("%1 %2").arg(QLatin1String(request.name)).arg(index);
    return ReadWithRetries(session, LinkKind::Register, what, [&] {
        const std::size_t length = BuildRegRequest(session.frame, request.command,
                                                   static_cast<std::uint16_t>(index & 0xFFFF), 1);
        auto read = RegReadBlock(session.link, session.frame, length, session.replies);
        if (read.ok() && read.value < request.minimum)
            read.error = LinkError::TooShort;
        return read;
    });
}

void LetEventsRun(Session& session) { session.link.pause(std::chrono::milliseconds(0)); }

} // namespace tessavin
