#include "util/json_writer.h"

#include <charconv>
#include <cmath>

namespace tessavin {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][-+]?[0-9]+)?, the whole text.
bool isJsonNumber(const QByteArray& text)
{
    qsizetype at = 0;
    const qsizetype n = text.size();
    const auto digits = [&] {
        const qsizetype from = at;
        while (at < n && isDigit(text[at]))
            ++at;
        return at > from;
    };
    const auto skip = [&](char a, char b = '\0') {
        const bool hit = at < n && (text[at] == a || (b && text[at] == b));
        at += hit;
        return hit;
    };
    skip('-');
    if (!skip('0') && !digits())
        return false;
    if (skip('.') && !digits())
        return false;
    if (skip('e', 'E')) {
        skip('-', '+');
        if (!digits())
            return false;
    }
    return at == n;
}

} // namespace

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

QByteArray ShortestFloatText(float value)
{
    if (!std::isfinite(value))
        return {};
    char digits[64];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return result.ec == std::errc() ? QByteArray(digits, result.ptr - digits) : QByteArray();
}

Json Json::boolean(bool value) { return Json(value ? "true" : "false"); }

Json Json::integer(long long value) { return Json(QByteArray::number(value)); }

Json Json::number(float value)
{
    const QByteArray text = ShortestFloatText(value);
    return text.isEmpty() ? Json() : Json(text);
}

Json Json::number(const QByteArray& text) { return isJsonNumber(text) ? Json(text) : Json(); }

Json Json::string(const QString& text) { return Json(JsonQuoted(text)); }

JsonArray& JsonArray::add(const Json& value)
{
    if (!items_.isEmpty())
        items_ += ',';
    items_ += value.text();
    return *this;
}

JsonObject& JsonObject::add(const QString& name, const Json& value)
{
    if (!members_.isEmpty())
        members_ += ',';
    members_ += JsonQuoted(name) + ':' + value.text();
    return *this;
}

JsonObject& JsonObject::stringOrNull(const char* name, const QString& text)
{
    return add(name, text.isEmpty() ? Json() : Json::string(text));
}

JsonObject& JsonObject::integerOrNull(const char* name, std::optional<long long> value)
{
    return add(name, value ? Json::integer(*value) : Json());
}

} // namespace tessavin
