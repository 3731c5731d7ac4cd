#include "event_log.h"

#include "register_link.h"

#include <algorithm>
#include <chrono>

namespace tessavin {

namespace {

// Lets pending window events run once, through the link's pump.
void letEventsRun(Session& session) { session.link.pause(std::chrono::milliseconds(0)); }

int choiceNumber(RecordChoice choice)
{
    switch (choice) {
    case RecordChoice::Last10:
        return 10;
    case RecordChoice::Last100:
        return 100;
    case RecordChoice::Last500:
        return 500;
    default:
        return 0;
    }
}

} // namespace

LinkResult<int> AskLogQuestion(Session& session, LogQuestion question)
{
    std::uint8_t command = reg::kLogBegin;
    if (question == LogQuestion::Capacity)
        command = reg::kLogCapacity;
    else if (question == LogQuestion::Count)
        command = reg::kLogCount;
    const std::size_t length = BuildRegRequest(session.frame, command);
    const auto answer = RegReadWord(session.link, session.frame, length, session.replies);
    const int value = answer.value;
    switch (question) {
    case LogQuestion::Capacity:
        session.capacity = value;
        break;
    case LogQuestion::Count:
        session.count = value;
        break;
    case LogQuestion::Begin:
        session.begin = value;
        break;
    }
    return {value, answer.error};
}

QString LogQuestionLine(LogQuestion question, int value)
{
    switch (question) {
    case LogQuestion::Capacity:
        return QStringLiteral("MAX=%1").arg(value);
    case LogQuestion::Count:
        return QStringLiteral("N=%1").arg(value);
    case LogQuestion::Begin:
        break;
    }
    return QStringLiteral("OK=%1").arg(value);
}

LogSpan ChooseLogSpan(RecordChoice choice, int number, int begin, int count, int capacity)
{
    const bool full = count >= capacity;
    LogSpan span;
    switch (choice) {
    case RecordChoice::None:
        return span;
    case RecordChoice::One:
        span.first = number;
        span.count = 1;
        return span;
    case RecordChoice::Index:
        // N records asked for: with the ring full, asking for all of them still
        // counts back from the begin. Any typed N is allowed, so the difference
        // is taken in 64 bits.
        span.first = (number < count || (full && number == count)) ? static_cast<long long>(begin) - number : 0;
        span.count = std::min(number, count);
        break;
    case RecordChoice::Last10:
    case RecordChoice::Last100:
    case RecordChoice::Last500: {
        const int n = choiceNumber(choice);
        span.first = count > n ? static_cast<long long>(begin) - n : 0;
        span.count = std::min(count, n);
        break;
    }
    }
    // A full ring wraps by the number of records it holds, not by its capacity.
    if (full && span.first < 0)
        span.first += count;
    // A number below 1 (or a count below 0) reads nothing.
    span.count = std::max(span.count, 0);
    return span;
}

LogLoopResult RunLogRecordLoop(Session& session, const LogSpan& span, int capacity,
                               const LogRecordSink& sink, OutputFile* file)
{
    LogLoopResult result;
    long long index = span.first; // One may name any int, and the loop steps past it
    for (int i = 0; i < span.count; ++i) {
        if (session.stopFlag != 0) {
            result.end = LogLoopEnd::Stopped;
            return result;
        }
        letEventsRun(session);
        if (session.stopFlag != 0) {
            result.end = LogLoopEnd::Stopped;
            return result;
        }
        if (index == capacity)
            index = 0;

        const std::size_t length = BuildRegRequest(session.frame, reg::kLogRecord,
                                                   static_cast<std::uint16_t>(index & 0xFFFF), 1);
        const auto block = RegReadBlock(session.link, session.frame, length, session.replies);
        const std::size_t n = block.value;
        if (!block.ok()) {
            result.end = LogLoopEnd::RecordFailed;
            result.error = block.error;
            result.failedIndex = index;
            return result;
        }

        LogLine line = PresentLogRecord(session.frame.data(), n);
        line.index = index;
        if (sink.show)
            sink.show(line);
        if (line.marked) {
            letEventsRun(session);
            if (sink.marked)
                sink.marked(i + 1);
            if (file && file->isOpen())
                file->write(line.fileBytes);
        } else {
            if (file && file->isOpen())
                file->write(line.fileBytes);
            letEventsRun(session);
        }
        ++result.read;
        if (sink.progress)
            sink.progress(i + 1, span.count);
        ++index;
    }
    result.end = LogLoopEnd::Completed;
    return result;
}

} // namespace tessavin
