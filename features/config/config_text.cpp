#include "features/config/config_text.h"

#include <algorithm>

namespace tessavin {

namespace {
constexpr unsigned char kUnassigned1251 = 0x98;
constexpr char16_t kUnassigned1251Char = 0x0098;

// The memo (a text document) takes U+FDD0 and U+FDD1 for the beginning and the
// end of a frame and breaks the line there. In the memo's text they stand as the
// lone low surrogates U+DFD0 and U+DFD1, which no well-formed UTF-8 holds.
constexpr char16_t kFrameMarks[2] = {0xFDD0, 0xFDD1};
constexpr char16_t kFrameMarkStandIns[2] = {0xDFD0, 0xDFD1};

void replaceLone(QString& text, const char16_t (&from)[2], const char16_t (&to)[2])
{
    for (qsizetype i = 0; i < text.size(); ++i)
        for (int k = 0; k < 2; ++k)
            if (text[i].unicode() == from[k] && !(i > 0 && text[i - 1].isHighSurrogate()))
                text[i] = QChar(to[k]);
}
} // namespace

QByteArray UpToFirstZero(const char* bytes, std::size_t capacity)
{
    const char* end = std::find(bytes, bytes + capacity, '\0');
    return QByteArray(bytes, end - bytes);
}

QString ConfigZeroByteMessage(const QString& name, qint64 offset)
{
    return QStringLiteral("%1: a zero byte at offset %2 cuts the text there; save the file as UTF-8")
        .arg(name)
        .arg(offset);
}

DecodedConfigText DecodeConfigText(const QByteArray& bytes)
{
    DecodedConfigText decoded;
    // The display decoding keeps a byte order mark as a character.
    decoded.text = DecodeText(bytes, &decoded.encoding);
    if (decoded.encoding == TextEncoding::Utf8) {
        replaceLone(decoded.text, kFrameMarks, kFrameMarkStandIns);
        return decoded;
    }
    // One character per byte, so positions agree between bytes and text.
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (static_cast<unsigned char>(bytes[i]) == kUnassigned1251)
            decoded.text[i] = QChar(kUnassigned1251Char);
    return decoded;
}

QByteArray EncodeConfigText(const QString& memoText, TextEncoding encoding)
{
    QString text;
    text.reserve(memoText.size() + memoText.size() / 8);
    for (qsizetype i = 0; i < memoText.size(); ++i) {
        const QChar ch = memoText[i];
        if (ch == QLatin1Char('\r')) {
            if (i + 1 < memoText.size() && memoText[i + 1] == QLatin1Char('\n'))
                ++i;
            text.append(QLatin1String("\r\n"));
        } else if (ch == QLatin1Char('\n') || ch == QChar::ParagraphSeparator) {
            text.append(QLatin1String("\r\n"));
        } else {
            text.append(ch);
        }
    }
    if (encoding == TextEncoding::Utf8) {
        replaceLone(text, kFrameMarkStandIns, kFrameMarks);
        return text.toUtf8();
    }
    QByteArray bytes = EncodeWindows1251(text);
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i].unicode() == kUnassigned1251Char)
            bytes[i] = static_cast<char>(kUnassigned1251);
    return bytes;
}

QByteArray ConfigTextAsSent(const QByteArray& fileBytes)
{
    const DecodedConfigText decoded = DecodeConfigText(
        UpToFirstZero(fileBytes.constData(), static_cast<std::size_t>(fileBytes.size())));
    return EncodeConfigText(decoded.text, decoded.encoding);
}

} // namespace tessavin
