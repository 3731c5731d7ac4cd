#include "conversions.h"

namespace tessavin {

std::optional<int> ParseInteger(const QString& text)
{
    int i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' '))
        ++i;
    const QString rest = text.mid(i);
    if (rest.isEmpty() || rest.back().isSpace())
        return std::nullopt;
    bool ok = false;
    const int value = rest.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

QString NotAnIntegerMessage(const QString& text)
{
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

} // namespace tessavin
