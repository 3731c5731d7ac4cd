#pragma once
// Configuration text between bytes and the window's memo. The controller and the
// files hold bytes; the memo shows them as UTF-8 when they are valid UTF-8,
// otherwise as Windows-1251, and text goes back out in the encoding it came in,
// with CR LF between lines. A file opened and saved again is therefore the same
// bytes apart from its line ends.
#include "util/text_codec.h"

#include <QByteArray>
#include <QString>

namespace tessavin {

// The encoding of the text the memo holds. Text typed into an empty memo is UTF-8.
struct ConfigText {
    TextEncoding encoding = TextEncoding::Utf8;
    // Whether the window already resets `encoding` when its memo becomes empty.
    bool watchingMemo = false;
};

struct DecodedConfigText {
    QString text;
    TextEncoding encoding = TextEncoding::Utf8;
};

// The bytes up to the first zero byte (all of them when there is none).
QByteArray UpToFirstZero(const char* bytes, std::size_t capacity);

// A configuration file whose text a zero byte cuts short (a file saved as
// UTF-16, for one): "<name>: a zero byte at offset N cuts the text there; save
// the file as UTF-8".
QString ConfigZeroByteMessage(const QString& name, qint64 offset);

// Decodes configuration bytes for the memo; the text keeps the bytes' line ends
// (the memo splits lines at CR, LF and CR LF). Decoding is lossless: a UTF-8 byte
// order mark is kept, and the one byte Windows-1251 leaves unassigned (0x98) maps
// to U+0098, and U+FDD0 and U+FDD1, which the memo would take for line breaks,
// stand as U+DFD0 and U+DFD1, so EncodeConfigText gives the same bytes back.
DecodedConfigText DecodeConfigText(const QByteArray& bytes);

// The memo's text as bytes: lines (separated by LF, CR LF, CR or U+2029, the
// memo's block separator) joined by CR LF, in the given encoding.
QByteArray EncodeConfigText(const QString& memoText, TextEncoding encoding);

// What the window sends after opening a file with these bytes: the text up to the
// first zero byte, its lines joined by CR LF, in the encoding it came in.
QByteArray ConfigTextAsSent(const QByteArray& fileBytes);

} // namespace tessavin
