// The event-log download as the LOG button runs it, against a far end that
// answers from the input, with fast replies on or off (the input's first byte):
// the capacity question (when ticked), the count and begin questions, the span
// of the ticked choice and the record loop, with Stop pressed at a moment the
// input names (of the clock, or a run of the window's events). Checked:
//  - each question sends its 14-byte request and stores the word of a valid
//    reply whose payload holds two bytes, otherwise 0 with TooShort or the verdict;
//  - the loop asks for exactly the indexes of the span, from its first one,
//    wrapping from capacity - 1 to 0; for a ring as a controller keeps it they
//    are the newest slots, each once;
//  - every record shown is the presentation of its reply's payload, in order,
//    with the payload and its index, '>' records reported with their ordinal,
//    progress after each record;
//  - the loop ends at the first failed record with its error and index, and
//    Stop ends it before the next request (the request under way completes:
//    with fast replies, also one that was waiting out the guard gap);
//  - the file holds exactly what was shown, each record as its file bytes;
//  - the frame log, with the trailing bytes of fast replies, the moment each
//    fast reply ended and the guard gap before the next request.
#include "tests/fuzz/fuzz_peer.h"

#include "features/event_log.h"
#include "util/open_files.h"

#include <QFile>
#include <QTemporaryDir>

#include <climits>
#include <optional>
#include <vector>

using namespace tessavin;
using namespace tessavin::fuzz;

namespace {

std::uint8_t questionCommand(RingQuestion q)
{
    switch (q) {
    case RingQuestion::LogCapacity:
        return 0x1D;
    case RingQuestion::LogCount:
        return 0x1C;
    case RingQuestion::LogBegin:
    case RingQuestion::ArchiveBegin:
        break;
    }
    return 0x19;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir folder;
    const QString path = folder.path() + QStringLiteral("/log.txt");

    Input in(data, size);
    const PeerLine line = ReadPeerLine(in);
    Peer peer(in, RegisterReplyFromInput, line);
    const bool askCapacity = in.byte() & 1;
    const auto choice = static_cast<RecordChoice>(in.byte() % 6);
    const int number = in.i32();
    const std::uint32_t stopAt = in.u32();

    Session& s = peer.session();
    const auto& exchanges = peer.exchanges();
    // The frame of the n-th send, when it was written (never once the port is gone).
    const auto exchange = [&](int send) {
        return send < static_cast<int>(exchanges.size()) ? &exchanges[static_cast<std::size_t>(send)] : nullptr;
    };

    // Stop is pressed at a moment of the virtual clock (it then takes effect in
    // a wait, during an exchange), or (top bit set) in the n-th run of the
    // window's events, wherever that falls. What counts is how many requests
    // had been sent (or, with the port open, written) when it was pressed.
    std::optional<int> sendsAtStop;
    ms stoppedAt{0};
    const bool inEvents = stopAt & 0x80000000u;
    if (inEvents) {
        s.link.setPump([&, pumps = 0u, at = stopAt & 0xFFFF]() mutable {
            if (++pumps == at && s.link.isOpen()) {
                s.stopRequested = true;
                sendsAtStop = static_cast<int>(exchanges.size());
                stoppedAt = peer.clock().now();
            }
        });
    } else if (stopAt != 0) {
        peer.clock().at(ms(1 + stopAt % 400000), [&] {
            s.stopRequested = true;
            sendsAtStop = peer.sends();
            stoppedAt = peer.clock().now();
        });
    }

    // ---- the questions ----
    s.stopRequested = false;
    std::vector<RingQuestion> questions;
    if (askCapacity)
        questions.push_back(RingQuestion::LogCapacity);
    else
        s.capacity = kDefaultLogCapacity;
    questions.push_back(RingQuestion::LogCount);
    questions.push_back(RingQuestion::LogBegin);
    for (std::size_t q = 0; q < questions.size(); ++q) {
        const auto answer = AskRingQuestion(s, questions[q]);
        FUZZ_CHECK(peer.sends() == static_cast<int>(q) + 1);
        const PeerExchange* e = exchange(static_cast<int>(q));
        if (e)
            FUZZ_CHECK(e->request == RegisterRequest(questionCommand(questions[q]), 0, 0));
        const RegisterReception v = peer.reception(static_cast<int>(q));
        LinkError error = v.verdict;
        int value = 0;
        if (error == LinkError::None) {
            if (RegisterPayload(v.received).size() < 2)
                error = LinkError::TooShort;
            else
                value = At(v.received, 8) | (At(v.received, 9) << 8);
        }
        FUZZ_CHECK(answer.error == error && answer.value == value);
        const int stored = questions[q] == RingQuestion::LogCapacity ? s.capacity
            : questions[q] == RingQuestion::LogCount                 ? s.count
                                                                     : s.begin;
        FUZZ_CHECK(stored == value);
    }
    const int asked = static_cast<int>(questions.size());

    // ---- the record loop ----
    const RecordSpan span = ChooseLogSpan(choice, number, s.begin, s.count, s.capacity);
    OutputFile file;
    FUZZ_CHECK(file.create(path));
    std::vector<LogLine> shown;
    std::vector<int> ordinals;
    std::vector<std::pair<int, int>> progress;
    RecordSink<LogLine> sink;
    sink.show = [&](const LogLine& line) { shown.push_back(line); };
    sink.marked = [&](int ordinal) { ordinals.push_back(ordinal); };
    sink.progress = [&](int done, int total) { progress.emplace_back(done, total); };
    sink.file = &file;
    const DownloadOutcome result = RunLogRecordLoop(s, span, s.capacity, sink);
    file.close();

    // The walk the loop should have made. Stop pressed while the a-th record
    // request was under way lets that one complete and no other start.
    //
    // With fast replies, a request after a reply that ended at its stated length
    // first waits out the guard gap, and is under way while it waits: Stop
    // pressed after that reply's end (and so in the wait) lets it go. Stop in a
    // run of window events at the very moment the reply ended may fall in the
    // loop before the request or in its wait; either is right.
    bool eitherSide = false;
    if (sendsAtStop && *sendsAtStop >= 1 && *sendsAtStop <= static_cast<int>(exchanges.size())) {
        const RegisterReception last = peer.reception(*sendsAtStop - 1);
        if (last.endedAt && stoppedAt > *last.endedAt)
            ++*sendsAtStop;
        else if (last.endedAt && stoppedAt == *last.endedAt && inEvents)
            eitherSide = true;
    }
    int stopBefore = sendsAtStop ? std::max(0, *sendsAtStop - asked) : INT_MAX;
    DownloadEnd end = DownloadEnd::Completed;
    LinkError error = LinkError::None;
    int failedIndex = -1;
    int attempts = 0;
    int read = 0;
    QByteArray fileBytes;
    std::vector<int> expectedOrdinals;
    std::vector<long long> indexes;
    long long index = span.first;
    for (int i = 0; i < span.count; ++i) {
        if (i >= stopBefore) {
            if (eitherSide && i == stopBefore && peer.sends() > asked + i) {
                stopBefore = i + 1; // it went: Stop came in its wait
            } else {
                end = DownloadEnd::Stopped;
                break;
            }
        }
        if (index == s.capacity)
            index = 0;
        indexes.push_back(index);
        ++attempts;
        const PeerExchange* e = exchange(asked + i);
        if (e)
            FUZZ_CHECK(e->request == RegisterRequest(0x1A, static_cast<std::uint16_t>(index & 0xFFFF), 1));
        const RegisterReception v = peer.reception(asked + i);
        const QByteArray payload = v.verdict == LinkError::None ? RegisterPayload(v.received) : QByteArray();
        const LinkError why = v.verdict != LinkError::None ? v.verdict
            : payload.isEmpty()                            ? LinkError::TooShort
                                                           : LinkError::None;
        if (why != LinkError::None) {
            end = DownloadEnd::RecordFailed;
            error = why;
            failedIndex = static_cast<int>(index);
            break;
        }
        const LogLine line = PresentLogRecord(bytesOf(payload), static_cast<std::size_t>(payload.size()));
        FUZZ_CHECK(read < static_cast<int>(shown.size()));
        const LogLine& got = shown[static_cast<std::size_t>(read)];
        FUZZ_CHECK(got.line == line.line && got.fileBytes == line.fileBytes && got.marked == line.marked);
        FUZZ_CHECK(got.record == payload && got.index == index);
        FUZZ_CHECK(progress[static_cast<std::size_t>(read)] == std::make_pair(i + 1, span.count));
        if (line.marked)
            expectedOrdinals.push_back(i + 1);
        fileBytes += line.fileBytes;
        ++read;
        ++index;
    }
    FUZZ_CHECK(result.end == end);
    FUZZ_CHECK(result.read == read && static_cast<int>(shown.size()) == read);
    FUZZ_CHECK(static_cast<int>(progress.size()) == read);
    FUZZ_CHECK(result.error == error && result.index == failedIndex);
    FUZZ_CHECK(ordinals == expectedOrdinals);
    FUZZ_CHECK(peer.sends() == asked + attempts);

    QFile saved(path);
    FUZZ_CHECK(saved.open(QIODevice::ReadOnly));
    FUZZ_CHECK(saved.readAll() == fileBytes);

    // A ring as a controller keeps it (full, or filled from slot 0 up to begin):
    // the newest records, each slot once, all within the ring.
    const int m = s.capacity, c = s.count, b = s.begin;
    const bool consistent = m > 0 && b < m && (c == m || (c < m && b == c));
    if (consistent && choice != RecordChoice::One) {
        std::vector<bool> newest(static_cast<std::size_t>(m), false);
        for (int k = 1; k <= span.count; ++k)
            newest[static_cast<std::size_t>(((b - k) % m + m) % m)] = true;
        for (const long long at : indexes) {
            FUZZ_CHECK(at >= 0 && at < m && newest[static_cast<std::size_t>(at)]);
            newest[static_cast<std::size_t>(at)] = false;
        }
    }
    peer.closeAndCheckRegisterLog();
    return 0;
}
