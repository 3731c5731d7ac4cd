// The archive download as its handler runs it, against a far end that answers
// from the input, with fast replies on or off (the input's first byte): the begin request, the newest index, then the
// record loop of the chosen stretch with any offset from UTC, asked to stop (as the command-line tool may ask) before a
// request the input names. Checked:
//  - the begin value is the word of a valid reply with two payload bytes, else 0;
//  - the loop asks for exactly the slots of the stretch (each index past 1000
//    stands for its slot), or for the One choice's index alone, letting window
//    events run and asking whether to stop before each request;
//  - each record line holds its index, the payload's first ten bytes and the
//    stamp moved by the offset (worked out with QDateTime here), as the C
//    library prints them;
//  - the loop ends at the first failed read (TooShort for a payload under ten
//    bytes), at an impossible time or date of a dated record, after the One
//    choice's record with its value truncated toward zero, or when asked to
//    stop, before the next request;
//  - the frame log, with the trailing bytes of fast replies, the moment each
//    fast reply ended and the guard gap before the next request.
#include "tests/fuzz/fuzz_peer.h"

#include "features/archive.h"

#include <QDateTime>

#include <bit>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace tessavin;
using namespace tessavin::fuzz;

namespace {

struct Stamp {
    RecordStamp stamp;
    ArchiveStampError error = ArchiveStampError::None;
};

// The stamp shown for a record, worked out with QDateTime.
Stamp expectedStamp(const QByteArray& r, long long offset)
{
    Stamp out;
    const int y = At(r, 0), mo = At(r, 1), d = At(r, 2), h = At(r, 3), mi = At(r, 4), se = At(r, 5);
    if (y == 0) {
        out.stamp = {0, mo, d, h, mi, se};
        return out;
    }
    if (h >= 24 || mi >= 60 || se >= 60) {
        out.error = ArchiveStampError::TimeEncode;
        return out;
    }
    const long long sinceMidnight = h * 3600LL + mi * 60LL + se + offset;
    if (QDate::isValid(2000 + y, mo, d)) {
        const QDateTime moved = QDateTime(QDate(2000 + y, mo, d), QTime(h, mi, se), Qt::UTC).addSecs(offset);
        out.stamp = {moved.date().year(), moved.date().month(),  moved.date().day(),
                     moved.time().hour(), moved.time().minute(), moved.time().second()};
    } else if (sinceMidnight >= 0 && sinceMidnight < 86400) {
        const int t = static_cast<int>(sinceMidnight);
        out.stamp = {2000 + y, mo, d, t / 3600, t / 60 % 60, t % 60};
    } else {
        out.error = ArchiveStampError::DateEncode;
    }
    return out;
}

std::string printed(const char* format, const RecordStamp& s, float value, std::optional<int> index)
{
    char line[256];
    if (index)
        std::snprintf(line, sizeof line, format, *index, s.year, s.month, s.day, s.hour, s.minute, s.second,
                      static_cast<double>(value));
    else
        std::snprintf(line, sizeof line, format, s.year, s.month, s.day, s.hour, s.minute, s.second,
                      static_cast<double>(value));
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const PeerLine line = ReadPeerLine(in);
    Peer peer(in, RegisterReplyFromInput, line);
    const auto choice = static_cast<RecordChoice>(in.byte() % 7);
    const int indexCount = in.i32();
    const int oneIndex = in.i32();
    const long long utcOffsetSeconds = in.i32() % (3 * 86400);
    const int stopAt = in.byte(); // the stop flag is set before the stopAt-th record's request; 0: never

    Session& s = peer.session();
    const auto& exchanges = peer.exchanges();
    const auto exchange = [&](int send) {
        return send < static_cast<int>(exchanges.size()) ? &exchanges[static_cast<std::size_t>(send)] : nullptr;
    };
    const auto reception = [&](int send, QByteArray& received) {
        const RegisterReception r = peer.reception(send);
        received = r.received;
        return r.verdict;
    };

    // ---- the begin request ----
    const auto begin = AskRingQuestion(s, RingQuestion::ArchiveBegin);
    FUZZ_CHECK(peer.sends() == 1);
    if (const PeerExchange* e = exchange(0))
        FUZZ_CHECK(e->request == RegisterRequest(0x5B, 0, 0));
    QByteArray received;
    LinkError error = reception(0, received);
    int value = 0;
    if (error == LinkError::None) {
        if (RegisterPayload(received).size() < 2)
            error = LinkError::TooShort;
        else
            value = At(received, 8) | (At(received, 9) << 8);
    }
    FUZZ_CHECK(begin.error == error && begin.value == value && s.begin == value);
    const int newest = ArchiveNewestIndex(s.begin);
    FUZZ_CHECK(newest == (value == 0 ? 999 : value - 1));

    // ---- the record loop ----
    std::vector<ArchiveLine> lines;
    RecordSink<ArchiveLine> sink;
    s.stopRequested = stopAt == 1;
    sink.show = [&](const ArchiveLine& line) {
        lines.push_back(line);
        s.stopRequested = stopAt != 0 && static_cast<int>(lines.size()) + 1 == stopAt;
    };
    const bool one = choice == RecordChoice::One;
    const RecordSpan range = ChooseArchiveSpan(newest, choice, one ? oneIndex : indexCount);
    const DownloadOutcome outcome = ReadArchiveRecords(s, range, one, utcOffsetSeconds, sink);

    DownloadEnd end = DownloadEnd::Completed;
    LinkError why = LinkError::None;
    int lastIndex = -1;
    int attempts = 0;
    std::size_t shown = 0;
    std::optional<std::string> oneValue;
    long long idx = range.first;
    for (int i = 0; i < range.count; ++i, ++idx) {
        if (i + 1 == stopAt) {
            end = DownloadEnd::Stopped;
            break;
        }
        if (one)
            idx = oneIndex;
        else if (idx > kArchiveLastIndex)
            idx %= kArchiveSlots;
        lastIndex = static_cast<int>(idx);
        ++attempts;
        const PeerExchange* e = exchange(1 + i);
        if (e)
            FUZZ_CHECK(e->request == RegisterRequest(0x5C, static_cast<std::uint16_t>(idx & 0xFFFF), 1));
        const LinkError verdict = reception(1 + i, received);
        const QByteArray record = verdict == LinkError::None ? RegisterPayload(received) : QByteArray();
        if (verdict != LinkError::None || record.size() < 10) {
            end = DownloadEnd::RecordFailed;
            why = verdict != LinkError::None ? verdict : LinkError::TooShort;
            break;
        }
        const Stamp stamp = expectedStamp(record, utcOffsetSeconds);
        if (stamp.error == ArchiveStampError::TimeEncode) {
            end = DownloadEnd::TimeEncode;
            break;
        }
        if (stamp.error == ArchiveStampError::DateEncode) {
            end = DownloadEnd::DateEncode;
            break;
        }
        const float v = std::bit_cast<float>(
            static_cast<std::uint32_t>(At(record, 6) | (At(record, 7) << 8) | (At(record, 8) << 16))
            | (static_cast<std::uint32_t>(At(record, 9)) << 24));
        if (one) {
            end = DownloadEnd::One;
            oneValue = TruncatedValueText(v);
            break;
        }
        FUZZ_CHECK(shown < lines.size());
        const ArchiveLine& line = lines[shown++];
        FUZZ_CHECK(line.index == idx);
        const ArchiveRecord& r = line.record;
        FUZZ_CHECK(r.yearByte == At(record, 0) && r.month == At(record, 1) && r.day == At(record, 2)
                   && r.hour == At(record, 3) && r.minute == At(record, 4) && r.second == At(record, 5));
        FUZZ_CHECK(std::bit_cast<std::uint32_t>(r.value) == std::bit_cast<std::uint32_t>(v));
        const RecordStamp& st = line.stamp;
        FUZZ_CHECK(st.year == stamp.stamp.year && st.month == stamp.stamp.month && st.day == stamp.stamp.day
                   && st.hour == stamp.stamp.hour && st.minute == stamp.stamp.minute
                   && st.second == stamp.stamp.second);
        FUZZ_CHECK(line.memoLine
                   == printed("%5d %4d:%2.2d:%2.2d %2.2d:%2.2d:%2.2d:  %6.3f\n", stamp.stamp, v, line.index));
        FUZZ_CHECK(line.fileLine
                   == printed("%4d:%2.2d:%2.2d %2.2d:%2.2d:%2.2d:  %6.3f\r\n", stamp.stamp, v, std::nullopt));
    }
    FUZZ_CHECK(outcome.end == end);
    FUZZ_CHECK(outcome.error == why);
    FUZZ_CHECK(outcome.index == lastIndex);
    FUZZ_CHECK(outcome.read == static_cast<int>(shown) && lines.size() == shown);
    FUZZ_CHECK(outcome.oneValue == oneValue);
    FUZZ_CHECK(peer.sends() == 1 + attempts);
    peer.closeAndCheckRegisterLog();
    return 0;
}
