#pragma once
// How one event-log record becomes a line of the window and of the saved file.
//
// A record is the payload of a record reply: a marker ('>' or '<', anything else
// possible), "YYYY?MM?DD?hh?mm?ss?" at fixed positions and the message text, which
// may hold CR and LF. Its timestamp is rewritten into a 21-character prefix chosen
// by the marker; the rest of the record follows as it came. Records of any length
// are kept whole. Pure functions over bytes: no port, no widgets.
#include "features/record_stamp.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace tessavin {

// The number of record bytes that the timestamp prefix replaces.
constexpr std::size_t kLogPrefixLength = 21;

struct LogLine {
    // The line as it is added to the window, without a line end of its own.
    // Records marked '>' keep every CR and LF they hold (and any zero byte);
    // other records come out cleaned of them.
    QByteArray line;
    // Exactly what the saved file receives for the record: the line, then CR LF.
    QByteArray fileBytes;
    // A '>' record: the window shows its ordinal within the download in Edi.
    bool marked = false;
    // The record as it came, every byte of it.
    QByteArray record;
    // The record's index in the ring, set by the record loop (-1 elsewhere).
    long long index = -1;
};

// The six timestamp fields of a record, read as LogTimestampPrefix reads them.
RecordStamp LogRecordStamp(const std::uint8_t* record, std::size_t n);

// The prefix for a record's timestamp: ">%04d.%02d.%02d-%02d:%02d:%02d " for '>',
// the same with '<' for '<', and with a blank in place of the marker for any other
// character. Fields read from the record's fixed positions as "%d" would read them
// (leading white space skipped, a sign allowed, reading stops at the first
// non-digit; no number reads as 0) and are kept as unsigned 16-bit values, so
// "-1" prints as 65535. Bytes past the record's end read as zero. Normally 21
// characters; odd field values can make it longer.
QByteArray LogTimestampPrefix(const std::uint8_t* record, std::size_t n);

// The line for a record of n bytes (n >= 0):
//  - the first 21 characters of the prefix (the first n when the record is
//    shorter), then the record's bytes from offset 21;
//  - '>' records: nothing more; the file gets the n bytes and CR LF;
//  - other records, taken up to their first zero byte: every LF removed; then, as
//    many times as the record held LFs, the first pair of adjacent CRs loses one
//    CR; of the CRs left, the first is removed and the others become blanks.
LogLine PresentLogRecord(const std::uint8_t* record, std::size_t n);

// The line as the window's memo shows it: decoded as UTF-8 when the bytes are
// valid UTF-8, otherwise as Windows-1251, up to the first zero byte. CR, LF and
// CR LF inside a '>' record stay in the text; the memo breaks the line there.
QString LogMemoText(const LogLine& line);

} // namespace tessavin
