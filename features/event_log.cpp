#include "event_log.h"

#include "register_link.h"
#include "retry.h"

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

RecordSpan fromSpan(int first, int begin, int count, int capacity)
{
    if (first < 0 || first >= capacity)
        return {first, 0};
    if (first < begin)
        return {first, begin - first};
    if (count >= capacity && first > begin)
        return {first, capacity - first + begin};
    if (count >= capacity && first == begin)
        return {first, capacity};
    return {first, 0};
}

} // namespace

RecordSpan ChooseLogSpan(RecordChoice choice, int number, int begin, int count, int capacity)
{
    const bool full = count >= capacity;
    RecordSpan span;
    switch (choice) {
    case RecordChoice::None:
        return span;
    case RecordChoice::One:
        span.first = number;
        span.count = 1;
        return span;
    case RecordChoice::From:
        return fromSpan(number, begin, count, capacity);
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

DownloadOutcome RunLogRecordLoop(Session& session, const RecordSpan& span, int capacity,
                                 const RecordSink<LogLine>& sink)
{
    DownloadOutcome outcome;
    outcome.span = span;
    const auto stopped = [&] { return sink.stoppable && session.stopRequested; };
    const auto write = [&](const LogLine& line) {
        if (sink.file && sink.file->isOpen())
            sink.file->write(line.fileBytes);
    };
    long long index = span.first; // One may name any int, and the loop steps past it
    for (int i = 0; i < span.count; ++i) {
        if (stopped()) {
            outcome.end = DownloadEnd::Stopped;
            return outcome;
        }
        letEventsRun(session);
        if (stopped()) {
            outcome.end = DownloadEnd::Stopped;
            return outcome;
        }
        if (index == capacity)
            index = 0;

        const auto block = ReadWithRetries(
            session, LinkKind::Register, QStringLiteral("log record %1").arg(index), [&] {
                const std::size_t length = BuildRegRequest(session.frame, reg::kLogRecord,
                                                           static_cast<std::uint16_t>(index & 0xFFFF), 1);
                return RegReadBlock(session.link, session.frame, length, session.replies);
            });
        if (!block.ok()) {
            outcome.end = DownloadEnd::RecordFailed;
            outcome.error = block.error;
            outcome.index = index;
            return outcome;
        }

        LogLine line = PresentLogRecord(session.frame.data(), block.value);
        line.index = index;
        if (sink.show)
            sink.show(line);
        if (line.marked) {
            letEventsRun(session);
            if (sink.marked)
                sink.marked(i + 1);
            write(line);
        } else {
            write(line);
            letEventsRun(session);
        }
        ++outcome.read;
        if (sink.progress)
            sink.progress(i + 1, span.count);
        ++index;
    }
    outcome.end = DownloadEnd::Completed;
    return outcome;
}

DownloadOutcome DownloadEventLog(Session& session, bool askCapacity, const DownloadSteps<LogLine>& steps)
{
    if (!askCapacity)
        session.capacity = kDefaultLogCapacity;
    const auto read = [&](const RecordPick& pick) {
        const RecordSpan span = ChooseLogSpan(pick.choice, pick.number, session.begin, session.count, session.capacity);
        if (steps.chosen)
            steps.chosen(span);
        return RunLogRecordLoop(session, span, session.capacity, steps.sink);
    };
    if (askCapacity)
        return RunDownload(session, {RingQuestion::LogCapacity, RingQuestion::LogCount, RingQuestion::LogBegin}, steps,
                           read);
    return RunDownload(session, {RingQuestion::LogCount, RingQuestion::LogBegin}, steps, read);
}

} // namespace tessavin
