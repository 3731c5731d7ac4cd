#pragma once
// JSON as the programs write it: the frame trace, tessavin-cli's JSON Lines
// (the visit report's .jsonl files among them) and the values of the
// configuration diff. A value is made only here, so what is written is always
// JSON, and nothing written is parsed again to check it:
//  - a string is UTF-8 in double quotes, with '"' and '\' escaped and every
//    control character written \u00XX (a line feed is \u000a);
//  - a number that is not finite is null;
//  - an object's members stand in the order they are added.
#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>

namespace tessavin {

// The text as a JSON string in its quotes.
QByteArray JsonQuoted(const QString& text);

// "12.5" for a finite value (the shortest text that reads back as the same
// single-precision number); empty for not-a-number and the infinities.
QByteArray ShortestFloatText(float value);

// One JSON value as it is written; null when default-made.
class Json {
public:
    Json() = default;
    static Json boolean(bool value);
    static Json integer(long long value);
    // ShortestFloatText; null when the value is not finite.
    static Json number(float value);
    // The number as written ("1.50", "-0", "1e400") when the text is a number
    // in JSON's syntax; null otherwise ("inf", "nan", " 1", "01", "").
    static Json number(const QByteArray& text);
    static Json string(const QString& text);
    const QByteArray& text() const { return text_; }

private:
    friend class JsonArray;
    friend class JsonObject;
    explicit Json(QByteArray text) : text_(std::move(text)) { }
    QByteArray text_ = "null";
};

class JsonArray {
public:
    JsonArray& add(const Json& value);
    Json json() const { return Json('[' + items_ + ']'); }

private:
    QByteArray items_;
};

// An object, its members in the order they are added (a name added twice stands twice).
class JsonObject {
public:
    JsonObject& add(const QString& name, const Json& value);
    JsonObject& add(const char* name, const Json& value) { return add(QString::fromLatin1(name), value); }
    JsonObject& string(const char* name, const QString& text) { return add(name, Json::string(text)); }
    // null for an empty text
    JsonObject& stringOrNull(const char* name, const QString& text);
    JsonObject& integer(const char* name, long long value) { return add(name, Json::integer(value)); }
    // null when there is no value
    JsonObject& integerOrNull(const char* name, std::optional<long long> value);
    JsonObject& boolean(const char* name, bool value) { return add(name, Json::boolean(value)); }
    JsonObject& number(const char* name, float value) { return add(name, Json::number(value)); }
    JsonObject& number(const char* name, const QByteArray& text) { return add(name, Json::number(text)); }
    Json json() const { return Json('{' + members_ + '}'); }
    // The object as a line of JSON Lines, LF-terminated.
    QByteArray line() const { return json().text() + '\n'; }

private:
    QByteArray members_;
};

} // namespace tessavin
