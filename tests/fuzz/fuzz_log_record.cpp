// An event-log record of any bytes and length, as RegReadBlock leaves it in the
// Frame buffer, through the presentation: the prefix, the line, the file bytes
// and the memo text.
#include "tests/fuzz/fuzz_support.h"
#include "features/log_presentation.h"
#include "util/text_codec.h"

#include <cstdio>
#include <string>

using namespace tessavin;

namespace {

// A timestamp field as the C library's "%d" reads a string of just its characters
// (bytes past the record read as zero, and a zero ends the string).
int scannedField(const std::uint8_t* record, std::size_t n, std::size_t pos, std::size_t width)
{
    std::string text;
    for (std::size_t k = 0; k < width && pos + k < n && record[pos + k] != 0; ++k)
        text += static_cast<char>(record[pos + k]);
    int value = 0;
    if (std::sscanf(text.c_str(), "%d", &value) != 1)
        return 0;
    return static_cast<std::uint16_t>(value);
}

// The cleaning of a record not marked '>', written out step by step over a
// plain string: cut at the zero, drop LFs, close up one CR pair per LF, then the
// first CR goes and the others become blanks.
std::string cleaned(const std::string& raw, int lineFeeds)
{
    std::string s = raw.substr(0, raw.find('\0'));
    std::string noLf;
    for (char c : s)
        if (c != '\n')
            noLf += c;
    for (int k = 0; k < lineFeeds; ++k) {
        const auto pair = noLf.find("\r\r");
        if (pair == std::string::npos)
            break;
        noLf.erase(pair, 1);
    }
    std::string out;
    bool firstSeen = false;
    for (char c : noLf) {
        if (c != '\r')
            out += c;
        else if (firstSeen)
            out += ' ';
        else
            firstSeen = true;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray prefix = LogTimestampPrefix(data, size);
    char expected[64];
    const std::uint8_t marker = size > 0 ? data[0] : 0;
    std::snprintf(expected, sizeof expected, "%c%04d.%02d.%02d-%02d:%02d:%02d ",
                  marker == '>' || marker == '<' ? static_cast<char>(marker) : ' ', scannedField(data, size, 1, 4),
                  scannedField(data, size, 6, 2), scannedField(data, size, 9, 2), scannedField(data, size, 12, 2),
                  scannedField(data, size, 15, 2), scannedField(data, size, 18, 2));
    FUZZ_CHECK(prefix == QByteArray(expected));
    FUZZ_CHECK(prefix.size() >= static_cast<qsizetype>(kLogPrefixLength));

    const LogLine line = PresentLogRecord(data, size);
    FUZZ_CHECK(line.marked == (marker == '>' && size > 0));
    FUZZ_CHECK(line.fileBytes == line.line + "\r\n");

    const std::size_t head = std::min(size, kLogPrefixLength);
    const QByteArray raw = prefix.left(static_cast<qsizetype>(head))
        + (size > kLogPrefixLength ? QByteArray(reinterpret_cast<const char*>(data) + kLogPrefixLength,
                                                static_cast<qsizetype>(size - kLogPrefixLength))
                                   : QByteArray());
    if (line.marked) {
        // Kept whole: the record's length, and every byte after the prefix as it came.
        FUZZ_CHECK(line.line.size() == static_cast<qsizetype>(size));
        FUZZ_CHECK(line.line == raw);
    } else {
        FUZZ_CHECK(!line.line.contains('\n') && !line.line.contains('\r') && !line.line.contains('\0'));
        FUZZ_CHECK(line.line.size() <= static_cast<qsizetype>(size));
        int lineFeeds = 0;
        for (std::size_t i = 0; i < size && data[i] != 0; ++i)
            lineFeeds += data[i] == '\n';
        const std::string reference = cleaned(raw.toStdString(), lineFeeds);
        FUZZ_CHECK(line.line == QByteArray::fromStdString(reference));
    }

    // The memo shows the line up to its first zero, as UTF-8 when it is well-formed
    // UTF-8 (every byte kept), otherwise one character per byte.
    const QByteArray shown = line.line.left(line.line.indexOf('\0') >= 0 ? line.line.indexOf('\0') : line.line.size());
    const QString memo = LogMemoText(line);
    if (fuzz::WellFormedUtf8(shown))
        FUZZ_CHECK(memo.toUtf8() == shown);
    else
        FUZZ_CHECK(memo == DecodeWindows1251(shown));
    return 0;
}
