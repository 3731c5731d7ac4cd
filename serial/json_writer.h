#pragma once
// JSON as the programs write it.
#include <QByteArray>
#include <QString>

#include <optional>

namespace tessavin {

// The text as a JSON string in its quotes: quotes, backslashes and control
// characters escaped, everything else as UTF-8.
QByteArray JsonQuoted(const QString& text);

// "12.5" for a finite value (the shortest text that reads back as the same
// single-precision number); empty for not-a-number and the infinities.
QByteArray ShortestValueText(float value);

// One JSON object on one line (LF-terminated), its members in the order added:
// every JSON line tessavin-cli writes is made here.
class JsonLine {
public:
    JsonLine& string(const char* name, const QString& text);
    // null for an empty text
    JsonLine& stringOrNull(const char* name, const QString& text);
    JsonLine& integer(const char* name, long long value);
    // null when there is no value
    JsonLine& integerOrNull(const char* name, std::optional<long long> value);
    JsonLine& boolean(const char* name, bool value);
    // A JSON value as written (its members' order kept) when the text is one;
    // the text as a string otherwise.
    JsonLine& json(const char* name, const QString& text);
    // The number as written ("1.50") when it is a finite JSON number; null otherwise.
    JsonLine& number(const char* name, const QByteArray& text);
    // The shortest text that reads back as the same value; null when not finite.
    JsonLine& number(const char* name, float value);
    QByteArray line() const { return bytes_ + "}\n"; }

private:
    JsonLine& member(const char* name, const QByteArray& json);
    QByteArray bytes_;
};

} // namespace tessavin
