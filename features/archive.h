#pragma once
// The archive ("retro"): the controller's ring of ten-byte dated values.
//
// The ring has 1001 slots, indexes 0 to 1000; after 1000 comes 0. The begin
// request (0x5B) names the slot after the newest record; each record is read by
// its index with one 0x5C request. A record is year - 2000 (0: undated), month,
// day, hour, minute, second and a little-endian single-precision value.
//
// Dated records are shown in the computer's local time: the controller keeps
// UTC, and every dated record is moved by the computer's real offset from UTC
// (signed, to the second), the date following across midnight, month and year
// ends and leap days. Undated records are shown as they came.
#include "record_choice.h"
#include "session.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tessavin {

constexpr int kArchiveSlots = 1001;
constexpr int kArchiveLastIndex = kArchiveSlots - 1;
constexpr std::size_t kArchiveRecordSize = 10;

// The first index and the number of records to read. A count of 0 or less reads nothing.
struct ArchiveRange {
    int start = 0;
    int count = 0;
};

// The newest record's index B' from the begin value B: B - 1, and 999 for B = 0.
int ArchiveNewestIndex(int begin);

// The stretch that a choice selects, from the newest index B':
//   Last10/100/500: start B' - N + 1, plus 1001 when negative; count N.
//   Index (N from the count field): start B' - N + 1, plus 1000 when negative
//     (as often as needed for an N beyond the ring); count N.
//   One: count 1 (the index itself comes from the one-record field).
//   None: nothing.
ArchiveRange ChooseArchiveRange(int newestIndex, RecordChoice choice, int indexCount = 0);

// The slot an index running past the ring's end stands for (1001 is 0 again).
int ArchiveSlot(int index);

struct ArchiveRecord {
    std::uint8_t yearByte = 0;
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint8_t second = 0;
    float value = 0.0f;
};

// Reads the ten record bytes at `bytes`.
ArchiveRecord DecodeArchiveRecord(const std::uint8_t* bytes);

// A record's date and time as shown: year is 0 for an undated record.
struct ArchiveStamp {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

enum class ArchiveStampError {
    None,
    // A dated record with hour 24 or more, or minute or second 60 or more.
    TimeEncode,
    // A dated record whose shift crosses midnight while its date is impossible
    // (month 0 or above 12, day 0 or a day its month lacks). A record that stays
    // on its own day is shown with its date as it came.
    DateEncode,
};

struct ShiftedStamp {
    ArchiveStamp stamp;
    ArchiveStampError error = ArchiveStampError::None;
};

// The record's stamp moved by utcOffsetSeconds (local time minus UTC; negative
// west of UTC). An undated record (year byte 0) keeps its raw fields unchecked.
ShiftedStamp ShiftArchiveStamp(const ArchiveRecord& record, long long utcOffsetSeconds);

// "%5d %4d:%2.2d:%2.2d %2.2d:%2.2d:%2.2d:  %6.3f\n" with index, stamp and value;
// the value is printed as a double, with a full stop whatever the locale.
std::string ArchiveMemoLine(int index, const ArchiveStamp& stamp, float value);
// "%4d:%2.2d:%2.2d %2.2d:%2.2d:%2.2d:  %6.3f\r\n"
std::string ArchiveFileLine(const ArchiveStamp& stamp, float value);

// A value truncated toward zero, in decimal ("12" for 12.5, "-7" for -7.9, "0"
// for -0.5); infinities as "inf" and "-inf", and every not-a-number as "nan",
// whatever its sign bit.
std::string TruncatedValueText(float value);

// The begin step: one begin request through the word read; the value (0 when
// the request failed) is stored as the shared begin and returned.
LinkResult<int> ReadArchiveBegin(Session& session);

struct ArchivePlan {
    RecordChoice choice = RecordChoice::None;
    int indexCount = 0;      // N of the Index choice
    int oneIndex = 0;        // the record read by the One choice
    long long utcOffsetSeconds = 0;
};

struct ArchiveLine {
    int index = 0;
    std::string memoLine;   // ends in LF
    std::string fileLine;   // ends in CR LF
    ArchiveRecord record;   // as the controller sent it
    ArchiveStamp stamp;     // as shown: shifted when dated
};

struct ArchiveEvents {
    // Runs before each record request (lets window events run).
    std::function<void()> processMessages;
    // Asked before each record request, after processMessages; true ends the
    // loop (ArchiveEnd::Stopped). The window sets none: its archive download
    // has no Stop.
    std::function<bool()> stopRequested;
    // One record read and decoded.
    std::function<void(const ArchiveLine&)> line;
};

enum class ArchiveEnd {
    Done,          // by count (or nothing chosen)
    ReadFailed,    // no reply, a bad checksum, or a payload under ten bytes
    TimeEncode,
    DateEncode,
    One,           // the One choice's record was read
    Stopped,       // stopRequested said so before a request
};

struct ArchiveOutcome {
    ArchiveEnd end = ArchiveEnd::Done;
    int linesRead = 0;
    int lastIndex = -1;                  // the index of the record that ended the loop
    LinkError error = LinkError::None;   // ReadFailed: why
    std::optional<std::string> oneValue; // One: the value truncated toward zero
    float oneRecordValue = 0;            // One: the value as the record holds it
};

// The record loop over the stretch that the plan chooses from the newest index.
// Each record is requested, decoded, shifted and reported through `events.line`
// (except with the One choice, whose value comes back in the outcome). The loop
// ends by count, at the first failed read, at an impossible time or date,
// after the One choice's record, or when events.stopRequested says so.
ArchiveOutcome ReadArchiveRecords(Session& session, int newestIndex, const ArchivePlan& plan,
                                  const ArchiveEvents& events);

} // namespace tessavin
