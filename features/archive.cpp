#include "features/archive.h"

#include "protocol/register_link.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tessavin {

namespace {

constexpr long long kSecondsPerDay = 86400;

bool isLeapYear(long long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(long long year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

long long floorDiv(long long a, long long b)
{
    const long long q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Days since 1970-01-01 of a proleptic Gregorian date (valid month and day).
long long daysFromCivil(long long y, int m, int d)
{
    y -= m <= 2;
    const long long era = floorDiv(y, 400);
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(long long z, long long& y, int& m, int& d)
{
    z += 719468;
    const long long era = floorDiv(z, 146097);
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

// The value as "%6.3f" prints a double, but with a full stop in any locale.
std::string valueText(float value)
{
    char digits[96];
    const auto result = std::to_chars(digits, digits + sizeof digits, static_cast<double>(value),
                                      std::chars_format::fixed, 3);
    std::string text(digits, result.ec == std::errc() ? result.ptr : digits);
    if (text.size() < 6)
        text.insert(0, 6 - text.size(), ' ');
    return text;
}

std::string formatLine(const char* format, int index, bool withIndex, const RecordStamp& s, float value)
{
    const std::string v = valueText(value);
    char buffer[256];
    int n = 0;
    if (withIndex)
        n = std::snprintf(buffer, sizeof buffer, format, index, s.year, s.month, s.day, s.hour, s.minute, s.second,
                          v.c_str());
    else
        n = std::snprintf(buffer, sizeof buffer, format, s.year, s.month, s.day, s.hour, s.minute, s.second, v.c_str());
    if (n < 0)
        return {};
    return std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

} // namespace

int ArchiveNewestIndex(int begin)
{
    const int newest = begin - 1;
    return newest < 0 ? newest + 1000 : newest;
}

int ArchiveSlot(int index)
{
    if (index > kArchiveLastIndex)
        return index % kArchiveSlots;
    return index;
}

RecordSpan ChooseArchiveSpan(int newestIndex, RecordChoice choice, int number)
{
    const auto last = [newestIndex](int n) {
        int start = newestIndex - n + 1;
        if (start < 0)
            start += kArchiveSlots;
        return RecordSpan{start, n};
    };
    switch (choice) {
    case RecordChoice::Last500:
        return last(500);
    case RecordChoice::Last100:
        return last(100);
    case RecordChoice::Last10:
        return last(10);
    case RecordChoice::Index: {
        if (number <= 0)
            return {0, number};
        long long start = static_cast<long long>(newestIndex) - number + 1;
        if (start < 0)
            start += 1000 * ((-start + 999) / 1000);
        return {start, number};
    }
    case RecordChoice::One:
        return {number, 1};
    case RecordChoice::From:
        if (number < 0 || number > kArchiveLastIndex)
            return {number, 0};
        return {number, number <= newestIndex ? newestIndex - number + 1 : kArchiveSlots - number + newestIndex + 1};
    case RecordChoice::None:
        break;
    }
    return {0, 0};
}

ArchiveRecord DecodeArchiveRecord(const std::uint8_t* bytes)
{
    ArchiveRecord r;
    r.yearByte = bytes[0];
    r.month = bytes[1];
    r.day = bytes[2];
    r.hour = bytes[3];
    r.minute = bytes[4];
    r.second = bytes[5];
    const std::uint32_t raw = static_cast<std::uint32_t>(bytes[6]) | (static_cast<std::uint32_t>(bytes[7]) << 8)
        | (static_cast<std::uint32_t>(bytes[8]) << 16) | (static_cast<std::uint32_t>(bytes[9]) << 24);
    r.value = std::bit_cast<float>(raw);
    return r;
}

ShiftedStamp ShiftArchiveStamp(const ArchiveRecord& record, long long utcOffsetSeconds)
{
    ShiftedStamp out;
    if (record.yearByte == 0) {
        out.stamp = {0, record.month, record.day, record.hour, record.minute, record.second};
        return out;
    }
    const long long year = 2000 + record.yearByte;
    out.stamp = {static_cast<int>(year), record.month, record.day, record.hour, record.minute, record.second};
    if (record.hour >= 24 || record.minute >= 60 || record.second >= 60) {
        out.error = ArchiveStampError::TimeEncode;
        return out;
    }
    const long long total = record.hour * 3600LL + record.minute * 60LL + record.second + utcOffsetSeconds;
    const long long dayShift = floorDiv(total, kSecondsPerDay);
    const long long timeOfDay = total - dayShift * kSecondsPerDay;
    if (dayShift != 0) {
        if (record.month < 1 || record.month > 12 || record.day < 1 || record.day > daysInMonth(year, record.month)) {
            out.error = ArchiveStampError::DateEncode;
            return out;
        }
        long long y = 0;
        int m = 0;
        int d = 0;
        civilFromDays(daysFromCivil(year, record.month, record.day) + dayShift, y, m, d);
        out.stamp.year = static_cast<int>(y);
        out.stamp.month = m;
        out.stamp.day = d;
    }
    out.stamp.hour = static_cast<int>(timeOfDay / 3600);
    out.stamp.minute = static_cast<int>(timeOfDay / 60 % 60);
    out.stamp.second = static_cast<int>(timeOfDay % 60);
    return out;
}

std::string ArchiveMemoLine(int index, const RecordStamp& stamp, float value)
{
    return formatLine("%5d %4d:%2.2d:%2.2d %2.2d:%2.2d:%2.2d:  %s\n", index, true, stamp, value);
}

std::string ArchiveFileLine(const RecordStamp& stamp, float value)
{
    return formatLine("%4d:%2.2d:%2.2d %2.2d:%2.2d:%2.2d:  %s\r\n", 0, false, stamp, value);
}

std::string TruncatedValueText(float value)
{
    // A NaN's sign bit carries nothing; to_chars would show it as "-nan".
    if (std::isnan(value))
        return "nan";
    const double whole = std::trunc(static_cast<double>(value));
    if (whole == 0.0)
        return "0";
    char digits[96];
    const auto result = std::to_chars(digits, digits + sizeof digits, whole, std::chars_format::fixed, 0);
    if (result.ec != std::errc())
        return {};
    return std::string(digits, result.ptr);
}

DownloadOutcome ReadArchiveRecords(Session& session, const RecordSpan& span, bool one, long long utcOffsetSeconds,
                                   const RecordSink<ArchiveLine>& sink)
{
    const auto slot = [&](long long position) -> long long {
        return one ? static_cast<int>(span.first) : ArchiveSlot(static_cast<int>(position));
    };
    const auto present = [&](long long at, std::size_t, int, DownloadOutcome& outcome) -> std::optional<DownloadEnd> {
        const int index = static_cast<int>(at);
        outcome.index = index; // the archive's outcome names the last record read, however the loop ends
        const ArchiveRecord record = DecodeArchiveRecord(session.frame.data());
        const ShiftedStamp shifted = ShiftArchiveStamp(record, utcOffsetSeconds);
        if (shifted.error == ArchiveStampError::TimeEncode)
            return DownloadEnd::TimeEncode;
        if (shifted.error == ArchiveStampError::DateEncode)
            return DownloadEnd::DateEncode;
        if (one) {
            outcome.oneValue = TruncatedValueText(record.value);
            outcome.oneRecordValue = record.value;
            return DownloadEnd::One;
        }
        const ArchiveLine line{index, ArchiveMemoLine(index, shifted.stamp, record.value),
                               ArchiveFileLine(shifted.stamp, record.value), record, shifted.stamp};
        if (sink.file && sink.file->isOpen())
            sink.file->write(QByteArray::fromStdString(line.fileLine));
        if (sink.show)
            sink.show(line);
        return std::nullopt;
    };
    return RunRecordLoop(session, span, sink, {reg::kArchiveRecord, "archive record", kArchiveRecordSize}, slot,
                         present);
}

DownloadOutcome DownloadArchive(Session& session, long long utcOffsetSeconds, const DownloadSteps<ArchiveLine>& steps)
{
    return RunDownload(session, {RingQuestion::ArchiveBegin}, steps, [&](const RecordPick& pick) {
        const int newest = pick.newest >= 0 ? pick.newest : ArchiveNewestIndex(session.begin);
        const RecordSpan span = ChooseArchiveSpan(newest, pick.choice, pick.number);
        if (steps.chosen)
            steps.chosen(span);
        return ReadArchiveRecords(session, span, pick.choice == RecordChoice::One, utcOffsetSeconds, steps.sink);
    });
}

} // namespace tessavin
