// Archive records of any ten bytes with any offset from UTC: decoding, the shift
// to local time (against QDateTime arithmetic), the memo and file lines, EdVal's
// truncated value; and the stretch of the ring that each choice reads.
#include "features/archive.h"
#include "tests/fuzz/fuzz_support.h"

#include <QDateTime>

#include <bit>
#include <cmath>
#include <cstdio>
#include <string>

using namespace tessavin;

namespace {

void checkRecord(fuzz::Input& in)
{
    std::uint8_t bytes[kArchiveRecordSize];
    for (auto& b : bytes)
        b = in.byte();
    // Real offsets stay within a day; the shift is checked over a wider span.
    const long long offset = in.i32();
    const int index = in.i32();

    const ArchiveRecord record = DecodeArchiveRecord(bytes);
    FUZZ_CHECK(record.yearByte == bytes[0] && record.month == bytes[1] && record.day == bytes[2]);
    FUZZ_CHECK(record.hour == bytes[3] && record.minute == bytes[4] && record.second == bytes[5]);
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = bits * 256 + bytes[6 + i];
    FUZZ_CHECK(std::bit_cast<std::uint32_t>(record.value) == bits);

    const ShiftedStamp shifted = ShiftArchiveStamp(record, offset);
    const RecordStamp& s = shifted.stamp;
    if (record.yearByte == 0) {
        FUZZ_CHECK(shifted.error == ArchiveStampError::None);
        FUZZ_CHECK(s.year == 0 && s.month == record.month && s.day == record.day && s.hour == record.hour
                   && s.minute == record.minute && s.second == record.second);
    } else if (record.hour >= 24 || record.minute >= 60 || record.second >= 60) {
        FUZZ_CHECK(shifted.error == ArchiveStampError::TimeEncode);
    } else {
        const int year = 2000 + record.yearByte;
        const QTime time(record.hour, record.minute, record.second);
        const long long sinceMidnight = time.msecsSinceStartOfDay() / 1000 + offset;
        const bool sameDay = sinceMidnight >= 0 && sinceMidnight < 86400;
        if (QDate::isValid(year, record.month, record.day)) {
            const QDateTime moved = QDateTime(QDate(year, record.month, record.day), time, Qt::UTC).addSecs(offset);
            FUZZ_CHECK(shifted.error == ArchiveStampError::None);
            FUZZ_CHECK(s.year == moved.date().year() && s.month == moved.date().month() && s.day == moved.date().day());
            FUZZ_CHECK(s.hour == moved.time().hour() && s.minute == moved.time().minute()
                       && s.second == moved.time().second());
        } else if (sameDay) {
            // An impossible date that stays on its day is shown as it came.
            FUZZ_CHECK(shifted.error == ArchiveStampError::None);
            FUZZ_CHECK(s.year == year && s.month == record.month && s.day == record.day);
            FUZZ_CHECK(s.hour * 3600 + s.minute * 60 + s.second == sinceMidnight);
        } else {
            FUZZ_CHECK(shifted.error == ArchiveStampError::DateEncode);
        }
    }

    // The lines as the C library prints them, whatever stamp and index they get;
    // what is not a finite number as GNU's does it on every system ("-nan",
    // " inf"; Windows' C library writes "-nan(ind)").
    const double value = static_cast<double>(record.value);
    char number[64];
    if (std::isfinite(value))
        std::snprintf(number, sizeof number, "%6.3f", value);
    else
        std::snprintf(number, sizeof number, "%6s",
                      (std::string(std::signbit(value) ? "-" : "") + (std::isnan(value) ? "nan" : "inf")).c_str());
    char expected[256];
    std::snprintf(expected, sizeof expected, "%4d:%2.2d:%2.2d %2.2d:%2.2d:%2.2d:  %s\r\n", s.year, s.month, s.day,
                  s.hour, s.minute, s.second, number);
    const std::string file = ArchiveFileLine(s, record.value);
    FUZZ_CHECK(file == expected);
    std::snprintf(expected, sizeof expected, "%5d ", index);
    const std::string memo = ArchiveMemoLine(index, s, record.value);
    FUZZ_CHECK(memo == expected + file.substr(0, file.size() - 2) + "\n");

    // EdVal: the value truncated toward zero, in decimal; "nan", "inf", "-inf".
    const std::string truncated = TruncatedValueText(record.value);
    const float v = record.value;
    if (std::isnan(v)) {
        FUZZ_CHECK(truncated == "nan");
    } else if (std::isinf(v)) {
        FUZZ_CHECK(truncated == (v > 0 ? "inf" : "-inf"));
    } else if (std::fabs(v) < 9.2e18f) {
        FUZZ_CHECK(truncated == std::to_string(static_cast<long long>(v)));
    } else {
        char digits[64];
        std::snprintf(digits, sizeof digits, "%.0f", static_cast<double>(v)); // whole already
        FUZZ_CHECK(truncated == digits);
    }
}

// The slots the record loop visits for a stretch: each index past the ring's end
// stands for its slot (ArchiveSlot), as the loop takes it.
void checkRange(fuzz::Input& in)
{
    const int begin = in.u16(); // the begin request's answer
    const auto choice = static_cast<RecordChoice>(in.byte() % 6);
    const int typed = in.i32();
    const int probe = in.i32();

    const int slot = ArchiveSlot(probe);
    if (probe >= 0) {
        FUZZ_CHECK(slot >= 0 && slot <= kArchiveLastIndex);
        FUZZ_CHECK(slot % kArchiveSlots == probe % kArchiveSlots);
    }
    if (probe <= kArchiveLastIndex)
        FUZZ_CHECK(slot == probe);

    const int newest = ArchiveNewestIndex(begin);
    FUZZ_CHECK(newest == (begin == 0 ? 999 : begin - 1));
    const RecordSpan range = ChooseArchiveSpan(newest, choice, typed);
    int n = 0;
    switch (choice) {
    case RecordChoice::None:
        FUZZ_CHECK(range.count <= 0);
        return;
    case RecordChoice::One:
        FUZZ_CHECK(range.count == 1);
        return;
    case RecordChoice::From:
        FUZZ_CHECK(range.count >= 0 && range.count <= kArchiveSlots);
        return;
    case RecordChoice::Index:
        n = typed;
        break;
    case RecordChoice::Last10:
        n = 10;
        break;
    case RecordChoice::Last100:
        n = 100;
        break;
    case RecordChoice::Last500:
        n = 500;
        break;
    }
    FUZZ_CHECK(range.count == n);
    if (n <= 0)
        return;
    FUZZ_CHECK(range.first >= 0);
    // Index wraps by 1000 and may run past the ring many times; its first slot
    // lies within the ring whenever it had to wrap.
    if (choice == RecordChoice::Index && static_cast<long long>(newest) - n + 1 < 0)
        FUZZ_CHECK(range.first < 1000 && (range.first - (static_cast<long long>(newest) - n + 1)) % 1000 == 0);
    // A stretch within the ring ends with the newest record.
    if (newest <= kArchiveLastIndex && (choice != RecordChoice::Index || n <= newest + 1)) {
        int idx = range.first;
        for (int i = 0; i + 1 < n; ++i)
            idx = ArchiveSlot(idx) + 1;
        FUZZ_CHECK(ArchiveSlot(idx) == newest);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    checkRecord(in);
    checkRange(in);
    return 0;
}
