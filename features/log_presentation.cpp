#include "features/log_presentation.h"

#include "util/text_codec.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tessavin {

namespace {

constexpr char kCR = '\r';
constexpr char kLF = '\n';

// The record's byte at a position; past the end the record reads as zeros.
std::uint8_t byteAt(const std::uint8_t* record, std::size_t n, std::size_t pos) { return pos < n ? record[pos] : 0; }

bool isCSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One timestamp field of `width` characters at `pos`, read like "%d" reads a
// string that holds only those characters.
std::uint16_t readField(const std::uint8_t* record, std::size_t n, std::size_t pos, std::size_t width)
{
    std::size_t i = 0;
    const auto at = [&](std::size_t k) { return k < width ? byteAt(record, n, pos + k) : std::uint8_t{0}; };
    while (at(i) != 0 && isCSpace(at(i)))
        ++i;
    bool negative = false;
    if (at(i) == '+' || at(i) == '-') {
        negative = at(i) == '-';
        ++i;
    }
    int value = 0;
    bool digits = false;
    while (at(i) >= '0' && at(i) <= '9') {
        value = value * 10 + (at(i) - '0');
        digits = true;
        ++i;
    }
    if (!digits)
        return 0;
    return static_cast<std::uint16_t>(negative ? -value : value);
}

// The cleaning of a record not marked '>' (see PresentLogRecord).
QByteArray cleanLine(QByteArray line, int lineFeeds)
{
    line.removeIf([](char c) { return c == kLF; });
    for (int k = 0; k < lineFeeds; ++k) {
        const qsizetype pair = line.indexOf("\r\r");
        if (pair < 0)
            break;
        line.remove(pair, 1);
    }
    const qsizetype first = line.indexOf(kCR);
    if (first >= 0) {
        line.remove(first, 1);
        line.replace(kCR, ' ');
    }
    return line;
}

} // namespace

RecordStamp LogRecordStamp(const std::uint8_t* record, std::size_t n)
{
    return {readField(record, n, 1, 4),  readField(record, n, 6, 2),  readField(record, n, 9, 2),
            readField(record, n, 12, 2), readField(record, n, 15, 2), readField(record, n, 18, 2)};
}

QByteArray LogTimestampPrefix(const std::uint8_t* record, std::size_t n)
{
    const std::uint8_t marker = byteAt(record, n, 0);
    const char shown = marker == '>' || marker == '<' ? static_cast<char>(marker) : ' ';
    const RecordStamp s = LogRecordStamp(record, n);
    std::array<char, 64> text{};
    const int length = std::snprintf(text.data(), text.size(), "%c%04d.%02d.%02d-%02d:%02d:%02d ", shown, s.year,
                                     s.month, s.day, s.hour, s.minute, s.second);
    return QByteArray(text.data(), std::clamp(length, 0, static_cast<int>(text.size()) - 1));
}

LogLine PresentLogRecord(const std::uint8_t* record, std::size_t n)
{
    LogLine result;
    result.marked = n > 0 && record[0] == '>';

    const QByteArray prefix = LogTimestampPrefix(record, n);
    const std::size_t head = std::min(n, kLogPrefixLength);
    QByteArray line = prefix.left(static_cast<qsizetype>(head));
    if (n > kLogPrefixLength)
        line.append(reinterpret_cast<const char*>(record) + kLogPrefixLength,
                    static_cast<qsizetype>(n - kLogPrefixLength));

    if (!result.marked) {
        // The cleaning works on the text up to its first zero byte, and counts
        // the line feeds of the record itself up to there.
        const std::uint8_t* end = std::find(record, record + n, std::uint8_t{0});
        const int lineFeeds = static_cast<int>(std::count(record, end, std::uint8_t{kLF}));
        const qsizetype zero = line.indexOf('\0');
        if (zero >= 0)
            line.truncate(zero);
        line = cleanLine(std::move(line), lineFeeds);
    }

    result.line = line;
    result.fileBytes = line;
    result.fileBytes.append("\r\n");
    result.record = QByteArray(reinterpret_cast<const char*>(record), static_cast<qsizetype>(n));
    return result;
}

QString LogMemoText(const LogLine& line)
{
    const qsizetype zero = line.line.indexOf('\0');
    return DecodeText(zero >= 0 ? line.line.left(zero) : line.line);
}

} // namespace tessavin
