#include "download.h"

#include "register_link.h"
#include "retry.h"

namespace tessavin {

LinkResult<int> AskRingQuestion(Session& session, RingQuestion question)
{
    static constexpr struct {
        std::uint8_t command;
        const char* name;
    } kQuestions[] = {
        {reg::kLogCapacity, "log capacity"},
        {reg::kLogCount, "log count"},
        {reg::kLogBegin, "log begin"},
        {reg::kArchiveBegin, "archive begin"},
    };
    const auto& q = kQuestions[static_cast<int>(question)];
    const auto answer = ReadWithRetries(session, LinkKind::Register, QLatin1String(q.name), [&] {
        const std::size_t length = BuildRegRequest(session.frame, q.command);
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

} // namespace tessavin
