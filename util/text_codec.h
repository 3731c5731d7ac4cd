#pragma once
// Text from the controller and from files is bytes. The window shows them as
// UTF-8 when they are valid UTF-8, otherwise as Windows-1251, and text is written
// back in the encoding it came in. A UTF-8 byte order mark at the start (as some
// editors write it) is part of well-formed UTF-8: it is shown as U+FEFF, an
// invisible character, and written back.
#include <QByteArray>
#include <QString>

namespace tessavin {

enum class TextEncoding { Utf8, Windows1251 };

bool IsValidUtf8(const QByteArray& bytes);
TextEncoding DetectEncoding(const QByteArray& bytes);
QString DecodeWindows1251(const QByteArray& bytes);
// Characters that Windows-1251 lacks become '?'.
QByteArray EncodeWindows1251(const QString& text);
QString DecodeText(const QByteArray& bytes, TextEncoding* detected = nullptr);
QByteArray EncodeText(const QString& text, TextEncoding encoding);

} // namespace tessavin
