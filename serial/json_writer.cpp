#include "json_writer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <charconv>
#include <cmath>

namespace tessavin {

QByteArray JsonQuoted(const QString& text)
{
    // Escaped as text and encoded once, so that characters beyond the first
    // plane (a surrogate pair) stay whole.
    QString escaped;
    escaped.reserve(text.size() + 2);
    escaped += QLatin1Char('"');
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u == '"' || u == '\\') {
            escaped += QLatin1Char('\\');
            escaped += ch;
        } else if (u < 0x20) {
            escaped += QStringLiteral("\\u%1").arg(static_cast<int>(u), 4, 16, QLatin1Char('0'));
        } else {
            escaped += ch;
        }
    }
    escaped += QLatin1Char('"');
    return escaped.toUtf8();
}

JsonLine& JsonLine::member(const char* name, const QByteArray& json)
{
    bytes_ += (bytes_.isEmpty() ? "{" : ",") + JsonQuoted(QLatin1String(name)) + ':' + json;
    return *this;
}

JsonLine& JsonLine::string(const char* name, const QString& text) { return member(name, JsonQuoted(text)); }

JsonLine& JsonLine::stringOrNull(const char* name, const QString& text)
{
    return member(name, text.isEmpty() ? QByteArray("null") : JsonQuoted(text));
}

JsonLine& JsonLine::integer(const char* name, long long value) { return member(name, QByteArray::number(value)); }

JsonLine& JsonLine::integerOrNull(const char* name, std::optional<long long> value)
{
    return member(name, value ? QByteArray::number(*value) : QByteArray("null"));
}

JsonLine& JsonLine::boolean(const char* name, bool value) { return member(name, value ? "true" : "false"); }

JsonLine& JsonLine::json(const char* name, const QString& text)
{
    const QByteArray bytes = text.trimmed().toUtf8();
    QJsonParseError error;
    const QJsonDocument one = QJsonDocument::fromJson("[" + bytes + "]", &error);
    if (error.error == QJsonParseError::NoError && one.array().size() == 1)
        return member(name, bytes);
    return string(name, text);
}

JsonLine& JsonLine::number(const char* name, const QByteArray& text)
{
    static const QRegularExpression json(QStringLiteral("^-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][-+]?[0-9]+)?$"));
    bool ok = false;
    const double value = text.toDouble(&ok);
    const bool usable = ok && std::isfinite(value) && json.match(QString::fromLatin1(text)).hasMatch();
    return member(name, usable ? text : QByteArray("null"));
}

JsonLine& JsonLine::number(const char* name, float value) { return number(name, ShortestValueText(value)); }

QByteArray ShortestValueText(float value)
{
    if (!std::isfinite(value))
        return {};
    char digits[64];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return result.ec == std::errc() ? QByteArray(digits, result.ptr - digits) : QByteArray();
}

} // namespace tessavin
