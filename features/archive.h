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
#include "features/download.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tessavin {

constexpr int kArchiveSlots = 1001;
constexpr int kArchiveLastIndex = kArchiveSlots - 1;
constexpr std::size_t kArchiveRecordSize = 10;

// The newest record's index B' from the begin value B: B - 1, and 999 for B = 0.
int ArchiveNewestIndex(int begin);

// The stretch that a choice selects, from the newest index B':
//   Last10/100/500: start B' - N + 1, plus 1001 when negative; count N.
//   Index (N from the count field): start B' - N + 1, plus 1000 when negative
//     (as often as needed for an N beyond the ring); count N.
//   One: the record `number` (the one-record field), count 1.
//   From (`number` is I, 0..1000): I to B', oldest first, wrapping from 1000
//     to 0; the whole ring when I is the slot after B'.
//   None: nothing.
RecordSpan ChooseArchiveSpan(int newestIndex, RecordChoice choice, int number = 0);

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
    RecordStamp stamp;
    ArchiveStampError error = ArchiveStampError::None;
};

// The record's stamp moved by utcOffsetSeconds (local time minus UTC; negative
// west of UTC). An undated record (year byte 0) keeps its raw fields unchecked.
ShiftedStamp ShiftArchiveStamp(const ArchiveRecord& record, long long utcOffsetSeconds);

// "%5d %4d:%2.2d:%2.2d %2.2d:%2.2d:%2.2d:  %6.3f\n" with index, stamp and value;
// the value is printed as a double, with a full stop whatever the locale.
std::string ArchiveMemoLine(int index, const RecordStamp& stamp, float value);
// "%4d:%2.2d:%2.2d %2.2d:%2.2d:%2.2d:  %6.3f\r\n"
std::string ArchiveFileLine(const RecordStamp& stamp, float value);

// A value truncated toward zero, in decimal ("12" for 12.5, "-7" for -7.9, "0"
// for -0.5); infinities as "inf" and "-inf", and every not-a-number as "nan",
// whatever its sign bit.
std::string TruncatedValueText(float value);

struct ArchiveLine {
    int index = 0;
    std::string memoLine; // ends in LF
    std::string fileLine; // ends in CR LF
    ArchiveRecord record; // as the controller sent it
    RecordStamp stamp; // as shown: shifted when dated
};

// Reads the records of the span, one 0x5C request each, in the record loop
// (RunRecordLoop, download.h: Stop, retries, a record that still fails ending
// it; a payload under ten bytes fails). Each record is decoded and shifted by
// utcOffsetSeconds, its file line written, then shown. With `one` the single
// record span.first is read and its value comes back in the outcome instead
// (DownloadEnd::One). An impossible time or date ends the loop at its record.
// The outcome's index is the last record read, however the loop ended.
DownloadOutcome ReadArchiveRecords(Session& session, const RecordSpan& span, bool one, long long utcOffsetSeconds,
                                   const RecordSink<ArchiveLine>& sink);

// The RETRO button's whole download: the begin question, the choice (whose
// Index counts back from the newest record B', or from pick.newest when set),
// the record loop.
DownloadOutcome DownloadArchive(Session& session, long long utcOffsetSeconds, const DownloadSteps<ArchiveLine>& steps);

} // namespace tessavin
