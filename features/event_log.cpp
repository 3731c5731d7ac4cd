#include "features/event_log.h"

#include "protocol/register_link.h"

#include <algorithm>

namespace tessavin {

namespace {

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
    const auto write = [&](const LogLine& line) {
        if (sink.file && sink.file->isOpen())
            sink.file->write(line.fileBytes);
    };
    const auto slot = [capacity](long long position) { return position == capacity ? 0 : position; };
    const auto present = [&](long long index, std::size_t length, int ordinal,
                             DownloadOutcome&) -> std::optional<DownloadEnd> {
        LogLine line = PresentLogRecord(session.frame.data(), length);
        line.index = index;
        if (sink.show)
            sink.show(line);
        if (line.marked) {
            LetEventsRun(session);
            if (sink.marked)
                sink.marked(ordinal);
            write(line);
        } else {
            write(line);
            LetEventsRun(session);
        }
        return std::nullopt;
    };
    return RunRecordLoop(session, span, sink, {reg::kLogRecord, "log record"}, slot, present);
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
