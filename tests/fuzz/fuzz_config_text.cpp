// Configuration bytes of any content, as a file or the controller gives them, to
// the memo's text and back: the same bytes apart from line ends, which come back
// as CR LF. The display decoding shared with the other memos judges the bytes the
// same way. Read as JSON: an error lies within the text, and a JSON text, its
// compact form and itself show no differences.
#include "features/config/config_json.h"
#include "features/config/config_text.h"
#include "tests/fuzz/fuzz_support.h"
#include "util/text_codec.h"

using namespace tessavin;

namespace {

// The bytes with every line end (CR LF, CR, LF and, in UTF-8 text, U+2029, the
// memo's block separator) written as CR LF.
QByteArray withCrLf(const QByteArray& bytes, bool utf8)
{
    QByteArray out;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            out += "\r\n";
        } else if (bytes[i] == '\n') {
            out += "\r\n";
        } else if (utf8 && bytes.mid(i, 3) == "\xE2\x80\xA9") {
            out += "\r\n";
            i += 2;
        } else {
            out += bytes[i];
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const bool utf8 = fuzz::WellFormedUtf8(bytes);

    const DecodedConfigText decoded = DecodeConfigText(bytes);
    FUZZ_CHECK((decoded.encoding == TextEncoding::Utf8) == utf8);
    FUZZ_CHECK(EncodeConfigText(decoded.text, decoded.encoding) == withCrLf(bytes, utf8));
    // Nothing that the memo takes for a line break but the line ends: not U+FDD0
    // or U+FDD1, its marks of a frame's beginning and end.
    FUZZ_CHECK(!decoded.text.contains(QChar(0xFDD0)) && !decoded.text.contains(QChar(0xFDD1)));
    if (!utf8)
        FUZZ_CHECK(decoded.text.size() == bytes.size()); // one character per byte

    // The display decoding: the same verdict, and UTF-8 shown with every byte kept.
    FUZZ_CHECK(IsValidUtf8(bytes) == utf8);
    TextEncoding detected = TextEncoding::Windows1251;
    const QString shown = DecodeText(bytes, &detected);
    FUZZ_CHECK((detected == TextEncoding::Utf8) == utf8);
    if (utf8) {
        // The same text, but for the memo's frame marks, which stand as U+DFD0 and U+DFD1 there.
        FUZZ_CHECK(QString(shown).replace(QChar(0xFDD0), QChar(0xDFD0)).replace(QChar(0xFDD1), QChar(0xDFD1))
                   == decoded.text);
        FUZZ_CHECK(EncodeText(shown, detected) == bytes);
    } else {
        FUZZ_CHECK(shown == DecodeWindows1251(bytes));
        if (!bytes.contains('\x98')) // the one byte Windows-1251 leaves unassigned
            FUZZ_CHECK(EncodeText(shown, detected) == bytes);
    }

    const JsonParse json = ParseJson(bytes);
    FUZZ_CHECK(json.value.has_value() != json.error.has_value());
    if (json.error)
        FUZZ_CHECK(json.error->offset >= 0 && json.error->offset <= bytes.size() && json.error->line >= 1);
    if (json.value) {
        const QByteArray compact = CompactJson(*json.value).toUtf8();
        FUZZ_CHECK(ParseJson(compact).value.has_value());
        FUZZ_CHECK(DiffConfigs(bytes, bytes).equal());
        if (utf8) // strings that are not UTF-8 come back as their Windows-1251 reading
            FUZZ_CHECK(DiffConfigs(bytes, compact).equal());
    }
    return 0;
}
